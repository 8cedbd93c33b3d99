// Benchmarks of the plug-ins' hot paths against baselines that do the same
// host work with nothing of their own:
//   parse/<clause>     zunder::parse_clause (options, host checks, final check)
//   print/<clause>     zunder::print_block, numeric off
//   save/<clause>      zunder::save_block
//   .../null           the same call on the null plug-in's record with the same
//                      option table; its print and save write the measured
//                      plug-in's finished text with one fputs
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
// The executable also counts heap calls (malloc and friends) and protocol
// look-ups per iteration, by defining those functions itself: being in the
// executable, its definitions come first for the host library and for every
// plug-in.  In "db cached" runs the look-ups answer from a small table
// instead of the database, so that what is left is the plug-in's own work.
#include "zunder_host.h"

#include <benchmark/benchmark.h>

#include <dlfcn.h>
#include <fcntl.h>
#include <malloc.h>
#include <netdb.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <span>
#include <string>
#include <vector>

extern char **environ;

// ---------------------------------------------------------------------------
// Counting heap calls and protocol look-ups.

extern "C" {
void *__libc_malloc(size_t);
void *__libc_calloc(size_t, size_t);
void *__libc_realloc(void *, size_t);
void *__libc_memalign(size_t, size_t);
void __libc_free(void *);
}

namespace {

unsigned long heap_calls = 0;      // allocations (malloc, calloc, realloc, aligned)
long live_bytes = 0;               // usable bytes allocated and not yet freed
unsigned long db_calls = 0;        // getprotobyname / getprotobynumber
bool db_cached = false;

inline void count_allocation(void *p)
{
	if (p != nullptr) {
		__atomic_add_fetch(&heap_calls, 1, __ATOMIC_RELAXED);
		__atomic_add_fetch(&live_bytes, static_cast<long>(malloc_usable_size(p)),
		                   __ATOMIC_RELAXED);
	}
}

inline void count_release(void *p)
{
	if (p != nullptr)
		__atomic_sub_fetch(&live_bytes, static_cast<long>(malloc_usable_size(p)),
		                   __ATOMIC_RELAXED);
}

} // namespace

extern "C" {

void *malloc(size_t size)
{
	void *p = __libc_malloc(size);
	count_allocation(p);
	return p;
}

void *calloc(size_t count, size_t size)
{
	void *p = __libc_calloc(count, size);
	count_allocation(p);
	return p;
}

void *realloc(void *old, size_t size)
{
	count_release(old);
	void *p = __libc_realloc(old, size);
	if (p == nullptr && old != nullptr && size != 0)
		count_allocation(old);   // failed: the old block is still there
	else
		count_allocation(p);
	return p;
}

void free(void *p)
{
	count_release(p);
	__libc_free(p);
}

void *memalign(size_t alignment, size_t size)
{
	void *p = __libc_memalign(alignment, size);
	count_allocation(p);
	return p;
}

void *aligned_alloc(size_t alignment, size_t size)
{
	return memalign(alignment, size);
}

int posix_memalign(void **out, size_t alignment, size_t size)
{
	void *p = memalign(alignment, size);
	if (p == nullptr)
		return ENOMEM;
	*out = p;
	return 0;
}

void *valloc(size_t size)
{
	return memalign(static_cast<size_t>(sysconf(_SC_PAGESIZE)), size);
}

} // extern "C"

namespace {

using byname_fn = protoent *(*)(const char *);
using bynumber_fn = protoent *(*)(int);
byname_fn real_getprotobyname = nullptr;
bynumber_fn real_getprotobynumber = nullptr;

// Answers remembered from the database, for the "db cached" runs: by name
// in a short list, by number in a table.  Fixed storage, so that answering
// allocates nothing and costs a few string compares at most.
struct remembered {
	bool known;          // asked once already
	bool found;
	char name[32];
	protoent entry;
};
remembered by_name[16];
char asked_names[16][32];
unsigned name_count = 0;
remembered by_number[256];
char *no_aliases[] = {nullptr};

protoent *remember(remembered &r, protoent *e)
{
	r.known = true;
	r.found = e != nullptr;
	if (e != nullptr) {
		std::snprintf(r.name, sizeof(r.name), "%s", e->p_name);
		r.entry.p_name = r.name;
		r.entry.p_aliases = no_aliases;
		r.entry.p_proto = e->p_proto;
	}
	return e;
}

} // namespace

