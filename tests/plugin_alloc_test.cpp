// SPDX-License-Identifier: GPL-2.0-or-later
// No plug-in operation allocates (parse with its option calls, final check,
// print with names and numbers, save) for any accepted rule of any plug-in's
// table: a plug-in runs inside someone else's process, often once per rule of
// a long batch, and cannot report that memory ran out.
//
// Each record is copied with its operations wrapped.  The protocol look-ups
// answer from the fixed table linked in.
#include "zunder_host.h"
#include "zunder_run.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

// The failing allocator (failing_allocator.c) is linked in and exported, so
// it also serves the host library and the plug-ins: with a budget that never
// runs out, it counts while a wrapped plug-in operation runs.
extern "C" {
extern int zunder_test_counting;
extern unsigned long zunder_test_budget;
#ifdef ZUNDER_SANITIZED
int zunder_test_counting; // the sanitizer's allocator is used, which counts nothing
unsigned long zunder_test_budget;
#endif
}

namespace {

const zunder::plugin_record *wrapped = nullptr; // the record whose operations run

// Runs a plug-in operation with the allocator counting.
template <typename... A>
void in_plugin(void (*operation)(A...), std::type_identity_t<A>... args)
{
	zunder_test_counting = 1;
	operation(args...);
	zunder_test_counting = 0;
}

unsigned long allocations()
{
	return ULONG_MAX - zunder_test_budget;
}

struct rule {
	std::string text, path, name;
	zunder::clause_kind kind{};
	uint16_t family = ZU_FAMILY_IPV4;
	std::vector<std::string> words;
};

// The accepted rules of each plug-in's table as zunder_cases --rows writes
// them, the tables from the build's list ("path<TAB>table" a line).  Left
// out are rules run with another protocol database and rules with quotes,
// which are not split here; a rule's label file becomes PAVANE_CONNLABEL_CONF.
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
	// print and save write to /dev/null through our own buffer, so that
	// stdio allocates nothing while they run.
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
		wrapped = zunder::find_record(r.kind, r.name, r.family);
		ASSERT_NE(wrapped, nullptr) << r.text;
		zunder::plugin_record counted = *wrapped;
		counted.parse = [](auto... a) { in_plugin(wrapped->parse, a...); };
		counted.print = [](auto... a) { in_plugin(wrapped->print, a...); };
		counted.save = [](auto... a) { in_plugin(wrapped->save, a...); };
		if (wrapped->final_check != nullptr)
			counted.final_check = [](auto... a) { in_plugin(wrapped->final_check, a...); };
		std::vector<const char *> args;
		for (const std::string &w : r.words)
			args.push_back(w.c_str());

		zunder::clause_state state;
		zunder_test_budget = ULONG_MAX;
		zunder::parse_clause(counted, r.family, args, state);
		EXPECT_EQ(allocations(), 0u) << "parse and final check of " << r.text;
		const std::vector<unsigned char> block(state.info.data(),
						       state.info.data() + state.info.size());
		// Counted first, checked once stdout is back, where the failures go.
		FILE *saved = std::exchange(stdout, devnull);
		unsigned long printed[2], save;
		for (const bool numeric : {false, true}) {
			zunder_test_budget = ULONG_MAX;
			zunder::print_block(counted, r.family, block, numeric);
			printed[numeric] = allocations();
		}
		zunder_test_budget = ULONG_MAX;
		zunder::save_block(counted, r.family, block);
		save = allocations();
		stdout = saved;
		EXPECT_EQ(printed[0], 0u) << "print of " << r.text;
		EXPECT_EQ(printed[1], 0u) << "print -n of " << r.text;
		EXPECT_EQ(save, 0u) << "save of " << r.text;
	}
	std::fclose(devnull);
	std::filesystem::remove_all(dir);
}

} // namespace
