// SPDX-License-Identifier: GPL-2.0-or-later
// Benchmarks of the plug-ins' hot paths, each beside a baseline benchmark
// that does the same host work with nothing of its own (the label "vs NAME"
// names it; bench/ratios.py divides):
//   parse/<clause>        zunder::parse_clause: options, host checks, final check
//   print/<clause>        zunder::print_block, names rather than numbers
//   save/<clause>         zunder::save_block
//   <op>/<clause>/null    the same on a copy of the record with the null
//                         plug-in's operations; its print and save write the
//                         clause's finished text with one fputs
//   <op>/<clause>/fputs   print and save: that one fputs alone
//   load/<file>           dlopen (RTLD_NOW, the constructor registers) and
//                         dlclose, beside load/empty, an empty C object
//   db/...                one protocol-database look-up
//   batch/<n>[/<clause>]  the real `zunder --batch` over n rules, wall clock,
//                         per rule (items): every plug-in's in turn, or one's
//
// Each plug-in is measured on the first four accepted rules of its table
// (plugins/<clause>/<clause>.cases, as zunder_cases --rows writes them, but
// for those with quotes or another protocol database): the first alone for
// parse, print and save, the four in turn in the batches.  The
// loads need a process where no plug-in is resident yet: run them on their
// own (bench/run.sh does).  Standard output is /dev/null while the
// benchmarks run, so print and save pay for stdio but not for a terminal;
// the console report goes where standard output went.
#include "zunder_host.h"

#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <netdb.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

extern char **environ;

namespace {

[[noreturn]] void fail(const std::string &why)
{
	std::fprintf(stderr, "zunder_bench: %s\n", why.c_str());
	std::exit(2);
}

struct plugin {
	std::string file, path;
	std::vector<std::string> rules; // batch lines
};

// The build's plug-ins, from the list the build writes: "file<TAB>path<TAB>table".
std::vector<plugin> read_plugins()
{
	std::vector<plugin> all;
	std::ifstream list(BENCH_DIR "/plugins.txt");
	for (std::string line; std::getline(list, line);) {
		plugin p;
		std::string table;
		std::istringstream fields(line);
		std::getline(std::getline(std::getline(fields, p.file, '\t'), p.path, '\t'), table);
		const std::string rows = BENCH_DIR "/rows-" + p.file;
		const std::string make = "rm -rf '" + rows + "' && mkdir '" + rows +
					 "' && '" BENCH_CASES "' --rows '" + rows + "' '" + table +
					 "' && cat '" + rows + "'/*.rules";
		FILE *made = popen(make.c_str(), "r");
		bool other_env = false;
		for (char text[70000]; made && std::fgets(text, sizeof text, made);) {
			std::string rule(text, std::strcspn(text, "\n"));
			const bool env = rule.starts_with("# env: ");
			// The table's label file, for the plug-in here and for the batch's zunder.
			if (env && rule.starts_with("# env: PAVANE_CONNLABEL_CONF=") &&
			    rule.find(' ', 7) == std::string::npos)
				setenv("PAVANE_CONNLABEL_CONF", rule.substr(rule.find('=') + 1).c_str(), 1);
			else if (env)
				other_env = true;
			if (!env && !std::exchange(other_env, false) &&
			    rule.find_first_of("'\"\\") == std::string::npos && p.rules.size() < 4)
				p.rules.push_back(rule);
		}
		if (made == nullptr || pclose(made) != 0 || p.rules.empty())
			fail(table + ": no rules to run");
		all.push_back(p);
	}
	if (all.empty())
		fail("no plug-ins listed in " BENCH_DIR "/plugins.txt");
	return all;
}

// One clause as its plug-in's first rule gives it; the rest is filled on
// first use, so that only the benchmarks that run load plug-ins.
struct clause {
	std::string path, name;
	zunder::clause_kind kind{};
	uint16_t family = ZU_FAMILY_IPV4;
	std::vector<std::string> words;

