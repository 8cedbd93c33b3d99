// SPDX-License-Identifier: GPL-2.0-or-later
#include "zunder_run.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <sstream>
#include <utility>

extern char **environ;

namespace ztest {

namespace {

using strings = std::vector<std::string>;

strings concat(strings a, const strings &b)
{
	a.insert(a.end(), b.begin(), b.end());
	return a;
}

// This process's environment with the changes applied.
strings make_environment(const strings &changes)
{
	strings result;
	for (char **e = environ; *e; ++e)
		result.emplace_back(*e);
	for (const std::string &change : changes) {
		const std::string name = change.substr(0, change.find('=')) + "=";
		std::erase_if(result, [&](const std::string &v) { return v.starts_with(name); });
		if (change.find('=') != std::string::npos)
			result.push_back(change);
	}
	return result;
}

std::vector<char *> pointers(strings &list)
{
	std::vector<char *> result;
	for (std::string &s : list)
		result.push_back(s.data());
	result.push_back(nullptr);
	return result;
}

run_result run_argv(const std::string &path, strings argv, const strings &env)
{
	strings envv = make_environment(env);
	std::vector<char *> argp = pointers(argv), envp = pointers(envv);
	int out[2], err[2];
	if (pipe(out) != 0 || pipe(err) != 0)
		return {};
	const pid_t pid = fork();
	if (pid == 0) {
		dup2(out[1], 1);
		dup2(err[1], 2);
		for (int fd : {out[0], out[1], err[0], err[1]})
			close(fd);
		execvpe(path.c_str(), argp.data(), envp.data()); // the emulator is found on PATH
		_exit(127);
	}
	close(out[1]);
	close(err[1]);

	run_result result;
	pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
	std::string *sinks[2] = {&result.out, &result.err};
	const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
	int open_fds = 2;
	while (open_fds > 0 && std::chrono::steady_clock::now() < deadline) {
		if (poll(fds, 2, 1000) < 0 && errno != EINTR)
			break;
		for (int i = 0; i < 2; ++i) {
			if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP)))
				continue;
			char buffer[65536];
			const ssize_t n = read(fds[i].fd, buffer, sizeof(buffer));
			if (n > 0) {
				sinks[i]->append(buffer, static_cast<size_t>(n));
			} else {
				close(std::exchange(fds[i].fd, -1));
				--open_fds;
			}
		}
	}
	if (open_fds > 0) {
		kill(pid, SIGKILL);
		for (pollfd &f : fds)
			if (f.fd >= 0)
				close(f.fd);
	}
	int status = 0;
	waitpid(pid, &status, 0);
	result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
	return result;
}

// Under qemu the preload goes through QEMU_SET_ENV to the emulated program.
// A sanitized program must be told to accept a library loaded before it.
strings preload(const std::string &file)
{
	const std::string variable = ZUNDER_PRELOAD_VARIABLE;
	const char *asan = std::getenv("ASAN_OPTIONS");
	return {variable + (variable == "LD_PRELOAD" ? "=" : "=LD_PRELOAD=") + file,
		std::string("ASAN_OPTIONS=") + (asan ? asan : "") + ":verify_asan_link_order=0"};
}

} // namespace

const strings &emulator()
{
	static const strings words = [] {
		strings items;
		std::stringstream list(ZUNDER_EMULATOR); // "|"-separated
		for (std::string item; std::getline(list, item, '|');)
			if (!item.empty())
				items.push_back(item);
		return items;
	}();
	return words;
}

bool emulated()
{
	return !emulator().empty();
}

run_result run(const run_request &request)
{
	strings argv = emulator();
	const bool native = argv.empty();
	const std::string path = native ? request.program : argv.front();
	argv.push_back(native && !request.argv0.empty() ? request.argv0 : request.program);
	argv.insert(argv.end(), request.args.begin(), request.args.end());
	if (native && request.no_argv)
		argv.clear();
	return run_argv(path, std::move(argv), request.env);
}

run_result run_program(const std::string &program, const strings &args, const strings &env)
{
	return run({program, args, env});
}

const strings system_protocols = {ZUNDER_PRELOAD_VARIABLE};
const strings no_protocols = preload(ZUNDER_NO_PROTOCOLS);
const strings hostile_protocols = preload(ZUNDER_HOSTILE_PROTOCOLS);

strings failing_after(unsigned long allocations, bool machine_protocols)
{
	const std::string fixed = machine_protocols ? "" : std::string(ZUNDER_FIXED_PROTOCOLS) + ":";
	return concat(preload(fixed + ZUNDER_FAILING_ALLOCATOR),
		      {"ZUNDER_TEST_ALLOCATIONS=" + std::to_string(allocations)});
}

run_result run_shell(const std::string &script, const strings &env)
{
	// zunder's preload (the fixed table unless `env` picks another; a bare
	// variable name removes it) goes through env(1), not to the shell.
	const std::string variable = ZUNDER_PRELOAD_VARIABLE;
	strings shell_env, database;
	for (const std::string &e : env)
		if (e == variable)
			database.insert(database.begin(), {"-u", variable});
		else if (e.starts_with(variable + "=") || e.starts_with("ASAN_OPTIONS="))
			database.push_back(e);
		else
			shell_env.push_back(e);
	std::string words = "env";
	for (const std::string &w :
	     concat(database.empty() ? preload(ZUNDER_FIXED_PROTOCOLS) : database, emulator()))
		words += " " + w;
	return run_argv("/bin/sh", {"/bin/sh", "-c", script},
			concat(shell_env, {"ZUNDER=" + words + " " + ZUNDER_BIN}));
}

run_result zunder(const strings &args, const strings &env)
{
	return run_program(ZUNDER_BIN, args, concat(preload(ZUNDER_FIXED_PROTOCOLS), env));
}

} // namespace ztest