extern "C" {

struct protoent *getprotobyname(const char *name)
{
	++db_calls;
	if (!db_cached)
		return real_getprotobyname(name);
	for (unsigned i = 0; i < name_count; ++i)
		if (std::strcmp(asked_names[i], name) == 0)
			return by_name[i].found ? &by_name[i].entry : nullptr;
	protoent *e = real_getprotobyname(name);
	if (name_count < std::size(by_name) && std::strlen(name) < sizeof(asked_names[0])) {
		std::strcpy(asked_names[name_count], name);
		remember(by_name[name_count++], e);
	}
	return e;
}

struct protoent *getprotobynumber(int number)
{
	++db_calls;
	if (!db_cached || number < 0 || number > 255)
		return real_getprotobynumber(number);
	remembered &r = by_number[number];
	if (r.known)
		return r.found ? &r.entry : nullptr;
	return remember(r, real_getprotobynumber(number));
}

} // extern "C"

namespace {

// Per-iteration counters around a benchmark's loop.
class counting {
public:
	explicit counting(benchmark::State &state) : state_(state) {}
	void start()
	{
		heap_ = heap_calls;
		live_ = live_bytes;
		db_ = db_calls;
	}
	void stop()
	{
		const double n = static_cast<double>(state_.iterations());
		if (n == 0)
			return;
		state_.counters["allocs"] = static_cast<double>(heap_calls - heap_) / n;
		state_.counters["leak_B"] = static_cast<double>(live_bytes - live_) / n;
		state_.counters["db"] = static_cast<double>(db_calls - db_) / n;
	}
private:
	benchmark::State &state_;
	unsigned long heap_ = 0, db_ = 0;
	long live_ = 0;
};

// ---------------------------------------------------------------------------
// Plug-ins and clauses.

[[noreturn]] __attribute__((format(printf, 2, 3)))
void bench_exit_error(int status, const char *format, ...)
{
	std::fflush(stdout);
	std::fputs("zunder_bench: ", stderr);
	va_list args;
	va_start(args, format);
	std::vfprintf(stderr, format, args);
	va_end(args);
	std::fputc('\n', stderr);
	std::_Exit(status);
}

// Loads a file through the host, once, and returns the records it added.
// Only those are looked at: records left behind by a plug-in the load
// benchmarks have since unloaded point into unmapped memory.
std::vector<zunder::plugin_record> load_records(const std::string &path)
{
	static std::map<std::string, std::vector<zunder::plugin_record>> loaded;
	if (auto found = loaded.find(path); found != loaded.end())
		return found->second;
	const size_t before = zunder::registered_records().size();
	if (std::string why = zunder::load_plugin_file(path); !why.empty())
		bench_exit_error(2, "cannot load %s: %s", path.c_str(), why.c_str());
	const auto &all = zunder::registered_records();
	std::vector<zunder::plugin_record> added(all.begin() + static_cast<long>(before), all.end());
	loaded[path] = added;
	return added;
}

struct clause {
	const char *label;               // benchmark name part
	const char *file;                // plug-in file
	zunder::clause_kind kind;
	const char *name;                // record name
	const char *null_name;           // the null plug-in's record for it
	uint16_t family;
	std::vector<const char *> args;

