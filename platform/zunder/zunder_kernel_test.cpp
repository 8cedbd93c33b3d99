// SPDX-License-Identifier: GPL-2.0-or-later
// zunder --kernel against the running kernel: what only the kernel can
// judge, how its answers are reported, and the calling namespace's tables
// left alone.  Each test runs in a network namespace of its own; the tests
// skip where the machine cannot judge rules.
#include "kernel.h"
#include "zunder_run.h"

#include <gtest/gtest.h>

#include <sched.h>
#include <unistd.h>

#include <cstring>
#include <fstream>

namespace {

// A call of zunder refused with exactly "zunder: MESSAGE", exit status 2 and
// nothing on standard output.
struct rejected_rule {
	std::vector<std::string> args;
	std::string message;
};

::testing::AssertionResult rejects(const rejected_rule &rule, const std::vector<std::string> &env = {})
{
	const ztest::run_result r = ztest::zunder(rule.args, env);
	if (r.status == 2 && r.out.empty() && r.err == "zunder: " + rule.message + "\n")
		return ::testing::AssertionSuccess();
	return ::testing::AssertionFailure()
	       << rule.args.back() << " exited " << r.status << "\n  stdout: '" << r.out << "'\n  stderr: '"
	       << r.err << "'\n  wanted: " << rule.message;
}

using ztest::zunder;

const std::string ah_spi_one = "01000000010000000000000000000000";
// RATEEST "est1", interval code 0, ewmalog 2; then the kernel's eight bytes.
const std::string est1_head = "65737431000000000000000000000000";
const std::string est1 = est1_head + "0002000000000000" + "0000000000000000";

std::vector<unsigned char> bytes_of(const std::string &hex)
{
	std::vector<unsigned char> bytes;
	for (size_t i = 0; i + 1 < hex.size(); i += 2)
		bytes.push_back(static_cast<unsigned char>(std::stoul(hex.substr(i, 2), nullptr, 16)));
	return bytes;
}

std::string write_file(const std::string &name, const std::string &text)
{
	const std::string path = testing::TempDir() + "/" + std::to_string(getpid()) + "-" + name;
	std::ofstream(path) << text;
	return path;
}

// Why this machine cannot put rules through the kernel; empty if it can.
std::string cannot_judge()
{
	if (ztest::emulated())
		return "qemu-arm (user mode) does not pass the packet filter's socket options to the kernel";
	const ztest::run_result r = zunder({"--kernel", "-6", "-m", "ah", "--block", ah_spi_one});
	return r.status == 0 ? "" : r.err;
}

// Every test in a network namespace of its own, made by the test process, so
// that the tables it loads and reads are never the machine's.
class Kernel : public ::testing::Test {
protected:
	void SetUp() override
	{
		static const std::string reason = cannot_judge();
		if (!reason.empty())
			GTEST_SKIP() << reason;
		if (unshare(CLONE_NEWNET) != 0)
			GTEST_SKIP() << "no network namespace for the test: " << std::strerror(errno);
	}
};

TEST_F(Kernel, RefusesBlocksThatOnlyItJudges)
{
	const std::string refused = "the kernel refused the rule: Invalid argument";
	const rejected_rule rules[] = {
		// Inversion bit 4, which the kernel does not know; the host lists it.
		{{"--kernel", "-6", "-m", "ah", "--block", "00000000ffffffff0000000000040000"}, refused},
		// Interval codes beyond -2..3: 4 and -3.
		{{"--kernel", "-j", "RATEEST", "--block",
		  est1_head + "0402000000000000" + std::string(16, '0')},
		 refused},
		{{"--kernel", "-j", "RATEEST", "--block",
		  est1_head + "fd02000000000000" + std::string(16, '0')},
		 refused},
		// The host refuses a block of the wrong length before the kernel.
		{{"--kernel", "-6", "-m", "ah", "--block", "0000"},
		 "--block for match \"ah\" needs exactly 16 bytes as 32 hexadecimal digits"},
	};
	for (const auto &rule : rules) {
		EXPECT_TRUE(rejects(rule));
		// The host alone lists the block.
		if (rule.message == refused) {
			EXPECT_EQ(zunder({rule.args.begin() + 1, rule.args.end()}).status, 0)
				<< rule.args.back();
		}
	}
}

TEST_F(Kernel, BatchNamesTheRefusedLineAndCheckReportsIt)
{
	const std::string bad_interval = est1_head + "0402000000000000" + std::string(16, '0');
	// Bytes 24 to 31 are the kernel's: they come back as zeros and are
	// neither listed nor compared.
	const std::string kernel_tail = est1_head + "0002000000000000" + "0123456789abcdef";
	const std::string path =
		write_file("kernel.rules", "-6 -m ah --block " + ah_spi_one + "\n-j RATEEST --block " +
						   kernel_tail + "\n-j RATEEST --block " + bad_interval +
						   "\n");
	const std::string est1_listed =
		"list name est1 interval 1.0s ewmalog 4.0s\n"
		"save --rateest-name est1 --rateest-interval 1.0s --rateest-ewmalog 4.0s\n";
	const auto batch = zunder({"--kernel", "--batch", path});
	EXPECT_EQ(batch.status, 2);
	EXPECT_EQ(batch.out, "kernel " + ah_spi_one + "\nlist ah spi:1\nsave --ahspi 1\nkernel " +
				     est1.substr(0, 48) + "\n" + est1_listed);
	EXPECT_EQ(batch.err, "zunder: line 3: the kernel refused the rule: Invalid argument\n");

	const auto check = zunder({"--kernel", "--check", path});
	EXPECT_EQ(check.status, 1);
	EXPECT_EQ(check.out, "line 3: block " + bad_interval +
				     ", the kernel refused the rule: Invalid argument\n"
				     "rules checked: 3, not parsing: 0, not reading back: 1\n");
	EXPECT_EQ(check.err, "");
	unlink(path.c_str());
}

TEST_F(Kernel, SaysWhatItNeedsWhenItCannotMakeANamespace)
{
	// In a user namespace of its own without a user mapping, the command
	// runs without capabilities.
	if (ztest::run_shell("command -v unshare && unshare -U true").status != 0)
		GTEST_SKIP() << "no unshare -U here";
	const auto r = ztest::run_shell("unshare -U $ZUNDER --kernel -6 -m ah --ahspi 1");
	EXPECT_EQ(r.status, 2);
	EXPECT_EQ(r.out, "");
	EXPECT_EQ(r.err,
		  "zunder: --kernel needs a network namespace of its own, which takes root "
		  "(CAP_SYS_ADMIN): Operation not permitted\n");
}

// A batch makes one namespace, however long, so that it runs under a low
// limit on network namespaces (the kernel frees a namespace some time after
// its last user is gone); each rule still meets the kernel afresh: the same
// estimator name with other parameters on the next line is no clash.  With
// no namespace left the message says which limit was reached.  The limit is
// set in a user namespace made for it, never the machine's own.
TEST_F(Kernel, ABatchNeedsOneNamespace)
{
	if (ztest::run_shell("unshare -U -r -n true").status != 0)
		GTEST_SKIP() << "no user namespace with its own limits here (unshare -U -r -n)";
	std::string rules;
	for (int i = 1; i <= 30; ++i)
		rules +=
			i % 3 == 0 ? "-6 -m ah --ahspi " + std::to_string(i) + "\n"
			: i % 2 == 0
				? "-j RATEEST --rateest-name est1 --rateest-interval 1s --rateest-ewmalog 4s\n"
				: "-6 -j RATEEST --rateest-name est1 --rateest-interval 2s --rateest-ewmalog 8s\n";
	const std::string path = write_file("limit.rules", rules);
	const auto limited = [](int limit, const std::string &command) {
		return ztest::run_shell("unshare -U -r -n sh -c 'echo " + std::to_string(limit) +
					" >/proc/sys/user/max_net_namespaces && $ZUNDER --kernel " + command +
					"'");
	};
	const auto batch = limited(2, "--batch " + path);
	EXPECT_EQ(batch.status, 0) << batch.err;
	size_t kernel_lines = 0;
	for (size_t at = 0; (at = batch.out.find("\nkernel ", at)) != std::string::npos; ++at)
		++kernel_lines;
	EXPECT_EQ(kernel_lines, 30u);
	const auto check = limited(2, "--check " + path);
	EXPECT_EQ(check.status, 0) << check.err;
	EXPECT_EQ(check.out, "rules checked: 30, not parsing: 0, not reading back: 0\n");

	// The namespace the shell runs in is the one the limit allows.
	const auto none_left = limited(1, "-6 -m ah --ahspi 1");
	EXPECT_EQ(none_left.status, 2);
	EXPECT_EQ(none_left.out, "");
	EXPECT_EQ(none_left.err,
		  "zunder: --kernel needs a network namespace of its own, and this user may make no "
		  "more (the limit /proc/sys/user/max_net_namespaces is reached): No space left on "
		  "device\n");
	unlink(path.c_str());
}

TEST_F(Kernel, NamesAMissingClauseOrRevision)
{
	EXPECT_TRUE(rejects({{"--kernel", "-m", "broken"}, "the kernel has no match \"broken\" for IPv4"},
			    {"ZUNDER_PLUGIN_DIR=" ZUNDER_TEST_PLUGIN_DIR}));
	const std::vector<unsigned char> block = bytes_of(ah_spi_one);
	EXPECT_EQ(kernel::load_rule({zunder::clause_kind::match, "ah", 200, ZU_FAMILY_IPV6, block}).message,
		  "the kernel has no revision 200 of match \"ah\" for IPv6");
}

TEST_F(Kernel, LeavesTheCallingNamespacesTablesAlone)
{
	// This namespace's tables, each with a rule of its own.
	const std::vector<unsigned char> connlabel = bytes_of("0500000000000000");
	const std::vector<unsigned char> ah = bytes_of(ah_spi_one);
	ASSERT_EQ(kernel::load_rule({zunder::clause_kind::match, "connlabel", 0, ZU_FAMILY_IPV4, connlabel})
			  .message,
		  "");
	ASSERT_EQ(kernel::load_rule({zunder::clause_kind::match, "ah", 0, ZU_FAMILY_IPV6, ah}).message, "");
	std::vector<unsigned char> ipv4_before, ipv6_before, ipv4_after, ipv6_after;
	ASSERT_EQ(kernel::table_bytes(ZU_FAMILY_IPV4, ipv4_before).message, "");
	ASSERT_EQ(kernel::table_bytes(ZU_FAMILY_IPV6, ipv6_before).message, "");

	const std::string path = write_file("alone.rules",
					    "-m policy --dir in --pol none\n"
					    "-6 -j RATEEST --block " +
						    est1 + "\n");
	EXPECT_EQ(zunder({"--kernel", "-m", "policy", "--dir", "out"}).status, 0);
	EXPECT_EQ(zunder({"--kernel", "-6", "-m", "ah", "--ahspi", "7"}).status, 0);
	EXPECT_EQ(zunder({"--kernel", "--batch", path}).status, 0);
	EXPECT_EQ(zunder({"--kernel", "--check", path}).status, 0);
	EXPECT_EQ(zunder({"--kernel", "-6", "-m", "ah", "--block", "00000000ffffffff0000000000040000"})
			  .status,
		  2);
	unlink(path.c_str());

	ASSERT_EQ(kernel::table_bytes(ZU_FAMILY_IPV4, ipv4_after).message, "");
	ASSERT_EQ(kernel::table_bytes(ZU_FAMILY_IPV6, ipv6_after).message, "");
	EXPECT_EQ(ipv4_before, ipv4_after);
	EXPECT_EQ(ipv6_before, ipv6_after);
}

} // namespace
