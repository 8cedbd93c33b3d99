// SPDX-License-Identifier: GPL-2.0-or-later
// The host's own interface: what load_plugin_file remembers, records whose
// option rows name ids no row has, and what an error does to standard output.
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

std::string temp_path(const std::string &name)
{
	return testing::TempDir() + "/" + std::to_string(getpid()) + "-registry-" + name;
}

// In a folder of its own, made afresh: no file another run left behind can
// take the FIFO's name or the missing file's.
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

enum : unsigned { id_a, id_b };

// Records whose rows name an id in `requires` or `exclusive_with` that no
// row has: such a check could never fire, so registration refuses them.
TEST(Registration, RefusesBitsNamingNoRow)
{
	static constexpr zu_option_entry requires_missing[] =
		{{.name = "a", .type = ZU_TYPE_NONE, .id = id_a, .requires_ = 1u << 7}, {}};
	static constexpr zu_option_entry excludes_missing[] =
		{{.name = "a", .type = ZU_TYPE_NONE, .id = id_a},
		 {.name = "b", .type = ZU_TYPE_NONE, .id = id_b, .exclusive_with = 1u << id_a | 1u << 31},
		 {}};
	static constexpr zu_option_entry sound[] =
		{{.name = "a", .type = ZU_TYPE_NONE, .id = id_a, .requires_ = 1u << id_b},
		 {.name = "b", .type = ZU_TYPE_NONE, .id = id_b, .exclusive_with = 1u << id_a},
		 {}};
	const auto print = [](const void *, const zu_clause_entry *, int) {};
	const auto save = [](const void *, const zu_clause_entry *) {};
	const auto parse = [](zu_option_call *call) { zunder_option_parse(call); };
	static zunder_match records[] = {
		{.version = ZUNDER_VERSION,
		 .name = "needs_missing",
		 .size = 8,
		 .print = print,
		 .save = save,
		 .parse = parse,
		 .options = requires_missing},
		{.version = ZUNDER_VERSION,
		 .name = "excludes_missing",
		 .size = 8,
		 .print = print,
		 .save = save,
		 .parse = parse,
		 .options = excludes_missing},
		{.version = ZUNDER_VERSION,
		 .name = "sound_bits",
		 .size = 8,
		 .print = print,
		 .save = save,
		 .parse = parse,
		 .options = sound},
	};
	testing::internal::CaptureStderr();
	zunder_register_matches(records, 3);
	const std::string err = testing::internal::GetCapturedStderr();
	const std::string why = "not registered: an option requires or excludes an id that no option has\n";
	EXPECT_EQ(err,
		  "zunder: match \"needs_missing\" " + why + "zunder: match \"excludes_missing\" " + why);
	EXPECT_EQ(zunder::find_record(zunder::clause_kind::match, "needs_missing", ZU_FAMILY_IPV4), nullptr);
	EXPECT_EQ(zunder::find_record(zunder::clause_kind::match, "excludes_missing", ZU_FAMILY_IPV4),
		  nullptr);
	EXPECT_NE(zunder::find_record(zunder::clause_kind::match, "sound_bits", ZU_FAMILY_IPV4), nullptr);
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

// The default error callback ends the program with one line on standard
// error and drops standard output still buffered, so that a failed rule
// leaves no partial output behind.
TEST(DefaultExitError, DropsBufferedOutputAndWritesOneLine)
{
	const std::string out = temp_path("stdout");
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
