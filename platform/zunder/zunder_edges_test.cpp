// SPDX-License-Identifier: GPL-2.0-or-later
// The rule command's edges that the table edges.cases cannot hold: lines
// that never end, memory that runs out, closed standard descriptors and
// plug-in files that are not regular files.
#include "zunder_run.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>

namespace {

using namespace ztest;
using namespace std::string_literals;
using words = std::vector<std::string>;

std::string temp_path(const std::string &name)
{
	return testing::TempDir() + "/" + std::to_string(getpid()) + "-edges-" + name;
}

std::string write_file(const std::string &name, const std::string &text)
{
	std::ofstream(temp_path(name), std::ios::binary) << text;
	return temp_path(name);
}

// Runs the script with /bin/sh ($ZUNDER the command) and expects exactly this.
void expect_script(const std::string &script, int status, const std::string &out, const std::string &err)
{
	const run_result r = run_shell(script);
	EXPECT_EQ(r.status, status) << script;
	EXPECT_EQ(r.out, out) << script;
	EXPECT_EQ(r.err, err) << script;
}

// Streams that never end: refused at their first NUL byte, or once a line
// is longer than the longest allowed, without holding the line in memory.
// Each runs under a limit on the address space that leaves no room for a
// growing line, and under one so large that only a line held whole would
// reach it; the sanitizers and the emulator reserve more address space than
// any such limit leaves, so there the stream runs without one.
TEST(Edges, LinesThatNeverEndAreRefusedAtOnce)
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

// Memory that runs out at any allocation of a run ends the command with one
// line and status 2, never a crash, and leaves nothing of the failed rule on
// standard output: under an allocator that fails every allocation after the
// N-th, for every N until the run needs no more, and under limits on the
// address space from too small to load anything up to enough.
TEST(Edges, MemoryThatRunsOutIsOneLine)
{
#if defined(ZUNDER_SANITIZED)
	GTEST_SKIP() << "the sanitizer's allocator and address space take the place of the C library's";
#endif
	const std::string batch =
		write_file("memory",
			   "-6 -m ah --ahspi 1\n-m policy --dir in --pol ipsec --proto esp\n"
			   "-6 -m ipv6header --header hop,esp --soft\n");
	const std::vector<words> runs = {
		{"-j", "RATEEST", "--rateest-name", "x", "--rateest-interval", "1s", "--rateest-ewmalog",
		 "4s"},
		{"-6", "-m", "ah", "--block", "01000000010000000000000000000000"},
		{"-m", "policy", "-h"},
		{"--batch", batch},
		{"--check", batch},
	};
	const std::regex out_of_memory("zunder: (line [0-9]+: )?out of memory\n");
	for (const words &args : runs) {
		const auto whole = zunder(args);
		ASSERT_EQ(whole.status, 0) << args[1] << whole.err;
		const bool batch_run = args[0] == "--batch";
		unsigned long n = 0;
		for (; n < 5000; ++n) {
			const auto r = zunder(args, failing_after(n));
			if (r.status == 0) {
				EXPECT_EQ(r.out, whole.out) << args[1] << " after " << n;
				break;
			}
			EXPECT_EQ(r.status, 2) << args[1] << " after " << n;
			EXPECT_TRUE(std::regex_match(r.err, out_of_memory))
				<< args[1] << " after " << n << ": " << r.err;
			// A batch keeps the rules written before the one that failed.
			const bool whole_rules = batch_run ? whole.out.starts_with(r.out) &&
								     (r.out.empty() || r.out.ends_with('\n'))
							   : r.out.empty();
			EXPECT_TRUE(whole_rules) << args[1] << " after " << n << ": " << r.out;
			if (HasFailure())
				break;
		}
		EXPECT_GT(n, 0u) << args[1];
		EXPECT_LT(n, 5000u) << args[1];
	}
	if (emulated())
		return; // the emulator's own address space is in the limit
	const std::string rateest =
		"$ZUNDER -j RATEEST --rateest-name x --rateest-interval 1s --rateest-ewmalog 4s";
	const std::string whole = zunder(runs[0]).out;
	for (int limit = 2000; limit <= 12000; limit += 50) {
		const auto r = run_shell("ulimit -v " + std::to_string(limit) + "; " + rateest);
		const std::string at = "ulimit -v " + std::to_string(limit) + ": ";
		EXPECT_LT(r.status, 128) << at << r.err;
		if (r.status == 0) {
			EXPECT_EQ(r.out, whole) << at;
			continue;
		}
		EXPECT_EQ(r.out, "") << at;
		if (r.status >= 125) // env(1) or the loader could not start the program
			continue;
		EXPECT_EQ(r.status, 2) << at << r.err;
		EXPECT_TRUE(r.err.starts_with("zunder: ") && r.err.find('\n') == r.err.size() - 1)
			<< at << r.err;
	}
	std::remove(batch.c_str());
}

// With the machine's protocol database the C library's look-ups run out of
// memory too: never a crash, and a name they cannot look up is saved as its
// number, which reads back the same.
TEST(Edges, MemoryThatRunsOutInTheMachinesProtocolLookUps)
{
#if defined(ZUNDER_SANITIZED)
	GTEST_SKIP() << "the sanitizer's allocator takes the place of the C library's";
#endif
	if (access("/etc/protocols", R_OK) != 0)
		GTEST_SKIP() << "this machine has no protocol database (/etc/protocols)";
	const std::string batch =
		write_file("lookups",
			   "-m policy --dir in --pol ipsec --proto esp\n-6 -m ipv6header --header esp,ah\n");
	const std::regex out_of_memory("zunder: (line [0-9]+: )?out of memory\n");
	// The block lines, which the look-ups of names do not change.
	const auto blocks = [](const std::string &out) {
		std::string lines;
		for (size_t at = 0; (at = out.find("block ", at)) != std::string::npos;
		     at = out.find('\n', at))
			lines += out.substr(at, out.find('\n', at) - at + 1);
		return lines;
	};
	for (const words &args : {words{"-m", "policy", "--dir", "in", "--pol", "ipsec", "--proto", "esp"},
				  words{"--batch", batch}}) {
		const auto whole = zunder(args, system_protocols);
		ASSERT_EQ(whole.status, 0) << whole.err;
		for (unsigned long n = 0; n < 5000; ++n) {
			const auto r = zunder(args, failing_after(n, true));
			const bool sound = r.status == 0 ? blocks(r.out) == blocks(whole.out)
							 : r.status == 2 &&
								   std::regex_match(r.err, out_of_memory) &&
								   (r.out.empty() || r.out.ends_with('\n'));
			EXPECT_TRUE(sound)
				<< args[1] << " after " << n << ": " << r.status << " " << r.out << r.err;
			if (r.status == 0 || HasFailure())
				break;
		}
	}
	std::remove(batch.c_str());
}

// A check that ends in an error leaves every report before it whole on
// standard output: more than a buffer's worth of them here.
TEST(Edges, AnErrorInACheckLeavesEveryEarlierReportWhole)
{
	std::string rules;
	for (int i = 1; i <= 20; ++i)
		rules += "-m policy --dir in --pol none --reqid " + std::to_string(i) + "\n";
	const auto reports = zunder({"--check", write_file("reports", rules)});
	ASSERT_EQ(reports.status, 1) << reports.err;
	const std::string summary = "rules checked: 20, not parsing: 0, not reading back: 20\n";
	ASSERT_TRUE(reports.out.ends_with(summary)) << reports.out;
	ASSERT_GT(reports.out.size(), 3 * 4096u);

	const auto r = zunder({"--check", write_file("reports", rules + "-m policy --dir\0in\n"s)});
	EXPECT_EQ(r.status, 2);
	EXPECT_EQ(r.err, "zunder: line 21: the line holds a NUL byte\n");
	EXPECT_EQ(r.out, reports.out.substr(0, reports.out.size() - summary.size()));
	std::remove(temp_path("reports").c_str());
}

// Descriptors closed by the shell that starts zunder; the protocol database
// is opened with descriptor 1 closed, yet not written to.  Under the
// emulator the emulator's own files take the free descriptors.
TEST(Edges, ClosedStandardDescriptorsAreNeverTakenForFiles)
{
	if (emulated())
		GTEST_SKIP() << "the emulator opens files of its own into closed descriptors";
	const std::string closed = "zunder: cannot read standard input: it is closed\n";
	const std::string not_written = "zunder: cannot write the output: Bad file descriptor\n";
	const std::string rule = "block 01000000010000000000000000000000\nlist ah spi:1\nsave --ahspi 1\n";
	for (const char *script :
	     {"$ZUNDER --batch - <&-", "$ZUNDER --check - <&-", "$ZUNDER --batch /dev/stdin <&-",
	      "$ZUNDER --check /dev/stdin <&-", "$ZUNDER --batch /dev/fd/0 <&- >&-"})
		expect_script(script, 2, "", closed);
	expect_script("$ZUNDER --batch /dev/null <&-", 0, "", "");
	expect_script("$ZUNDER --batch /dev/stdin <" + write_file("stdin", "-6 -m ah --ahspi 1\n"), 0, rule,
		      "");
	expect_script("$ZUNDER -6 -m ah --ahspi 1 >&-", 2, "", not_written);
	expect_script("$ZUNDER -6 -m ipv6header --header esp >&-", 2, "", not_written);
	expect_script("$ZUNDER -6 -m ah --ahspi 1 2>&-", 0, rule, "");
	std::remove(temp_path("stdin").c_str());
}

TEST(Edges, PlugInFilesThatAreNotRegularAreRefusedAtOnce)
{
	std::string dir = testing::TempDir() + "edges-plugins.XXXXXX";
	ASSERT_NE(mkdtemp(dir.data()), nullptr);
	std::filesystem::create_directories(dir + "/libzu_RATEEST.so");
	ASSERT_EQ(mkfifo((dir + "/libzu_policy.so").c_str(), 0600), 0);
	for (const auto &[args, file] :
	     {std::pair<words, std::string>{{"-m", "policy", "--dir", "in"}, "policy"},
	      {{"-j", "RATEEST", "-h"}, "RATEEST"}}) {
		const run_result r = zunder(args, {"ZUNDER_PLUGIN_DIR=" + dir});
		EXPECT_EQ(r.status, 2);
		EXPECT_EQ(r.out, "");
		EXPECT_EQ(r.err,
			  "zunder: cannot load " + dir + "/libzu_" + file + ".so: not a regular file\n");
	}
	std::filesystem::remove_all(dir);
}

} // namespace
