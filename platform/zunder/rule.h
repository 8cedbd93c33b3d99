// SPDX-License-Identifier: GPL-2.0-or-later
// zunder's rules: the words of one call, run (one rule, --batch) or checked
// (--check).
#pragma once

#include "run.h"

#include <cstdint>
#include <span>
#include <string>

namespace command {

// The words of one rule: the family, -n, the clause and its options.
struct rule {
	uint16_t family = ZU_FAMILY_IPV4;
	bool numeric = false;
	zunder::clause_kind kind = zunder::clause_kind::match;
	const char *name = nullptr;
	std::span<const char *const> options;
};

// The words of one rule read into `r`; else why they are not one.
std::string read_words(std::span<const char *const> words, rule &r);

// Runs one rule, the words of a single zunder call without the program name,
// and writes its block, listing and saved options; with --kernel also the
// block as the kernel hands it back, which is then listed and saved.  A rule
// that gives no block ends the command.
void run_rule(run &run, std::span<const char *const> words);

// What --check found of one rule.
enum class checked { reads_back, not_reading_back, not_parsing };

// Makes the rule's block as run_rule does, saves it and parses the saved
// text again; it reads back when that gives the same block.  Else writes one
// line telling why: a rule that does not parse ("line N: message", the
// message an error would give), or a block that does not read back.  With
// --kernel the block the kernel hands back is saved, and a block the kernel
// refuses or changes does not read back.  A fault of the host or a plug-in,
// and a machine that cannot judge rules, end the command.
checked check_rule(run &run, std::span<const char *const> words);

} // namespace command