	// Filled on first use.
	bool ready = false;
	zunder::plugin_record record{}, null_record{};
	std::vector<unsigned char> block;
	std::string print_text, save_text;
	bool cached_same = false;
};

const zunder::plugin_record &pick(const std::vector<zunder::plugin_record> &records,
                                  zunder::clause_kind kind, const char *name, uint16_t family)
{
	const zunder::plugin_record *any = nullptr;
	for (const auto &r : records) {
		if (r.kind != kind || std::strcmp(r.name, name) != 0)
			continue;
		if (r.family == family)
			return r;
		if (r.family == ZU_FAMILY_ANY)
			any = &r;
	}
	if (any == nullptr)
		bench_exit_error(2, "no %s %s for family %u", zunder::kind_word(kind), name, family);
	return *any;
}

// What an operation writes to standard output.
template <typename Operation>
std::string captured(Operation op)
{
	std::fflush(stdout);
	FILE *saved = stdout;
	char *text = nullptr;
	size_t length = 0;
	FILE *memory = open_memstream(&text, &length);
	stdout = memory;
	op();
	std::fclose(memory);
	stdout = saved;
	std::string result(text, length);
	std::free(text);
	return result;
}

using set_texts_fn = bool (*)(const char *, const char *, const char *);
set_texts_fn null_set_texts = nullptr;

void prepare(clause &c)
{
	if (c.ready)
		return;
	c.record = pick(load_records(c.file), c.kind, c.name, c.family);
	c.null_record = pick(load_records(BENCH_NULL_PLUGIN), c.kind, c.null_name, c.family);
	if (null_set_texts == nullptr) {
		void *handle = dlopen(BENCH_NULL_PLUGIN, RTLD_NOW | RTLD_NOLOAD);
		null_set_texts = handle ? reinterpret_cast<set_texts_fn>(
		                              dlsym(handle, "bench_null_set_texts"))
		                        : nullptr;
		if (null_set_texts == nullptr)
			bench_exit_error(2, "the null plug-in has no bench_null_set_texts");
	}
	zunder::clause_state state;
	zunder::parse_clause(c.record, c.family, c.args, state);
	c.block.assign(state.data.data(), state.data.data() + state.data.size());
	c.print_text = captured([&] { zunder::print_block(c.record, c.family, c.block, false); });
	c.save_text = captured([&] { zunder::save_block(c.record, c.family, c.block); });
	// Answers from memory must give the same texts as the database.
	db_cached = true;
	c.cached_same =
		captured([&] { zunder::print_block(c.record, c.family, c.block, false); }) ==
			c.print_text &&
		captured([&] { zunder::save_block(c.record, c.family, c.block); }) == c.save_text;
	db_cached = false;
	c.ready = true;
}

std::vector<clause> clauses;

void add_clauses()
{
	using zunder::clause_kind;
	clauses.push_back({"ah", BENCH_PLUGIN_AH, clause_kind::match, "ah", "null_ah",
	                   ZU_FAMILY_IPV6, {"--ahspi", "100:200", "--ahlen", "24"}});
	clauses.push_back({"policy", BENCH_PLUGIN_POLICY, clause_kind::match, "policy",
	                   "null_policy", ZU_FAMILY_IPV4,
	                   {"--dir", "in", "--pol", "ipsec", "--proto", "esp", "--mode", "tunnel",
	                    "--tunnel-src", "10.0.0.0/8"}});
	clauses.push_back({"RATEEST", BENCH_PLUGIN_RATEEST, clause_kind::target, "RATEEST",
	                   "null_RATEEST", ZU_FAMILY_IPV4,
	                   {"--rateest-name", "uplink", "--rateest-interval", "250ms",
	                    "--rateest-ewmalog", "1s"}});
	clauses.push_back({"ipv6header", BENCH_PLUGIN_IPV6HEADER, clause_kind::match, "ipv6header",
	                   "null_ipv6header", ZU_FAMILY_IPV6, {"--header", "hop,dst,route"}});
	clauses.push_back({"connlabel", BENCH_PLUGIN_CONNLABEL, clause_kind::match, "connlabel",
	                   "null_connlabel", ZU_FAMILY_IPV4, {"--label", "bulk-traffic"}});
	// A plug-in missing from this tree is left out.
	std::erase_if(clauses, [](const clause &c) { return c.file[0] == '\0'; });
}

enum class operation { parse, print, save };

// One operation on one clause, on the real record or on the null one.
void run_clause(benchmark::State &state, clause &c, operation op, bool null, bool cached)
{
	prepare(c);
	const zunder::plugin_record &r = null ? c.null_record : c.record;
	if (cached && !c.cached_same) {
		state.SkipWithError("answers from memory changed the texts");
		return;
	}
	null_set_texts(c.null_name, c.print_text.c_str(), c.save_text.c_str());
	zunder::clause_state parse_state;
	const std::span<const unsigned char> block(c.block);
	counting count(state);
	db_cached = cached;
	switch (op) {
	case operation::parse:
		zunder::parse_clause(r, c.family, c.args, parse_state);   // warm the blocks
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

// The finished text written with one fputs and nothing else.
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

// ---------------------------------------------------------------------------
// Loading.

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
	state.counters["records"] = static_cast<double>(zunder::registered_records().size() -
	                                                records_before) /
	                            static_cast<double>(state.iterations());
	if (void *resident = dlopen(path, RTLD_NOW | RTLD_NOLOAD)) {
		dlclose(resident);
		state.SkipWithError("dlclose did not unload the file: the constructor ran once only");
	}
}

// ---------------------------------------------------------------------------
// Protocol look-ups, as the host and the plug-ins make them.

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

// ---------------------------------------------------------------------------
// The real command over a batch file.

// `rules` rules cycling through the five clauses, or of one clause only
// (`only` 0 to 4).
std::string batch_file(long rules, int only)
{
	char file[64];
	if (only >= 0)
		std::snprintf(file, sizeof(file), "/batch-%ld-%d.rules", rules, only);
	else
		std::snprintf(file, sizeof(file), "/batch-%ld.rules", rules);
	const std::string path = std::string(BENCH_DATA_DIR) + file;
	std::ofstream out(path, std::ios::trunc);
	for (long i = 0; i < rules; ++i) {
		const long v = i % 1000;
		switch (only >= 0 ? only : i % 5) {
		case 0:
			out << "-6 -m ah --ahspi " << 100 + v << ':' << 2000 + v << " --ahlen 24\n";
			break;
		case 1:
			out << "-m policy --dir in --pol ipsec --proto esp --mode tunnel --tunnel-src 10."
			    << v % 256 << ".0.0/16\n";
			break;
		case 2:
			out << "-j RATEEST --rateest-name est" << v << " --rateest-interval 250ms"
			    << " --rateest-ewmalog 1s\n";
			break;
		case 3:
			out << "-6 -m ipv6header" << (v % 2 ? " !" : "") << " --header hop,dst,route\n";
			break;
		case 4:
			out << "-m connlabel --label " << (v % 2 ? "bulk-traffic" : "eth0-in") << "\n";
			break;
		}
	}
	if (!out.flush())
		bench_exit_error(2, "cannot write %s", path.c_str());
	return path;
}

void run_batch(benchmark::State &state, long rules, int only = -1)
{
	const std::string path = batch_file(rules, only);
	char program[] = "zunder", batch[] = "--batch";
	char *argv[] = {program, batch, const_cast<char *>(path.c_str()), nullptr};
	posix_spawn_file_actions_t actions;
	posix_spawn_file_actions_init(&actions);
	posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
	double cpu_seconds = 0;   // the child's, user and system
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
		state.counters["child_cpu_ns_per_rule"] =
			cpu_seconds * 1e9 / static_cast<double>(state.iterations()) / static_cast<double>(rules);
}

// ---------------------------------------------------------------------------
// The report: each result beside its baseline.

struct row_info {
	std::string baseline;   // benchmark name, or empty
	std::string bare;       // print and save: the bare fputs of the same text
	double target;          // largest ratio allowed, 0: none
	bool per_rule;          // batch: compare time per rule
};
std::map<std::string, row_info> rows;
std::vector<std::string> row_order;

void add(const std::string &name, const std::string &baseline, double target,
         std::function<void(benchmark::State &)> body, bool per_rule = false)
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

struct result {
	double ns;
	std::map<std::string, double> counters;
	std::string error;
};

// Progress on the console, every run also to a JSON reporter when there is
// one (a single document across several RunSpecifiedBenchmarks calls), and
// the figures the table needs.
class table_reporter : public benchmark::ConsoleReporter {
public:
	explicit table_reporter(benchmark::JSONReporter *json) : ConsoleReporter(OO_None), json_(json) {}
	bool ReportContext(const Context &context) override
	{
		if (json_ != nullptr && !json_started_)
			json_started_ = json_->ReportContext(context);
		return ConsoleReporter::ReportContext(context);
	}
	void finish_json()
	{
		if (json_ != nullptr && json_started_)
			json_->Finalize();
	}
	void ReportRuns(const std::vector<Run> &runs) override
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
			case benchmark::kSecond: t *= 1e9; break;
			case benchmark::kMillisecond: t *= 1e6; break;
			case benchmark::kMicrosecond: t *= 1e3; break;
			default: break;
			}
			r.ns = t;
			for (const auto &[key, counter] : run.counters)
				r.counters[key] = counter.value;
			if (run.error_occurred)
				r.error = run.error_message;
			results[name] = r;
		}
	}

	void print_table(FILE *out)
	{
		std::fprintf(out, "%-40s %10s  %-30s %10s %6s %6s %-4s %8s %6s %4s %6s\n", "benchmark",
		             "ns/op", "baseline", "base ns/op", "ratio", "target", "", "vs fputs", "allocs",
		             "db", "leak B");
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
				std::fprintf(out, " zunder CPU/rule=%.0f ns",
				             r.counters.at("child_cpu_ns_per_rule"));
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

private:
	benchmark::JSONReporter *json_;
	bool json_started_ = false;
	std::map<std::string, result> results;
};

