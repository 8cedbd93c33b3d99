// SPDX-License-Identifier: GPL-2.0-or-later
// GoogleTest checks shared by the plug-in tests, all through the real zunder.
#pragma once

#include "zunder_run.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ztest {

// A rule that must be accepted: the words of the zunder call, then what it
// must write.  An empty `block` is not checked.
struct accepted_rule {
	std::vector<std::string> args;
	std::string block;
	std::string list;
	std::string save;
};

// A rule that must fail: exit status 2, nothing on standard output, and one
// standard-error line "zunder: <message>".
struct rejected_rule {
	std::vector<std::string> args;
	std::string message;
};

::testing::AssertionResult accepts(const accepted_rule &rule, const std::vector<std::string> &env = {});
// Checks every rule as accepts() does, all through one `zunder --batch`
// process; if the batch fails, each rule runs on its own so that the report
// names the rules at fault.
::testing::AssertionResult accepts_all(const std::vector<accepted_rule> &rules,
				       const std::vector<std::string> &env = {});
::testing::AssertionResult rejects(const rejected_rule &rule, const std::vector<std::string> &env = {});

// Parses `args` (everything up to and including the clause name comes
// first in `head`), then parses the saved options again and requires the
// same block.
::testing::AssertionResult round_trips(const std::vector<std::string> &head,
				       const std::vector<std::string> &options,
				       const std::vector<std::string> &env = {});

// Lists and saves a block through --block; returns {list, save}.
::testing::AssertionResult prints_block(const std::vector<std::string> &head, const std::string &hex,
					const std::string &list, const std::string &save,
					const std::vector<std::string> &env = {});

// A row of a bad-input table: the options after the clause name, and the
// exact message.
struct bad_input {
	std::vector<std::string> options;
	std::string message;
};

// Every row, after `head` (everything up to and including the clause name),
// must be rejected as rejects() checks.
void expect_rejected(const std::vector<std::string> &head, const std::vector<bad_input> &rows,
		     const std::vector<std::string> &env = {});

} // namespace ztest
