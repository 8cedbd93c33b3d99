// SPDX-License-Identifier: GPL-2.0-or-later
// libzunder: the error callback plug-ins reach through zu_params, the
// one-line form every message takes, the one writer of error lines, and the
// one way back from an error.
#include "host_internal.h"

#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>
#include <utility>

namespace zunder {

namespace {

const char *program_name = "zunder";

// What the program puts before each message (the rule command's "line N: "),
// the program's own text; null for nothing.
const char *message_prefix = nullptr;

// Ends the program with the message.  Standard output still buffered belongs
// to the failed call and is dropped, so that a failure never leaves a
// partial listing behind.
__attribute__((noreturn, format(printf, 2, 3))) void default_exit_error(int status, const char *format, ...)
{
	va_list args;
	va_start(args, format);
	write_error_line(format, args);
	va_end(args);
	_exit(status);
}

struct zu_params host_params = {"zunder", default_exit_error};

// A try_call under way: where its error goes and where it jumps back to,
// and what it found in place, restored when it ends.
struct pending_try {
	std::jmp_buf back;
	caught_error error;
	pending_try *outer;
	exit_error_fn outer_handler;
};
pending_try *innermost_try = nullptr;

// Hands the error back to the innermost try_call, which must be under way
// and hold the error's message already.
[[noreturn]] void back_to_try(int status, bool host_fault)
{
	innermost_try->error.status = status;
	innermost_try->error.host_fault = host_fault;
	std::longjmp(innermost_try->back, 1);
}

// The callback while a try_call is under way: refused input.
__attribute__((noreturn, format(printf, 2, 3))) void return_to_try(int status, const char *format, ...)
{
	va_list args;
	va_start(args, format);
	innermost_try->error.message = one_line_message(format, args);
	va_end(args);
	back_to_try(status, false);
}

} // namespace

std::optional<caught_error> try_call(void (*body)(void *), void *context)
{
	pending_try current{};
	current.outer = innermost_try;
	current.outer_handler = host_params.exit_error;
	innermost_try = &current;
	host_params.exit_error = return_to_try;
	std::optional<caught_error> result;
	if (setjmp(current.back) == 0)
		body(context);
	else
		result = std::move(current.error);
	innermost_try = current.outer;
	host_params.exit_error = current.outer_handler;
	return result;
}

void host_fault(const char *format, ...)
{
	va_list args;
	va_start(args, format);
	std::string message = one_line_message(format, args);
	va_end(args);
	if (innermost_try == nullptr)
		zu_params->exit_error(2, "%s", message.c_str());
	innermost_try->error.message = std::move(message);
	back_to_try(2, true);
}

std::string one_line_message(const char *format, va_list args)
{
	va_list again;
	va_copy(again, args);
	const int length = std::vsnprintf(nullptr, 0, format, again);
	va_end(again);
	std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
	std::vsnprintf(text.data(), text.size() + 1, format, args);
	std::string line;
	for (const char c : text) {
		const auto b = static_cast<unsigned char>(c);
		if (b >= 0x20 && b != 0x7f) {
			line += c;
			continue;
		}
		line += "\\x";
		line += "0123456789abcdef"[b >> 4];
		line += "0123456789abcdef"[b & 15];
	}
	return line;
}

void write_error(std::string_view message)
{
	const char *prefix = message_prefix != nullptr ? message_prefix : "";
	iovec parts[] = {
		{const_cast<char *>(program_name), std::strlen(program_name)},
		{const_cast<char *>(": "), 2},
		{const_cast<char *>(prefix), std::strlen(prefix)},
		{const_cast<char *>(message.data()), message.size()},
		{const_cast<char *>("\n"), 1},
	};
	// One write for the whole line, so that no other writer splits it; what
	// a short write leaves is written after it.  An error has nowhere left to
	// be told.
	iovec *part = parts;
	int left = static_cast<int>(std::size(parts));
	while (left > 0) {
		const ssize_t written = writev(2, part, left);
		if (written < 0 && errno == EINTR)
			continue;
		if (written <= 0)
			return;
		auto done = static_cast<size_t>(written);
		for (; left > 0 && done >= part->iov_len; --left, ++part)
			done -= part->iov_len;
		if (left > 0) {
			part->iov_base = static_cast<char *>(part->iov_base) + done;
			part->iov_len -= done;
		}
	}
}

void write_error_line(const char *format, va_list args)
{
	write_error(one_line_message(format, args));
}

void set_exit_error(exit_error_fn handler)
{
	if (handler != nullptr)
		host_params.exit_error = handler;
	else
		host_params.exit_error = default_exit_error;
}

void set_program_name(const char *name)
{
	program_name = name;
	host_params.program_name = name;
}

void set_message_prefix(const char *prefix)
{
	message_prefix = prefix;
}

} // namespace zunder

struct zu_params *zu_params = &zunder::host_params;
