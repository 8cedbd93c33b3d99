// SPDX-License-Identifier: GPL-2.0-or-later
// Test support: reading the tests' plain-text tables (.cases files).
//
// One case a line, its first word saying what the line is; fields are
// separated by "|", blanks around a field dropped; "\xHH" in a field is
// the byte HH, "\xHH{N}" N of them and "\{TEXT}{N}" N times TEXT.  A line
// that is empty or starts with "#" is skipped; one that starts with blanks
// continues the line before it, joined with one blank.
//
// "form KIND TEXT" gives the rows of that kind that follow a form: a row of
// that kind without a "|" is then TEXT with its {1}, {2}, ... replaced by
// the row's words in order, split at blanks, and {N+} by the words from the
// Nth on, joined with one blank ("form KIND" alone ends it); with {*} in the
// form, each word of such a row makes a row of its own, filling the {*}:
//   form no --ahspi {1} | ah: option "--ahspi": "{1}" is not a number
//   no abc
// is the row "no --ahspi abc | ah: option "--ahspi": "abc" is not a number".
//
// "let NAME WORDS" makes NAME, as a whole word after the line's first, stand
// for WORDS in the lines that follow ("let OUT out -m policy --dir out").
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace ztest {

struct table_line {
	int at = 0;       // the line's number in the file
	std::string text; // the whole line
	std::string word; // up to its first space
	std::string rest; // after it, without the blanks around it
};

// The lines of the table at `path` that are neither empty nor comments, or
// nullopt when it cannot be read.
std::optional<std::vector<table_line>> read_table(const std::string &path);

// `text` with its escapes replaced by the bytes they stand for.
std::string decoded(const std::string &text);

// `text` split at "|", blanks around each field dropped, escapes kept; a
// trailing "|" ends with an empty field.
std::vector<std::string> fields(const std::string &text);

// `text` split at blanks, each word decoded (so "\x20" is a blank within one).
std::vector<std::string> words(const std::string &text);

} // namespace ztest
