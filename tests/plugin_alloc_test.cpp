// SPDX-License-Identifier: GPL-2.0-or-later
// No plug-in operation allocates memory: parse (with the option calls it
// makes), final check, print with names and with numbers, and save, for
// every accepted rule of every plug-in's rule table.  A plug-in runs inside someone
// else's process, often once per rule of a long batch, and has no way to
// report that memory ran out.
//
// Counted by this program's own malloc and friends, which come first for the
// host library and every plug-in it loads, around the plug-in's calls alone:
// each record is copied with its operations wrapped.  The protocol look-ups
// answer from the fixed table linked in, so the machine's database plays no
// part.
#include "zunder_host.h"
#include "zunder_run.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#ifndef ZUNDER_SANITIZED
#include <cerrno>
#include <cstddef>

extern "C" {
void *__libc_malloc(size_t);
void *__libc_calloc(size_t, size_t);
void *__libc_realloc(void *, size_t);
void *__libc_memalign(size_t, size_t);
}
#endif

namespace {

bool inside_plugin = false;    // a wrapped operation is running
unsigned long allocations = 0; // made while inside_plugin

} // namespace

#ifndef ZUNDER_SANITIZED
extern "C" {

void *malloc(size_t size)
{
	allocations += inside_plugin;
	return __libc_malloc(size);
}

void *calloc(size_t count, size_t size)
{
	allocations += inside_plugin;
	return __libc_calloc(count, size);
}

void *realloc(void *old, size_t size)
{
	allocations += inside_plugin;
	return __libc_realloc(old, size);
}

void *memalign(size_t alignment, size_t size)
{
	allocations += inside_plugin;
	return __libc_memalign(alignment, size);
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

} // extern "C"
#endif

namespace {

const zunder::plugin_record *wrapped = nullptr; // the record whose operations run

struct plugin_call {
	plugin_call() { inside_plugin = true; }
	~plugin_call() { inside_plugin = false; }
};

void counted_parse(zu_option_call *call)
{
	plugin_call in;
	wrapped->parse(call);
}

void counted_final_check(zu_fcheck_call *call)
{
	plugin_call in;
	wrapped->final_check(call);
}

void counted_print(const void *ip, const zu_clause_entry *entry, int numeric)
{
	plugin_call in;
	wrapped->print(ip, entry, numeric);
}

void counted_save(const void *ip, const zu_clause_entry *entry)
{
	plugin_call in;
	wrapped->save(ip, entry);
}

struct rule {
	std::string text, path, name;
	zunder::clause_kind kind{};
	uint16_t family = ZU_FAMILY_IPV4;
	std::vector<std::string> words;
};

// The accepted rules of every plug-in's table, as the table runner writes
// them (zunder_cases --rows), from the list the build writes: "path<TAB>table"
// a line.  Left out are rules that run with another protocol database, and
// rules with quotes, which this test does not split into words; a label file
// a rule names becomes PAVANE_CONNLABEL_CONF.
std::vector<rule> read_rules(const std::string &dir)
{
	std::vector<rule> rules;
	std::ifstream list(ZUNDER_PLUGIN_RULES);
	for (std::string line, path, table; std::getline(list, line);) {
		std::istringstream fields(line);
		std::getline(std::getline(fields, path, '\t'), table);
		const std::string rows = dir + "/" + std::filesystem::path(path).stem().string();
		std::filesystem::create_directory(rows);
		const ztest::run_result made = ztest::run_program(ZUNDER_CASES, {"--rows", rows, table});
		if (made.status != 0)
			ADD_FAILURE() << "zunder_cases --rows " << table << ": " << made.err;
		for (const auto &file : std::filesystem::directory_iterator(rows)) {
			std::ifstream in(file.path());
			bool other_env = false;
			for (std::string text; std::getline(in, text);) {
				const bool env = text.starts_with("# env: ");
				if (env && text.starts_with("# env: PAVANE_CONNLABEL_CONF=") &&
				    text.find(' ', 7) == std::string::npos)
					setenv("PAVANE_CONNLABEL_CONF",
					       text.substr(text.find('=') + 1).c_str(), 1);
				else if (env)
					other_env = true;
				if (env || std::exchange(other_env, false) ||
				    text.find_first_of("'\"\\") != std::string::npos)
					continue;
				std::istringstream words(text);
				rule r{.text = text, .path = path};
				for (std::string w; words >> w;)
					if (!r.name.empty())
						r.words.push_back(w);
					else if (w == "-6")
						r.family = ZU_FAMILY_IPV6;
					else if ((w == "-m" || w == "-j") && words >> r.name)
						r.kind = w == "-m" ? zunder::clause_kind::match
								   : zunder::clause_kind::target;
				if (!r.name.empty())
					rules.push_back(r);
			}
		}
	}
	return rules;
}

TEST(plugin_alloc_test, no_operation_allocates)
{
#ifdef ZUNDER_SANITIZED
	GTEST_SKIP() << "the sanitizer's allocator owns malloc here, so this program cannot count the calls";
#endif
	// What print and save write goes to /dev/null through a buffer of our
	// own, so that stdio allocates nothing while they run.
	static char buffer[1 << 16];
	FILE *devnull = std::fopen("/dev/null", "w");
	ASSERT_NE(devnull, nullptr);
	ASSERT_EQ(setvbuf(devnull, buffer, _IOFBF, sizeof(buffer)), 0);
	char dir[] = "/tmp/plugin_alloc_test.XXXXXX";
	ASSERT_NE(mkdtemp(dir), nullptr);
	const std::vector<rule> rules = read_rules(dir);
	ASSERT_GT(rules.size(), 200u);
	for (const rule &r : rules) {
		ASSERT_EQ(zunder::load_plugin_file(r.path), "") << r.path;
		const zunder::plugin_record *real = zunder::find_record(r.kind, r.name, r.family);
		ASSERT_NE(real, nullptr) << r.text;
		wrapped = real;
		zunder::plugin_record counted = *real;
		counted.parse = counted_parse;
		counted.print = counted_print;
		counted.save = counted_save;
		if (real->final_check != nullptr)
			counted.final_check = counted_final_check;
		std::vector<const char *> args;
		for (const std::string &w : r.words)
			args.push_back(w.c_str());

		zunder::clause_state state;
		allocations = 0;
		zunder::parse_clause(counted, r.family, args, state);
		EXPECT_EQ(allocations, 0u) << "parse and final check of " << r.text;
		const std::vector<unsigned char> block(state.info.data(),
						       state.info.data() + state.info.size());
		FILE *saved = stdout;
		stdout = devnull;
		for (const bool numeric : {false, true}) {
			allocations = 0;
			zunder::print_block(counted, r.family, block, numeric);
			EXPECT_EQ(allocations, 0u) << "print" << (numeric ? " -n" : "") << " of " << r.text;
		}
		allocations = 0;
		zunder::save_block(counted, r.family, block);
		EXPECT_EQ(allocations, 0u) << "save of " << r.text;
		stdout = saved;
	}
	std::fclose(devnull);
	std::filesystem::remove_all(dir);
}

} // namespace
