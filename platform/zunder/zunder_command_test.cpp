// SPDX-License-Identifier: GPL-2.0-or-later
// The zunder command itself: its command line, plug-in lookup, batch mode
// and the guards around plug-in calls, through the real binary.
#include "rule_checks.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace {

using ztest::zunder;

std::string write_file(const std::string &name, const std::string &text)
{
	const std::string path = testing::TempDir() + "/" + std::to_string(getpid()) + "-" + name;
	std::ofstream(path) << text;
	return path;
}

TEST(Command, UsageErrorsSayWhatIsWrongInOneLine)
{
	const ztest::rejected_rule rules[] = {
		{{}, "missing -m NAME or -j NAME"},
		{{"-6"}, "missing -m NAME or -j NAME"},
		{{"-6", "-6"}, "missing -m NAME or -j NAME"},
		{{"-m"}, "-m needs a NAME"},
		{{"-6", "-j"}, "-j needs a NAME"},
		{{"-x"}, "expected -4, -6, -n, -m or -j, not \"-x\""},
		{{"-x", "ah"}, "expected -4, -6, -n, -m or -j, not \"-x\""},
		{{"-n", "-6", "ah"}, "expected -4, -6, -n, -m or -j, not \"ah\""},
		{{"--batch"}, "--batch takes one argument, FILE or -"},
		{{"--batch", "a", "b"}, "--batch takes one argument, FILE or -"},
		{{"--check"}, "--check takes one argument, FILE or -"},
		{{"--help", "x"}, "--help takes no argument"},
		{{"-h", "-m", "ah"}, "-h takes no argument"},
	};
	for (const auto &rule : rules)
		EXPECT_TRUE(ztest::rejects(rule));
}

TEST(Command, HelpGoesToStandardOutput)
{
	for (const char *flag : {"-h", "--help"}) {
		const auto r = zunder({flag});
		EXPECT_EQ(r.status, 0) << flag;
		EXPECT_EQ(r.err, "") << flag;
		EXPECT_EQ(r.out.rfind("usage: zunder [-4|-6] [-n] (-m|-j) NAME [OPTION...]", 0), 0u) << r.out;
		EXPECT_NE(r.out.find("zunder --check FILE|-"), std::string::npos) << r.out;
	}
}

TEST(Command, PluginLookup)
{
	const std::string dir = ZUNDER_PLUGIN_DIR;
	const ztest::rejected_rule rules[] = {
		{{"-m", "nosuch"},
		 "no match \"nosuch\" exists for IPv4 (looked in " + dir + "/libzu_nosuch.so)"},
		{{"-6", "-j", "nosuch"},
		 "no target \"nosuch\" exists for IPv6 (looked in " + dir + "/libzu_nosuch.so, " + dir +
			 "/libqeb_nosuch.so)"},
		// the ah file registers a match, not a target
		{{"-6", "-j", "ah"},
		 "no target \"ah\" exists for IPv6 (looked in " + dir + "/libzu_ah.so, " + dir +
			 "/libqeb_ah.so (registers none))"},
		{{"-m", "../lib/x"}, "invalid match name \"../lib/x\""},
		{{"-m", ""}, "invalid match name \"\""},
		{{"-m", std::string(40, 'a')}, "invalid match name \"" + std::string(40, 'a') + "\""},
	};
	for (const auto &rule : rules)
		EXPECT_TRUE(ztest::rejects(rule));

	EXPECT_TRUE(ztest::rejects({{"-6", "-m", "ah"},
				    "no match \"ah\" exists for IPv6 (looked in "
				    "/nonexistent/libzu_ah.so, /nonexistent/libqeb_ah.so)"},
				   {"ZUNDER_PLUGIN_DIR=/nonexistent"}));
	EXPECT_TRUE(ztest::accepts({{"-6", "-m", "ah", "--ahspi", "1"}, "", " ah spi:1", " --ahspi 1"},
				   {"ZUNDER_PLUGIN_DIR=" + dir}));
}

