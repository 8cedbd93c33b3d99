// SPDX-License-Identifier: GPL-2.0-or-later
// The host's registry: loading plug-in files, refusing records, and what an
// error does to standard output.
#include "zunder_host.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

// In a fresh folder, so that no file left behind takes the names used.
TEST(LoadPluginFile, GivesTheSameOutcomeEveryTime)
{
	std::string dir = testing::TempDir() + "registry_test.XXXXXX";
	ASSERT_NE(mkdtemp(dir.data()), nullptr);
	const std::string fifo = dir + "/fifo.so";
	ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
	const std::string text = dir + "/text.so";
	std::ofstream(text) << "not a shared object\n";
	const struct {
		std::string path, why;
	} cases[] = {
		{dir + "/missing.so", "No such file or directory"},
		{fifo, "not a regular file"}, // dlopen would wait for a writer
		{testing::TempDir(), "not a regular file"},
		{text, text + ": file too short"},
	};
	for (const auto &c : cases) {
		const std::string first = zunder::load_plugin_file(c.path);
		EXPECT_NE(first.find(c.why), std::string::npos) << c.path << ": " << first;
		EXPECT_EQ(zunder::load_plugin_file(c.path), first) << c.path;
	}
	std::filesystem::remove_all(dir);
}

void no_print(const void *, const zu_clause_entry *, int)
{}
void no_save(const void *, const zu_clause_entry *)
{}
void parse(zu_option_call *call)
{
	zunder_option_parse(call);
}

constexpr zu_option_entry flag(const char *name, unsigned id, unsigned needs = 0, unsigned excludes = 0)
{
	return {.name = name, .type = ZU_TYPE_NONE, .id = id, .exclusive_with = excludes, .requires_ = needs};
}

constexpr zunder_match record(const char *name, const zu_option_entry *options)
{
	return {.version = ZUNDER_VERSION,
		.name = name,
		.size = 8,
		.print = no_print,
		.save = no_save,
		.parse = parse,
		.options = options};
}

// A check whose `requires` or `exclusive_with` names an id no row has could
// never fire, so registration refuses the record.
TEST(Registration, RefusesBitsNamingNoRow)
{
	static constexpr zu_option_entry requires_missing[] = {flag("a", 0, 1u << 7), {}};
	static constexpr zu_option_entry excludes_missing[] = {flag("a", 0),
							       flag("b", 1, 0, 1u | 1u << 31),
							       {}};
	static constexpr zu_option_entry sound[] = {flag("a", 0, 1u << 1), flag("b", 1, 0, 1u), {}};
	static zunder_match records[] = {record("needs_missing", requires_missing),
					 record("excludes_missing", excludes_missing),
					 record("sound_bits", sound)};
	testing::internal::CaptureStderr();
	zunder_register_matches(records, 3);
	const std::string why = "not registered: an option requires or excludes an id that no option has\n";
	EXPECT_EQ(testing::internal::GetCapturedStderr(),
		  "zunder: match \"needs_missing\" " + why + "zunder: match \"excludes_missing\" " + why);
	for (const zunder_match &r : records)
		EXPECT_EQ(zunder::find_record(zunder::clause_kind::match, r.name, ZU_FAMILY_IPV4) != nullptr,
			  r.options == sound)
			<< r.name;
}

// A stored value may fill the block up to its last byte, but not one past it.
TEST(Registration, TakesStoresUpToTheBlocksEnd)
{
	constexpr auto stored = [](unsigned offset) {
		return zu_option_entry{.name = "n",
				       .type = ZU_TYPE_UINT32,
				       .flags = ZU_FLAG_STORE,
				       .store_offset = offset,
				       .store_size = 4};
	};
	static constexpr zu_option_entry at_end[] = {stored(4), {}};
	static constexpr zu_option_entry past_end[] = {stored(5), {}};
	static zunder_match records[] = {record("store_at_end", at_end), record("store_past_end", past_end)};
	testing::internal::CaptureStderr();
	zunder_register_matches(records, 2);
	EXPECT_EQ(testing::internal::GetCapturedStderr(),
		  "zunder: match \"store_past_end\" not registered: an option stores outside the block\n");
	EXPECT_NE(zunder::find_record(zunder::clause_kind::match, "store_at_end", ZU_FAMILY_IPV4), nullptr);
}

// No record at all is refused like a faulty one, never followed.
TEST(Registration, RefusesNoRecord)
{
	testing::internal::CaptureStderr();
	zunder_register_match(nullptr);
	zunder_register_targets(nullptr, 2);
	EXPECT_EQ(testing::internal::GetCapturedStderr(),
		  "zunder: match \"\" not registered: no record was given\n"
		  "zunder: target \"\" not registered: no record was given\n");
}

// The default error callback writes one line and drops buffered standard
// output, so that a failed rule leaves no partial output behind.
TEST(DefaultExitError, DropsBufferedOutputAndWritesOneLine)
{
	const std::string out = testing::TempDir() + "/" + std::to_string(getpid()) + "-registry-stdout";
	EXPECT_EXIT(
		{
			if (std::freopen(out.c_str(), "w", stdout) == nullptr)
				_exit(99);
			std::fputs("partial listing", stdout);
			zu_params->exit_error(2, "bad \"%s\"", "a\nb");
		},
		testing::ExitedWithCode(2), "^zunder: bad \"a\\\\x0ab\"\n$");
	std::ifstream in(out);
	EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "");
	std::remove(out.c_str());
}

} // namespace
