// SPDX-License-Identifier: GPL-2.0-or-later
// The benchmark bodies.
#include "runners.h"
#include "counters.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <netdb.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <span>

extern char **environ;

namespace bench {

void run_clause(benchmark::State &state, clause &c, operation op, bool null, bool cached)
{
	prepare(c);
	const zunder::plugin_record &r = null ? c.null_record : c.record;
	if (cached && !c.cached_same) {
		state.SkipWithError("answers from memory changed the texts");
		return;
	}
	set_null_texts(c.print_text, c.save_text);
	zunder::clause_state parse_state;
	const std::span<const unsigned char> block(c.block);
	counting count(state);
	db_cached = cached;
	switch (op) {
	case operation::parse:
		zunder::parse_clause(r, c.family, c.args, parse_state); // warm the blocks
		count.start();
		for (auto _ : state) {
			zunder::parse_clause(r, c.family, c.args, parse_state);
			benchmark::DoNotOptimize(parse_state.data.data()[0]);
		}
		break;
	case operation::print:
		zunder::print_block(r, c.family, block, false);
		count.start();
		for (auto _ : state)
			zunder::print_block(r, c.family, block, false);
		break;
	case operation::save:
		zunder::save_block(r, c.family, block);
		count.start();
		for (auto _ : state)
			zunder::save_block(r, c.family, block);
		break;
	}
	count.stop();
	db_cached = false;
	if (!null && op == operation::parse &&
	    !std::equal(c.block.begin(), c.block.end(), parse_state.data.data()))
		state.SkipWithError("the block changed between runs");
}

void run_fputs(benchmark::State &state, clause &c, operation op)
{
	prepare(c);
	const char *text = op == operation::print ? c.print_text.c_str() : c.save_text.c_str();
	counting count(state);
	count.start();
	for (auto _ : state)
		std::fputs(text, stdout);
	count.stop();
}

void run_load(benchmark::State &state, const char *path)
{
	if (void *resident = dlopen(path, RTLD_NOW | RTLD_NOLOAD)) {
		dlclose(resident);
		state.SkipWithError("already loaded in this process: run the load benchmarks on their own");
		return;
	}
	const size_t records_before = zunder::registered_records().size();
	counting count(state);
	count.start();
	for (auto _ : state) {
		void *handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
		if (handle == nullptr) {
			state.SkipWithError(dlerror());
			break;
		}
		dlclose(handle);
	}
	count.stop();
	state.counters["records"] =
		static_cast<double>(zunder::registered_records().size() - records_before) /
		static_cast<double>(state.iterations());
	if (void *resident = dlopen(path, RTLD_NOW | RTLD_NOLOAD)) {
		dlclose(resident);
		state.SkipWithError("dlclose did not unload the file: the constructor ran once only");
	}
}

void run_byname(benchmark::State &state, const char *name, bool stay_open)
{
	if (stay_open)
		setprotoent(1);
	counting count(state);
	count.start();
	for (auto _ : state)
		benchmark::DoNotOptimize(getprotobyname(name));
	count.stop();
	if (stay_open)
		endprotoent();
}

void run_bynumber(benchmark::State &state, int number, bool stay_open)
{
	if (stay_open)
		setprotoent(1);
	counting count(state);
	count.start();
	for (auto _ : state)
		benchmark::DoNotOptimize(getprotobynumber(number));
	count.stop();
	if (stay_open)
		endprotoent();
}

namespace {

// `rules` lines cycling through the plug-ins, each through its own rules,
// or those of plugins()[only] alone.
std::string batch_file(long rules, int only)
{
	char file[64];
	if (only >= 0)
		std::snprintf(file, sizeof(file), "/batch-%ld-%d.rules", rules, only);
	else
		std::snprintf(file, sizeof(file), "/batch-%ld.rules", rules);
	const std::string path = std::string(BENCH_DATA_DIR) + file;
	const auto &all = plugins();
	std::ofstream out(path, std::ios::trunc);
	for (long i = 0; i < rules; ++i) {
		const long count = only >= 0 ? 1 : static_cast<long>(all.size());
		const plugin_rules &p = all[static_cast<size_t>(only >= 0 ? only : i % count)];
		out << p.lines[static_cast<size_t>(i / count) % p.lines.size()] << '\n';
	}
	if (!out.flush())
		exit_error(2, "cannot write %s", path.c_str());
	return path;
}

} // namespace

void run_batch(benchmark::State &state, long rules, int only)
{
	const std::string path = batch_file(rules, only);
	char program[] = "zunder", batch[] = "--batch";
	char *argv[] = {program, batch, const_cast<char *>(path.c_str()), nullptr};
	posix_spawn_file_actions_t actions;
	posix_spawn_file_actions_init(&actions);
	posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
	double cpu_seconds = 0; // the child's, user and system
	for (auto _ : state) {
		pid_t pid;
		if (posix_spawn(&pid, BENCH_ZUNDER, &actions, nullptr, argv, environ) != 0) {
			state.SkipWithError("cannot start zunder");
			break;
		}
		int status = 0;
		struct rusage usage {};
		wait4(pid, &status, 0, &usage);
		cpu_seconds += static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
			       static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
		if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
			state.SkipWithError("zunder --batch failed");
			break;
		}
	}
	posix_spawn_file_actions_destroy(&actions);
	state.counters["rules"] = static_cast<double>(rules);
	if (state.iterations() > 0)
		state.counters["child_cpu_ns_per_rule"] = cpu_seconds * 1e9 /
							  static_cast<double>(state.iterations()) /
							  static_cast<double>(rules);
}

} // namespace bench
