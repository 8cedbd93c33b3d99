// SPDX-License-Identifier: GPL-2.0-or-later
// GoogleTest checks shared by the tests, all through the real zunder: the
// kernel's judgement of accepted rows, their record, and one refusal.
#pragma once

#include "zunder_run.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ztest {

// A rule that must fail: exit status 2, nothing on standard output, and one
// standard-error line "zunder: <message>".
struct rejected_rule {
	std::vector<std::string> args;
	std::string message;
};

// Runs the lines through `zunder --batch FILE`, or `zunder --kernel --batch FILE`.
run_result run_batch(const std::string &lines, const std::vector<std::string> &env, bool kernel = false);

// An accepted rule as a batch line that reads back into its words, its
// clause, and what it lists and saves.
struct given_row {
	std::string line;
	std::string clause;
	std::string list;
	std::string save;
};

// The accepted rules through `zunder --kernel --batch`: each must come back
// from the kernel with its block and list and save the same; on failure
// `failed` is the index of the first rule at fault (or the size).  A machine
// that cannot judge rules skips this, saying why once.
::testing::AssertionResult kernel_gives_back(const std::vector<given_row> &rules,
					     const std::vector<std::string> &env, size_t *failed);

// With ZUNDER_ROWS_DIR set, appends the rules to $ZUNDER_ROWS_DIR/<clause>.rules
// (the format is described where it is written).
void append_rows(const std::vector<given_row> &rules, const std::vector<std::string> &env);

::testing::AssertionResult rejects(const rejected_rule &rule, const std::vector<std::string> &env = {});

} // namespace ztest
