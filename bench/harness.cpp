// SPDX-License-Identifier: GPL-2.0-or-later
// Plug-ins, their rules and the clauses the benchmarks measure.
#include "harness.h"
#include "bench_plugins.h"
#include "counters.h"

#include <dlfcn.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>

namespace bench {

void exit_error(int status, const char *format, ...)
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

namespace {

std::vector<std::string> blank_separated(const std::string &line)
{
	std::vector<std::string> words;
	size_t at = 0;
	while ((at = line.find_first_not_of(" \t\r", at)) != std::string::npos) {
		const size_t end = line.find_first_of(" \t\r", at);
		words.push_back(line.substr(at, end - at));
		at = end;
	}
	return words;
}

// Loads a file through the host, once, and returns the records it added.
// Only those are looked at: records left behind by a plug-in the load
// benchmarks have since unloaded point into unmapped memory.
const std::vector<zunder::plugin_record> &load_records(const std::string &path)
{
	static std::map<std::string, std::vector<zunder::plugin_record>> loaded;
	if (auto found = loaded.find(path); found != loaded.end())
		return found->second;
	const size_t before = zunder::registered_records().size();
	if (std::string why = zunder::load_plugin_file(path); !why.empty())
		exit_error(2, "cannot load %s: %s", path.c_str(), why.c_str());
	const auto &all = zunder::registered_records();
	return loaded[path] = {all.begin() + static_cast<long>(before), all.end()};
}

const zunder::plugin_record &pick(const std::vector<zunder::plugin_record> &records, zunder::clause_kind kind,
				  const std::string &name, uint16_t family)
{
	const zunder::plugin_record *any = nullptr;
	for (const auto &r : records) {
		if (r.kind != kind || r.name != name)
			continue;
		if (r.family == family)
			return r;
		if (r.family == ZU_FAMILY_ANY)
			any = &r;
	}
	if (any == nullptr)
		exit_error(2, "no %s %s for family %u", zunder::kind_word(kind), name.c_str(), family);
	return *any;
}

using set_texts_fn = void (*)(const char *, const char *);
set_texts_fn null_set_texts = nullptr;

} // namespace

const std::vector<plugin_rules> &plugins()
{
	static std::vector<plugin_rules> all;
	if (!all.empty())
		return all;
	for (const bench_plugin &p : bench_plugins) {
		plugin_rules plugin{p.file, p.path, {}};
		std::ifstream in(p.rules);
		for (std::string line; std::getline(in, line);) {
			const size_t first = line.find_first_not_of(" \t\r");
			if (first != std::string::npos && line[first] != '#')
				plugin.lines.push_back(line);
		}
		if (in.bad() || plugin.lines.empty())
			exit_error(2, "%s: no rules to run", p.rules);
		all.push_back(std::move(plugin));
	}
	return all;
}

clause clause_from_rule(const plugin_rules &plugin)
{
	clause c{};
	c.path = plugin.path;
	c.family = ZU_FAMILY_IPV4;
	const std::vector<std::string> words = blank_separated(plugin.lines.front());
	size_t i = 0;
	for (; i < words.size() && c.label.empty(); ++i) {
		if (words[i] == "-6") {
			c.family = ZU_FAMILY_IPV6;
		} else if ((words[i] == "-m" || words[i] == "-j") && i + 1 < words.size()) {
			c.kind = words[i] == "-m" ? zunder::clause_kind::match : zunder::clause_kind::target;
			c.label = words[++i];
		} else if (words[i] != "-4") {
			exit_error(2, "%s: \"%s\" before -m or -j", plugin.file.c_str(), words[i].c_str());
		}
	}
	if (c.label.empty())
		exit_error(2, "%s: its first rule has no -m NAME or -j NAME", plugin.file.c_str());
	c.words.assign(words.begin() + static_cast<long>(i), words.end());
	for (const std::string &w : c.words)
		c.args.push_back(w.c_str());
	return c;
}

void set_null_texts(const std::string &print, const std::string &save)
{
	null_set_texts(print.c_str(), save.c_str());
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

std::string captured_print(const clause &c)
{
	return captured([&] { zunder::print_block(c.record, c.family, c.block, false); });
}

std::string captured_save(const clause &c)
{
	return captured([&] { zunder::save_block(c.record, c.family, c.block); });
}

void prepare(clause &c)
{
	if (c.ready)
		return;
	c.record = pick(load_records(c.path), c.kind, c.label, c.family);
	const zunder::plugin_record &null_ops = pick(load_records(BENCH_NULL_PLUGIN),
						     zunder::clause_kind::match, "bench_null", ZU_FAMILY_ANY);
	if (null_set_texts == nullptr) {
		void *handle = dlopen(BENCH_NULL_PLUGIN, RTLD_NOW | RTLD_NOLOAD);
		null_set_texts =
			handle ? reinterpret_cast<set_texts_fn>(dlsym(handle, "bench_null_set_texts"))
			       : nullptr;
		if (null_set_texts == nullptr)
			exit_error(2, "the null plug-in has no bench_null_set_texts");
	}
	// The same options, blocks and present operations, doing nothing.
	c.null_record = c.record;
	c.null_record.parse = null_ops.parse;
	c.null_record.print = null_ops.print;
	c.null_record.save = null_ops.save;
	if (c.record.final_check != nullptr)
		c.null_record.final_check = null_ops.final_check;

	const unsigned long db_before = db_calls;
	zunder::clause_state state;
	zunder::parse_clause(c.record, c.family, c.args, state);
	c.block.assign(state.data.data(), state.data.data() + state.data.size());
	c.print_text = captured_print(c);
	c.save_text = captured_save(c);
	c.uses_db = db_calls != db_before;
	// Answers from memory must give the same texts as the database.
	db_cached = true;
	c.cached_same = captured_print(c) == c.print_text && captured_save(c) == c.save_text;
	db_cached = false;
	c.ready = true;
}

} // namespace bench
