// SPDX-License-Identifier: GPL-2.0-or-later
// The rule command's edges: help for any family, one-line messages, NUL
// bytes in batch lines, closed standard descriptors, files that are not
// regular files, output that cannot be written, and --check.
#include "rule_checks.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace {

using ztest::zunder;

std::string temp_path(const std::string &name)
{
	return testing::TempDir() + "/" + std::to_string(getpid()) + "-edges-" + name;
}

std::string write_file(const std::string &name, const std::string &text)
{
	const std::string path = temp_path(name);
	std::ofstream(path, std::ios::binary) << text;
	return path;
}

TEST(Help, FoundForEitherFamily)
{
	const std::vector<std::string> cases[] = {
		{"-m", "ah", "-h"},      {"-6", "-m", "ah", "-h"},      {"-4", "-m", "ah", "-h"},
		{"-j", "RATEEST", "-h"}, {"-6", "-j", "RATEEST", "-h"},
	};
	for (const auto &args : cases) {
		const auto r = zunder(args);
		EXPECT_EQ(r.status, 0) << args[args.size() - 2];
		EXPECT_EQ(r.err, "") << args[args.size() - 2];
		EXPECT_NE(r.out.find("options:"), std::string::npos) << r.out;
	}
	const std::string dir = ZUNDER_PLUGIN_DIR;
	EXPECT_TRUE(ztest::rejects({{"-m", "nosuch", "-h"},
				    "no match \"nosuch\" exists (looked in " + dir + "/libzu_nosuch.so, " +
					    dir + "/libqeb_nosuch.so)"}));
}

TEST(Messages, ControlBytesInEchoedTextAreEscaped)
{
	const std::string labels = write_file("labels", "5 blocked\n");
	const struct {
		ztest::rejected_rule rule;
		std::vector<std::string> env;
	} cases[] = {
		{{{"-6", "-m", "ah", "--ahspi", "1\n"},
		  "ah: option \"--ahspi\": \"1\\x0a\" is not a number or a range \"first:last\" of "
		  "numbers from 0 to 4294967295"},
		 {}},
		{{{"-m", "policy", "--dir", "a\nb"}, "policy_match: invalid dir \"a\\x0ab\""}, {}},
		{{{"-m", "connlabel", "--label", "x\ny"}, "label 'x\\x0ay' not found"},
		 {"PAVANE_CONNLABEL_CONF=" + labels}},
		{{{"-m", "ah\r", "--x"}, "invalid match name \"ah\\x0d\""}, {}},
		{{{"-6", "-m", "ah", "--a\x1b[2J"}, "ah: unknown option \"--a\\x1b[2J\""}, {}},
		{{{"-6", "-m", "ah", "--ahlen", "\x7f\t"},
		  "ah: option \"--ahlen\": \"\\x7f\\x09\" is not a number from 0 to 4294967295"},
		 {}},
	};
	for (const auto &c : cases)
		EXPECT_TRUE(ztest::rejects(c.rule, c.env));
	std::remove(labels.c_str());
}

TEST(Batch, LineWithANulByteIsRefusedWhole)
{
	const std::string file = write_file("nul", std::string("-6 -m ah --ahspi 1\n"
							       "-6 -m ah --ahspi 5\0"
							       "00\n"
							       "-6 -m ah --ahspi 7\n",
							       57));
	const auto r = zunder({"--batch", file});
	EXPECT_EQ(r.status, 2);
	EXPECT_EQ(r.out, zunder({"-6", "-m", "ah", "--ahspi", "1"}).out);
	EXPECT_EQ(r.err, "zunder: line 2: the line holds a NUL byte\n");
	std::remove(file.c_str());
}

// Streams that never end: refused at their first NUL byte, or once a line
// is longer than the longest allowed, without holding the line in memory.
// Each runs under a limit on the address space that leaves no room for a
// growing line, and under one so large that only a line held whole would
// reach it; the sanitizers and the emulator reserve more address space than
// any such limit leaves, so there the stream runs without one.
TEST(Batch, LinesThatNeverEndAreRefusedAtOnce)
{
	const std::string endless = "yes a | tr -d '\\n' | ";
	const std::string one_rule = "echo '-6 -m ah --ahspi 1'; ";
	const std::string comment = "printf '#'; head -c 65535 /dev/zero | tr '\\0' a; ";
	const std::string rule_out = zunder({"-6", "-m", "ah", "--ahspi", "1"}).out;
	const std::string nul = "zunder: line 1: the line holds a NUL byte\n";
	const std::string too_long = "zunder: line 1: the line is longer than 65536 bytes\n";
	const struct {
		std::string script, out, err;
	} cases[] = {
		{"$ZUNDER --batch /dev/zero", "", nul},
		{"$ZUNDER --check - </dev/zero", "", nul},
		{"{ " + one_rule + "printf x; cat /dev/zero; } | $ZUNDER --batch -", rule_out,
		 "zunder: line 2: the line holds a NUL byte\n"},
		{endless + "$ZUNDER --batch -", "", too_long},
		{endless + "$ZUNDER --check -", "", too_long},
		// the longest line allowed, then one byte more
		{"{ " + comment + "echo; " + one_rule + "} | $ZUNDER --batch -", rule_out, ""},
		{"{ " + comment + "echo a; " + one_rule + "} | $ZUNDER --batch -", "", too_long},
	};
#if defined(ZUNDER_SANITIZED)
	const std::vector<std::string> limits = {""};
#else
	const std::vector<std::string> limits =
		ztest::emulated() ? std::vector<std::string>{""}
				  : std::vector<std::string>{"ulimit -v 100000; ", "ulimit -v 4000000; "};
#endif
	for (const std::string &limit : limits)
		for (const auto &c : cases) {
			const std::string script = limit + c.script;
			const auto r = ztest::run_shell(script);
			EXPECT_EQ(r.status, c.err.empty() ? 0 : 2) << script;
			EXPECT_EQ(r.out, c.out) << script;
			EXPECT_EQ(r.err, c.err) << script;
		}
}

