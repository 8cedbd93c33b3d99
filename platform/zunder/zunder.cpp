// SPDX-License-Identifier: GPL-2.0-or-later
// zunder: drives one rule clause through its plug-in and writes what the
// kernel would receive, the listing and the saved options.
// The synopsis is `usage_text` below.
#include "command.h"

#include <fcntl.h>
#include <netdb.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>

namespace {

constexpr char usage_text[] =
	"usage: zunder [-4|-6] [-n] (-m|-j) NAME [OPTION...]   parse, check, list, save\n"
	"       zunder [-4|-6] [-n] (-m|-j) NAME --block HEX   list and save a block\n"
	"       zunder (-m|-j) NAME -h                         the plug-in's help\n"
	"       zunder --batch FILE|-                          one such call a line\n"
	"       zunder --check FILE|-                          which saved rules read back\n"
	"       zunder --kernel ...                            any of these through the kernel\n"
	"       zunder -h|--help                               this text\n";

bool standard_input_closed = false;

// Ends the command with one line on standard error.  Standard output that is
// still buffered belongs to the failed rule and is dropped, so a failed rule
// never leaves a partial listing behind.
__attribute__((noreturn, format(printf, 2, 3))) void exit_error(int status, const char *format, ...)
{
	va_list args;
	va_start(args, format);
	std::string line = "zunder: ";
	if (command::batch_line != 0)
		line += "line " + std::to_string(command::batch_line) + ": ";
	line += zunder::one_line_message(format, args) + "\n";
	va_end(args);
	std::fputs(line.c_str(), stderr);
	std::fflush(stderr);
	_exit(status);
}

// Memory that cannot be had ends the command like any other error, but
// without allocating, which would call for memory again: the line is made
// on the stack and written straight to descriptor 2.
[[noreturn]] void out_of_memory()
{
	char line[64];
	const int length = command::batch_line != 0
				   ? std::snprintf(line, sizeof line, "zunder: line %lu: out of memory\n",
						   command::batch_line)
				   : std::snprintf(line, sizeof line, "zunder: out of memory\n");
	if (write(2, line, static_cast<size_t>(length)) < 0)
		_exit(2);
	_exit(2);
}

// Standard output is held here until it is flushed, so that its buffer is
// never allocated: without memory the C library would write unbuffered,
// and a failed rule would leave part of its output behind.
char output_buffer[65536];

// A descriptor 0, 1 or 2 that was closed gets a placeholder, so that no file
// this program opens (the protocol database, the label file) takes its
// place.  The placeholder is open the wrong way round: reading it or writing
// it fails, as with the closed descriptor.
void hold_standard_descriptors()
{
	for (int fd = 0; fd <= 2; ++fd) {
		if (fcntl(fd, F_GETFD) != -1 || errno != EBADF)
			continue;
		if (fd == 0)
			standard_input_closed = true;
		if (open("/dev/null", fd == 0 ? O_WRONLY : O_RDONLY) != fd)
			_exit(2);
	}
}

// Written output must reach its file: an error ends the command, the same
// for one rule and a batch.
void flush_output()
{
	if (std::fflush(stdout) != 0 || std::ferror(stdout))
		exit_error(2, "cannot write the output: %s", std::strerror(errno != 0 ? errno : EIO));
}

const char *rule_file(int argc, char **argv)
{
	if (argc != 3)
		exit_error(2, "%s takes one argument, FILE or -", argv[1]);
	if (std::strcmp(argv[2], "-") == 0 && standard_input_closed)
		exit_error(2, "cannot read standard input: it is closed");
	setprotoent(1); // keep the protocol database open for the whole file
	return argv[2];
}

// Runs one rule a line; each line's output is written before the next runs,
// so an error stops the batch after everything before it was written.
void run_batch(const char *name)
{
	command::workspace workspace;
	command::for_each_rule(name, [&](std::span<const char *const> words) {
		command::run_rule(words, workspace);
		flush_output();
	});
}

// Reports each rule whose saved options do not read back, then a summary.
// Each report is written before the next rule runs, so an error leaves
// every earlier report whole on standard output.
int run_check(const char *name)
{
	command::workspace workspace;
	unsigned long rules = 0, differ = 0;
	command::for_each_rule(name, [&](std::span<const char *const> words) {
		++rules;
		if (!command::check_rule(words, workspace)) {
			++differ;
			flush_output();
		}
	});
	command::batch_line = 0;
	std::printf("rules checked: %lu, not reading back: %lu\n", rules, differ);
	flush_output();
	return differ == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
	hold_standard_descriptors();
	std::setvbuf(stdout, output_buffer, _IOFBF, sizeof output_buffer);
	zunder::set_program_name("zunder");
	zunder::set_exit_error(exit_error);
	std::set_new_handler(out_of_memory);
	if (argc >= 2 && std::strcmp(argv[1], "--kernel") == 0) {
		command::through_kernel = true;
		--argc;
		++argv;
	}
	const char *first = argc >= 2 ? argv[1] : "";
	if (std::strcmp(first, "-h") == 0 || std::strcmp(first, "--help") == 0) {
		if (argc != 2)
			exit_error(2, "%s takes no argument", first);
		std::fputs(usage_text, stdout);
	} else if (std::strcmp(first, "--batch") == 0) {
		run_batch(rule_file(argc, argv));
	} else if (std::strcmp(first, "--check") == 0) {
		return run_check(rule_file(argc, argv));
	} else {
		command::workspace workspace;
		command::run_rule({argv + 1, static_cast<size_t>(argc - 1)}, workspace);
	}
	flush_output();
	return 0;
}
