// SPDX-License-Identifier: GPL-2.0-or-later
// What the command's tables cannot hold: endless lines, memory that runs
// out, closed standard descriptors, odd plug-in files and folders, and a
// machine without /proc.
#include "table.h"
#include "zunder_run.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>

namespace {

using namespace ztest;
using namespace std::string_literals;

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

// Status 2, nothing written, the one line "zunder: MESSAGE".
run_result fails(const std::string &message)
{
	return {2, "", "zunder: " + message + "\n"};
}

void expect_scripts(const std::vector<std::pair<std::string, run_result>> &cases,
		    const std::string &prefix = "")
{
	for (const auto &[script, want] : cases)
		expect(run_shell(prefix + script), want, prefix + script);
}

// libzu_broken saves the file it came from.
run_result broken_from(const std::string &dir)
{
	return {0, "block 0000000000000000\nlist\nsave from " + dir + "/libzu_broken.so\n", ""};
}

// Runs zunder with every allocation after the N-th failing, for each N until
// it succeeds: each failure is one line "out of memory" and status 2, and
// `fits` accepts what each run wrote.  Returns that N.
unsigned long run_out_of_memory(const std::string &args, bool machine,
				std::function<bool(const run_result &)> fits)
{
	static const std::regex out_of_memory("zunder: (line [0-9]+: )?out of memory\n");
	unsigned long n = 0;
	for (; n < 5000; ++n) {
		const auto r = zunder(words(args), failing_after(n, machine));
		EXPECT_TRUE(fits(r) &&
			    (r.status == 0 || (r.status == 2 && std::regex_match(r.err, out_of_memory))))
			<< args << " after " << n << ": " << r.status << " " << r.out << r.err;
		if (r.status == 0 || testing::Test::HasFailure())
			break;
	}
	return n;
}

// Refused at the first NUL byte, or once the line is too long, without
// holding it: under limits on the address space too small for a growing
// line and one only a whole line would reach (none under the sanitizers or
// the emulator, which reserve more).
TEST(Edges, LinesThatNeverEndAreRefusedAtOnce)
{
	const std::string endless = "yes a | tr -d '\\n' | ", rule = "echo '-6 -m ah --ahspi 1'; } | ";
	const std::string longest = "{ printf '#'; head -c 65535 /dev/zero | tr '\\0' a; echo";
	const run_result nul = fails("line 1: the line holds a NUL byte");
	const run_result too_long = fails("line 1: the line is longer than 65536 bytes");
	std::vector<std::string> limits = {""};
#if !defined(ZUNDER_SANITIZED)
	if (!emulated())
		limits = {"ulimit -v 100000; ", "ulimit -v 4000000; "};
#endif
	for (const std::string &limit : limits)
		expect_scripts(
			{{"$ZUNDER --batch /dev/zero", nul},
			 {"$ZUNDER --check - </dev/zero", nul},
			 {"{ echo '-6 -m ah --ahspi 1'; printf x; cat /dev/zero; } | $ZUNDER --batch -",
			  {2, ah_rule, "zunder: line 2: the line holds a NUL byte\n"}},
			 {endless + "$ZUNDER --batch -", too_long},
			 {endless + "$ZUNDER --check -", too_long},
			 // the longest line allowed, then one byte more
			 {longest + "; " + rule + "$ZUNDER --batch -", {0, ah_rule, ""}},
			 {longest + " a; " + rule + "$ZUNDER --batch -", too_long}},
			limit);
}

// Memory that runs out at any allocation, or address space too small to
// load anything up to enough, ends the run with one line and status 2,
// never a crash; a batch keeps the rules written before the failed one.
TEST(Edges, MemoryThatRunsOutIsOneLine)
{
#if defined(ZUNDER_SANITIZED)
	GTEST_SKIP() << "the sanitizer's allocator and address space take the place of the C library's";
#endif
	const std::string batch = write_file("memory",
					     "-6 -m ah --ahspi 1\n"
					     "-m policy --dir in --pol ipsec --proto esp\n"
					     "-6 -m ipv6header --header hop,esp --soft\n");
	const std::string rateest = "-j RATEEST --rateest-name x --rateest-interval 1s --rateest-ewmalog 4s";
	for (const std::string &args : {rateest, "-6 -m ah --block " + ah_spi_one, "-m policy -h"s,
					"--batch " + batch, "--check " + batch}) {
		const auto whole = zunder(words(args));
		ASSERT_EQ(whole.status, 0) << args << whole.err;
		const unsigned long n = run_out_of_memory(args, false, [&](const run_result &r) {
			if (r.status == 0 || !args.starts_with("--batch"))
				return r.out == (r.status == 0 ? whole.out : "");
			return whole.out.starts_with(r.out) && (r.out.empty() || r.out.ends_with('\n'));
		});
		EXPECT_TRUE(n > 0 && n < 5000) << args << " needs " << n;
	}
	std::remove(batch.c_str());
	if (emulated())
		return; // the emulator's own address space is in the limit
	const std::string whole = zunder(words(rateest)).out;
	for (int limit = 2000; limit <= 12000; limit += 50) {
		const std::string at = "ulimit -v " + std::to_string(limit) + "; ";
		const auto r = run_shell(at + "$ZUNDER " + rateest);
		EXPECT_LT(r.status, 128) << at << r.err;
		EXPECT_EQ(r.out, r.status == 0 ? whole : "") << at;
		// From 125 on, env(1) or the loader could not start the program.
		const bool one_line = r.err.starts_with("zunder: ") && r.err.find('\n') == r.err.size() - 1;
		EXPECT_TRUE(r.status == 0 || r.status >= 125 || (r.status == 2 && one_line))
			<< at << r.status << " " << r.err;
	}
}

// The C library's look-ups in the machine's protocol database run out too: a
// name not looked up is saved as its number, so the blocks do not change.
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
	for (const std::string &args : {"-m policy --dir in --pol ipsec --proto esp"s, "--batch " + batch}) {
		const auto whole = zunder(words(args), system_protocols);
		ASSERT_EQ(whole.status, 0) << whole.err;
		run_out_of_memory(args, true, [&](const run_result &r) {
			return r.status == 0 ? blocks(r.out) == blocks(whole.out)
					     : r.out.empty() || r.out.ends_with('\n');
		});
	}
	std::remove(batch.c_str());
}

