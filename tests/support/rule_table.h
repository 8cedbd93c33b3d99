// SPDX-License-Identifier: GPL-2.0-or-later
// A clause's tests as one table, one case a line, run through the real
// zunder by one checker.
//
// A row's rule is a batch line ("-6 -m ah ! --ahspi 100:200"), split by the
// product's own batch reader; a rule whose words no line can hold (a
// newline byte) is given as words instead.  Kinds of row:
//   ok(rule, block, list, save)  accepted: the block in hex ("" for any),
//                                what print and save write; the saved text,
//                                read back by `zunder --batch`, must give
//                                the same block, listing and saved text
//   kept(rule, block, list, save) accepted, but its saved text is known not
//                                to read back into the same block
//   prints(rule, list, save)      a block read back: the rule holds --block HEX
//   no(rule, message)            refused: exit status 2, nothing on standard
//                                output, and exactly "zunder: MESSAGE"
//   help(rule, text)             the exact help text
//   gives(args, file, status, out, err)  any call of the command, with exactly
//                                what it must give: `args` are its words, the
//                                word FILE standing for a temporary file that
//                                holds `file`; {"sh", SCRIPT} runs the script
//                                with /bin/sh ($ZUNDER is the command, FILE in
//                                the script the file's path)
// A failing row is reported at its line in the table.
#pragma once

#include "zunder_run.h"

#include <string>
#include <vector>

namespace ztest {

using words = std::vector<std::string>;

struct row {
	enum class kind { accepted, kept, printed, refused, help, call } what;
	std::string line;  // the rule as a batch line, or empty when given as words
	words args;        // the rule as words, when it has no line
	std::string block; // hex digits; empty: not checked
	std::string list;  // what print wrote; for a refusal its message, for help its text
	std::string save;  // what save wrote; for a call, its standard error
	where at;
	std::string file = ""; // for a call, the text of FILE
	int status = 0;        // for a call, its exit status
};

row ok(std::string rule, std::string block, std::string list, std::string save, where at = where::current());
row ok(words rule, std::string block, std::string list, std::string save, where at = where::current());
row kept(std::string rule, std::string block, std::string list, std::string save,
	 where at = where::current());
row prints(std::string rule, std::string list, std::string save, where at = where::current());
row no(std::string rule, std::string message, where at = where::current());
row no(words rule, std::string message, where at = where::current());
row help(std::string rule, std::string text, where at = where::current());
row gives(words args, std::string file, int status, std::string out, std::string err,
	  where at = where::current());

// A script for a gives({"sh", ...}) row: in an empty folder, the rule's
// saved text read back through `eval`, then the folder's files listed (none
// unless the saved text ran a command).  `rule` is plain words.
std::string saved_text_through_shell(const std::string &rule);

// Each row as given (its rule starting "-4 "), then each again with "-6 ".
std::vector<row> both_families(std::vector<row> rows);

std::vector<row> operator+(std::vector<row> a, const std::vector<row> &b);

// A block in hex, `size` bytes of zeros but for the pieces: "304:0a 306:02"
// puts 0a at offset 304 and 02 at 306 (offsets in decimal, bytes in hex).
std::string block(size_t size, const std::string &pieces);

// Runs every row, with the environment changes `env` for each zunder.
void check_table(const std::vector<row> &rows, const std::vector<std::string> &env = {});

// The host's option grammar, checked through a clause once per option from
// a one-line description of the option.
struct option_row {
	std::string name; // "--ahspi"
	std::string arg;  // a valid argument, empty for an option that takes none
	bool negatable;   // "!" may stand before it
	bool repeatable;  // the host lets it be given more than once
	bool mandatory;   // the clause needs it
	where at = where::current();
};

// The refusals the host's grammar makes of the clause that `head` names
// ("-6 -m ah"): each non-repeatable option given twice, each option's
// argument missing, "!" before each option that may not be negated, each
// mandatory option absent, an unknown option and a "!" that ends the
// clause.  `base` is what every rule starts with after the head (options
// the clause needs before the host's checks run, such as policy's --dir).
std::vector<row> grammar_rows(const std::string &head, const std::string &base,
			      const std::vector<option_row> &options);

// The host's messages, written once; `clause` is the name the host puts
// first ("ah"), `option` the option as written ("--ahspi").
namespace host_says {
std::string unknown(const std::string &clause, const std::string &word);
std::string once(const std::string &clause, const std::string &option);
std::string needs_argument(const std::string &clause, const std::string &option);
std::string not_negatable(const std::string &clause, const std::string &option);
std::string must_be_given(const std::string &clause, const std::string &option);
std::string bang_alone(const std::string &clause);
std::string requires_option(const std::string &clause, const std::string &option, const std::string &other);
std::string number(const std::string &clause, const std::string &option, const std::string &arg);
std::string range(const std::string &clause, const std::string &option, const std::string &arg);
std::string address(const std::string &clause, const std::string &option, const std::string &arg,
		    const std::string &family);
std::string protocol(const std::string &clause, const std::string &option, const std::string &arg);
} // namespace host_says

} // namespace ztest
