// SPDX-License-Identifier: GPL-2.0-or-later
// The units of the rule command zunder: one rule, the batch reader, and the
// state they share with main.
#pragma once

#include "zunder_host.h"

#include <cstdio>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace command {

// The batch line being run, 0 outside a batch; --check's reports name it,
// and errors through the host's message prefix.
extern unsigned long batch_line;

// Standard input was closed when the command started (a placeholder holds
// its descriptor): reading it is an error, by any name.
extern bool standard_input_closed;

// Set by --kernel: every block goes through the kernel, and what the kernel
// hands back is listed, saved and compared.
extern bool through_kernel;

// The words of one rule: the family, -n, the clause and its options.
struct rule {
	uint16_t family = ZU_FAMILY_IPV4;
	bool numeric = false;
	zunder::clause_kind kind = zunder::clause_kind::match;
	const char *name = nullptr;
	std::span<const char *const> options;
};

// The blocks and texts a rule is worked in, owned by whoever runs the rules
// (main for one rule, the batch for its lines) and reused from rule to rule.
struct workspace {
	zunder::clause_state state;
	std::vector<unsigned char> block; // the block a --block rule gives
	std::vector<unsigned char> copy;  // the block as the kernel hands it back
	std::vector<std::string> saved_words;
	std::vector<const char *> saved_args;
};

// The words of one rule read into `r`; else why they are not one.
std::string read_words(std::span<const char *const> words, rule &r);

// Loads the clause's plug-in file(s) until one registers the clause; for
// help (`any_family`) a record of either family will do.  Null when none
// does, with why in `why`.
const zunder::plugin_record *find_clause(const rule &r, bool any_family, std::string &why);

// find_clause, where a clause that cannot be found ends the command.
const zunder::plugin_record &load_clause(const rule &r, bool any_family);

// Runs one rule, the words of a single zunder call without the program name,
// and writes its block, listing and saved options; with --kernel also the
// block as the kernel hands it back, which is then listed and saved.
void run_rule(std::span<const char *const> words, workspace &w);

// What --check found of one rule.
enum class checked { reads_back, not_reading_back, not_parsing };

// Parses one rule, saves its block and parses the saved text again; it
// reads back when that gives the same block.  Else writes one line telling
// why: a rule that does not parse ("line N: message", the message an error
// would give), or a block that does not read back.  With --kernel the block
// the kernel hands back is saved, and a block the kernel refuses or changes
// does not read back.  A fault of the host or a plug-in, and a machine that
// cannot judge rules, end the command.
checked check_rule(std::span<const char *const> words, workspace &w);

// Splits a batch line into `words` as a POSIX shell does for the simple
// cases.  Null, or why the line cannot be split (an unterminated quote).
const char *split_words(std::string_view line, std::vector<std::string> &words);

// The longest line --batch and --check take, without its newline.  A rule
// line is a few hundred bytes; a longer line is an error.
constexpr size_t max_line_length = 65536;

// Calls `each` with the words of every rule line of FILE, or of standard
// input for "-", counting lines in batch_line, and with null or why the
// line could not be split into words.  A line holding a NUL byte or longer
// than max_line_length, or a file that cannot be read, ends the command.
template <typename Each>
void for_each_rule(const char *name, Each each);

// The lines of a rule file, or of standard input for "-", for
// for_each_rule.  A file that cannot be read ends the command.
class line_reader {
public:
	explicit line_reader(const char *name);
	~line_reader();
	line_reader(const line_reader &) = delete;
	line_reader &operator=(const line_reader &) = delete;

	// The next line without its newline into `line`; false at the end.
	bool next(std::string &line);

private:
	const char *name_;
	bool from_stdin_;
	std::FILE *file_;
	char prefix_[32] = ""; // "line N: ", the prefix of errors while the line runs
};

template <typename Each>
void for_each_rule(const char *name, Each each)
{
	line_reader reader(name);
	std::vector<std::string> words;
	std::vector<const char *> argv;
	for (std::string line; reader.next(line);) {
		const size_t first = line.find_first_not_of(" \t\r");
		if (first == std::string::npos || line[first] == '#')
			continue;
		const char *problem = split_words(line, words);
		argv.clear();
		for (const std::string &w : words)
			argv.push_back(w.c_str());
		each(std::span<const char *const>(argv), problem);
	}
}

} // namespace command
