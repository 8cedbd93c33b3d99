// SPDX-License-Identifier: GPL-2.0-or-later
// The report: each result beside its baseline, as a table.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace bench {

// Registers a benchmark and its row in the table: `baseline` is the name of
// the benchmark it is compared with (or empty), `target` the largest ratio
// allowed (0: none), `per_rule` for the batches (wall clock, per rule).
void add(const std::string &name, const std::string &baseline, double target,
	 std::function<void(benchmark::State &)> body, bool per_rule = false);

// Print and save rows: the bare fputs of the same text, compared as well.
void set_bare(const std::string &name, const std::string &bare);

// Progress on the console, every run also to a JSON reporter when there is
// one (a single document across several RunSpecifiedBenchmarks calls), and
// the figures the table needs.
class table_reporter : public benchmark::ConsoleReporter {
public:
	explicit table_reporter(benchmark::JSONReporter *json) : ConsoleReporter(OO_None), json_(json) {}
	bool ReportContext(const Context &context) override;
	void ReportRuns(const std::vector<Run> &runs) override;
	void finish_json();
	void print_table(FILE *out);

private:
	struct result {
		double ns;
		std::map<std::string, double> counters;
		std::string error;
	};
	benchmark::JSONReporter *json_;
	bool json_started_ = false;
	std::map<std::string, result> results;
};

} // namespace bench