void register_all()
{
	// Loading first: nothing but the host is resident yet.
	add("load/empty-C-object", "", 0, [](auto &s) { run_load(s, BENCH_EMPTY_OBJECT); });
	const std::pair<const char *, const char *> files[] = {
		{"libqeb_ah", BENCH_PLUGIN_AH},
		{"libzu_policy", BENCH_PLUGIN_POLICY},
		{"libzu_RATEEST", BENCH_PLUGIN_RATEEST},
		{"libqeb_ipv6header", BENCH_PLUGIN_IPV6HEADER},
		{"libzu_connlabel", BENCH_PLUGIN_CONNLABEL},
	};
	for (const auto &[label, path] : files)
		if (path[0] != '\0')
			add(std::string("load/") + label, "load/empty-C-object", 1.2,
			    [path](auto &s) { run_load(s, path); });

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
	for (clause &c : clauses) {
		for (const auto &o : operations) {
			const std::string name = std::string(o.word) + "/" + c.label;
			clause *p = &c;
			const operation op = o.op;
			add(name + "/null", "", 0, [=](auto &s) { run_clause(s, *p, op, true, false); });
			add(name, name + "/null", o.target,
			    [=](auto &s) { run_clause(s, *p, op, false, false); });
			if (op != operation::parse)
				rows[name].bare = name + "/fputs-only";
			if (op != operation::parse)
				add(name + "/fputs-only", "", 0, [=](auto &s) { run_fputs(s, *p, op); });
			// Where the clause consults the protocol database, the same again
			// with the look-ups answered from memory.
			const bool uses_db = std::strcmp(c.label, "ipv6header") == 0 ||
			                     std::strcmp(c.label, "policy") == 0;
			if (uses_db) {
				add(name + "/null/db-cached", "", 0,
				    [=](auto &s) { run_clause(s, *p, op, true, true); });
				add(name + "/db-cached", name + "/null/db-cached", o.target,
				    [=](auto &s) { run_clause(s, *p, op, false, true); });
			}
		}
	}

	add("batch/10000", "", 0, [](auto &s) { run_batch(s, 10000); }, true);
	add("batch/100000", "batch/10000", 0, [](auto &s) { run_batch(s, 100000); }, true);
	// Where a mixed batch's time goes: 10,000 rules of one clause each.
	const char *batch_clauses[] = {"ah", "policy", "RATEEST", "ipv6header", "connlabel"};
	for (int i = 0; i < 5; ++i)
		add(std::string("batch/10000/") + batch_clauses[i] + "-only", "batch/10000", 0,
		    [i](auto &s) { run_batch(s, 10000, i); }, true);
}

} // namespace