// Descriptors closed by the shell that starts zunder.  Under the emulator
// the emulator's own files take the free descriptors, so only native.
TEST(Descriptors, ClosedStandardDescriptorsAreNeverTakenForFiles)
{
	if (ztest::emulated())
		GTEST_SKIP() << "the emulator opens files of its own into closed descriptors";
	const struct {
		const char *script;
		std::string err;
	} cases[] = {
		{"$ZUNDER --batch - <&-", "zunder: cannot read standard input: it is closed\n"},
		{"$ZUNDER --check - <&-", "zunder: cannot read standard input: it is closed\n"},
		{"$ZUNDER -6 -m ah --ahspi 1 >&-", "zunder: cannot write the output: Bad file descriptor\n"},
		// the protocol database is opened with descriptor 1 closed, yet not written to
		{"$ZUNDER -6 -m ipv6header --header esp >&-",
		 "zunder: cannot write the output: Bad file descriptor\n"},
	};
	for (const auto &c : cases) {
		const auto r = ztest::run_shell(c.script);
		EXPECT_EQ(r.status, 2) << c.script;
		EXPECT_EQ(r.out, "") << c.script;
		EXPECT_EQ(r.err, c.err) << c.script;
	}
	const auto r = ztest::run_shell("$ZUNDER -6 -m ah --ahspi 1 2>&-");
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.out, zunder({"-6", "-m", "ah", "--ahspi", "1"}).out);
}

TEST(Files, ThatAreNotRegularAreRefusedAtOnce)
{
	const std::string dir = temp_path("plugins");
	std::filesystem::create_directories(dir + "/libzu_RATEEST.so");
	ASSERT_EQ(mkfifo((dir + "/libzu_policy.so").c_str(), 0600), 0);
	const std::vector<std::string> env = {"ZUNDER_PLUGIN_DIR=" + dir};
	const ztest::rejected_rule rules[] = {
		{{"-m", "policy", "--dir", "in"},
		 "cannot load " + dir + "/libzu_policy.so: not a regular file"},
		{{"-j", "RATEEST", "-h"}, "cannot load " + dir + "/libzu_RATEEST.so: not a regular file"},
	};
	for (const auto &rule : rules)
		EXPECT_TRUE(ztest::rejects(rule, env));
	std::filesystem::remove_all(dir);

	// --batch still reads a FIFO, as --batch <(generate) does.
	const auto r = ztest::run_shell(
		"set -e; cd \"$DIR\"; rm -f rules; mkfifo rules; "
		"printf '%s\\n' '-6 -m ah --ahspi 9' >rules & "
		"$ZUNDER --batch rules; wait; rm rules",
		{"DIR=" + testing::TempDir()});
	EXPECT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(r.out, zunder({"-6", "-m", "ah", "--ahspi", "9"}).out);
}

TEST(Output, ThatCannotBeWrittenIsOneMessageAndStatusTwo)
{
	if (access("/dev/full", W_OK) != 0)
		GTEST_SKIP() << "no /dev/full";
	const std::string rules = write_file("full", "-6 -m ah --ahspi 1\n-6 -m ah --ahspi 2\n");
	const struct {
		std::string script, err;
	} cases[] = {
		{"$ZUNDER -6 -m ah --ahspi 1 >/dev/full",
		 "zunder: cannot write the output: No space left on device\n"},
		{"$ZUNDER -6 -m ah -h >/dev/full",
		 "zunder: cannot write the output: No space left on device\n"},
		{"$ZUNDER --help >/dev/full", "zunder: cannot write the output: No space left on device\n"},
		{"$ZUNDER --batch " + rules + " >/dev/full",
		 "zunder: line 1: cannot write the output: No space left on device\n"},
		{"$ZUNDER --check " + rules + " >/dev/full",
		 "zunder: cannot write the output: No space left on device\n"},
	};
	for (const auto &c : cases) {
		const auto r = ztest::run_shell(c.script);
		EXPECT_EQ(r.status, 2) << c.script;
		EXPECT_EQ(r.err, c.err) << c.script;
	}
	std::remove(rules.c_str());
}

