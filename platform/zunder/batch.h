// SPDX-License-Identifier: GPL-2.0-or-later
// zunder's batch reader: rule lines from a file or standard input, split
// into words.
#pragma once

#include "run.h"

#include <cstdio>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace command {

// Splits a batch line into `words` as a POSIX shell does for the simple
// cases.  Null, or why the line cannot be split (an unterminated quote).
const char *split_words(std::string_view line, std::vector<std::string> &words);

// The longest line --batch and --check take, without its newline.  A rule
// line is a few hundred bytes; a longer line is an error.
constexpr size_t max_line_length = 65536;

// The lines of a rule file, or of standard input for "-".  It counts them in
// the run's `line`, and while it reads, errors begin "line N: ".  A file
// that cannot be read, a line holding a NUL byte or longer than
// max_line_length end the command.
class line_reader {
public:
	line_reader(run &run, const char *name);
	~line_reader();
	line_reader(const line_reader &) = delete;
	line_reader &operator=(const line_reader &) = delete;

	// The next line without its newline into `line`; false at the end.
	bool next(std::string &line);

private:
	run &run_;
	const char *name_;
	bool from_stdin_;
	std::FILE *file_;
	char prefix_[32] = ""; // "line N: "
};

// Calls `each` with the words of every rule line of FILE, or of standard
// input for "-", and with null or why the line could not be split into
// words; blank lines and comments ('#') are skipped.
template <typename Each>
void for_each_rule(run &run, const char *name, Each each)
{
	line_reader reader(run, name);
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
