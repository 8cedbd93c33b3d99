// SPDX-License-Identifier: GPL-2.0-or-later
// The rule command's edges that edges.cases cannot hold: endless lines,
// memory that runs out, closed standard descriptors, odd plug-in files.
#include "zunder_run.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>

namespace {

using namespace ztest;
using namespace std::string_literals;
using words = std::vector<std::string>;
using script_case = std::pair<std::string, run_result>;

const std::regex out_of_memory("zunder: (line [0-9]+: )?out of memory\n");
const std::string ah_spi_one = "01000000010000000000000000000000";
const std::string ah_rule = "block " + ah_spi_one + "\nlist ah spi:1\nsave --ahspi 1\n";

std::string write_file(const std::string &name, const std::string &text)
{
	const std::string path = testing::TempDir() + "/" + std::to_string(getpid()) + "-edges-" + name;
	std::ofstream(path, std::ios::binary) << text;
	return path;
}

void expect(const run_result &r, const run_result &want, const std::string &what)
{
	EXPECT_EQ(std::tie(r.status, r.out, r.err), std::tie(want.status, want.out, want.err)) << what;
}

// Runs each script with /bin/sh ($ZUNDER the command) after `prefix`.
void expect_scripts(const std::vector<script_case> &cases, const std::string &prefix = "")
{
	for (const auto &[script, want] : cases)
		expect(run_shell(prefix + script), want, prefix + script);
}

// Streams that never end are refused at their first NUL byte, or once a line
// is longer than allowed, without holding the line: under a limit on the
// address space too small for a growing line, and one only a whole line
// would reach (none where the sanitizers or the emulator reserve more).
TEST(Edges, LinesThatNeverEndAreRefusedAtOnce)
{
	const std::string endless = "yes a | tr -d '\\n' | ", rule = "echo '-6 -m ah --ahspi 1'; } | ";
	const std::string longest = "{ printf '#'; head -c 65535 /dev/zero | tr '\\0' a; echo";
	const std::string nul = "zunder: line 1: the line holds a NUL byte\n";
	const std::string too_long = "zunder: line 1: the line is longer than 65536 bytes\n";
	const std::vector<script_case> cases = {
		{"$ZUNDER --batch /dev/zero", {2, "", nul}},
		{"$ZUNDER --check - </dev/zero", {2, "", nul}},
		{"{ echo '-6 -m ah --ahspi 1'; printf x; cat /dev/zero; } | $ZUNDER --batch -",
		 {2, ah_rule, "zunder: line 2: the line holds a NUL byte\n"}},
		{endless + "$ZUNDER --batch -", {2, "", too_long}},
		{endless + "$ZUNDER --check -", {2, "", too_long}},
		// the longest line allowed, then one byte more
		{longest + "; " + rule + "$ZUNDER --batch -", {0, ah_rule, ""}},
		{longest + " a; " + rule + "$ZUNDER --batch -", {2, "", too_long}},
	};
	words limits = {""};
#if !defined(ZUNDER_SANITIZED)
	if (!emulated())
		limits = {"ulimit -v 100000; ", "ulimit -v 4000000; "};
#endif
	for (const std::string &limit : limits)
		expect_scripts(cases, limit);
}

// Memory that runs out at any allocation ends the command with one line and
// status 2, never a crash, and no part of the failed rule on standard
// output: with every allocation after the N-th failing, for every N until
// the run needs no more, and under limits on the address space from too
// small to load anything up to enough.
TEST(Edges, MemoryThatRunsOutIsOneLine)
{
#if defined(ZUNDER_SANITIZED)
	GTEST_SKIP() << "the sanitizer's allocator and address space take the place of the C library's";
#endif
	const std::string batch = write_file("memory",
					     "-6 -m ah --ahspi 1\n"
					     "-m policy --dir in --pol ipsec --proto esp\n"
					     "-6 -m ipv6header --header hop,esp --soft\n");
	const words rateest =
		{"-j", "RATEEST", "--rateest-name", "x", "--rateest-interval", "1s", "--rateest-ewmalog",
		 "4s"};
	for (const words &args :
	     {rateest, words{"-6", "-m", "ah", "--block", ah_spi_one}, words{"-m", "policy", "-h"},
	      words{"--batch", batch}, words{"--check", batch}}) {
		const auto whole = zunder(args);
		ASSERT_EQ(whole.status, 0) << args[1] << whole.err;
		unsigned long n = 0;
		for (; n < 5000; ++n) {
			const auto r = zunder(args, failing_after(n));
			const std::string at = args[1] + " after " + std::to_string(n) + ": ";
			if (r.status == 0) {
				EXPECT_EQ(r.out, whole.out) << at;
				break;
			}
			EXPECT_EQ(r.status, 2) << at;
			EXPECT_TRUE(std::regex_match(r.err, out_of_memory)) << at << r.err;
			// A batch keeps the rules written before the one that failed.
			const bool whole_rules = args[0] == "--batch"
							 ? whole.out.starts_with(r.out) &&
								   (r.out.empty() || r.out.ends_with('\n'))
							 : r.out.empty();
			EXPECT_TRUE(whole_rules) << at << r.out;
			if (HasFailure())
				break;
		}
		EXPECT_TRUE(n > 0 && n < 5000) << args[1] << " needs " << n;
	}
	std::remove(batch.c_str());
	if (emulated())
		return; // the emulator's own address space is in the limit
	std::string command = "$ZUNDER";
	for (const std::string &word : rateest)
		command += " " + word;
	const std::string whole = zunder(rateest).out;
	for (int limit = 2000; limit <= 12000; limit += 50) {
		const std::string at = "ulimit -v " + std::to_string(limit) + "; ";
		const auto r = run_shell(at + command);
		EXPECT_LT(r.status, 128) << at << r.err;
		EXPECT_EQ(r.out, r.status == 0 ? whole : "") << at;
		// From 125 on, env(1) or the loader could not start the program.
		const bool one_line = r.err.starts_with("zunder: ") && r.err.find('\n') == r.err.size() - 1;
		EXPECT_TRUE(r.status == 0 || r.status >= 125 || (r.status == 2 && one_line))
			<< at << r.status << " " << r.err;
	}
}

// With the machine's protocol database the C library's look-ups run out of
// memory too: never a crash, and a name not looked up is saved as its
// number, which reads back the same: the block lines do not change.
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
			EXPECT_TRUE(r.status == 0 ? blocks(r.out) == blocks(whole.out)
						  : r.status == 2 && std::regex_match(r.err, out_of_memory) &&
							    (r.out.empty() || r.out.ends_with('\n')))
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
	const std::string summary = "rules checked: 20, not parsing: 0, not reading back: 20\n";
	ASSERT_EQ(reports.status, 1) << reports.err;
	ASSERT_TRUE(reports.out.ends_with(summary) && reports.out.size() > 3 * 4096) << reports.out;
	const std::string path = write_file("reports", rules + "-m policy --dir\0in\n"s);
	expect(zunder({"--check", path}),
	       {2, reports.out.substr(0, reports.out.size() - summary.size()),
		"zunder: line 21: the line holds a NUL byte\n"},
	       "a NUL byte after 20 reports");
	std::remove(path.c_str());
}

