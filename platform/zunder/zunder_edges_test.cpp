// SPDX-License-Identifier: GPL-2.0-or-later
// The rule command's edges: help for any family, one-line messages, NUL
// bytes in batch lines, closed standard descriptors, files that are not
// regular files, output that cannot be written, and --check; one call a
// line (see tests/support/rule_table.h).
#include "rule_table.h"

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

std::string temp_path(const std::string &name)
{
	return testing::TempDir() + "/" + std::to_string(getpid()) + "-edges-" + name;
}

std::string write_file(const std::string &name, const std::string &text)
{
	std::ofstream(temp_path(name), std::ios::binary) << text;
	return temp_path(name);
}

// clang-format off
// Help is found for either family; control bytes in echoed text are escaped; a batch line with a NUL byte
// is refused whole.
const std::vector<row> calls = {
	gives(words{"-m", "ah", "-h"}, "", 0, "ah match options:\n[!] --ahspi spi[:spi]          match spi (range)\n[!] --ahlen length             total length of this header\n --ahres                       check the reserved field too\n", ""),
	gives(words{"-6", "-m", "ah", "-h"}, "", 0, "ah match options:\n[!] --ahspi spi[:spi]          match spi (range)\n[!] --ahlen length             total length of this header\n --ahres                       check the reserved field too\n", ""),
	gives(words{"-4", "-m", "ah", "-h"}, "", 0, "ah match options:\n[!] --ahspi spi[:spi]          match spi (range)\n[!] --ahlen length             total length of this header\n --ahres                       check the reserved field too\n", ""),
	gives(words{"-j", "RATEEST", "-h"}, "", 0, "RATEEST target options:\n  --rateest-name name\t\tRate estimator name\n  --rateest-interval sec\tRate measurement interval in seconds\n  --rateest-ewmalog value\tRate measurement averaging time constant\n", ""),
	gives(words{"-6", "-j", "RATEEST", "-h"}, "", 0, "RATEEST target options:\n  --rateest-name name\t\tRate estimator name\n  --rateest-interval sec\tRate measurement interval in seconds\n  --rateest-ewmalog value\tRate measurement averaging time constant\n", ""),
	gives(words{"-m", "nosuch", "-h"}, "", 2, "", "zunder: no match \"nosuch\" exists (looked in " ZUNDER_PLUGIN_DIR "/libzu_nosuch.so, " ZUNDER_PLUGIN_DIR "/libqeb_nosuch.so)\n"),
	gives(words{"-6", "-m", "ah", "--ahspi", "1\n"}, "", 2, "", "zunder: ah: option \"--ahspi\": \"1\\x0a\" is not a number or a range \"first:last\" of numbers from 0 to 4294967295\n"),
	gives(words{"-m", "policy", "--dir", "a\nb"}, "", 2, "", "zunder: policy_match: invalid dir \"a\\x0ab\"\n"),
	gives(words{"-m", "ah\x0d", "--x"}, "", 2, "", "zunder: invalid match name \"ah\\x0d\"\n"),
	gives(words{"-6", "-m", "ah", "--a\x1b[2J"}, "", 2, "", "zunder: ah: unknown option \"--a\\x1b[2J\"\n"),
	gives(words{"-6", "-m", "ah", "--ahlen", "\x7f\t"}, "", 2, "", "zunder: ah: option \"--ahlen\": \"\\x7f\\x09\" is not a number from 0 to 4294967295\n"),
	gives(words{"--batch", "FILE"}, "-6 -m ah --ahspi 1\n-6 -m ah --ahspi 5\x00""00\n-6 -m ah --ahspi"s, 2, "block 01000000010000000000000000000000\nlist ah spi:1\nsave --ahspi 1\n", "zunder: line 2: the line holds a NUL byte\n"),
	gives(words{"-6", "-m", "ah", "--ahspi", "1"}, "", 0, "block 01000000010000000000000000000000\nlist ah spi:1\nsave --ahspi 1\n", ""),
	gives(words{"-6", "-m", "ah", "--ahspi", "9"}, "", 0, "block 09000000090000000000000000000000\nlist ah spi:9\nsave --ahspi 9\n", ""),
	// --check reports the rules whose saved options do not read back.
	gives(words{"-m", "policy", "--dir", "in", "--pol", "none", "--reqid", "5"}, "", 0, "block " + std::string(137, '0') + "500000000002" + std::string(460, '0') + "500000000000000\nlist policy match dir in pol none\nsave --dir in --pol none\n", ""),
	gives(words{"-m", "policy", "--dir", "in", "--pol", "none"}, "", 0, "block " + std::string(609, '0') + "500000000000000\nlist policy match dir in pol none\nsave --dir in --pol none\n", ""),
	gives(words{"-j", "RATEEST", "--rateest-name", "e", "--rateest-interval", "250001us", "--rateest-ewmalog", "4200s"}, "", 0, "block 65000000000000000000000000000000ff0e0000000000000000000000000000\nlist name e interval 500.0ms ewmalog 8192.0s\nsave --rateest-name e --rateest-interval 500.0ms --rateest-ewmalog 8192.0s\n", ""),
	gives(words{"-j", "RATEEST", "--rateest-name", "e", "--rateest-interval", "500.0ms", "--rateest-ewmalog", "8192.0s"}, "", 0, "block 65000000000000000000000000000000ff0d0000000000000000000000000000\nlist name e interval 500.0ms ewmalog 4096.0s\nsave --rateest-name e --rateest-interval 500.0ms --rateest-ewmalog 4096.0s\n", ""),
	gives(words{"--check", "FILE"}, "# every one reads back\n-6 -m ah --ahspi 500\n\n-m policy --dir out --pol ipsec --strict --reqid 16 --proto esp --next --mode transport\n-j RATEEST --rateest-name \"a b;c\" --rateest-interval 1s --rateest-ewmalog 4s\n-6 -m ipv6header --header hop,esp --soft\n-6 -m ah --block 01000000020000000000000001000000\n", 0, "rules checked: 5, not parsing: 0, not reading back: 0\n", ""),
	gives(words{"--check", "FILE"}, "-m policy --dir in --pol none --reqid 5\n-6 -m ah --ahspi 1\n-j RATEEST --rateest-name e --rateest-interval 250001us --rateest-ewmalog 4200s\n-j RATEEST --block 410a000000000000000000000000000000020000000000000000000000000000\n", 1, "line 1: block " + std::string(137, '0') + "500000000002" + std::string(460, '0') + "500000000000000, read back " + std::string(609, '0') + "500000000000000, save --dir in --pol none\nline 3: block 65000000000000000000000000000000ff0e0000000000000000000000000000, read back 65000000000000000000000000000000ff0d0000000000000000000000000000, save --rateest-name e --rateest-interval 500.0ms --rateest-ewmalog 8192.0s\nline 4: block 410a000000000000000000000000000000020000000000000000000000000000, read back refused (RATEEST: invalid name \"A\\x0a\": a name is UTF-8 text without control characters and without \" \\ $ `), save --rateest-name 'A\\x0a' --rateest-interval 1.0s --rateest-ewmalog 4.0s\nrules checked: 4, not parsing: 0, not reading back: 3\n", ""),
	gives(words{"--check", "FILE"}, "", 0, "rules checked: 0, not parsing: 0, not reading back: 0\n", ""),
	// --check reports every line that does not parse, with the message an error would give, and goes on.
	gives(words{"--check", "FILE"}, "-6 -m ah --ahspi 1\n-6 -m ah --ahspi x\n-6 -m ah -h\n-6 -m ah --ahlen \"1\n-6 -m nosuch\n-6 ah\n-m ah\x01\n-m policy --dir in --pol none --reqid 5\n-6 -m ah --block 00\n-6 -m ah --ahspi 2\n", 1, "line 2: ah: option \"--ahspi\": \"x\" is not a number or a range \"first:last\" of numbers from 0 to 4294967295\nline 3: -h shows help and saves no rule\nline 4: unterminated double quote\nline 5: no match \"nosuch\" exists for IPv6 (looked in " ZUNDER_PLUGIN_DIR "/libzu_nosuch.so, " ZUNDER_PLUGIN_DIR "/libqeb_nosuch.so)\nline 6: expected -4, -6, -n, -m or -j, not \"ah\"\nline 7: invalid match name \"ah\\x01\"\nline 8: block " + std::string(137, '0') + "500000000002" + std::string(460, '0') + "500000000000000, read back " + std::string(609, '0') + "500000000000000, save --dir in --pol none\nline 9: --block for match \"ah\" needs exactly 16 bytes as 32 hexadecimal digits\nrules checked: 10, not parsing: 7, not reading back: 1\n", ""),
	// -h and --help after the clause ask for its help, but not as an option's argument.
	gives(words{"-6", "-m", "ah", "--ahspi", "1", "--help"}, "", 0, "ah match options:\n[!] --ahspi spi[:spi]          match spi (range)\n[!] --ahlen length             total length of this header\n --ahres                       check the reserved field too\n", ""),
	gives(words{"-m", "ah", "!", "-h"}, "", 0, "ah match options:\n[!] --ahspi spi[:spi]          match spi (range)\n[!] --ahlen length             total length of this header\n --ahres                       check the reserved field too\n", ""),
	gives(words{"-6", "-m", "ah", "--ahspi", "-h"}, "", 2, "", "zunder: ah: option \"--ahspi\": \"-h\" is not a number or a range \"first:last\" of numbers from 0 to 4294967295\n"),
	gives(words{"-j", "RATEEST", "--rateest-name", "--help", "--rateest-interval", "1s", "--rateest-ewmalog", "4s"}, "", 0, "block 2d2d68656c700000000000000000000000020000000000000000000000000000\nlist name --help interval 1.0s ewmalog 4.0s\nsave --rateest-name --help --rateest-interval 1.0s --rateest-ewmalog 4.0s\n", ""),
	gives(words{"--check", "FILE"}, "-j RATEEST --rateest-name --help --rateest-interval 1s --rateest-ewmalog 4s\n-j RATEEST --rateest-name -h --rateest-interval 1s --rateest-ewmalog 4s --help\n", 1, "line 2: --help shows help and saves no rule\nrules checked: 2, not parsing: 1, not reading back: 0\n", ""),
	gives(words{"--check", "/nonexistent/rules"}, "", 2, "", "zunder: cannot read /nonexistent/rules: No such file or directory\n"),
};

