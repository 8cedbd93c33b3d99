// SPDX-License-Identifier: GPL-2.0-or-later
// Benchmarks of the plug-ins' hot paths against baselines that do the same
// host work with nothing of their own:
//   parse/<clause>     zunder::parse_clause (options, host checks, final check)
//   print/<clause>     zunder::print_block, numeric off
//   save/<clause>      zunder::save_block
//   .../null           the same call on a copy of the record with the null
//                      plug-in's operations; its print and save write the
//                      measured plug-in's finished text with one fputs
//   load/<file>        dlopen (RTLD_NOW, the constructor registers) and dlclose,
//                      beside an empty C shared object
//   db/...             one protocol-database look-up
//   batch/<n>          the real `zunder --batch` over n mixed rules, wall clock
//
// Standard output is /dev/null while the benchmarks run, so print and save
// pay for stdio buffering but not for a terminal.  The progress goes to
// standard error, the report table to the original standard output, every
// run as JSON to the file named by --json=FILE when given.
//
// Each plug-in of the build is measured on the rules in its folder's
// bench.rules.  Every run also counts heap calls and protocol look-ups per
// iteration (counters.h).
#include "counters.h"
#include "harness.h"
#include "report.h"
#include "runners.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>

namespace {

using bench::add;
using bench::operation;
using bench::run_clause;
using bench::run_fputs;

void register_loads()
{
	add("load/empty-C-object", "", 0, [](auto &s) { bench::run_load(s, BENCH_EMPTY_OBJECT); });
	for (const bench::plugin_rules &p : bench::plugins()) {
		const char *path = p.path.c_str();
		add("load/" + p.file, "load/empty-C-object", 1.2,
		    [path](auto &s) { bench::run_load(s, path); });
	}
}

std::vector<bench::clause> clauses;

// Loads the plug-ins, so it comes after the load benchmarks have run.
void register_the_rest()
{
	using bench::run_byname;
	using bench::run_bynumber;
	add("db/getprotobyname(esp)", "", 0, [](auto &s) { run_byname(s, "esp", false); });
	add("db/getprotobyname(esp)+stayopen", "db/getprotobyname(esp)", 0,
	    [](auto &s) { run_byname(s, "esp", true); });
	add("db/getprotobyname(hop)miss", "db/getprotobyname(esp)", 0,
	    [](auto &s) { run_byname(s, "hop", false); });
	add("db/getprotobyname(hop)+stayopen", "db/getprotobyname(hop)miss", 0,
	    [](auto &s) { run_byname(s, "hop", true); });
	add("db/getprotobynumber(50)", "db/getprotobyname(esp)", 0,
	    [](auto &s) { run_bynumber(s, 50, false); });

	const struct {
		operation op;
		const char *word;
		double target;
	} operations[] = {
		{operation::parse, "parse", 1.2},
		{operation::print, "print", 2.0},
		{operation::save, "save", 2.0},
	};
	for (const bench::plugin_rules &p : bench::plugins())
		clauses.push_back(bench::clause_from_rule(p));
	for (bench::clause &c : clauses) {
		bench::prepare(c);
		for (const auto &o : operations) {
			const std::string name = std::string(o.word) + "/" + c.label;
			bench::clause *p = &c;
			const operation op = o.op;
			add(name + "/null", "", 0, [=](auto &s) { run_clause(s, *p, op, true, false); });
			add(name, name + "/null", o.target,
			    [=](auto &s) { run_clause(s, *p, op, false, false); });
			if (op != operation::parse) {
				bench::set_bare(name, name + "/fputs-only");
				add(name + "/fputs-only", "", 0, [=](auto &s) { run_fputs(s, *p, op); });
			}
			// Where the clause consults the protocol database, the same again
			// with the look-ups answered from memory.
			if (c.uses_db) {
				add(name + "/null/db-cached", "", 0,
				    [=](auto &s) { run_clause(s, *p, op, true, true); });
				add(name + "/db-cached", name + "/null/db-cached", o.target,
				    [=](auto &s) { run_clause(s, *p, op, false, true); });
			}
		}
	}

	add(
		"batch/10000", "", 0, [](auto &s) { bench::run_batch(s, 10000); }, true);
	add(
		"batch/100000", "batch/10000", 0, [](auto &s) { bench::run_batch(s, 100000); }, true);
	// Where a mixed batch's time goes: 10,000 rules of one clause each.
	for (size_t i = 0; i < clauses.size(); ++i) {
		const int only = static_cast<int>(i);
		add(
			"batch/10000/" + clauses[i].label + "-only", "batch/10000", 0,
			[only](auto &s) { bench::run_batch(s, 10000, only); }, true);
	}
}

} // namespace

int main(int argc, char **argv)
{
	if (!bench::find_real_protocol_lookups())
		bench::exit_error(2, "cannot find the protocol look-ups");
	// The sample label file, for the plug-in here and for the batch's zunder.
	setenv("PAVANE_CONNLABEL_CONF", BENCH_LABEL_FILE, 1);
	zunder::set_program_name("zunder_bench");
	zunder::set_exit_error(bench::exit_error);

	// --json=FILE: every run as one JSON document.  Taken out before the
	// benchmark library reads the rest.
	std::ofstream json_file;
	int kept = 1;
	for (int i = 1; i < argc; ++i) {
		if (std::strncmp(argv[i], "--json=", 7) == 0) {
			json_file.open(argv[i] + 7, std::ios::trunc);
			if (!json_file)
				bench::exit_error(2, "cannot write %s", argv[i] + 7);
			continue;
		}
		argv[kept++] = argv[i];
	}
	argc = kept;
	argv[argc] = nullptr;

	register_loads();
	benchmark::Initialize(&argc, argv);
	if (benchmark::ReportUnrecognizedArguments(argc, argv))
		return 1;

	// The table goes where standard output went; everything the plug-ins
	// write goes to /dev/null.
	std::fflush(stdout);
	const int report_fd = dup(STDOUT_FILENO);
	FILE *report = report_fd >= 0 ? fdopen(report_fd, "w") : nullptr;
	if (report == nullptr || std::freopen("/dev/null", "w", stdout) == nullptr)
		bench::exit_error(2, "cannot redirect standard output: %s", std::strerror(errno));

	benchmark::JSONReporter json;
	json.SetOutputStream(&json_file);
	json.SetErrorStream(&std::cerr);
	bench::table_reporter reporter(json_file.is_open() ? &json : nullptr);
	reporter.SetOutputStream(&std::cerr);
	reporter.SetErrorStream(&std::cerr);
	// Loading first and on its own, while no plug-in is resident; then the
	// rest, which may run in any order (--benchmark_enable_random_interleaving).
	benchmark::RunSpecifiedBenchmarks(&reporter);
	benchmark::ClearRegisteredBenchmarks();
	register_the_rest();
	benchmark::RunSpecifiedBenchmarks(&reporter);
	reporter.finish_json();
	benchmark::Shutdown();
	std::fflush(stdout);
	reporter.print_table(report);
	std::fclose(report);
	return 0;
}
