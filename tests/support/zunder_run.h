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

// `env` changes this process's environment: "NAME=value" sets, a bare "NAME" removes.
struct run_request {
	std::string program;
	std::vector<std::string> args;
	std::vector<std::string> env;
	std::string argv0;    // argv[0] if not the path (ignored under an emulator)
	bool no_argv = false; // empty argument vector (ignored under an emulator)
};

// Runs under the cross build's emulator, if any; killed after a minute.
run_result run(const run_request &request);
run_result run_program(const std::string &program, const std::vector<std::string> &args,
		       const std::vector<std::string> &env = {});

// The emulator and its arguments; empty for a native build.
const std::vector<std::string> &emulator();
bool emulated();

// Runs `script` with /bin/sh (never emulated), with $ZUNDER the unquoted
// words that run zunder as zunder() does.  A protocol database in `env`
// goes to zunder alone.
run_result run_shell(const std::string &script, const std::vector<std::string> &env = {});

// Runs the build-tree zunder, its protocol look-ups answered from the fixed
// table (protocol_table.c) unless `env` holds one of the databases below.
run_result zunder(const std::vector<std::string> &args, const std::vector<std::string> &env = {});

// The machine's own protocol database, an empty one, and one whose names a
// shell or the batch reader would act on.
extern const std::vector<std::string> system_protocols;
extern const std::vector<std::string> no_protocols;
extern const std::vector<std::string> hostile_protocols;

// Preloads an allocator that fails every allocation of zunder's main after
// the first `allocations`, beside the fixed table or the machine's database.
std::vector<std::string> failing_after(unsigned long allocations, bool machine_protocols = false);

} // namespace ztest