// Descriptors closed by the shell that starts zunder; the protocol database is opened with descriptor 1
// closed, yet not written to.
const std::vector<row> closed_descriptors = {
	gives(words{"sh", "$ZUNDER --batch - <&-"}, "", 2, "", "zunder: cannot read standard input: it is closed\n"),
	gives(words{"sh", "$ZUNDER --check - <&-"}, "", 2, "", "zunder: cannot read standard input: it is closed\n"),
	gives(words{"sh", "$ZUNDER --batch /dev/stdin <&-"}, "", 2, "", "zunder: cannot read standard input: it is closed\n"),
	gives(words{"sh", "$ZUNDER --check /dev/stdin <&-"}, "", 2, "", "zunder: cannot read standard input: it is closed\n"),
	gives(words{"sh", "$ZUNDER --batch /dev/fd/0 <&- >&-"}, "", 2, "", "zunder: cannot read standard input: it is closed\n"),
	gives(words{"sh", "$ZUNDER --batch /dev/null <&-"}, "", 0, "", ""),
	gives(words{"sh", "$ZUNDER --batch /dev/stdin <FILE"}, "-6 -m ah --ahspi 1\n", 0, "block 01000000010000000000000000000000\nlist ah spi:1\nsave --ahspi 1\n", ""),
	gives(words{"sh", "$ZUNDER -6 -m ah --ahspi 1 >&-"}, "", 2, "", "zunder: cannot write the output: Bad file descriptor\n"),
	gives(words{"sh", "$ZUNDER -6 -m ipv6header --header esp >&-"}, "", 2, "", "zunder: cannot write the output: Bad file descriptor\n"),
	gives(words{"sh", "$ZUNDER -6 -m ah --ahspi 1 2>&-"}, "", 0, "block 01000000010000000000000000000000\nlist ah spi:1\nsave --ahspi 1\n", ""),
};

