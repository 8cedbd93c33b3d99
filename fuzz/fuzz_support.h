// SPDX-License-Identifier: GPL-2.0-or-later
// Shared by the fuzzers: loading the build's plug-ins once, the clauses
// they serve, and an exit_error that ends one input instead of the process.
#pragma once

#include "zunder_host.h"

#include <csetjmp>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace fuzz {

// Where exit_error returns to: set by the fuzzer around each call into the
// host.  Plug-ins have no unwind tables, so a jump is the only way out.
inline std::jmp_buf escape_point;
inline bool escape_armed = false;
inline char last_message[4096];

[[noreturn]] inline void finding(const char *what)
{
	std::fprintf(stderr, "==fuzz== %s\n", what);
	std::fflush(stderr);
	std::abort();
}

// Formats the message as the real callback would (so that bad format
// arguments are caught), then jumps back.  A guard hit, a refused block or
// an unexpected status is a fault, not a rejected input.
__attribute__((noreturn, format(printf, 2, 3))) inline void escape(int status, const char *format, ...)
{
	va_list args;
	va_start(args, format);
	std::vsnprintf(last_message, sizeof(last_message), format, args);
	va_end(args);
	if (status != 2) {
		std::fprintf(stderr, "==fuzz== exit status %d: %s\n", status, last_message);
		finding("exit_error with a status other than 2");
	}
	// Told apart by the host's format, since a message may quote the input.
	if (std::strstr(format, "wrote outside its block") != nullptr ||
	    std::strstr(format, "cannot be printed") != nullptr) {
		std::fprintf(stderr, "==fuzz== %s\n", last_message);
		finding("guard hit");
	}
	if (!escape_armed)
		finding("exit_error outside a guarded call");
	escape_armed = false;
	std::longjmp(escape_point, 1);
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
// installs the escape and sends standard output to /dev/null.  A plug-in
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
	zunder::set_exit_error(escape);
	if (std::freopen("/dev/null", "w", stdout) == nullptr) {
		std::perror("/dev/null");
		std::exit(1);
	}
}

} // namespace fuzz

// Runs the statements with exit_error leading back here; `ok` tells
// whether they finished.  A macro, because setjmp must be called in the
// frame that stays live, as the whole controlling expression of an `if`.
// The statements must not leave objects with destructors behind a jump.
#define FUZZ_GUARDED(ok, ...)                                                                                \
	do {                                                                                                 \
		(ok) = false;                                                                                \
		if (setjmp(fuzz::escape_point) == 0) {                                                       \
			fuzz::escape_armed = true;                                                           \
			__VA_ARGS__;                                                                         \
			fuzz::escape_armed = false;                                                          \
			(ok) = true;                                                                         \
		}                                                                                            \
	} while (0)