	bool ready = false;
	std::vector<const char *> args;
	zunder::plugin_record real{}, null{};
	std::vector<unsigned char> block;
	std::string print_text, save_text;
};

clause clause_from(const plugin &p)
{
	clause c{.path = p.path};
	std::istringstream in(p.rules.front());
	for (std::string w; c.name.empty() && in >> w;) {
		if (w == "-6")
			c.family = ZU_FAMILY_IPV6;
		else if ((w == "-m" || w == "-j") && in >> c.name)
			c.kind = w == "-m" ? zunder::clause_kind::match : zunder::clause_kind::target;
		else if (w != "-4")
			fail(p.file + ": \"" + w + "\" before -m or -j");
	}
	if (c.name.empty())
		fail(p.file + ": its first rule has no -m NAME or -j NAME");
	for (std::string w; in >> w;)
		c.words.push_back(w);
	return c;
}

const zunder::plugin_record &record_in(const std::string &path, zunder::clause_kind kind,
				       const std::string &name, uint16_t family)
{
	if (std::string why = zunder::load_plugin_file(path); !why.empty())
		fail("cannot load " + path + ": " + why);
	const zunder::plugin_record *r = zunder::find_record(kind, name, family);
	if (r == nullptr)
		fail("no " + name + " in " + path);
	return *r;
}

// What an operation writes to standard output.
template <typename Operation>
std::string captured(Operation op)
{
	std::fflush(stdout);
	FILE *saved = stdout;
	char *text = nullptr;
	size_t length = 0;
	stdout = open_memstream(&text, &length);
	op();
	std::fclose(stdout);
	stdout = saved;
	std::string result(text, length);
	std::free(text);
	return result;
}

using set_texts_fn = void (*)(const char *, const char *);
set_texts_fn null_set_texts = nullptr;

// Loads the clause's plug-in and the null one, makes the null record (the
// same options, blocks and present operations, doing nothing), and parses
// the rule once for the block and texts the benchmarks use.
clause &prepared(clause &c)
{
	if (c.ready)
		return c;
	for (const std::string &w : c.words)
		c.args.push_back(w.c_str());
	c.real = record_in(c.path, c.kind, c.name, c.family);
	const zunder::plugin_record &ops =
		record_in(BENCH_NULL_PLUGIN, zunder::clause_kind::match, "bench_null", c.family);
	null_set_texts = reinterpret_cast<set_texts_fn>(
		dlsym(dlopen(BENCH_NULL_PLUGIN, RTLD_NOW | RTLD_NOLOAD), "bench_null_set_texts"));
	if (null_set_texts == nullptr)
		fail("the null plug-in has no bench_null_set_texts");
	c.null = c.real;
	c.null.parse = ops.parse;
	c.null.print = ops.print;
	c.null.save = ops.save;
	if (c.real.final_check != nullptr)
		c.null.final_check = ops.final_check;
	zunder::clause_state state;
	zunder::parse_clause(c.real, c.family, c.args, state);
	c.block.assign(state.info.data(), state.info.data() + state.info.size());
	c.print_text = captured([&] { zunder::print_block(c.real, c.family, c.block, false); });
	c.save_text = captured([&] { zunder::save_block(c.real, c.family, c.block); });
	c.ready = true;
	return c;
}

enum class operation { parse, print, save };

void run_operation(benchmark::State &state, clause &c, operation op, bool null)
{
	prepared(c);
	const zunder::plugin_record &r = null ? c.null : c.real;
	null_set_texts(c.print_text.c_str(), c.save_text.c_str());
	zunder::clause_state parse_state;
	zunder::parse_clause(r, c.family, c.args, parse_state); // warms the blocks
	for (auto _ : state) {
		switch (op) {
		case operation::parse:
			zunder::parse_clause(r, c.family, c.args, parse_state);
			break;
		case operation::print:
			zunder::print_block(r, c.family, c.block, false);
			break;
		case operation::save:
			zunder::save_block(r, c.family, c.block);
			break;
		}
	}
}

void run_fputs(benchmark::State &state, clause &c, operation op)
{
	const char *text =
		op == operation::print ? prepared(c).print_text.c_str() : prepared(c).save_text.c_str();
	for (auto _ : state)
		std::fputs(text, stdout);
}

void run_load(benchmark::State &state, const char *path)
{
	for (auto _ : state) {
		void *handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
		if (handle == nullptr) {
			state.SkipWithError(dlerror());
			break;
		}
		dlclose(handle);
	}
	if (void *resident = dlopen(path, RTLD_NOW | RTLD_NOLOAD)) {
		dlclose(resident);
		state.SkipWithError("resident before or after: its constructor did not run each time");
	}
}

void run_lookup(benchmark::State &state, const char *name, int number, bool stay_open)
{
	if (stay_open)
		setprotoent(1);
	for (auto _ : state)
		benchmark::DoNotOptimize(name != nullptr ? getprotobyname(name) : getprotobynumber(number));
	if (stay_open)
		endprotoent();
}

// The real `zunder --batch` over `rules` lines cycling through the plug-ins,
// each through its own rules, or through those of `only` alone.
void run_batch(benchmark::State &state, const std::vector<plugin> &all, long rules, const plugin *only)
{
	const std::string path = std::string(BENCH_DIR "/batch-") + std::to_string(rules) +
				 (only ? "-" + only->file : "") + ".rules";
	std::ofstream out(path, std::ios::trunc);
	for (long i = 0; i < rules; ++i) {
		const long count = only != nullptr ? 1 : static_cast<long>(all.size());
		const plugin &p = only != nullptr ? *only : all[static_cast<size_t>(i % count)];
		out << p.rules[static_cast<size_t>(i / count) % p.rules.size()] << '\n';
	}
	if (!out.flush())
		fail("cannot write " + path);
	char program[] = "zunder", batch[] = "--batch";
	char *argv[] = {program, batch, const_cast<char *>(path.c_str()), nullptr};
	posix_spawn_file_actions_t actions;
	posix_spawn_file_actions_init(&actions);
	posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
	for (auto _ : state) {
		pid_t pid;
		int status = 0;
		if (posix_spawn(&pid, BENCH_ZUNDER, &actions, nullptr, argv, environ) != 0 ||
		    waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
			state.SkipWithError("zunder --batch failed");
			break;
		}
	}
	posix_spawn_file_actions_destroy(&actions);
	state.SetItemsProcessed(state.iterations() * rules);
}

benchmark::internal::Benchmark *add(const std::string &name, const std::string &baseline,
				    std::function<void(benchmark::State &)> body)
{
	return benchmark::RegisterBenchmark(name.c_str(), [=](benchmark::State &state) {
		body(state);
		if (!baseline.empty())
			state.SetLabel("vs " + baseline);
	});
}

std::vector<plugin> plugins;
std::vector<clause> clauses;

void register_all()
{
	plugins = read_plugins();
	add("load/empty", "", [](auto &s) { run_load(s, BENCH_EMPTY_OBJECT); });
	for (const plugin &p : plugins)
		add("load/" + p.file, "load/empty", [&p](auto &s) { run_load(s, p.path.c_str()); });

	add("db/getprotobyname(esp)", "", [](auto &s) { run_lookup(s, "esp", 0, false); });
	add("db/getprotobyname(esp)/stayopen", "db/getprotobyname(esp)",
	    [](auto &s) { run_lookup(s, "esp", 0, true); });
	add("db/getprotobyname(hop)/miss", "db/getprotobyname(esp)",
	    [](auto &s) { run_lookup(s, "hop", 0, false); });
	add("db/getprotobynumber(50)", "db/getprotobyname(esp)",
	    [](auto &s) { run_lookup(s, nullptr, 50, false); });

	clauses.reserve(plugins.size());
	for (const plugin &p : plugins)
		clauses.push_back(clause_from(p));
	const std::pair<operation, const char *> operations[] = {{operation::parse, "parse/"},
								 {operation::print, "print/"},
								 {operation::save, "save/"}};
	for (clause &c : clauses)
		for (const auto &[op, word] : operations) {
			const std::string name = word + c.name;
			add(name, name + "/null", [&c, op](auto &s) { run_operation(s, c, op, false); });
			add(name + "/null", "", [&c, op](auto &s) { run_operation(s, c, op, true); });
			if (op != operation::parse)
				add(name + "/fputs", "", [&c, op](auto &s) { run_fputs(s, c, op); });
		}

	// The batches, wall clock; where a mixed batch's time goes: 10,000 rules
	// of one clause each.
	const auto batch = [](const std::string &name, long rules, const plugin *only) {
		add(name, name == "batch/10000" ? "" : "batch/10000",
		    [rules, only](auto &s) { run_batch(s, plugins, rules, only); })
			->UseRealTime()
			->Unit(benchmark::kMillisecond)
			->Iterations(rules == 10000 ? 2 : 1)
			->Repetitions(3);
	};
	batch("batch/10000", 10000, nullptr);
	batch("batch/100000", 100000, nullptr);
	for (size_t i = 0; i < plugins.size(); ++i)
		batch("batch/10000/" + clauses[i].name, 10000, &plugins[i]);
}

} // namespace

int main(int argc, char **argv)
{
	zunder::set_program_name("zunder_bench");
	benchmark::Initialize(&argc, argv);
	if (benchmark::ReportUnrecognizedArguments(argc, argv))
		return 1;
	register_all();
	// The report goes where standard output went, what the plug-ins write to
	// /dev/null.
	std::ofstream console("/dev/stdout", std::ios::app);
	if (!console || std::freopen("/dev/null", "w", stdout) == nullptr)
		fail("cannot redirect standard output");
	benchmark::ConsoleReporter reporter(benchmark::ConsoleReporter::OO_Tabular);
	reporter.SetOutputStream(&console);
	reporter.SetErrorStream(&std::cerr);
	benchmark::RunSpecifiedBenchmarks(&reporter);
	benchmark::Shutdown();
	return 0;
}
