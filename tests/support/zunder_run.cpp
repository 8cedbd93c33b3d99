// SPDX-License-Identifier: GPL-2.0-or-later
#include "zunder_run.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

extern char **environ;

namespace ztest {

namespace {

// Joins the pieces into one list.
std::vector<std::string> concat(std::vector<std::string> a, const std::vector<std::string> &b)
{
	a.insert(a.end(), b.begin(), b.end());
	return a;
}

std::vector<std::string> split_list(const std::string &text)
{
	std::vector<std::string> items;
	std::stringstream stream(text);
	for (std::string item; std::getline(stream, item, '|');)
		if (!item.empty())
			items.push_back(item);
	return items;
}

std::vector<std::string> make_environment(const std::vector<std::string> &changes)
{
	std::vector<std::string> result;
	for (char **e = environ; *e; ++e)
		result.emplace_back(*e);
	for (const std::string &change : changes) {
		const std::string name = change.substr(0, change.find('='));
		std::erase_if(result, [&](const std::string &v) {
			return v.compare(0, name.size() + 1, name + "=") == 0;
		});
		if (change.find('=') != std::string::npos)
			result.push_back(change);
	}
	return result;
}

std::vector<char *> pointers(std::vector<std::string> &strings)
{
	std::vector<char *> result;
	for (std::string &s : strings)
		result.push_back(s.data());
	result.push_back(nullptr);
	return result;
}

// Runs `path` with `argv` (which may be empty) and the environment changes.
run_result run_argv(const std::string &path, std::vector<std::string> argv,
		    const std::vector<std::string> &env)
{
	std::vector<std::string> envv = make_environment(env);
	std::vector<char *> argp = pointers(argv), envp = pointers(envv);

	int out_pipe[2], err_pipe[2];
	if (pipe(out_pipe) != 0 || pipe(err_pipe) != 0)
		return {};
	pid_t pid = fork();
	if (pid == 0) {
		dup2(out_pipe[1], 1);
		dup2(err_pipe[1], 2);
		close(out_pipe[0]);
		close(err_pipe[0]);
		close(out_pipe[1]);
		close(err_pipe[1]);
		execvpe(path.c_str(), argp.data(), envp.data()); // the emulator is found on PATH
		_exit(127);
	}
	close(out_pipe[1]);
	close(err_pipe[1]);

	run_result result;
	pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
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
			ssize_t n = read(fds[i].fd, buffer, sizeof(buffer));
			if (n > 0) {
				sinks[i]->append(buffer, static_cast<size_t>(n));
			} else {
				close(fds[i].fd);
				fds[i].fd = -1;
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

// The preload for qemu is "QEMU_SET_ENV=LD_PRELOAD=<file>", natively
// "LD_PRELOAD=<file>".  A preloaded library does not come first in a
// sanitized program, which the sanitizer must be told to accept.
std::vector<std::string> preload(const std::string &file)
{
	const std::string variable = ZUNDER_PRELOAD_VARIABLE;
	const char *asan = std::getenv("ASAN_OPTIONS");
	return {variable + (variable == "LD_PRELOAD" ? "=" : "=LD_PRELOAD=") + file,
		std::string("ASAN_OPTIONS=") + (asan ? asan : "") + ":verify_asan_link_order=0"};
}

} // namespace

const std::vector<std::string> &emulator()
{
	static const std::vector<std::string> words = split_list(ZUNDER_EMULATOR);
	return words;
}

bool emulated()
{
	return !emulator().empty();
}

run_result run(const run_request &request)
{
	std::vector<std::string> argv = emulator();
	const std::string path = argv.empty() ? request.program : argv.front();
	const bool native = argv.empty();
	argv.push_back(native && !request.argv0.empty() ? request.argv0 : request.program);
	argv.insert(argv.end(), request.args.begin(), request.args.end());
	if (native && request.no_argv)
		argv.clear();
	return run_argv(path, std::move(argv), request.env);
}

run_result run_program(const std::string &program, const std::vector<std::string> &args,
		       const std::vector<std::string> &env)
{
	return run({program, args, env});
}

const std::vector<std::string> system_protocols = {ZUNDER_PRELOAD_VARIABLE};
const std::vector<std::string> no_protocols = preload(ZUNDER_NO_PROTOCOLS);
const std::vector<std::string> hostile_protocols = preload(ZUNDER_HOSTILE_PROTOCOLS);

std::vector<std::string> failing_after(unsigned long allocations, bool machine_protocols)
{
	const std::string fixed = machine_protocols ? "" : std::string(ZUNDER_FIXED_PROTOCOLS) + ":";
	return concat(preload(fixed + ZUNDER_FAILING_ALLOCATOR),
		      {"ZUNDER_TEST_ALLOCATIONS=" + std::to_string(allocations)});
}

run_result run_shell(const std::string &script, const std::vector<std::string> &env)
{
	// The preload goes to zunder alone, through env(1), not to the shell:
	// the fixed table, unless `env` chooses another database (its preload
	// changes, which a bare variable name among them removes).
	const std::string variable = ZUNDER_PRELOAD_VARIABLE;
	std::vector<std::string> shell_env, database;
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

run_result zunder(const std::vector<std::string> &args, const std::vector<std::string> &env)
{
	return run_program(ZUNDER_BIN, args, concat(preload(ZUNDER_FIXED_PROTOCOLS), env));
}

} // namespace ztest
