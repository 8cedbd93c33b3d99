// SPDX-License-Identifier: GPL-2.0-or-later
// The ah clause, one case a line (see tests/support/rule_table.h).
#include "rule_table.h"

#include <gtest/gtest.h>

namespace {

using namespace ztest;

std::string range(const std::string &arg)
{
	return host_says::range("ah", "--ahspi", arg);
}

std::string length(const std::string &arg)
{
	return host_says::number("ah", "--ahlen", arg);
}

const std::string digits(5000, '9');

// clang-format off
const std::vector<option_row> options = {
	{"--ahspi", "1", true, false, false},
	{"--ahlen", "1", true, false, false},
	{"--ahres", "", false, false, false},
};

const std::vector<row> rows = {
	ok("-6 -m ah --ahspi 500", "f4010000f40100000000000000000000", " ah spi:500", " --ahspi 500"),
	ok("-6 -m ah --ahspi 7", "07000000070000000000000000000000", " ah spi:7", " --ahspi 7"),
	ok("-6 -m ah ! --ahspi 100:200 --ahlen 24 --ahres", "64000000c80000001800000001010000", " ah spis:!100:200 length:24 reserved", " ! --ahspi 100:200 --ahlen 24 --ahres"),
	ok("-6 -m ah --ahspi 0:4294967295 ! --ahlen 0", "00000000ffffffff0000000000020000", " ah length:!0", " ! --ahlen 0"),
	ok("-6 -m ah ! --ahspi 0:4294967295", "00000000ffffffff0000000000010000", " ah spis:!0:4294967295", " ! --ahspi 0:4294967295"),
	ok("-6 -m ah --ahspi 0x10:0X20", "10000000200000000000000000000000", " ah spis:16:32", " --ahspi 16:32"),
	ok("-6 -m ah --ahspi 200:100", "c8000000640000000000000000000000", " ah spis:200:100", " --ahspi 200:100"),
	// Without --ahspi the clause puts no limit on the SPI; an explicit SPI 0 stays a restriction to SPI 0.
	ok("-6 -m ah --ahlen 24", "00000000ffffffff1800000000000000", " ah length:24", " --ahlen 24"),
	ok("-6 -m ah --ahlen 4294967295", "00000000ffffffffffffffff00000000", " ah length:4294967295", " --ahlen 4294967295"),
	ok("-6 -m ah", "00000000ffffffff0000000000000000", " ah ", ""),
	ok("-6 -m ah --ahres", "00000000ffffffff0000000001000000", " ah  reserved", " --ahres"),
	ok("-6 -m ah --ahspi 0", "00000000000000000000000000000000", " ah spi:0", " --ahspi 0"),
	// Blocks read back: two blanks before "reserved", flags the clause does not know, another host's zero fill.
	prints("-6 -m ah --block 00000000ffffffff0000000001000000", " ah  reserved", " --ahres"),
	prints("-6 -m ah --block 00000000ffffffff0000000000040000", " ah  Unknown invflags: 0x4", ""),
	prints("-6 -m ah --block 05000000050000001800000000070000", " ah spi:!5 length:!24 Unknown invflags: 0x4", " ! --ahspi 5 ! --ahlen 24"),
	prints("-6 -m ah --block 00000000000000000000000000000000", " ah spi:0", " --ahspi 0"),
	no("-6 -m ah --block 00", "--block for match \"ah\" needs exactly 16 bytes as 32 hexadecimal digits"),
	no("-4 -m ah --ahspi 1", "match \"ah\" serves IPv6 only: give -6 before -m (-6 -m ah)"),
	no("-m ah -6 --ahspi 5", "match \"ah\" serves IPv6 only: give -6 before -m (-6 -m ah)"),
	// Numbers out of range or malformed.
	no("-6 -m ah --ahspi abc", range("abc")),
	no("-6 -m ah --ahspi 4294967296", range("4294967296")),
	no("-6 -m ah --ahspi 1:", range("1:")),
	no("-6 -m ah --ahspi -1", range("-1")),
	no("-6 -m ah --ahspi \"\"", range("")),
	no("-6 -m ah --ahspi :5", range(":5")),
	no("-6 -m ah --ahspi 1:2:3", range("1:2:3")),
	no("-6 -m ah --ahspi 1:4294967296", range("1:4294967296")),
	no("-6 -m ah --ahspi 0x:1", range("0x:1")),
	no("-6 -m ah --ahspi 1-2", range("1-2")),
	no("-6 -m ah --ahspi \xff", range("\xff")),
	no("-6 -m ah --ahlen \"\"", length("")),
	no("-6 -m ah --ahlen \" 5\"", length(" 5")),
	no("-6 -m ah --ahlen \"5 \"", length("5 ")),
	no("-6 -m ah --ahlen 4294967296", length("4294967296")),
	no("-6 -m ah --ahlen 0x100000000", length("0x100000000")),
	no("-6 -m ah --ahlen 0x", length("0x")),
	no("-6 -m ah --ahlen 1.5", length("1.5")),
	no("-6 -m ah --ahlen +1", length("+1")),
	no("-6 -m ah --ahlen " + digits, length(digits)),
	no("-6 -m ah --ahlen \xd9\xa5", length("\xd9\xa5")), // a non-ASCII digit
	// Words that are no option; a type-0 option takes no argument, so the next word is read as an option.
	no("-6 -m ah ahspi 1", host_says::unknown("ah", "ahspi")),
	no("-6 -m ah -ahspi 1", host_says::unknown("ah", "-ahspi")),
	no("-6 -m ah --", host_says::unknown("ah", "--")),
	no("-6 -m ah --AHSPI 1", host_says::unknown("ah", "--AHSPI")),
	no("-6 -m ah --ahspi=1", host_says::unknown("ah", "--ahspi=1")),
	no("-6 -m ah --ah\xc3\xa9", host_says::unknown("ah", "--ah\xc3\xa9")),
	no("-6 -m ah \"\"", host_says::unknown("ah", "")),
	no("-6 -m ah --ahres 1", host_says::unknown("ah", "1")),
	no("-6 -m ah ! ! --ahspi 1", host_says::unknown("ah", "!")),
	no("-6 -m ah ! --bogus", host_says::unknown("ah", "--bogus")),
	no("-6 -m ah --ahspi 1 !", host_says::bang_alone("ah")),
	// A repeat, also a negated one, and a missing argument after "!".
	no("-6 -m ah --ahspi 1 --ahspi 2", host_says::once("ah", "--ahspi")),
	no("-6 -m ah --ahspi 1 ! --ahspi 1", host_says::once("ah", "--ahspi")),
	no("-6 -m ah ! --ahspi", host_says::needs_argument("ah", "--ahspi")),
	help("-6 -m ah -h", "ah match options:\n[!] --ahspi spi[:spi]          match spi (range)\n[!] --ahlen length             total length of this header\n --ahres                       check the reserved field too\n"),
};
// clang-format on

TEST(Ah, Table)
{
	check_table(rows);
}

TEST(Ah, Grammar)
{
	check_table(grammar_rows("-6 -m ah", "", options));
}

} // namespace
