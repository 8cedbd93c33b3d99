// SPDX-License-Identifier: GPL-2.0-or-later
// Shared by the fuzzers: loading the build's plug-ins once, the clauses
// they serve, and telling a refused input from a fault.
#pragma once

#include "zunder_host.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace fuzz {

[[noreturn]] inline void finding(const char *what)
{
	std::fprintf(stderr, "==fuzz== %s\n", what);
	std::fflush(stderr);
	std::abort();
}

// What a call into the host that came back with an error tells: true when
// it refused its input.  A guard hit, a block of the wrong size or a
// status other than 2 is a fault, not a refusal.
inline bool refused(const std::optional<zunder::caught_error> &error)
{
	if (!error)
		return false;
	if (error->status != 2) {
		std::fprintf(stderr, "==fuzz== exit status %d: %s\n", error->status, error->message.c_str());
		finding("exit_error with a status other than 2");
	}
	if (error->host_fault) {
		std::fprintf(stderr, "==fuzz== %s\n", error->message.c_str());
		finding("guard hit");
	}
	return true;
}

// Runs `body`, which must not fail: listing and saving take any block.
template <typename Body>
void must_finish(Body body)
{
	if (const auto error = zunder::try_call(body); refused(error))
		finding(error->message.c_str());
}

// exit_error outside zunder::try_call: the fuzzer called the host unguarded.
__attribute__((noreturn, format(printf, 2, 3))) inline void unguarded_exit_error(int, const char *, ...)
{
	finding("exit_error outside a guarded call");
}

// The clauses the fuzzers drive: every record of the build's plug-ins,
// once per family it serves (a record for any family twice, IPv4 then
// IPv6), in the order the build lists the plug-ins.
struct clause_choice {
	const zunder::plugin_record *record;
	uint16_t family;
};
inline constexpr size_t max_clauses = 64;
inline clause_choice clauses[max_clauses];
inline size_t clause_count = 0;

inline void add_clause(const zunder::plugin_record &record, uint16_t family)
{
	if (clause_count == max_clauses)
		finding("more clauses than the fuzzers have room for");
	clauses[clause_count++] = {&record, family};
}

// The clause `name` serves for `family`, or null.
inline const clause_choice *find_clause(const char *name, uint16_t family)
{
	for (size_t i = 0; i < clause_count; ++i)
		if (clauses[i].family == family && std::strcmp(clauses[i].record->name, name) == 0)
			return &clauses[i];
	return nullptr;
}

// Loads every plug-in of the build (the label map reads the sample file),
// makes an unguarded exit_error a finding and sends standard output to /dev/null.  A plug-in
// that fails to load stops the fuzzer at once, since running without it
// would fuzz nothing.
inline void load_plugins()
{
	setenv("PAVANE_CONNLABEL_CONF", ZUNDER_FUZZ_SAMPLE_LABELS, 1);
	static char files[] = ZUNDER_FUZZ_PLUGIN_FILES;
	for (char *file = std::strtok(files, ":"); file != nullptr; file = std::strtok(nullptr, ":")) {
		const std::string why = zunder::load_plugin_file(file);
		if (!why.empty()) {
			std::fprintf(stderr, "==fuzz== cannot load %s: %s\n", file, why.c_str());
			std::exit(1);
		}
	}
	for (const zunder::plugin_record &record : zunder::registered_records()) {
		if (record.family == ZU_FAMILY_ANY) {
			add_clause(record, ZU_FAMILY_IPV4);
			add_clause(record, ZU_FAMILY_IPV6);
		} else {
			add_clause(record, record.family);
		}
	}
	if (clause_count == 0) {
		std::fprintf(stderr, "==fuzz== the plug-ins register no clause\n");
		std::exit(1);
	}
	zunder::set_exit_error(unguarded_exit_error);
	if (std::freopen("/dev/null", "w", stdout) == nullptr) {
		std::perror("/dev/null");
		std::exit(1);
	}
}

} // namespace fuzz
