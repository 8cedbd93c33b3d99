// SPDX-License-Identifier: GPL-2.0-or-later
// What the benchmarks measure: the build's plug-ins, the rules they run on
// each, and per clause the real record beside its null baseline.
#pragma once

#include "zunder_host.h"

#include <string>
#include <vector>

namespace bench {

[[noreturn]] __attribute__((format(printf, 2, 3))) void exit_error(int status, const char *format, ...);

// A plug-in of the build and the rules (batch lines) the benchmarks run on it.
struct plugin_rules {
	std::string file; // name without .so
	std::string path;
	std::vector<std::string> lines;
};

// Every plug-in of the build, in the order of its list, with its rules.
const std::vector<plugin_rules> &plugins();

// One clause as its plug-in's first rule gives it.
struct clause {
	std::string label; // benchmark name part: the record's name
	std::string path;  // plug-in file
	zunder::clause_kind kind;
	uint16_t family;
	std::vector<std::string> words;
	std::vector<const char *> args;

	// Filled by prepare.
	bool ready = false;
	zunder::plugin_record record{}, null_record{};
	std::vector<unsigned char> block;
	std::string print_text, save_text;
	bool uses_db = false;     // parse, print or save consults the protocol database
	bool cached_same = false; // answers from memory give the same texts
};

clause clause_from_rule(const plugin_rules &plugin);

// Loads the clause's plug-in and the null one, finds the record, and makes
// the null record: a copy of the real one with the null plug-in's
// operations.  Parses the rule once for the block and texts the runs use.
void prepare(clause &c);

// The texts the null plug-in's print and save write from now on.
void set_null_texts(const std::string &print, const std::string &save);

// What print and save write for the clause's block.
std::string captured_print(const clause &c);
std::string captured_save(const clause &c);

} // namespace bench
