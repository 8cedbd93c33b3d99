// SPDX-License-Identifier: GPL-2.0-or-later
// What the ipv6header table (ipv6header.cases) cannot hold: every header
// mask in each of its four forms, and the machine's own protocol database.
// The block: the header mask, the negation flag, the soft flag.
#include "zunder_run.h"

#include <gtest/gtest.h>
#include <netdb.h>
#include <unistd.h>

#include <cstdio>

namespace {

using namespace ztest;

struct mask_row {
	unsigned mask;
	const char *names;
};
const mask_row masks[] = {
#include "ipv6header_masks.inc"
};

// Runs zunder with `mode` (--batch, --check) on a file holding `lines`.
run_result run_lines(std::vector<std::string> mode, const std::string &lines,
		     const std::vector<std::string> &env = {})
{
	char path[] = "/tmp/ipv6header_test.XXXXXX";
	const int fd = mkstemp(path);
	const bool written =
		fd >= 0 && write(fd, lines.data(), lines.size()) == static_cast<ssize_t>(lines.size());
	close(fd);
	const run_result r = written ? (mode.push_back(path), zunder(mode, env)) : run_result{};
	unlink(path);
	return r;
}

// Every mask plain, negated, soft and both, in one batch, its headers given
// as save writes them: the options give the block, which saves as the same
// options; --check reads each back, and --kernel --check where it can.
TEST(Ipv6header, EveryMask)
{
	std::string lines, wanted;
	for (const mask_row &m : masks)
		for (const bool soft : {false, true})
			for (const bool invert : {false, true}) {
				char hex[17];
				std::snprintf(hex, sizeof hex, "%02x%s%s0000000000", m.mask,
					      invert ? "ff" : "00", soft ? "ff" : "00");
				const std::string options = std::string(invert ? " !" : "") + " --header " +
							    m.names + (soft ? " --soft" : "");
				lines += "-6 -m ipv6header" + options + "\n";
				wanted += std::string("block ") + hex +
					  "\nlist ipv6header flags:" + (invert ? "!" : "") + m.names +
					  (soft ? " soft" : "") + "\nsave" + options + "\n";
			}
	const run_result batch = run_lines({"--batch"}, lines);
	EXPECT_EQ(batch.status, 0) << batch.err;
	EXPECT_EQ(batch.out, wanted);
	const run_result check = run_lines({"--check"}, lines);
	EXPECT_EQ(check.out, "rules checked: 1020, not parsing: 0, not reading back: 0\n") << check.err;
	if (emulated())
		GTEST_SKIP() << "not through the kernel: user-mode qemu does not pass the packet filter's "
				"socket options on";
	const run_result kernel = run_lines({"--kernel", "--check"}, lines);
	if (kernel.status == 2 && kernel.out.empty())
		GTEST_SKIP() << "not through the kernel: " << kernel.err;
	EXPECT_EQ(kernel.out, check.out) << kernel.err;
}

// The machine's own database: the listing writes its names for the header
// numbers, and those names select the headers.
TEST(Ipv6header, MachineDatabase)
{
	if (getprotobynumber(50) == nullptr)
		GTEST_SKIP() << "this machine has no protocol database (/etc/protocols, Debian package "
				"netbase) or it lacks protocol 50";
	const struct {
		int number;
		const char *builtin, *bit;
	} headers[] = {{0, "hop-by-hop", "80"}, {60, "dst", "40"},      {43, "route", "20"},
		       {44, "frag", "10"},      {51, "auth", "08"},     {50, "esp", "04"},
		       {59, "none", "02"},      {255, "protocol", "01"}};
	std::string all, lines, wanted;
	for (const auto &h : headers) {
		const protoent *entry = h.number != 0 ? getprotobynumber(h.number) : nullptr;
		const std::string name = entry ? entry->p_name : h.builtin;
		all += (all.empty() ? "" : ",") + name;
		const std::string out = std::string("block ") + h.bit +
					"00000000000000\nlist ipv6header flags:" + name + "\nsave --header " +
					name + "\n";
		lines += "-6 -m ipv6header --header " + std::to_string(h.number) +
			 "\n-6 -m ipv6header --header " + name + "\n";
		wanted += out + out;
	}
	lines +=
		"-6 -m ipv6header --block ff00000000000000\n-6 -m ipv6header --header 0,60,43,44,51,50,59,255\n";
	const std::string listed = "list ipv6header flags:" + all + "\nsave --header " + all + "\n";
	wanted += listed + "block ff00000000000000\n" + listed;
	const run_result batch = run_lines({"--batch"}, lines, system_protocols);
	EXPECT_EQ(batch.status, 0) << batch.err;
	EXPECT_EQ(batch.out, wanted);
	if (const protoent *tcp = getprotobyname("tcp")) {
		const run_result r = zunder({"-6", "-m", "ipv6header", "--header", "tcp"}, system_protocols);
		EXPECT_EQ(r.err, "zunder: unknown header `" + std::to_string(tcp->p_proto) + "' specified\n");
	}
}

} // namespace