TEST(Check, ReportsTheRulesWhoseSavedOptionsDoNotReadBack)
{
	const auto block_of = [](const std::vector<std::string> &args) {
		ztest::rule_lines lines;
		EXPECT_TRUE(ztest::split_rule_output(zunder(args).out, &lines));
		return lines.block;
	};
	const std::string policy_block =
		block_of({"-m", "policy", "--dir", "in", "--pol", "none", "--reqid", "5"});
	const std::string policy_back = block_of({"-m", "policy", "--dir", "in", "--pol", "none"});
	const std::string rateest_block =
		block_of({"-j", "RATEEST", "--rateest-name", "e", "--rateest-interval", "250001us",
			  "--rateest-ewmalog", "4200s"});
	const std::string rateest_back =
		block_of({"-j", "RATEEST", "--rateest-name", "e", "--rateest-interval", "500.0ms",
			  "--rateest-ewmalog", "8192.0s"});
	const std::string control_name = "410a" + std::string(28, '0') + "0002" + std::string(28, '0');
	const struct {
		std::string rules, out;
		int status;
	} cases[] = {
		{"# every one reads back\n"
		 "-6 -m ah --ahspi 500\n"
		 "\n"
		 "-m policy --dir out --pol ipsec --strict --reqid 16 --proto esp --next --mode transport\n"
		 "-j RATEEST --rateest-name \"a b;c\" --rateest-interval 1s --rateest-ewmalog 4s\n"
		 "-6 -m ipv6header --header hop,esp --soft\n"
		 "-6 -m ah --block 01000000020000000000000001000000\n",
		 "rules checked: 5, not reading back: 0\n", 0},
		{"-m policy --dir in --pol none --reqid 5\n"
		 "-6 -m ah --ahspi 1\n"
		 "-j RATEEST --rateest-name e --rateest-interval 250001us --rateest-ewmalog 4200s\n"
		 "-j RATEEST --block " +
			 control_name + "\n",
		 "line 1: block " + policy_block + ", read back " + policy_back +
			 ", save --dir in --pol none\n"
			 "line 3: block " +
			 rateest_block + ", read back " + rateest_back +
			 ", save --rateest-name e --rateest-interval 500.0ms --rateest-ewmalog 8192.0s\n"
			 "line 4: block " +
			 control_name +
			 ", read back refused (RATEEST: invalid name \"A\\x0a\": "
			 "a name holds no control characters and none of \" \\ $ `), save --rateest-name 'A\\x0a' "
			 "--rateest-interval 1.0s --rateest-ewmalog 4.0s\n"
			 "rules checked: 4, not reading back: 3\n",
		 1},
		{"", "rules checked: 0, not reading back: 0\n", 0},
	};
	for (const auto &c : cases) {
		const std::string file = write_file("check", c.rules);
		const auto r = zunder({"--check", file});
		EXPECT_EQ(r.status, c.status) << c.rules;
		EXPECT_EQ(r.err, "") << c.rules;
		EXPECT_EQ(r.out, c.out) << c.rules;
		std::remove(file.c_str());
	}

	const ztest::rejected_rule errors[] = {
		{{"--check", write_file("bad", "-6 -m ah --ahspi 1\n-6 -m ah --ahspi x\n")},
		 "line 2: ah: option \"--ahspi\": \"x\" is not a number or a range \"first:last\" of numbers "
		 "from 0 to 4294967295"},
		{{"--check", write_file("help", "-6 -m ah -h\n")}, "line 1: -h shows help and saves no rule"},
		{{"--check", "/nonexistent/rules"},
		 "cannot read /nonexistent/rules: No such file or directory"},
	};
	for (const auto &rule : errors)
		EXPECT_TRUE(ztest::rejects(rule));
}

// A check that ends in an error leaves every report before it whole on
// standard output: more than a buffer's worth of them here.
TEST(Check, AnErrorLeavesEveryEarlierReportWhole)
{
	std::string rules;
	for (int i = 1; i <= 20; ++i)
		rules += "-m policy --dir in --pol none --reqid " + std::to_string(i) + "\n";
	const auto reports = zunder({"--check", write_file("reports", rules)});
	ASSERT_EQ(reports.status, 1) << reports.err;
	const std::string summary = "rules checked: 20, not reading back: 20\n";
	ASSERT_TRUE(reports.out.ends_with(summary)) << reports.out;
	ASSERT_GT(reports.out.size(), 3 * 4096u);

	const auto r = zunder({"--check", write_file("reports", rules + "-m policy --dir sideways\n")});
	EXPECT_EQ(r.status, 2);
	EXPECT_EQ(r.err, "zunder: line 21: policy_match: invalid dir \"sideways\"\n");
	EXPECT_EQ(r.out, reports.out.substr(0, reports.out.size() - summary.size()));
	std::remove(temp_path("reports").c_str());
}

} // namespace
