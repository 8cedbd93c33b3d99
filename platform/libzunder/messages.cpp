// SPDX-License-Identifier: GPL-2.0-or-later
// libzunder: the error callback plug-ins reach through zu_params, the
// one-line form every message takes, and the one way back from an error.
#include "host_internal.h"

#include <unistd.h>

#include <csetjmp>
#include <cstdio>
#include <string>
#include <utility>

namespace zunder {

namespace {

const char *program_name = "zunder";

// Ends the program with the message.  Standard output still buffered belongs
// to the failed call and is dropped, as in the rule command, so that a
// failure never leaves a partial listing behind.
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

// Set by mark_host_fault for the error being raised; cleared by the try
// that catches it.
bool host_fault_marked = false;

__attribute__((noreturn, format(printf, 2, 3))) void return_to_try(int status, const char *format, ...)
{
	va_list args;
	va_start(args, format);
	innermost_try->error.status = status;
	innermost_try->error.message = one_line_message(format, args);
	va_end(args);
	innermost_try->error.host_fault = std::exchange(host_fault_marked, false);
	std::longjmp(innermost_try->back, 1);
}

} // namespace

std::optional<caught_error> try_call(void (*body)(void *), void *context)
{
	pending_try current{};
	current.outer = innermost_try;
	current.outer_handler = host_params.exit_error;
	innermost_try = &current;
	host_params.exit_error = return_to_try;
	host_fault_marked = false;
	std::optional<caught_error> result;
	if (setjmp(current.back) == 0)
		body(context);
	else
		result = std::move(current.error);
	innermost_try = current.outer;
	host_params.exit_error = current.outer_handler;
	return result;
}

void mark_host_fault()
{
	host_fault_marked = true;
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

void write_error_line(const char *format, va_list args)
{
	const std::string line = std::string(program_name) + ": " + one_line_message(format, args) + "\n";
	std::fputs(line.c_str(), stderr);
	std::fflush(stderr);
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

} // namespace zunder

struct zu_params *zu_params = &zunder::host_params;
