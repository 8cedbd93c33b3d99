// SPDX-License-Identifier: GPL-2.0-or-later
// zunder --kernel against the running kernel: what only the kernel judges,
// how its answers are reported, and the calling namespace's tables left
// alone.  Each test runs in a network namespace of its own, and skips where
// the machine cannot judge rules.
#include "kernel.h"
#include "table.h"
#include "zunder_run.h"

#include <gtest/gtest.h>

#include <sched.h>
#include <unistd.h>

#include <cstring>
#include <fstream>

namespace {

using ztest::run_result;
using namespace std::string_literals;

const std::string ah_spi_one = "01000000010000000000000000000000";

// RATEEST "est1" with this interval code and ewmalog 2, then the kernel's
// eight bytes.
std::string est1(const std::string &interval = "00", const std::string &kernel = std::string(16, '0'))
{
	return "65737431" + std::string(24, '0') + interval + "02000000000000" + kernel;
}

// zunder with these words as its arguments.
run_result zunder(const std::string &args, const std::vector<std::string> &env = {})
{
	return ztest::zunder(ztest::words(args), env);
}

std::string write_file(const std::string &name, const std::string &text)
{
	const std::string path = testing::TempDir() + "/" + std::to_string(getpid()) + "-" + name;
	std::ofstream(path) << text;
	return path;
}

void expect(const run_result &r, const run_result &want, const std::string &what = "")
{
	EXPECT_EQ(std::tie(r.status, r.out, r.err), std::tie(want.status, want.out, want.err)) << what;
}

run_result fails(const std::string &message)
{
	return {2, "", "zunder: " + message + "\n"};
}

class Kernel : public ::testing::Test {
protected:
	void SetUp() override
	{
		static const std::string reason = [] {
			if (ztest::emulated())
				return "qemu-arm (user mode) does not pass the packet filter's socket options "
				       "to the kernel"s;
			const run_result r = zunder("--kernel -6 -m ah --block " + ah_spi_one);
			return r.status == 0 ? ""s : r.err;
		}();
		if (!reason.empty())
			GTEST_SKIP() << reason;
		if (unshare(CLONE_NEWNET) != 0)
			GTEST_SKIP() << "no network namespace for the test: " << std::strerror(errno);
	}
};

TEST_F(Kernel, RefusesBlocksThatOnlyItJudges)
{
	// Inversion bit 4 and interval codes 4 and -3; the host alone lists them.
	for (const std::string &rule :
	     {"-6 -m ah --block 00000000ffffffff0000000000040000"s, "-j RATEEST --block " + est1("04"),
	      "-j RATEEST --block " + est1("fd")}) {
		expect(zunder("--kernel " + rule), fails("the kernel refused the rule: Invalid argument"),
		       rule);
		EXPECT_EQ(zunder(rule).status, 0) << rule;
	}
	// The host refuses a block of the wrong length before the kernel.
	expect(zunder("--kernel -6 -m ah --block 0000"),
	       fails("--block for match \"ah\" needs exactly 16 bytes as 32 hexadecimal digits"));
}

TEST_F(Kernel, BatchNamesTheRefusedLineAndCheckReportsIt)
{
	// The kernel's bytes 24 to 31 come back as zeros, neither listed nor compared.
	const std::string path =
		write_file("kernel.rules", "-6 -m ah --block " + ah_spi_one + "\n-j RATEEST --block " +
						   est1("00", "0123456789abcdef") + "\n-j RATEEST --block " +
						   est1("04") + "\n");
	expect(zunder("--kernel --batch " + path),
	       {2,
		"kernel " + ah_spi_one + "\nlist ah spi:1\nsave --ahspi 1\nkernel " + est1().substr(0, 48) +
			"\nlist name est1 interval 1.0s ewmalog 4.0s\n"
			"save --rateest-name est1 --rateest-interval 1.0s --rateest-ewmalog 4.0s\n",
		"zunder: line 3: the kernel refused the rule: Invalid argument\n"});
	expect(zunder("--kernel --check " + path),
	       {1,
		"line 3: block " + est1("04") +
			", the kernel refused the rule: Invalid argument\n"
			"rules checked: 3, not parsing: 0, not reading back: 1\n",
		""});
	unlink(path.c_str());
}

TEST_F(Kernel, SaysWhatItNeedsWhenItCannotMakeANamespace)
{
	if (ztest::run_shell("command -v unshare && unshare -U true").status != 0)
		GTEST_SKIP() << "no unshare -U here";
	// A user namespace without a user mapping leaves it no capabilities.
	expect(ztest::run_shell("unshare -U $ZUNDER --kernel -6 -m ah --ahspi 1"),
	       fails("--kernel needs a network namespace of its own, which takes root "
		     "(CAP_SYS_ADMIN): Operation not permitted"));
}

// A batch makes one namespace, so that it runs under a low limit on them
// (the kernel frees one late); each rule still meets the kernel afresh, so
// the same estimator name with other parameters is no clash.  The limit is
// set in a user namespace made for it.
TEST_F(Kernel, ABatchNeedsOneNamespace)
{
	if (ztest::run_shell("unshare -U -r -n true").status != 0)
		GTEST_SKIP() << "no user namespace with its own limits here (unshare -U -r -n)";
	const std::string estimator = "RATEEST --rateest-name est1 --rateest-interval ";
	std::string rules;
	for (int i = 1; i <= 30; ++i)
		rules += i % 3 == 0   ? "-6 -m ah --ahspi " + std::to_string(i) + "\n"
			 : i % 2 == 0 ? "-j " + estimator + "1s --rateest-ewmalog 4s\n"
				      : "-6 -j " + estimator + "2s --rateest-ewmalog 8s\n";
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
	expect(limited(2, "--check " + path),
	       {0, "rules checked: 30, not parsing: 0, not reading back: 0\n", ""});
	// The shell's namespace is the one the limit allows.
	expect(limited(1, "-6 -m ah --ahspi 1"),
	       fails("--kernel needs a network namespace of its own, and this user may make no more (the "
		     "limit /proc/sys/user/max_net_namespaces is reached): No space left on device"));
	unlink(path.c_str());
}

TEST_F(Kernel, NamesAMissingClauseOrRevision)
{
	expect(zunder("--kernel -m broken", {"ZUNDER_PLUGIN_DIR=" ZUNDER_TEST_PLUGIN_DIR}),
	       fails("the kernel has no match \"broken\" for IPv4"));
	std::vector<unsigned char> ah(16);
	ah[0] = ah[4] = 1;
	EXPECT_EQ(kernel::load_rule({zunder::clause_kind::match, "ah", 200, ZU_FAMILY_IPV6, ah}).message,
		  "the kernel has no revision 200 of match \"ah\" for IPv6");
}

// With a rule in each of this namespace's tables, zunder --kernel leaves them alone.
TEST_F(Kernel, LeavesTheCallingNamespacesTablesAlone)
{
	std::vector<unsigned char> ah(16), connlabel(8);
	ah[0] = ah[4] = 1;
	connlabel[0] = 5;
	const auto match = zunder::clause_kind::match;
	ASSERT_EQ(kernel::load_rule({match, "connlabel", 0, ZU_FAMILY_IPV4, connlabel}).message, "");
	ASSERT_EQ(kernel::load_rule({match, "ah", 0, ZU_FAMILY_IPV6, ah}).message, "");
	const auto tables = [] {
		std::vector<unsigned char> ipv4, ipv6;
		EXPECT_EQ(kernel::table_bytes(ZU_FAMILY_IPV4, ipv4).message, "");
		EXPECT_EQ(kernel::table_bytes(ZU_FAMILY_IPV6, ipv6).message, "");
		return std::pair(ipv4, ipv6);
	};
	const auto before = tables();
	const std::string path =
		write_file("alone.rules",
			   "-m policy --dir in --pol none\n-6 -j RATEEST --block " + est1() + "\n");
	for (const std::string &args :
	     {"-m policy --dir out"s, "-6 -m ah --ahspi 7"s, "--batch " + path, "--check " + path})
		EXPECT_EQ(zunder("--kernel " + args).status, 0) << args;
	EXPECT_EQ(zunder("--kernel -6 -m ah --block 00000000ffffffff0000000000040000").status, 2);
	unlink(path.c_str());
	EXPECT_EQ(tables(), before);
}

} // namespace