int main(int argc, char **argv)
{
	real_getprotobyname = reinterpret_cast<byname_fn>(dlsym(RTLD_NEXT, "getprotobyname"));
	real_getprotobynumber = reinterpret_cast<bynumber_fn>(dlsym(RTLD_NEXT, "getprotobynumber"));
	if (real_getprotobyname == nullptr || real_getprotobynumber == nullptr)
		bench_exit_error(2, "cannot find the protocol look-ups");
	// The sample label file, for the plug-in here and for the batch's zunder.
	setenv("PAVANE_CONNLABEL_CONF", BENCH_LABEL_FILE, 1);
	zunder::set_program_name("zunder_bench");
	zunder::set_exit_error(bench_exit_error);

	// --json=FILE: every run as one JSON document.  Taken out before the
	// benchmark library reads the rest.
	std::ofstream json_file;
	bool filtered = false;
	int kept = 1;
	for (int i = 1; i < argc; ++i) {
		if (std::strncmp(argv[i], "--json=", 7) == 0) {
			json_file.open(argv[i] + 7, std::ios::trunc);
			if (!json_file)
				bench_exit_error(2, "cannot write %s", argv[i] + 7);
			continue;
		}
		filtered = filtered || std::strncmp(argv[i], "--benchmark_filter", 18) == 0;
		argv[kept++] = argv[i];
	}
	argc = kept;
	argv[argc] = nullptr;

	add_clauses();
	register_all();
	benchmark::Initialize(&argc, argv);
	if (benchmark::ReportUnrecognizedArguments(argc, argv))
		return 1;

	// The table goes where standard output went; everything the plug-ins
	// write goes to /dev/null.
	std::fflush(stdout);
	const int report_fd = dup(STDOUT_FILENO);
	FILE *report = report_fd >= 0 ? fdopen(report_fd, "w") : nullptr;
	if (report == nullptr || std::freopen("/dev/null", "w", stdout) == nullptr)
		bench_exit_error(2, "cannot redirect standard output: %s", std::strerror(errno));

	benchmark::JSONReporter json;
	json.SetOutputStream(&json_file);
	json.SetErrorStream(&std::cerr);
	table_reporter reporter(json_file.is_open() ? &json : nullptr);
	reporter.SetOutputStream(&std::cerr);
	reporter.SetErrorStream(&std::cerr);
	if (filtered) {
		benchmark::RunSpecifiedBenchmarks(&reporter);
	} else {
		// Loading first and on its own, while no plug-in is resident, so that
		// the rest may run in any order (--benchmark_enable_random_interleaving).
		benchmark::RunSpecifiedBenchmarks(&reporter, "^load/");
		benchmark::RunSpecifiedBenchmarks(&reporter, "^(db|parse|print|save|batch)/");
	}
	reporter.finish_json();
	benchmark::Shutdown();
	std::fflush(stdout);
	reporter.print_table(report);
	std::fclose(report);
	return 0;
}
