// SPDX-License-Identifier: GPL-2.0-or-later
// zunder: drives one rule clause through its plug-in and writes what the
// kernel would receive, the listing and the saved options.
// The synopsis is `usage_text` below.
#include "batch.h"
#include "rule.h"
#include "run.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

namespace {

constexpr char usage_text[] =
	"usage: zunder [-4|-6] [-n] (-m|-j) NAME [OPTION...]   parse, check, list, save\n"
	"       zunder [-4|-6] [-n] (-m|-j) NAME --block HEX   list and save a block\n"
	"       zunder (-m|-j) NAME ... -h|--help              the plug-in's help\n"
	"       zunder --batch FILE|-                          one such call a line\n"
	"       zunder --check FILE|-                          which saved rules read back\n"
	"       zunder --kernel ...                            any of these through the kernel\n"
	"       zunder -h|--help                               this text\n"
	"       zunder --version                               the version\n";

// Memory that cannot be had ends the command like any other error, but
// without allocating, which would call for memory again: the host writes
// the line as it is, straight to descriptor 2, with the batch line's prefix.
[[noreturn]] void out_of_memory()
{
	zunder::write_error("out of memory");
	_exit(2);
}

// Standard output is held here until it is flushed, so that its buffer is
// never allocated: without memory the C library would write unbuffered,
// and a failed rule would leave part of its output behind.  It is the one
// thing of the command outside main's run: storage lent to the C library,
// which must exist from the start and outlive main until exit has flushed
// it; on the stack it could not grow under a limit on the address space.
char output_buffer[65536];

// A descriptor 0, 1 or 2 that was closed gets a placeholder, so that no file
// this program opens (the protocol database, the label file) takes its
// place.  The placeholder is open the wrong way round: reading it or writing
// it fails, as with the closed descriptor.  Standard input's is the write
// end of a pipe of its own, so that a name that opens it afresh
// (/dev/stdin) is known by the pipe and refused as standard input is.
void hold_standard_descriptors()
{
	for (int fd = 0; fd <= 2; ++fd) {
		if (fcntl(fd, F_GETFD) != -1 || errno != EBADF)
			continue;
		if (fd != 0) {
			if (open("/dev/null", O_RDONLY) != fd)
				_exit(2);
			continue;
		}
		int ends[2];
		if (pipe(ends) != 0 || ends[0] != 0 || dup2(ends[1], 0) != 0 || close(ends[1]) != 0)
			_exit(2);
	}
}

// Whether standard input is the placeholder of a closed one: the write end
// of a pipe that nobody reads.  Asked before anything opens it afresh, which
// would give the pipe a reader.
bool standard_input_was_closed()
{
	struct stat st;
	pollfd input = {0, POLLOUT, 0};
	return (fcntl(0, F_GETFL) & O_ACCMODE) == O_WRONLY && fstat(0, &st) == 0 && S_ISFIFO(st.st_mode) &&
	       poll(&input, 1, 0) == 1 && (input.revents & POLLERR) != 0;
}

// Runs before main: holds the standard descriptors, then sets up the C
// library's protocol look-ups.  glibc (2.36) dereferences a null pointer or
// aborts when the state behind its look-ups cannot be allocated, so that
// state is made here, as the program starts, rather than at the first
// look-up of a rule, when memory may have run out; each of the two
// look-ups also makes its result buffer with its first call.
__attribute__((constructor)) void prepare()
{
	hold_standard_descriptors();
	getprotobyname("ip");
	getprotobynumber(0);
}

// Written output must reach its file: an error ends the command, the same
// for one rule and a batch.
void flush_output()
{
	if (std::fflush(stdout) != 0 || std::ferror(stdout))
		zu_params->exit_error(2, "cannot write the output: %s",
				      std::strerror(errno != 0 ? errno : EIO));
}

const char *rule_file(int argc, char **argv)
{
	if (argc != 3)
		zu_params->exit_error(2, "%s takes one argument, FILE or -", argv[1]);
	setprotoent(1); // keep the protocol database open for the whole file
	return argv[2];
}

// Runs one rule a line; each line's output is written before the next runs,
// so an error stops the batch after everything before it was written.
void run_batch(command::run &run, const char *name)
{
	command::for_each_rule(run, name, [&](std::span<const char *const> words, const char *unsplit) {
		if (unsplit != nullptr)
			zu_params->exit_error(2, "%s", unsplit);
		command::run_rule(run, words);
		flush_output();
	});
}

// Reports each rule that does not parse or whose saved options do not read
// back, then a summary.  Each report is written before the next rule runs,
// so an error leaves every earlier report whole on standard output.
int run_check(command::run &run, const char *name)
{
	unsigned long rules = 0, not_parsing = 0, differ = 0;
	command::for_each_rule(run, name, [&](std::span<const char *const> words, const char *unsplit) {
		++rules;
		command::checked outcome = command::checked::not_parsing;
		if (unsplit != nullptr)
			std::printf("line %lu: %s\n", run.line, unsplit);
		else
			outcome = command::check_rule(run, words);
		not_parsing += outcome == command::checked::not_parsing;
		differ += outcome == command::checked::not_reading_back;
		if (outcome != command::checked::reads_back)
			flush_output();
	});
	std::printf("rules checked: %lu, not parsing: %lu, not reading back: %lu\n", rules, not_parsing,
		    differ);
	flush_output();
	return not_parsing == 0 && differ == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
	std::setvbuf(stdout, output_buffer, _IOFBF, sizeof output_buffer);
	zunder::set_program_name("zunder");
	std::set_new_handler(out_of_memory);
	const bool through_kernel = argc >= 2 && std::strcmp(argv[1], "--kernel") == 0;
	if (through_kernel) {
		--argc;
		++argv;
	}
	command::run run{.through_kernel = through_kernel,
			 .standard_input_closed = standard_input_was_closed()};
	const char *first = argc >= 2 ? argv[1] : "";
	if (std::strcmp(first, "-h") == 0 || std::strcmp(first, "--help") == 0) {
		if (argc != 2)
			zu_params->exit_error(2, "%s takes no argument", first);
		std::fputs(usage_text, stdout);
	} else if (std::strcmp(first, "--version") == 0) {
		if (argc != 2)
			zu_params->exit_error(2, "%s takes no argument", first);
		std::fputs("zunder " ZUNDER_COMMAND_VERSION "\n", stdout);
	} else if (std::strcmp(first, "--batch") == 0) {
		run_batch(run, rule_file(argc, argv));
	} else if (std::strcmp(first, "--check") == 0) {
		return run_check(run, rule_file(argc, argv));
	} else {
		command::run_rule(run, {argv + 1, static_cast<size_t>(argc - 1)});
	}
	flush_output();
	return 0;
}
