// SPDX-License-Identifier: GPL-2.0-or-later
// The ipv6header clause, one case a line (see tests/support/rule_table.h).
// The block: the header mask, the negation flag, the soft flag.
#include "rule_table.h"

#include <gtest/gtest.h>
#include <netdb.h>

#include <cstdio>

namespace {

using namespace ztest;

const std::string cannot_parse = "qeb_ipv6header: cannot parse header names";
std::string many_tokens_text()
{
	std::string text;
	for (int i = 0; i < 1000; ++i)
		text += "dst,,hop,";
	return text;
}
const std::string many_tokens = many_tokens_text();

// clang-format off
const std::vector<option_row> options = {
	{"--header", "hop", true, false, true},
	{"--soft", "", false, false, false},
};

const std::vector<row> rows = {
	ok("-6 -m ipv6header --header hop,dst", "c000000000000000", " ipv6header flags:hop-by-hop,ipv6-opts", " --header hop-by-hop,ipv6-opts"),
	ok("-6 -m ipv6header --header dst,hop", "c000000000000000", " ipv6header flags:hop-by-hop,ipv6-opts", " --header hop-by-hop,ipv6-opts"),
	ok("-6 -m ipv6header --header ,hop,,dst,", "c000000000000000", " ipv6header flags:hop-by-hop,ipv6-opts", " --header hop-by-hop,ipv6-opts"),
	ok("-6 -m ipv6header --header hop,hop-by-hop,0", "8000000000000000", " ipv6header flags:hop-by-hop", " --header hop-by-hop"),
	ok("-6 -m ipv6header --header prot", "0100000000000000", " ipv6header flags:protocol", " --header protocol"),
	ok("-6 -m ipv6header --header 255", "0100000000000000", " ipv6header flags:protocol", " --header protocol"),
	ok("-6 -m ipv6header --header none,esp,auth,frag,route,dst,hop,prot", "ff00000000000000", " ipv6header flags:hop-by-hop,ipv6-opts,ipv6-route,ipv6-frag,ah,esp,ipv6-nonxt,protocol", " --header hop-by-hop,ipv6-opts,ipv6-route,ipv6-frag,ah,esp,ipv6-nonxt,protocol"),
	ok("-6 -m ipv6header --header 0,60,43,44,51,50,59,255", "ff00000000000000", " ipv6header flags:hop-by-hop,ipv6-opts,ipv6-route,ipv6-frag,ah,esp,ipv6-nonxt,protocol", " --header hop-by-hop,ipv6-opts,ipv6-route,ipv6-frag,ah,esp,ipv6-nonxt,protocol"),
	ok("-6 -m ipv6header ! --header esp", "04ff000000000000", " ipv6header flags:!esp", " ! --header esp"),
	ok("-6 -m ipv6header --soft --header none", "0200ff0000000000", " ipv6header flags:ipv6-nonxt soft", " --header ipv6-nonxt --soft"),
	ok("-6 -m ipv6header ! --header route,frag --soft", "30ffff0000000000", " ipv6header flags:!ipv6-route,ipv6-frag soft", " ! --header ipv6-route,ipv6-frag --soft"),
	ok("-6 -m ipv6header --header IPSEC-AH,IPv6-Opts,hopopt", "c800000000000000", " ipv6header flags:hop-by-hop,ipv6-opts,ah", " --header hop-by-hop,ipv6-opts,ah"),
	// Numbers only as the built-in table writes them; names case-sensitive; blanks are part of the token; "proto"
	// only where the database has it; database protocols that are no extension header ("tcp") by number; the
	// first bad token is the one reported.
	no("-6 -m ipv6header --header 58", "unknown header `58' specified"),
	no("-6 -m ipv6header --header hop,58,dst", "unknown header `58' specified"),
	no("-6 -m ipv6header --header tcp", "unknown header `6' specified"),
	no("-6 -m ipv6header --header hop,tcp,dst", "unknown header `6' specified"),
	no("-6 -m ipv6header --header proto", "unknown header `proto' specified"),
	no("-6 -m ipv6header --header hop,proto,dst", "unknown header `proto' specified"),
	no("-6 -m ipv6header --header HOP", "unknown header `HOP' specified"),
	no("-6 -m ipv6header --header hop,HOP,dst", "unknown header `HOP' specified"),
	no("-6 -m ipv6header --header \" hop\"", "unknown header ` hop' specified"),
	no("-6 -m ipv6header --header \"hop, hop,dst\"", "unknown header ` hop' specified"),
	no("-6 -m ipv6header --header \"hop \"", "unknown header `hop ' specified"),
	no("-6 -m ipv6header --header \"hop,hop ,dst\"", "unknown header `hop ' specified"),
	no("-6 -m ipv6header --header 060", "unknown header `060' specified"),
	no("-6 -m ipv6header --header hop,060,dst", "unknown header `060' specified"),
	no("-6 -m ipv6header --header 0x3c", "unknown header `0x3c' specified"),
	no("-6 -m ipv6header --header hop,0x3c,dst", "unknown header `0x3c' specified"),
	no("-6 -m ipv6header --header +60", "unknown header `+60' specified"),
	no("-6 -m ipv6header --header hop,+60,dst", "unknown header `+60' specified"),
	no("-6 -m ipv6header --header 256", "unknown header `256' specified"),
	no("-6 -m ipv6header --header hop,256,dst", "unknown header `256' specified"),
	no("-6 -m ipv6header --header -1", "unknown header `-1' specified"),
	no("-6 -m ipv6header --header hop,-1,dst", "unknown header `-1' specified"),
	no("-6 -m ipv6header --header Hop-By-Hop", "unknown header `Hop-By-Hop' specified"),
	no("-6 -m ipv6header --header hop,Hop-By-Hop,dst", "unknown header `Hop-By-Hop' specified"),
	no("-6 -m ipv6header --header \"hop;dst\"", "unknown header `hop;dst' specified"),
	no("-6 -m ipv6header --header \"hop,hop;dst,dst\"", "unknown header `hop;dst' specified"),
	no("-6 -m ipv6header --header \"hop dst\"", "unknown header `hop dst' specified"),
	no("-6 -m ipv6header --header \"hop,hop dst,dst\"", "unknown header `hop dst' specified"),
	no("-6 -m ipv6header --header ipv6-icmp", "unknown header `58' specified"),
	no("-6 -m ipv6header --header hop,ipv6-icmp,dst", "unknown header `58' specified"),
	no("-6 -m ipv6header --header udp", "unknown header `17' specified"),
	no("-6 -m ipv6header --header hop,udp,dst", "unknown header `17' specified"),
	no("-6 -m ipv6header --header dst,58,HOP", "unknown header `58' specified"),
	no("-6 -m ipv6header --header hop,TCP", "unknown header `6' specified"),
	no("-6 -m ipv6header --header \"\"", cannot_parse),
	no("-6 -m ipv6header --header ,", cannot_parse),
	no("-6 -m ipv6header --header ,,,", cannot_parse),
	no("-6 -m ipv6header ! --header , --soft", cannot_parse),
	no("-6 -m ipv6header --soft", host_says::must_be_given("ipv6header", "--header")),
	no("-6 -m ipv6header ! --soft --header hop", host_says::not_negatable("ipv6header", "--soft")),
	no("-6 -m ipv6header --header hop --header dst", host_says::once("ipv6header", "--header")),
	no("-4 -m ipv6header --header hop", "match \"ipv6header\" serves IPv6 only: give -6 before -m (-6 -m ipv6header)"),
	// Odd and long header texts; long tokens are reported whole, whatever their length, also around every
	// plausible bound on the length of a name.
	ok("-6 -m ipv6header --header " + std::string(5000, ',') + "hop" + std::string(5000, ','), "8000000000000000", " ipv6header flags:hop-by-hop", " --header hop-by-hop"),
	ok("-6 -m ipv6header --header " + many_tokens, "c000000000000000", " ipv6header flags:hop-by-hop,ipv6-opts", " --header hop-by-hop,ipv6-opts"),
	no("-6 -m ipv6header --header " + std::string(5000, ','), cannot_parse),
	no(words{"-6", "-m", "ipv6header", "--header", std::string(131000, ',')}, cannot_parse),
	no(words{"-6", "-m", "ipv6header", "--header", std::string(100000, 'a')}, "unknown header `" + std::string(100000, 'a') + "' specified"),
	no(words{"-6", "-m", "ipv6header", "--header", std::string(5000, ',') + "hop," + std::string(100000, 'a') + ",58"}, "unknown header `" + std::string(100000, 'a') + "' specified"),
	no(words{"-6", "-m", "ipv6header", "--header", std::string(100000, 'h') + "op"}, "unknown header `" + std::string(100000, 'h') + "op' specified"),
	no(words{"-6", "-m", "ipv6header", "--header", std::string(5000, ',') + "hop," + std::string(100000, 'h') + "op,58"}, "unknown header `" + std::string(100000, 'h') + "op' specified"),
	no("-6 -m ipv6header --header \"\xff\"", "unknown header `\xff' specified"),
	no("-6 -m ipv6header --header \"" + std::string(5000, ',') + "hop,\xff,58\"", "unknown header `\xff' specified"),
	no("-6 -m ipv6header --header \"d\xc3\xa9st\"", "unknown header `d\xc3\xa9st' specified"),
	no("-6 -m ipv6header --header \"" + std::string(5000, ',') + "hop,d\xc3\xa9st,58\"", "unknown header `d\xc3\xa9st' specified"),
	no("-6 -m ipv6header --header \"hop\x80\"", "unknown header `hop\x80' specified"),
	no("-6 -m ipv6header --header \"" + std::string(5000, ',') + "hop,hop\x80,58\"", "unknown header `hop\x80' specified"),
	no("-6 -m ipv6header --header \"\x80\x81\xfe\xff\"", "unknown header `\x80\x81\xfe\xff' specified"),
	no("-6 -m ipv6header --header \"" + std::string(5000, ',') + "hop,\x80\x81\xfe\xff,58\"", "unknown header `\x80\x81\xfe\xff' specified"),
	no("-6 -m ipv6header --header \" \"", "unknown header ` ' specified"),
	no("-6 -m ipv6header --header \"" + std::string(5000, ',') + "hop, ,58\"", "unknown header ` ' specified"),
	no("-6 -m ipv6header --header \"\t\"", "unknown header `\\x09' specified"),
	no("-6 -m ipv6header --header \"" + std::string(5000, ',') + "hop,\t,58\"", "unknown header `\\x09' specified"),
	no(words{"-6", "-m", "ipv6header", "--header", "hop\ndst"}, "unknown header `hop\\x0adst' specified"),
	no(words{"-6", "-m", "ipv6header", "--header", std::string(5000, ',') + "hop,hop\ndst,58"}, "unknown header `hop\\x0adst' specified"),
	no(words{"-6", "-m", "ipv6header", "--header", many_tokens + std::string(100000, 'a') + ",dst"}, "unknown header `" + std::string(100000, 'a') + "' specified"),
	no("-6 -m ipv6header --header esp,p", "unknown header `p' specified"),
	no("-6 -m ipv6header --header esp," + std::string(63, 'p'), "unknown header `" + std::string(63, 'p') + "' specified"),
	no("-6 -m ipv6header --header esp," + std::string(127, 'p'), "unknown header `" + std::string(127, 'p') + "' specified"),
	no("-6 -m ipv6header --header esp," + std::string(128, 'p'), "unknown header `" + std::string(128, 'p') + "' specified"),
	no("-6 -m ipv6header --header esp," + std::string(129, 'p'), "unknown header `" + std::string(129, 'p') + "' specified"),
	no("-6 -m ipv6header --header esp," + std::string(250, 'p'), "unknown header `" + std::string(250, 'p') + "' specified"),
	no("-6 -m ipv6header --header esp," + std::string(254, 'p'), "unknown header `" + std::string(254, 'p') + "' specified"),
	no("-6 -m ipv6header --header esp," + std::string(255, 'p'), "unknown header `" + std::string(255, 'p') + "' specified"),
	no("-6 -m ipv6header --header esp," + std::string(256, 'p'), "unknown header `" + std::string(256, 'p') + "' specified"),
	no("-6 -m ipv6header --header esp," + std::string(257, 'p'), "unknown header `" + std::string(257, 'p') + "' specified"),
	no("-6 -m ipv6header --header esp," + std::string(258, 'p'), "unknown header `" + std::string(258, 'p') + "' specified"),
	no("-6 -m ipv6header --header esp," + std::string(511, 'p'), "unknown header `" + std::string(511, 'p') + "' specified"),
	no("-6 -m ipv6header --header esp," + std::string(512, 'p'), "unknown header `" + std::string(512, 'p') + "' specified"),
	no("-6 -m ipv6header --header esp," + std::string(513, 'p'), "unknown header `" + std::string(513, 'p') + "' specified"),
	no("-6 -m ipv6header --header esp," + std::string(1023, 'p'), "unknown header `" + std::string(1023, 'p') + "' specified"),
	no("-6 -m ipv6header --header esp," + std::string(1024, 'p'), "unknown header `" + std::string(1024, 'p') + "' specified"),
	no("-6 -m ipv6header --header esp," + std::string(1025, 'p'), "unknown header `" + std::string(1025, 'p') + "' specified"),
	no("-6 -m ipv6header --header esp," + std::string(4096, 'p'), "unknown header `" + std::string(4096, 'p') + "' specified"),
	// Blocks read back: mask 0 cannot come from parsing but is still named; any non-zero flag byte counts; the
	// unused bytes are not read.
	prints("-6 -m ipv6header --block c0ffff0000000000", " ipv6header flags:!hop-by-hop,ipv6-opts soft", " ! --header hop-by-hop,ipv6-opts --soft"),
	prints("-6 -n -m ipv6header --block c0ffff0000000000", " ipv6header flags:!0xC0 soft", " ! --header hop-by-hop,ipv6-opts --soft"),
	prints("-6 -m ipv6header --block 0100000000000000", " ipv6header flags:protocol", " --header protocol"),
	prints("-6 -n -m ipv6header --block 0100000000000000", " ipv6header flags:0x01", " --header protocol"),
	prints("-6 -m ipv6header --block 3000000000000000", " ipv6header flags:ipv6-route,ipv6-frag", " --header ipv6-route,ipv6-frag"),
	prints("-6 -n -m ipv6header --block 3000000000000000", " ipv6header flags:0x30", " --header ipv6-route,ipv6-frag"),
	prints("-6 -m ipv6header --block ff00000000000000", " ipv6header flags:hop-by-hop,ipv6-opts,ipv6-route,ipv6-frag,ah,esp,ipv6-nonxt,protocol", " --header hop-by-hop,ipv6-opts,ipv6-route,ipv6-frag,ah,esp,ipv6-nonxt,protocol"),
	prints("-6 -n -m ipv6header --block ff00000000000000", " ipv6header flags:0xFF", " --header hop-by-hop,ipv6-opts,ipv6-route,ipv6-frag,ah,esp,ipv6-nonxt,protocol"),
	prints("-6 -m ipv6header --block 0000000000000000", " ipv6header", " --header NONE"),
	prints("-6 -n -m ipv6header --block 0000000000000000", " ipv6header", " --header NONE"),
	prints("-6 -m ipv6header --block 00ff000000000000", " ipv6header flags:!NONE", " ! --header NONE"),
	prints("-6 -n -m ipv6header --block 00ff000000000000", " ipv6header flags:!0x00", " ! --header NONE"),
	prints("-6 -m ipv6header --block 0000ff0000000000", " ipv6header soft", " --header NONE --soft"),
	prints("-6 -n -m ipv6header --block 0000ff0000000000", " ipv6header soft", " --header NONE --soft"),
	prints("-6 -m ipv6header --block c00101ffffffffff", " ipv6header flags:!hop-by-hop,ipv6-opts soft", " ! --header hop-by-hop,ipv6-opts --soft"),
	prints("-6 -n -m ipv6header --block c00101ffffffffff", " ipv6header flags:!0xC0 soft", " ! --header hop-by-hop,ipv6-opts --soft"),
	no("-6 -m ipv6header --block 00", "--block for match \"ipv6header\" needs exactly 8 bytes as 16 hexadecimal digits"),
	// Words that are no option, repeats even of the same list or negated, and --soft cannot stand in for the list.
	no("-6 -m ipv6header --headers hop", host_says::unknown("ipv6header", "--headers")),
	no("-6 -m ipv6header --header hop dst", host_says::unknown("ipv6header", "dst")),
	no("-6 -m ipv6header --soft --header hop --soft=1", host_says::unknown("ipv6header", "--soft=1")),
	no("-6 -m ipv6header ! ! --header hop", host_says::unknown("ipv6header", "!")),
	no("-6 -m ipv6header \"--\xe2\x80\x94header\" hop", host_says::unknown("ipv6header", "--\xe2\x80\x94header")),
	no("-6 -m ipv6header --header hop ! --header dst", host_says::once("ipv6header", "--header")),
	no("-6 -m ipv6header ! --header", host_says::needs_argument("ipv6header", "--header")),
	no("-6 -m ipv6header --soft --header", host_says::needs_argument("ipv6header", "--header")),
	help("-6 -m ipv6header -h", "ipv6header match options:\n[!] --header headers     Type of header to match, by name\n                         names: hop,dst,route,frag,auth,esp,none,proto\n                    long names: hop-by-hop,ipv6-opts,ipv6-route,\n                                ipv6-frag,ah,esp,ipv6-nonxt,protocol\n                       numbers: 0,60,43,44,51,50,59\n--soft                    The header CONTAINS the specified extensions\n"),
};

// With a protocol database that knows nothing, only the built-in table names headers, both ways.
const std::vector<row> without_database = {
	prints("-6 -m ipv6header --block ff00000000000000", " ipv6header flags:hop-by-hop,dst,route,frag,auth,esp,none,protocol", " --header hop-by-hop,dst,route,frag,auth,esp,none,protocol"),
	prints("-6 -m ipv6header --block 3000000000000000", " ipv6header flags:route,frag", " --header route,frag"),
	ok("-6 -m ipv6header --header esp,auth,60", "4c00000000000000", " ipv6header flags:dst,auth,esp", " --header dst,auth,esp"),
	ok("-6 -m ipv6header ! --header 0,60,43,44,51,50,59,255", "ffff000000000000", " ipv6header flags:!hop-by-hop,dst,route,frag,auth,esp,none,protocol", " ! --header hop-by-hop,dst,route,frag,auth,esp,none,protocol"),
	ok("-6 -m ipv6header ! --header hop-by-hop,dst,route,frag,auth,esp,none,protocol", "ffff000000000000", " ipv6header flags:!hop-by-hop,dst,route,frag,auth,esp,none,protocol", " ! --header hop-by-hop,dst,route,frag,auth,esp,none,protocol"),
	no("-6 -m ipv6header --header tcp", "unknown header `tcp' specified"),
	no("-6 -m ipv6header --header proto", "unknown header `proto' specified"),
	no("-6 -m ipv6header --header ah", "unknown header `ah' specified"),
	no("-6 -m ipv6header --header ipv6-opts", "unknown header `ipv6-opts' specified"),
	no("-6 -m ipv6header --header hopopt", "unknown header `hopopt' specified"),
};

// A protocol database whose names a shell or the batch reader would act on, or that no saved line carries
// (tests/support/protocol_table.c): saved quoted, or by the built-in name where a name holds a control byte, a byte
// outside valid UTF-8 or a comma; read back through the batch reader (every row), --check and a shell, where nothing
// runs.
const std::vector<row> hostile_names = {
	ok("-6 -m ipv6header --header 51", "0800000000000000", " ipv6header flags:ah;touch${IFS}ran;:", " --header 'ah;touch${IFS}ran;:'"),
	ok("-6 -m ipv6header ! --header 50,59,51", "0eff000000000000", " ipv6header flags:!ah;touch${IFS}ran;:,e'sp!x,*", " ! --header 'ah;touch${IFS}ran;:','e'\\''sp!x','*'"),
	ok("-6 -m ipv6header --header \"*\",'ah;touch${IFS}ran;:'", "0a00000000000000", " ipv6header flags:ah;touch${IFS}ran;:,*", " --header 'ah;touch${IFS}ran;:','*'"),
	ok("-6 -m ipv6header --header 60,43,44,0 --soft", "f000ff0000000000", " ipv6header flags:hop-by-hop,ipv6-opts\x01,ipv6-route,x,ipv6-frag\xc3 soft", " --header hop-by-hop,dst,route,frag --soft"),
	gives({"sh", saved_text_through_shell("-6 -m ipv6header ! --header 50,51")}, "", 0, "block 0cff000000000000\nlist ipv6header flags:!ah;touch${IFS}ran;:,e'sp!x\nsave ! --header 'ah;touch${IFS}ran;:','e'\\''sp!x'\n", ""),
	gives({"--check", "FILE"}, "-6 -m ipv6header --header 51\n-6 -m ipv6header --header 50,59\n-6 -m ipv6header --header 60,43,44\n", 0, "rules checked: 3, not parsing: 0, not reading back: 0\n", ""),
};

struct mask_row {
	unsigned mask;
	const char *names;
	where at = where::current();
};
const mask_row masks[] = {
#include "ipv6header_masks.inc"
};
// clang-format on

TEST(Ipv6header, Table)
{
	check_table(rows);
}

TEST(Ipv6header, Grammar)
{
	check_table(grammar_rows("-6 -m ipv6header", "", options));
}

TEST(Ipv6header, HostileProtocolNames)
{
	check_table(hostile_names, hostile_protocols);
}

TEST(Ipv6header, WithoutDatabase)
{
	check_table(without_database, no_protocols);
}

// Every mask, plain, negated, soft and both.  The header list is written as
// save writes it, so the options give the block and the block saves as the
// very same options.
TEST(Ipv6header, EveryMask)
{
	std::vector<row> all;
	for (const mask_row &m : masks)
		for (const unsigned variant : {0u, 1u, 2u, 3u}) {
			const bool invert = variant & 1, soft = variant & 2;
			char hex[17];
			std::snprintf(hex, sizeof hex, "%02x%s%s0000000000", m.mask, invert ? "ff" : "00",
				      soft ? "ff" : "00");
			const std::string options = std::string(invert ? " !" : "") + " --header " + m.names +
						    (soft ? " --soft" : "");
			all.push_back(ok("-6 -m ipv6header" + options, hex,
					 std::string(" ipv6header flags:") + (invert ? "!" : "") + m.names +
						 (soft ? " soft" : ""),
					 options, m.at));
		}
	check_table(all);
}

// Once against the machine's own database: the listing writes its names for
// the header numbers, and those names select the headers.
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
	std::string all;
	std::vector<row> table;
	for (const auto &h : headers) {
		const protoent *entry = h.number != 0 ? getprotobynumber(h.number) : nullptr;
		const std::string name = entry ? entry->p_name : h.builtin;
		all += (all.empty() ? "" : ",") + name;
		table.push_back(ok("-6 -m ipv6header --header " + std::to_string(h.number),
				   std::string(h.bit) + "00000000000000", " ipv6header flags:" + name,
				   " --header " + name));
		table.push_back(ok("-6 -m ipv6header --header " + name, std::string(h.bit) + "00000000000000",
				   " ipv6header flags:" + name, " --header " + name));
	}
	table.push_back(prints("-6 -m ipv6header --block ff00000000000000", " ipv6header flags:" + all,
			       " --header " + all));
	table.push_back(ok("-6 -m ipv6header --header 0,60,43,44,51,50,59,255", "ff00000000000000",
			   " ipv6header flags:" + all, " --header " + all));
	if (const protoent *tcp = getprotobyname("tcp"))
		table.push_back(no("-6 -m ipv6header --header tcp",
				   "unknown header `" + std::to_string(tcp->p_proto) + "' specified"));
	check_table(table, system_protocols);
}

} // namespace
