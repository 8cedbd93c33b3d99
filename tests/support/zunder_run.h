// SPDX-License-Identifier: GPL-2.0-or-later
// Test support: run the real zunder (or another program) and read what it wrote.
#pragma once

#include <string>
#include <vector>

namespace ztest {

struct run_result {
	int status = -1; // exit status, or 128 + signal
	std::string out;
	std::string err;
};

// A program to run: its arguments, and changes to this process's
// environment ("NAME=value"; a bare "NAME" removes it).
struct run_request {
	std::string program;
	std::vector<std::string> args;
	std::vector<std::string> env;
	std::string argv0;    // the program's argv[0] if not its path (not under an emulator)
	bool no_argv = false; // start it with an empty argument vector (not under an emulator)
};

// Runs it under the build's emulator when cross-built, and reads what it
// writes; a run that takes over a minute is killed.
run_result run(const run_request &request);

run_result run_program(const std::string &program, const std::vector<std::string> &args,
		       const std::vector<std::string> &env = {});

// The emulator the build's programs run under, with its arguments; empty
// for a native build.
const std::vector<std::string> &emulator();

// True when the build's programs run under an emulator (the cross build).
bool emulated();

// Runs `script` with /bin/sh (never under the emulator), the environment
// plus `env` and ZUNDER: the words that run the build-tree zunder as
// zunder() does, to be used unquoted ($ZUNDER -6 -m ah ...).  A protocol
// database of `env` (below) goes to zunder alone, not to the shell.
run_result run_shell(const std::string &script, const std::vector<std::string> &env = {});

// Runs the build-tree zunder.  Its protocol look-ups answer from the tests'
// fixed table (protocol_table.h) unless `env` holds one of the changes below.
run_result zunder(const std::vector<std::string> &args, const std::vector<std::string> &env = {});

// Environment changes for zunder: the machine's own protocol database, one
// with no entries, or one whose names a shell or the batch reader would act
// on (tests/support/protocol_table.c).
extern const std::vector<std::string> system_protocols;
extern const std::vector<std::string> no_protocols;
extern const std::vector<std::string> hostile_protocols;

// Environment changes for zunder that also preload an allocator under which
// the first `allocations` allocations of its main succeed and every later
// one fails; with `machine_protocols`, beside the machine's own protocol
// database instead of the fixed table.
std::vector<std::string> failing_after(unsigned long allocations, bool machine_protocols = false);

} // namespace ztest