// Output that cannot be written is one message and status 2.
const std::vector<row> full_output = {
	gives(words{"sh", "$ZUNDER -6 -m ah --ahspi 1 >/dev/full"}, "", 2, "", "zunder: cannot write the output: No space left on device\n"),
	gives(words{"sh", "$ZUNDER -6 -m ah -h >/dev/full"}, "", 2, "", "zunder: cannot write the output: No space left on device\n"),
	gives(words{"sh", "$ZUNDER --help >/dev/full"}, "", 2, "", "zunder: cannot write the output: No space left on device\n"),
	gives(words{"sh", "$ZUNDER --batch FILE >/dev/full"}, "-6 -m ah --ahspi 1\n-6 -m ah --ahspi 2\n", 2, "", "zunder: line 1: cannot write the output: No space left on device\n"),
	gives(words{"sh", "$ZUNDER --check FILE >/dev/full"}, "-6 -m ah --ahspi 1\n-6 -m ah --ahspi 2\n", 2, "", "zunder: cannot write the output: No space left on device\n"),
};

// --batch still reads a FIFO, as --batch <(generate) does.
const std::vector<row> fifo = {
	gives(words{"sh", "set -e; d=$(mktemp -d); cd \"$d\"; mkfifo rules; printf '%s\\n' '-6 -m ah --ahspi 9' >rules & $ZUNDER --batch rules; wait; rm -r \"$d\""}, "", 0, "block 09000000090000000000000000000000\nlist ah spi:9\nsave --ahspi 9\n", ""),
};
// clang-format on

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