// Without /proc (a bare chroot or container) the program's own folder is
// unknown: the plug-in folder is then ZUNDER_PLUGIN_DIR or an error, never
// the current folder, here one holding a plug-in file that would load.
TEST(Command, NoPluginFolderFromTheCurrentFolder)
{
	if (ztest::emulated())
		GTEST_SKIP() << "the emulator answers /proc/self/exe itself";
#if defined(ZUNDER_SANITIZED)
	GTEST_SKIP() << "the sanitizer runtime does not start without /proc";
#endif
	if (geteuid() != 0 || ztest::run_shell("unshare -m true").status != 0)
		GTEST_SKIP() << "hiding /proc needs root and a mount namespace of its own";
	const std::string dir = testing::TempDir() + "/" + std::to_string(getpid()) + "-cwd-plugins";
	std::filesystem::create_directories(dir);
	std::filesystem::copy_file(ZUNDER_TEST_PLUGIN_DIR "/libzu_broken.so", dir + "/libzu_broken.so",
				   std::filesystem::copy_options::overwrite_existing);
	const std::string no_folder =
		"zunder: cannot find the plug-in folder: /proc/self/exe: No such file or "
		"directory; set ZUNDER_PLUGIN_DIR\n";
	const struct {
		std::string plugin_dir; // "-" for unset
		std::string out, err;
	} cases[] = {
		{"-", "", no_folder},
		{"", "", no_folder},
		{dir, "block 0000000000000000\nlist\nsave from " + dir + "/libzu_broken.so\n", ""},
	};
	for (const auto &c : cases) {
		// Without /proc the loader cannot find the libraries beside the program either.
		const std::string script =
			"cd \"$DIR\" && unshare -m sh -c 'mount -t tmpfs none /proc && "
			"LD_LIBRARY_PATH=" ZUNDER_PLUGIN_DIR " exec $ZUNDER -m broken'";
		const auto r =
			ztest::run_shell(script, {"DIR=" + dir,
						  c.plugin_dir == "-" ? "ZUNDER_PLUGIN_DIR"
								      : "ZUNDER_PLUGIN_DIR=" + c.plugin_dir});
		EXPECT_EQ(r.status, c.err.empty() ? 0 : 2) << c.plugin_dir;
		EXPECT_EQ(r.out, c.out) << c.plugin_dir;
		EXPECT_EQ(r.err, c.err) << c.plugin_dir;
	}
	std::filesystem::remove_all(dir);
}

TEST(Command, BlockArgument)
{
	const std::string wrong_size =
		"--block for match \"ah\" needs exactly 16 bytes as 32 hexadecimal digits";
	const ztest::rejected_rule rules[] = {
		{{"-6", "-m", "ah", "--block", ""}, wrong_size},
		{{"-6", "-m", "ah", "--block", std::string(31, '0')}, wrong_size},
		{{"-6", "-m", "ah", "--block", std::string(34, '0')}, wrong_size},
		{{"-6", "-m", "ah", "--block", std::string(30, '0') + "0g"}, wrong_size},
		{{"-6", "-m", "ah", "--block", std::string(30, '0') + " 0"}, wrong_size},
		{{"-6", "-m", "ah", "--block"}, "--block takes one argument and no other option"},
		{{"-6", "-m", "ah", "--block", std::string(32, '0'), "--ahres"},
		 "--block takes one argument and no other option"},
	};
	for (const auto &rule : rules)
		EXPECT_TRUE(ztest::rejects(rule));
	EXPECT_TRUE(ztest::prints_block({"-6", "-m", "ah"},
					"050000000500000000000000"
					"00AcCd00",
					" ah spi:5 Unknown invflags: 0xAC", " --ahspi 5"));
}

TEST(Batch, WritesWhatSingleCallsWouldInOrder)
{
	const std::string file = write_file("batch",
					    "# a comment\n"
					    "\n"
					    "   \t\n"
					    "-6 -m ah --ahspi 500\n"
					    "  -6   -m ah \"!\" --ahspi \"1:2\"\r\n"
					    "   # indented comment\n"
					    "-6 -m ah --block 00000000ffffffff0000000001000000\n"
					    "-6 -m ah --ahlen 1\n");
	const auto r = zunder({"--batch", file});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, "");
	const std::string expected = zunder({"-6", "-m", "ah", "--ahspi", "500"}).out +
				     zunder({"-6", "-m", "ah", "!", "--ahspi", "1:2"}).out +
				     "list ah  reserved\nsave --ahres\n" +
				     zunder({"-6", "-m", "ah", "--ahlen", "1"}).out;
	EXPECT_EQ(r.out, expected);
	std::remove(file.c_str());
}

