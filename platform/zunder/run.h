// SPDX-License-Identifier: GPL-2.0-or-later
// zunder's run: what main sets up for one call of the command and hands down
// to the units that run its rules, so that they share nothing else.
#pragma once

#include "zunder_host.h"

#include <string>
#include <vector>

namespace command {

// The blocks and texts a rule is worked in, reused from rule to rule.
struct workspace {
	zunder::clause_state state;
	std::vector<unsigned char> block; // the block the rule makes or gives
	std::vector<unsigned char> copy;  // the block as the kernel hands it back
	std::vector<std::string> saved_words;
	std::vector<const char *> saved_args;
};

struct run {
	// --kernel: every block goes through the kernel, and what the kernel
	// hands back is listed, saved and compared.
	const bool through_kernel = false;
	// Standard input was closed when the command started (a placeholder
	// holds its descriptor): reading it is an error, by any name.
	const bool standard_input_closed = false;
	// The batch line being run, 0 outside a batch; --check's reports name it.
	unsigned long line = 0;
	workspace work;
	// The plug-in folders in search order, found at the first look-up of a
	// clause.
	std::vector<std::string> plugin_dirs;
	// --kernel: this process is in a network namespace of its own, made
	// for the first block the kernel judges.
	bool in_own_namespace = false;
};

} // namespace command