TEST(Edges, Calls)
{
	check_table(calls);
	check_table(fifo);
}

TEST(Edges, LabelsInMessages)
{
	const std::string labels = testing::TempDir() + "/" + std::to_string(getpid()) + "-edges-labels";
	std::ofstream(labels) << "5 blocked\n";
	check_table({gives(words{"-m", "connlabel", "--label", "x\ny"}, "", 2, "",
			   "zunder: label 'x\\x0ay' not found\n")},
		    {"PAVANE_CONNLABEL_CONF=" + labels});
	std::filesystem::remove(labels);
}

// Under the emulator the emulator's own files take the free descriptors.
TEST(Edges, ClosedStandardDescriptorsAreNeverTakenForFiles)
{
	if (emulated())
		GTEST_SKIP() << "the emulator opens files of its own into closed descriptors";
	check_table(closed_descriptors);
}

TEST(Edges, OutputThatCannotBeWritten)
{
	if (access("/dev/full", W_OK) != 0)
		GTEST_SKIP() << "no /dev/full";
	check_table(full_output);
}

TEST(Edges, PlugInFilesThatAreNotRegularAreRefusedAtOnce)
{
	std::string dir = testing::TempDir() + "edges-plugins.XXXXXX";
	ASSERT_NE(mkdtemp(dir.data()), nullptr);
	std::filesystem::create_directories(dir + "/libzu_RATEEST.so");
	ASSERT_EQ(mkfifo((dir + "/libzu_policy.so").c_str(), 0600), 0);
	check_table({gives(words{"-m", "policy", "--dir", "in"}, "", 2, "",
			   "zunder: cannot load " + dir + "/libzu_policy.so: not a regular file\n"),
		     gives(words{"-j", "RATEEST", "-h"}, "", 2, "",
			   "zunder: cannot load " + dir + "/libzu_RATEEST.so: not a regular file\n")},
		    {"ZUNDER_PLUGIN_DIR=" + dir});
	std::filesystem::remove_all(dir);
}

} // namespace