TEST(Batch, QuotingAsAShellDoesForSimpleCases)
{
	// Each line is one rule whose option value must arrive as one exact word.
	const struct {
		const char *line;
		const char *value_error;
	} cases[] = {
		{R"(-6 -m ah --ahlen "a b")", "\"a b\""},   {R"(-6 -m ah --ahlen "a\"b")", "\"a\"b\""},
		{R"(-6 -m ah --ahlen "a\\b")", "\"a\\b\""}, {R"(-6 -m ah --ahlen 'a"b')", "\"a\"b\""},
		{R"(-6 -m ah --ahlen a\ b)", "\"a b\""},    {R"(-6 -m ah --ahlen x"y z"w)", "\"xy zw\""},
		{R"(-6 -m ah --ahlen "")", "\"\""},
	};
	for (const auto &c : cases) {
		const std::string file = write_file("quote", std::string(c.line) + "\n");
		const auto r = zunder({"--batch", file});
		EXPECT_EQ(r.status, 2) << c.line;
		EXPECT_EQ(r.err, "zunder: line 1: ah: option \"--ahlen\": " + std::string(c.value_error) +
					 " is not a number from 0 to 4294967295\n")
			<< c.line;
		std::remove(file.c_str());
	}
}

TEST(Batch, AnErrorStopsTheBatchAfterTheEarlierLines)
{
	const std::string file = write_file("stop",
					    "-6 -m ah --ahspi 1\n"
					    "\n"
					    "-6 -m ah --ahspi 2 --ahspi 3\n"
					    "-6 -m ah --ahspi 4\n");
	const auto r = zunder({"--batch", file});
	EXPECT_EQ(r.status, 2);
	EXPECT_EQ(r.out, zunder({"-6", "-m", "ah", "--ahspi", "1"}).out);
	EXPECT_EQ(r.err, "zunder: line 3: ah: option \"--ahspi\" may be given only once\n");
	std::remove(file.c_str());

	const ztest::rejected_rule rules[] = {
		{{"--batch", "/nonexistent/rules"},
		 "cannot read /nonexistent/rules: No such file or directory"},
		{{"--batch", write_file("unterminated", "-6 -m ah --ahlen \"1\n")},
		 "line 1: unterminated double quote"},
		{{"--batch", write_file("notarule", "-6 ah\n")},
		 "line 1: expected -4, -6, -n, -m or -j, not \"ah\""},
	};
	for (const auto &rule : rules)
		EXPECT_TRUE(ztest::rejects(rule));
}

// A file offering records the host refuses fails to load, in one line that
// says which records and why.
TEST(Registration, RefusedRecordsFailTheLoadInOneLine)
{
	const std::vector<std::string> env = {"ZUNDER_PLUGIN_DIR=" ZUNDER_TEST_PLUGIN_DIR};
	const std::string why =
		"cannot load " ZUNDER_TEST_PLUGIN_DIR
		"/libzu_other_host.so: match \"other_host\" not registered: it was built for "
		"another host version; target \"other_host\" not registered: it lacks a print or "
		"save operation";
	const ztest::rejected_rule rules[] = {
		{{"-m", "other_host"}, why},
		{{"-6", "-j", "other_host", "-h"}, why},
	};
	for (const auto &rule : rules)
		EXPECT_TRUE(ztest::rejects(rule, env));
}

TEST(Guards, CatchAPlugInWritingOutsideItsBlocks)
{
	const std::vector<std::string> env = {"ZUNDER_PLUGIN_DIR=" ZUNDER_TEST_PLUGIN_DIR};
	const std::string file = std::string(ZUNDER_TEST_PLUGIN_DIR) + "/libzu_broken.so";
	const struct {
		const char *option;
		const char *operation;
	} cases[] = {
		{"--past-end", "parse"},
		{"--before-start", "parse"},
		{"--scratch-past-end", "parse"},
		{"--spoil-listing", "print"},
	};
	for (const auto &c : cases)
		EXPECT_TRUE(ztest::rejects({{"-m", "broken", c.option},
					    "match broken: plug-in " + file + " wrote outside its block in " +
						    c.operation},
					   env));
	// the record's origin is the host's own copy of the path, not the caller's
	EXPECT_TRUE(ztest::accepts({{"-m", "broken"}, "0000000000000000", "", " from " + file}, env));
	EXPECT_TRUE(ztest::rejects({{"-m", "broken", "--block", "ee00000000000000"},
				    "match broken: plug-in " + file + " wrote outside its block in print"},
				   env));
}

} // namespace
