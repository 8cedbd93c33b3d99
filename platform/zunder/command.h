// The units of the rule command zunder: one rule, the batch reader, and the
// state they share with main.
#pragma once

#include "zunder_host.h"

#include <csetjmp>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace command {

// The batch line being run, 0 outside a batch; errors name it.
extern unsigned long batch_line;

// Set by --kernel: every block goes through the kernel, and what the kernel
// hands back is listed, saved and compared.
extern bool through_kernel;

// Set while a saved text is parsed again by --check: exit_error records its
// message and jumps here instead of ending the command.
extern std::jmp_buf *recover_point;
extern std::string recovered_message;

// The words of one rule: the family, -n, the clause and its options.
struct rule {
	uint16_t family = ZU_FAMILY_IPV4;
	bool numeric = false;
	zunder::clause_kind kind = zunder::clause_kind::match;
	const char *name = nullptr;
	std::span<const char *const> options;
};

// Loads the clause's plug-in file(s) until one registers the clause; for
// help (`any_family`) a record of either family will do.
const zunder::plugin_record &load_clause(const rule &r, bool any_family);

// Runs one rule, the words of a single zunder call without the program name,
// and writes its block, listing and saved options; with --kernel also the
// block as the kernel hands it back, which is then listed and saved.
void run_rule(std::span<const char *const> words);

// Parses one rule, saves its block and parses the saved text again.  True
// when that gives back the same block; else writes one line telling why.
// With --kernel the block the kernel hands back is saved, and a block the
// kernel refuses or changes is such a line too.
bool check_rule(std::span<const char *const> words);

// Splits a batch line into words as a POSIX shell does for the simple cases.
std::vector<std::string> split_line(std::string_view line);

// The longest line --batch and --check take, without its newline.  A rule
// line is a few hundred bytes; a longer line is an error.
constexpr size_t max_line_length = 65536;

// Calls `each` with the words of every rule line of FILE, or of standard
// input for "-", counting lines in batch_line.  A line holding a NUL byte or
// longer than max_line_length, or a file that cannot be read, ends the
// command.
template <typename Each>
void for_each_rule(const char *name, Each each);

// The line reader behind for_each_rule: the next line without its newline,
// false at the end.  Opens the file on the first call.
bool next_line(const char *name, std::string &line);

template <typename Each>
void for_each_rule(const char *name, Each each)
{
	std::vector<const char *> argv;
	for (std::string line; next_line(name, line);) {
		const size_t first = line.find_first_not_of(" \t\r");
		if (first == std::string::npos || line[first] == '#')
			continue;
		const std::vector<std::string> words = split_line(line);
		argv.clear();
		for (const std::string &w : words)
			argv.push_back(w.c_str());
		each(std::span<const char *const>(argv));
	}
}

} // namespace command
