// SPDX-License-Identifier: GPL-2.0-or-later
// The report table (see report.h).
#include "report.h"

#include <algorithm>

namespace bench {

namespace {

struct row_info {
	std::string baseline; // benchmark name, or empty
	std::string bare;     // print and save: the bare fputs of the same text
	double target;        // largest ratio allowed, 0: none
	bool per_rule;        // batch: compare time per rule
};
std::map<std::string, row_info> rows;
std::vector<std::string> row_order;

} // namespace

void add(const std::string &name, const std::string &baseline, double target,
	 std::function<void(benchmark::State &)> body, bool per_rule)
{
	rows[name] = {baseline, "", target, per_rule};
	row_order.push_back(name);
	auto *b = benchmark::RegisterBenchmark(name.c_str(), [body](benchmark::State &s) { body(s); });
	// The fastest repetition is the report's figure: on a shared machine the
	// slower ones measure the neighbours more than the code.
	b->ComputeStatistics("min", [](const std::vector<double> &v) {
		return v.empty() ? 0.0 : *std::min_element(v.begin(), v.end());
	});
	if (per_rule)
		b->UseRealTime()
			->Unit(benchmark::kMillisecond)
			->Iterations(name == "batch/10000" ? 2 : 1)
			->Repetitions(3);
}

void set_bare(const std::string &name, const std::string &bare)
{
	rows[name].bare = bare;
}

bool table_reporter::ReportContext(const Context &context)
{
	if (json_ != nullptr && !json_started_)
		json_started_ = json_->ReportContext(context);
	return ConsoleReporter::ReportContext(context);
}

void table_reporter::ReportRuns(const std::vector<Run> &runs)
{
	ConsoleReporter::ReportRuns(runs);
	if (json_ != nullptr)
		json_->ReportRuns(runs);
	for (const Run &run : runs) {
		const std::string name = run.run_name.function_name;
		// The fastest repetition when repeated, else the one run.
		if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "min")
			continue;
		if (run.run_type == Run::RT_Iteration && run.repetitions > 1)
			continue;
		result r;
		const bool wall = rows.count(name) && rows[name].per_rule;
		double t = wall ? run.GetAdjustedRealTime() : run.GetAdjustedCPUTime();
		switch (run.time_unit) {
		case benchmark::kSecond:
			t *= 1e9;
			break;
		case benchmark::kMillisecond:
			t *= 1e6;
			break;
		case benchmark::kMicrosecond:
			t *= 1e3;
			break;
		default:
			break;
		}
		r.ns = t;
		for (const auto &[key, counter] : run.counters)
			r.counters[key] = counter.value;
		if (run.error_occurred)
			r.error = run.error_message;
		results[name] = r;
	}
}

void table_reporter::finish_json()
{
	if (json_ != nullptr && json_started_)
		json_->Finalize();
}

void table_reporter::print_table(FILE *out)
{
	std::fprintf(out, "%-40s %10s  %-30s %10s %6s %6s %-4s %8s %6s %4s %6s\n", "benchmark", "ns/op",
		     "baseline", "base ns/op", "ratio", "target", "", "vs fputs", "allocs", "db", "leak B");
	for (const std::string &name : row_order) {
		auto found = results.find(name);
		if (found == results.end())
			continue;
		const result &r = found->second;
		const row_info &info = rows[name];
		if (!r.error.empty()) {
			std::fprintf(out, "%-40s  skipped: %s\n", name.c_str(), r.error.c_str());
			continue;
		}
		double ns = r.ns;
		std::string shown = name;
		if (info.per_rule) {
			ns /= r.counters.at("rules");
			shown += " (per rule)";
		}
		std::string base = "-";
		char base_ns[32] = "-", ratio[32] = "-", target[32] = "-", verdict[8] = "";
		if (auto b = results.find(info.baseline); b != results.end() && b->second.error.empty()) {
			double bns = b->second.ns;
			if (info.per_rule)
				bns /= b->second.counters.at("rules");
			base = info.baseline;
			std::snprintf(base_ns, sizeof(base_ns), "%.1f", bns);
			std::snprintf(ratio, sizeof(ratio), "%.2f", ns / bns);
			if (info.target > 0) {
				std::snprintf(target, sizeof(target), "%.1f", info.target);
				std::snprintf(verdict, sizeof(verdict), "%s",
					      ns / bns <= info.target ? "ok" : "OVER");
			}
		}
		auto counter = [&](const char *key, const char *format) {
			static char text[32];
			auto c = r.counters.find(key);
			if (c == r.counters.end())
				return "-";
			std::snprintf(text, sizeof(text), format, c->second);
			return static_cast<const char *>(text);
		};
		char bare[32] = "";
		if (auto b = results.find(info.bare); b != results.end() && b->second.error.empty())
			std::snprintf(bare, sizeof(bare), "%.1f", ns / b->second.ns);
		std::fprintf(out, "%-40s %10.1f  %-30s %10s %6s %6s %-4s %8s", shown.c_str(), ns,
			     base.c_str(), base_ns, ratio, target, verdict, bare);
		std::fprintf(out, " %6s", counter("allocs", "%.1f"));
		std::fprintf(out, " %4s", counter("db", "%.0f"));
		std::fprintf(out, " %6s", counter("leak_B", "%.0f"));
		if (r.counters.count("records"))
			std::fprintf(out, " records/op=%.0f", r.counters.at("records"));
		if (r.counters.count("child_cpu_ns_per_rule"))
			std::fprintf(out, " zunder CPU/rule=%.0f ns", r.counters.at("child_cpu_ns_per_rule"));
		std::fputc('\n', out);
	}
	std::fputs(
		"\nns/op: fastest of the repetitions, CPU time (batches: wall clock, per rule).\n"
		"ratio: ns/op over the baseline's; target: the largest ratio allowed.\n"
		"vs fputs: print and save over one bare fputs of the same finished text.\n"
		"allocs, db: heap allocations and protocol look-ups per operation;\n"
		"leak B: bytes allocated and not freed per operation.\n"
		"db-cached: look-ups answered from memory, leaving the clause's own work.\n",
		out);
}

} // namespace bench