// Descriptors closed by the shell that starts zunder are never taken for
// the files it opens (the protocol database, with descriptor 1 closed).
TEST(Edges, ClosedStandardDescriptorsAreNeverTakenForFiles)
{
	if (emulated())
		GTEST_SKIP() << "the emulator opens files of its own into closed descriptors";
	const run_result closed = {2, "", "zunder: cannot read standard input: it is closed\n"};
	const run_result not_written = {2, "", "zunder: cannot write the output: Bad file descriptor\n"};
	const std::string path = write_file("stdin", "-6 -m ah --ahspi 1\n");
	expect_scripts({
		{"$ZUNDER --batch - <&-", closed},
		{"$ZUNDER --check - <&-", closed},
		{"$ZUNDER --batch /dev/stdin <&-", closed},
		{"$ZUNDER --check /dev/stdin <&-", closed},
		{"$ZUNDER --batch /dev/fd/0 <&- >&-", closed},
		{"$ZUNDER --batch /dev/null <&-", {0, "", ""}},
		{"$ZUNDER --batch /dev/stdin <" + path, {0, ah_rule, ""}},
		{"$ZUNDER -6 -m ah --ahspi 1 >&-", not_written},
		{"$ZUNDER -6 -m ipv6header --header esp >&-", not_written},
		{"$ZUNDER -6 -m ah --ahspi 1 2>&-", {0, ah_rule, ""}},
	});
	std::remove(path.c_str());
}

TEST(Edges, PlugInFilesThatAreNotRegularAreRefusedAtOnce)
{
	std::string dir = testing::TempDir() + "edges-plugins.XXXXXX";
	ASSERT_NE(mkdtemp(dir.data()), nullptr);
	std::filesystem::create_directories(dir + "/libzu_RATEEST.so");
	ASSERT_EQ(mkfifo((dir + "/libzu_policy.so").c_str(), 0600), 0);
	for (const words &args : {words{"-m", "policy", "--dir", "in"}, words{"-j", "RATEEST", "-h"}})
		expect(zunder(args, {"ZUNDER_PLUGIN_DIR=" + dir}),
		       {2, "",
			"zunder: cannot load " + dir + "/libzu_" + args[1] + ".so: not a regular file\n"},
		       args[1]);
	std::filesystem::remove_all(dir);
}

} // namespace