// An error in a check leaves every report before it whole: more than a
// buffer's worth of them.
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
	       "line 21");
	std::remove(path.c_str());
}

// Descriptors the shell closed are never taken for files zunder opens (the
// protocol database, with descriptor 1 closed).
TEST(Edges, ClosedStandardDescriptorsAreNeverTakenForFiles)
{
	if (emulated())
		GTEST_SKIP() << "the emulator opens files of its own into closed descriptors";
	const run_result closed = fails("cannot read standard input: it is closed");
	const run_result unwritten = fails("cannot write the output: Bad file descriptor");
	const std::string path = write_file("stdin", "-6 -m ah --ahspi 1\n");
	expect_scripts({{"$ZUNDER --batch - <&-", closed},
			{"$ZUNDER --check - <&-", closed},
			{"$ZUNDER --batch /dev/stdin <&-", closed},
			{"$ZUNDER --check /dev/stdin <&-", closed},
			{"$ZUNDER --batch /dev/fd/0 <&- >&-", closed},
			{"$ZUNDER --batch /dev/null <&-", {0, "", ""}},
			{"$ZUNDER --batch /dev/stdin <" + path, {0, ah_rule, ""}},
			{"$ZUNDER -6 -m ah --ahspi 1 >&-", unwritten},
			{"$ZUNDER -6 -m ipv6header --header esp >&-", unwritten},
			{"$ZUNDER -6 -m ah --ahspi 1 2>&-", {0, ah_rule, ""}}});
	std::remove(path.c_str());
}

TEST(Edges, PlugInFilesThatAreNotRegularAreRefusedAtOnce)
{
	std::string dir = testing::TempDir() + "edges-plugins.XXXXXX";
	ASSERT_NE(mkdtemp(dir.data()), nullptr);
	std::filesystem::create_directories(dir + "/libzu_RATEEST.so");
	ASSERT_EQ(mkfifo((dir + "/libzu_policy.so").c_str(), 0600), 0);
	for (const auto &[args, file] :
	     {std::pair{"-m policy --dir in", "policy"}, {"-j RATEEST -h", "RATEEST"}})
		expect(zunder(words(args), {"ZUNDER_PLUGIN_DIR=" + dir}),
		       fails("cannot load " + dir + "/libzu_" + file + ".so: not a regular file"), args);
	std::filesystem::remove_all(dir);
}

// ZUNDER_PLUGIN_DIR is a list searched in order: of two folders holding the
// same clause, the first serves it.
TEST(Command, PluginFolderListInOrder)
{
	std::string copy = testing::TempDir() + "first-plugins.XXXXXX";
	ASSERT_NE(mkdtemp(copy.data()), nullptr);
	std::filesystem::copy_file(ZUNDER_TEST_PLUGIN_DIR "/libzu_broken.so", copy + "/libzu_broken.so");
	for (const auto &[first, second] : {std::pair<std::string, std::string>{copy, ZUNDER_TEST_PLUGIN_DIR},
					    {ZUNDER_TEST_PLUGIN_DIR, copy}})
		expect(zunder({"-m", "broken"}, {"ZUNDER_PLUGIN_DIR=" + first + ":" + second}),
		       broken_from(first), first);
	std::filesystem::remove_all(copy);
}

// Without /proc (a bare chroot or container) the plug-in folder is
// ZUNDER_PLUGIN_DIR or an error, never the current folder, here one holding
// a plug-in that would load.  The loader then needs LD_LIBRARY_PATH too.
TEST(Command, NoPluginFolderFromTheCurrentFolder)
{
	if (emulated())
		GTEST_SKIP() << "the emulator answers /proc/self/exe itself";
#if defined(ZUNDER_SANITIZED)
	GTEST_SKIP() << "the sanitizer runtime does not start without /proc";
#endif
	if (geteuid() != 0 || run_shell("unshare -m true").status != 0)
		GTEST_SKIP() << "hiding /proc needs root and a mount namespace of its own";
	const std::string dir = testing::TempDir() + "/" + std::to_string(getpid()) + "-cwd-plugins";
	std::filesystem::create_directories(dir);
	std::filesystem::copy_file(ZUNDER_TEST_PLUGIN_DIR "/libzu_broken.so", dir + "/libzu_broken.so",
				   std::filesystem::copy_options::overwrite_existing);
	const run_result no_folder =
		fails("cannot find the plug-in folder: /proc/self/exe: No such file or "
		      "directory; set ZUNDER_PLUGIN_DIR");
	for (const auto &[plugin_dir, want] :
	     {std::pair<std::string, run_result>{"ZUNDER_PLUGIN_DIR", no_folder},
	      {"ZUNDER_PLUGIN_DIR=", no_folder},
	      {"ZUNDER_PLUGIN_DIR=" + dir, broken_from(dir)}})
		expect(run_shell("cd \"$DIR\" && unshare -m sh -c 'mount -t tmpfs none /proc && "
				 "LD_LIBRARY_PATH=" ZUNDER_PLUGIN_DIR " exec $ZUNDER -m broken'",
				 {"DIR=" + dir, plugin_dir}),
		       want, plugin_dir);
	std::filesystem::remove_all(dir);
}

} // namespace
