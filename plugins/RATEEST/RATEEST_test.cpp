// SPDX-License-Identifier: GPL-2.0-or-later
// The RATEEST target, one case a line (see tests/support/rule_table.h).
// The block: the name in 16 bytes, the interval code (2^c s) and the
// averaging code, then reserved and kernel-owned bytes.
#include "rule_checks.h"
#include "rule_table.h"
#include "zunder_host.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

namespace {

using namespace ztest;

const std::string out_of_range = "RATEEST: ewmalog value is out of range";
const std::string too_large = "RATEEST: interval value is too large";
std::string invalid_name(const std::string &printed)
{
	return "RATEEST: invalid name \"" + printed +
	       "\": a name is UTF-8 text without control characters and without \" \\ $ `";
}

// clang-format off
const std::vector<option_row> options = {
	{"--rateest-name", "e", false, false, true},
	{"--rateest-interval", "1s", false, false, true},
	{"--rateest-ewmalog", "4s", false, false, true},
};

// Names a saved rule carries through a shell and the batch reader alike: nothing runs, expands or
// splits; names that need nothing are saved bare.  Then blocks read back whose names hold bytes no
// saved text carries: listing and saving stay one line each, and the saved text is refused when read
// back, never run or misread.
const std::vector<row> names = {
	ok("-j RATEEST --rateest-name est-1_a.b:c+d=e --rateest-interval 1s --rateest-ewmalog 4s", "6573742d315f612e623a632b643d650000020000000000000000000000000000", " name est-1_a.b:c+d=e interval 1.0s ewmalog 4.0s", " --rateest-name est-1_a.b:c+d=e --rateest-interval 1.0s --rateest-ewmalog 4.0s"),
	ok("-j RATEEST --rateest-name \"caf\xc3\xa9\" --rateest-interval 1s --rateest-ewmalog 4s", "636166c3a9000000000000000000000000020000000000000000000000000000", " name caf\xc3\xa9 interval 1.0s ewmalog 4.0s", " --rateest-name caf\xc3\xa9 --rateest-interval 1.0s --rateest-ewmalog 4.0s"),
	ok("-j RATEEST --rateest-name \"\xe2\x82\xac\xf0\x9f\x98\x80\xf4\x8f\xbf\xbf\" --rateest-interval 1s --rateest-ewmalog 4s", "e282acf09f9880f48fbfbf000000000000020000000000000000000000000000", " name \xe2\x82\xac\xf0\x9f\x98\x80\xf4\x8f\xbf\xbf interval 1.0s ewmalog 4.0s", " --rateest-name \xe2\x82\xac\xf0\x9f\x98\x80\xf4\x8f\xbf\xbf --rateest-interval 1.0s --rateest-ewmalog 4.0s"),
	ok("-j RATEEST --rateest-name %@,/ --rateest-interval 1s --rateest-ewmalog 4s", "25402c2f00000000000000000000000000020000000000000000000000000000", " name %@,/ interval 1.0s ewmalog 4.0s", " --rateest-name %@,/ --rateest-interval 1.0s --rateest-ewmalog 4.0s"),
	ok("-j RATEEST --rateest-name \"\" --rateest-interval 1s --rateest-ewmalog 4s", "0000000000000000000000000000000000020000000000000000000000000000", " name  interval 1.0s ewmalog 4.0s", " --rateest-name '' --rateest-interval 1.0s --rateest-ewmalog 4.0s"),
	ok("-j RATEEST --rateest-name \"a b\" --rateest-interval 1s --rateest-ewmalog 4s", "6120620000000000000000000000000000020000000000000000000000000000", " name a b interval 1.0s ewmalog 4.0s", " --rateest-name 'a b' --rateest-interval 1.0s --rateest-ewmalog 4.0s"),
	ok("-j RATEEST --rateest-name \"it's\" --rateest-interval 1s --rateest-ewmalog 4s", "6974277300000000000000000000000000020000000000000000000000000000", " name it's interval 1.0s ewmalog 4.0s", " --rateest-name 'it'\\''s' --rateest-interval 1.0s --rateest-ewmalog 4.0s"),
	ok("-j RATEEST --rateest-name \"x;true\" --rateest-interval 1s --rateest-ewmalog 4s", "783b747275650000000000000000000000020000000000000000000000000000", " name x;true interval 1.0s ewmalog 4.0s", " --rateest-name 'x;true' --rateest-interval 1.0s --rateest-ewmalog 4.0s"),
	ok("-j RATEEST --rateest-name \"a|b\" --rateest-interval 1s --rateest-ewmalog 4s", "617c620000000000000000000000000000020000000000000000000000000000", " name a|b interval 1.0s ewmalog 4.0s", " --rateest-name 'a|b' --rateest-interval 1.0s --rateest-ewmalog 4.0s"),
	ok("-j RATEEST --rateest-name \"a&b\" --rateest-interval 1s --rateest-ewmalog 4s", "6126620000000000000000000000000000020000000000000000000000000000", " name a&b interval 1.0s ewmalog 4.0s", " --rateest-name 'a&b' --rateest-interval 1.0s --rateest-ewmalog 4.0s"),
	ok("-j RATEEST --rateest-name \"a<b\" --rateest-interval 1s --rateest-ewmalog 4s", "613c620000000000000000000000000000020000000000000000000000000000", " name a<b interval 1.0s ewmalog 4.0s", " --rateest-name 'a<b' --rateest-interval 1.0s --rateest-ewmalog 4.0s"),
	ok("-j RATEEST --rateest-name \"a>b\" --rateest-interval 1s --rateest-ewmalog 4s", "613e620000000000000000000000000000020000000000000000000000000000", " name a>b interval 1.0s ewmalog 4.0s", " --rateest-name 'a>b' --rateest-interval 1.0s --rateest-ewmalog 4.0s"),
	ok("-j RATEEST --rateest-name \"a(b)\" --rateest-interval 1s --rateest-ewmalog 4s", "6128622900000000000000000000000000020000000000000000000000000000", " name a(b) interval 1.0s ewmalog 4.0s", " --rateest-name 'a(b)' --rateest-interval 1.0s --rateest-ewmalog 4.0s"),
	ok("-j RATEEST --rateest-name \"*\" --rateest-interval 1s --rateest-ewmalog 4s", "2a00000000000000000000000000000000020000000000000000000000000000", " name * interval 1.0s ewmalog 4.0s", " --rateest-name '*' --rateest-interval 1.0s --rateest-ewmalog 4.0s"),
	ok("-j RATEEST --rateest-name \"a?\" --rateest-interval 1s --rateest-ewmalog 4s", "613f000000000000000000000000000000020000000000000000000000000000", " name a? interval 1.0s ewmalog 4.0s", " --rateest-name 'a?' --rateest-interval 1.0s --rateest-ewmalog 4.0s"),
	ok("-j RATEEST --rateest-name \"a[1]\" --rateest-interval 1s --rateest-ewmalog 4s", "615b315d00000000000000000000000000020000000000000000000000000000", " name a[1] interval 1.0s ewmalog 4.0s", " --rateest-name 'a[1]' --rateest-interval 1.0s --rateest-ewmalog 4.0s"),
	ok("-j RATEEST --rateest-name \"#x\" --rateest-interval 1s --rateest-ewmalog 4s", "2378000000000000000000000000000000020000000000000000000000000000", " name #x interval 1.0s ewmalog 4.0s", " --rateest-name '#x' --rateest-interval 1.0s --rateest-ewmalog 4.0s"),
	ok("-j RATEEST --rateest-name \"~\" --rateest-interval 1s --rateest-ewmalog 4s", "7e00000000000000000000000000000000020000000000000000000000000000", " name ~ interval 1.0s ewmalog 4.0s", " --rateest-name '~' --rateest-interval 1.0s --rateest-ewmalog 4.0s"),
	ok("-j RATEEST --rateest-name \"~root\" --rateest-interval 1s --rateest-ewmalog 4s", "7e726f6f74000000000000000000000000020000000000000000000000000000", " name ~root interval 1.0s ewmalog 4.0s", " --rateest-name '~root' --rateest-interval 1.0s --rateest-ewmalog 4.0s"),
	ok("-j RATEEST --rateest-name \"{a,b}\" --rateest-interval 1s --rateest-ewmalog 4s", "7b612c627d000000000000000000000000020000000000000000000000000000", " name {a,b} interval 1.0s ewmalog 4.0s", " --rateest-name '{a,b}' --rateest-interval 1.0s --rateest-ewmalog 4.0s"),
	ok("-j RATEEST --rateest-name !x --rateest-interval 1s --rateest-ewmalog 4s", "2178000000000000000000000000000000020000000000000000000000000000", " name !x interval 1.0s ewmalog 4.0s", " --rateest-name '!x' --rateest-interval 1.0s --rateest-ewmalog 4.0s"),
	ok("-j RATEEST --rateest-name a!x --rateest-interval 1s --rateest-ewmalog 4s", "6121780000000000000000000000000000020000000000000000000000000000", " name a!x interval 1.0s ewmalog 4.0s", " --rateest-name 'a!x' --rateest-interval 1.0s --rateest-ewmalog 4.0s"),
	ok("-j RATEEST --rateest-name \"it's!x\" --rateest-interval 1s --rateest-ewmalog 4s", "6974277321780000000000000000000000020000000000000000000000000000", " name it's!x interval 1.0s ewmalog 4.0s", " --rateest-name 'it'\\''s!x' --rateest-interval 1.0s --rateest-ewmalog 4.0s"),
	ok("-j RATEEST --rateest-name \"''\" --rateest-interval 1s --rateest-ewmalog 4s", "2727000000000000000000000000000000020000000000000000000000000000", " name '' interval 1.0s ewmalog 4.0s", " --rateest-name ''\\'''\\''' --rateest-interval 1.0s --rateest-ewmalog 4.0s"),
	ok("-j RATEEST --rateest-name a^b --rateest-interval 1s --rateest-ewmalog 4s", "615e620000000000000000000000000000020000000000000000000000000000", " name a^b interval 1.0s ewmalog 4.0s", " --rateest-name 'a^b' --rateest-interval 1.0s --rateest-ewmalog 4.0s"),
	ok("-j RATEEST --rateest-name -h --rateest-interval 1s --rateest-ewmalog 4s", "2d68000000000000000000000000000000020000000000000000000000000000", " name -h interval 1.0s ewmalog 4.0s", " --rateest-name -h --rateest-interval 1.0s --rateest-ewmalog 4.0s"),
	ok("-j RATEEST --rateest-name ! --rateest-interval 1s --rateest-ewmalog 4s", "2100000000000000000000000000000000020000000000000000000000000000", " name ! interval 1.0s ewmalog 4.0s", " --rateest-name '!' --rateest-interval 1.0s --rateest-ewmalog 4.0s"),
	prints("-j RATEEST --block 4142434445464748494a4b4c4d4e4f2000020000000000000000000000000000", " name ABCDEFGHIJKLMNO  interval 1.0s ewmalog 4.0s", " --rateest-name 'ABCDEFGHIJKLMNO ' --rateest-interval 1.0s --rateest-ewmalog 4.0s"),
	prints("-j RATEEST --block 610a620000000000000000000000000000020000000000000000000000000000", " name a\\x0ab interval 1.0s ewmalog 4.0s", " --rateest-name 'a\\x0ab' --rateest-interval 1.0s --rateest-ewmalog 4.0s"),
	no("-j RATEEST --rateest-name 'a\\x0ab' --rateest-interval 1.0s --rateest-ewmalog 4.0s", invalid_name("a\\x0ab")),
	prints("-j RATEEST --block 0d00000000000000000000000000000000020000000000000000000000000000", " name \\x0d interval 1.0s ewmalog 4.0s", " --rateest-name '\\x0d' --rateest-interval 1.0s --rateest-ewmalog 4.0s"),
	no("-j RATEEST --rateest-name '\\x0d' --rateest-interval 1.0s --rateest-ewmalog 4.0s", invalid_name("\\x0d")),
	prints("-j RATEEST --block 787f000000000000000000000000000000020000000000000000000000000000", " name x\\x7f interval 1.0s ewmalog 4.0s", " --rateest-name 'x\\x7f' --rateest-interval 1.0s --rateest-ewmalog 4.0s"),
	no("-j RATEEST --rateest-name 'x\\x7f' --rateest-interval 1.0s --rateest-ewmalog 4.0s", invalid_name("x\\x7f")),
	prints("-j RATEEST --block 6122620000000000000000000000000000020000000000000000000000000000", " name a\"b interval 1.0s ewmalog 4.0s", " --rateest-name 'a\"b' --rateest-interval 1.0s --rateest-ewmalog 4.0s"),
	no("-j RATEEST --rateest-name 'a\"b' --rateest-interval 1.0s --rateest-ewmalog 4.0s", invalid_name("a\"b")),
	prints("-j RATEEST --block 615c620000000000000000000000000000020000000000000000000000000000", " name a\\\\b interval 1.0s ewmalog 4.0s", " --rateest-name 'a\\b' --rateest-interval 1.0s --rateest-ewmalog 4.0s"),
	no("-j RATEEST --rateest-name 'a\\b' --rateest-interval 1.0s --rateest-ewmalog 4.0s", invalid_name("a\\b")),
	prints("-j RATEEST --block 24484f4d45000000000000000000000000020000000000000000000000000000", " name $HOME interval 1.0s ewmalog 4.0s", " --rateest-name '$HOME' --rateest-interval 1.0s --rateest-ewmalog 4.0s"),
	no("-j RATEEST --rateest-name '$HOME' --rateest-interval 1.0s --rateest-ewmalog 4.0s", invalid_name("$HOME")),
	prints("-j RATEEST --block 6069646000000000000000000000000000020000000000000000000000000000", " name `id` interval 1.0s ewmalog 4.0s", " --rateest-name '`id`' --rateest-interval 1.0s --rateest-ewmalog 4.0s"),
	no("-j RATEEST --rateest-name '`id`' --rateest-interval 1.0s --rateest-ewmalog 4.0s", invalid_name("`id`")),
	prints("-j RATEEST --block 2724000000000000000000000000000000020000000000000000000000000000", " name '$ interval 1.0s ewmalog 4.0s", " --rateest-name ''\\''$' --rateest-interval 1.0s --rateest-ewmalog 4.0s"),
	no("-j RATEEST --rateest-name ''\\''$' --rateest-interval 1.0s --rateest-ewmalog 4.0s", invalid_name("'$")),
	// Bytes outside valid UTF-8, which an interactive shell's line editor changes as they are typed.
	prints("-j RATEEST --block 61c3620000000000000000000000000000020000000000000000000000000000", " name a\\xc3b interval 1.0s ewmalog 4.0s", " --rateest-name 'a\\xc3b' --rateest-interval 1.0s --rateest-ewmalog 4.0s"),
	no("-j RATEEST --rateest-name 'a\\xc3b' --rateest-interval 1.0s --rateest-ewmalog 4.0s", invalid_name("a\\xc3b")),
	prints("-j RATEEST --block 27ffc3a9edbfbf00000000000000000000020000000000000000000000000000", " name '\\xff\xc3\xa9\\xed\\xbf\\xbf interval 1.0s ewmalog 4.0s", " --rateest-name ''\\''\\xff\xc3\xa9\\xed\\xbf\\xbf' --rateest-interval 1.0s --rateest-ewmalog 4.0s"),
	prints("-j RATEEST --block 636166c300000000000000000000000000020000000000000000000000000000", " name caf\\xc3 interval 1.0s ewmalog 4.0s", " --rateest-name 'caf\\xc3' --rateest-interval 1.0s --rateest-ewmalog 4.0s"),

};

const std::vector<row> rows = names + std::vector<row>{
	// The interval is raised to the power of two at or above it; a bare number is microseconds.
	ok("-j RATEEST --rateest-name est1 --rateest-interval 1s --rateest-ewmalog 4s", "6573743100000000000000000000000000020000000000000000000000000000", " name est1 interval 1.0s ewmalog 4.0s", " --rateest-name est1 --rateest-interval 1.0s --rateest-ewmalog 4.0s"),
	kept("-j RATEEST --rateest-name est1 --rateest-interval 1 --rateest-ewmalog 64s", "65737431000000000000000000000000fe190000000000000000000000000000", " name est1 interval 250.0ms ewmalog 8388608.0s", " --rateest-name est1 --rateest-interval 250.0ms --rateest-ewmalog 8388608.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 250ms --rateest-ewmalog 64s", "65737431000000000000000000000000fe080000000000000000000000000000", " name est1 interval 250.0ms ewmalog 64.0s", " --rateest-name est1 --rateest-interval 250.0ms --rateest-ewmalog 64.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 250001us --rateest-ewmalog 64s", "65737431000000000000000000000000ff080000000000000000000000000000", " name est1 interval 500.0ms ewmalog 128.0s", " --rateest-name est1 --rateest-interval 500.0ms --rateest-ewmalog 128.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 0.3s --rateest-ewmalog 64s", "65737431000000000000000000000000ff070000000000000000000000000000", " name est1 interval 500.0ms ewmalog 64.0s", " --rateest-name est1 --rateest-interval 500.0ms --rateest-ewmalog 64.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 500000us --rateest-ewmalog 4s", "65737431000000000000000000000000ff030000000000000000000000000000", " name est1 interval 500.0ms ewmalog 4.0s", " --rateest-name est1 --rateest-interval 500.0ms --rateest-ewmalog 4.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 500001us --rateest-ewmalog 4s", "6573743100000000000000000000000000030000000000000000000000000000", " name est1 interval 1.0s ewmalog 8.0s", " --rateest-name est1 --rateest-interval 1.0s --rateest-ewmalog 8.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 1000000us --rateest-ewmalog 4s", "6573743100000000000000000000000000020000000000000000000000000000", " name est1 interval 1.0s ewmalog 4.0s", " --rateest-name est1 --rateest-interval 1.0s --rateest-ewmalog 4.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 1000001us --rateest-ewmalog 8s", "6573743100000000000000000000000001030000000000000000000000000000", " name est1 interval 2.0s ewmalog 16.0s", " --rateest-name est1 --rateest-interval 2.0s --rateest-ewmalog 16.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 2000000us --rateest-ewmalog 8s", "6573743100000000000000000000000001020000000000000000000000000000", " name est1 interval 2.0s ewmalog 8.0s", " --rateest-name est1 --rateest-interval 2.0s --rateest-ewmalog 8.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 2000001us --rateest-ewmalog 16s", "6573743100000000000000000000000002030000000000000000000000000000", " name est1 interval 4.0s ewmalog 32.0s", " --rateest-name est1 --rateest-interval 4.0s --rateest-ewmalog 32.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 4000000us --rateest-ewmalog 16s", "6573743100000000000000000000000002020000000000000000000000000000", " name est1 interval 4.0s ewmalog 16.0s", " --rateest-name est1 --rateest-interval 4.0s --rateest-ewmalog 16.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 4000001us --rateest-ewmalog 64s", "6573743100000000000000000000000003040000000000000000000000000000", " name est1 interval 8.0s ewmalog 128.0s", " --rateest-name est1 --rateest-interval 8.0s --rateest-ewmalog 128.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 8s --rateest-ewmalog 64s", "6573743100000000000000000000000003030000000000000000000000000000", " name est1 interval 8.0s ewmalog 64.0s", " --rateest-name est1 --rateest-interval 8.0s --rateest-ewmalog 64.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 8000000 --rateest-ewmalog 64s", "6573743100000000000000000000000003030000000000000000000000000000", " name est1 interval 8.0s ewmalog 64.0s", " --rateest-name est1 --rateest-interval 8.0s --rateest-ewmalog 64.0s"),
	// The averaging code is the longest time constant within the averaging time: interval / ln 2 = 1442695.04us is
	// the shortest for 1s; the search runs on the interval as written (100ms), the block lists the raised one; times
	// saturate at 4294967295us.
	ok("-j RATEEST --rateest-name est1 --rateest-interval 1s --rateest-ewmalog 1442696us", "6573743100000000000000000000000000010000000000000000000000000000", " name est1 interval 1.0s ewmalog 2.0s", " --rateest-name est1 --rateest-interval 1.0s --rateest-ewmalog 2.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 1s --rateest-ewmalog 1442696.9us", "6573743100000000000000000000000000010000000000000000000000000000", " name est1 interval 1.0s ewmalog 2.0s", " --rateest-name est1 --rateest-interval 1.0s --rateest-ewmalog 2.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 1s --rateest-ewmalog 4294967295us", "65737431000000000000000000000000000c0000000000000000000000000000", " name est1 interval 1.0s ewmalog 4096.0s", " --rateest-name est1 --rateest-interval 1.0s --rateest-ewmalog 4096.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 1500ms --rateest-ewmalog 4s", "6573743100000000000000000000000001010000000000000000000000000000", " name est1 interval 2.0s ewmalog 4.0s", " --rateest-name est1 --rateest-interval 2.0s --rateest-ewmalog 4.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 100ms --rateest-ewmalog 10s", "65737431000000000000000000000000fe060000000000000000000000000000", " name est1 interval 250.0ms ewmalog 16.0s", " --rateest-name est1 --rateest-interval 250.0ms --rateest-ewmalog 16.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 2MSECS --rateest-ewmalog 4s", "65737431000000000000000000000000fe0a0000000000000000000000000000", " name est1 interval 250.0ms ewmalog 256.0s", " --rateest-name est1 --rateest-interval 250.0ms --rateest-ewmalog 256.0s"),
	kept("-j RATEEST --rateest-name est1 --rateest-interval 5uS --rateest-ewmalog 4s", "65737431000000000000000000000000fe130000000000000000000000000000", " name est1 interval 250.0ms ewmalog 131072.0s", " --rateest-name est1 --rateest-interval 250.0ms --rateest-ewmalog 131072.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 1s --rateest-ewmalog 4294967296", "65737431000000000000000000000000000c0000000000000000000000000000", " name est1 interval 1.0s ewmalog 4096.0s", " --rateest-name est1 --rateest-interval 1.0s --rateest-ewmalog 4096.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 1s --rateest-ewmalog 1e30s", "65737431000000000000000000000000000c0000000000000000000000000000", " name est1 interval 1.0s ewmalog 4096.0s", " --rateest-name est1 --rateest-interval 1.0s --rateest-ewmalog 4096.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 1s --rateest-ewmalog inf", "65737431000000000000000000000000000c0000000000000000000000000000", " name est1 interval 1.0s ewmalog 4096.0s", " --rateest-name est1 --rateest-interval 1.0s --rateest-ewmalog 4096.0s"),
	// Unit words in any case; 1s as the interval, 4s as the averaging time.
	ok("-j RATEEST --rateest-name est1 --rateest-interval 1S --rateest-ewmalog 4s", "6573743100000000000000000000000000020000000000000000000000000000", " name est1 interval 1.0s ewmalog 4.0s", " --rateest-name est1 --rateest-interval 1.0s --rateest-ewmalog 4.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 1Sec --rateest-ewmalog 4s", "6573743100000000000000000000000000020000000000000000000000000000", " name est1 interval 1.0s ewmalog 4.0s", " --rateest-name est1 --rateest-interval 1.0s --rateest-ewmalog 4.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 1SECS --rateest-ewmalog 4s", "6573743100000000000000000000000000020000000000000000000000000000", " name est1 interval 1.0s ewmalog 4.0s", " --rateest-name est1 --rateest-interval 1.0s --rateest-ewmalog 4.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 1000mS --rateest-ewmalog 4s", "6573743100000000000000000000000000020000000000000000000000000000", " name est1 interval 1.0s ewmalog 4.0s", " --rateest-name est1 --rateest-interval 1.0s --rateest-ewmalog 4.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 1000msec --rateest-ewmalog 4s", "6573743100000000000000000000000000020000000000000000000000000000", " name est1 interval 1.0s ewmalog 4.0s", " --rateest-name est1 --rateest-interval 1.0s --rateest-ewmalog 4.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 1000MSECS --rateest-ewmalog 4s", "6573743100000000000000000000000000020000000000000000000000000000", " name est1 interval 1.0s ewmalog 4.0s", " --rateest-name est1 --rateest-interval 1.0s --rateest-ewmalog 4.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 1000000uS --rateest-ewmalog 4s", "6573743100000000000000000000000000020000000000000000000000000000", " name est1 interval 1.0s ewmalog 4.0s", " --rateest-name est1 --rateest-interval 1.0s --rateest-ewmalog 4.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 1000000usec --rateest-ewmalog 4s", "6573743100000000000000000000000000020000000000000000000000000000", " name est1 interval 1.0s ewmalog 4.0s", " --rateest-name est1 --rateest-interval 1.0s --rateest-ewmalog 4.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 1000000UsEcS --rateest-ewmalog 4s", "6573743100000000000000000000000000020000000000000000000000000000", " name est1 interval 1.0s ewmalog 4.0s", " --rateest-name est1 --rateest-interval 1.0s --rateest-ewmalog 4.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 1000000 --rateest-ewmalog 4s", "6573743100000000000000000000000000020000000000000000000000000000", " name est1 interval 1.0s ewmalog 4.0s", " --rateest-name est1 --rateest-interval 1.0s --rateest-ewmalog 4.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval \" +1s\" --rateest-ewmalog 4s", "6573743100000000000000000000000000020000000000000000000000000000", " name est1 interval 1.0s ewmalog 4.0s", " --rateest-name est1 --rateest-interval 1.0s --rateest-ewmalog 4.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 1e6us --rateest-ewmalog 4s", "6573743100000000000000000000000000020000000000000000000000000000", " name est1 interval 1.0s ewmalog 4.0s", " --rateest-name est1 --rateest-interval 1.0s --rateest-ewmalog 4.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 0x1p0s --rateest-ewmalog 4s", "6573743100000000000000000000000000020000000000000000000000000000", " name est1 interval 1.0s ewmalog 4.0s", " --rateest-name est1 --rateest-interval 1.0s --rateest-ewmalog 4.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 1.0s --rateest-ewmalog 4s", "6573743100000000000000000000000000020000000000000000000000000000", " name est1 interval 1.0s ewmalog 4.0s", " --rateest-name est1 --rateest-interval 1.0s --rateest-ewmalog 4.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 1s --rateest-ewmalog 4S", "6573743100000000000000000000000000020000000000000000000000000000", " name est1 interval 1.0s ewmalog 4.0s", " --rateest-name est1 --rateest-interval 1.0s --rateest-ewmalog 4.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 1s --rateest-ewmalog 4sec", "6573743100000000000000000000000000020000000000000000000000000000", " name est1 interval 1.0s ewmalog 4.0s", " --rateest-name est1 --rateest-interval 1.0s --rateest-ewmalog 4.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 1s --rateest-ewmalog 4Secs", "6573743100000000000000000000000000020000000000000000000000000000", " name est1 interval 1.0s ewmalog 4.0s", " --rateest-name est1 --rateest-interval 1.0s --rateest-ewmalog 4.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 1s --rateest-ewmalog 4000ms", "6573743100000000000000000000000000020000000000000000000000000000", " name est1 interval 1.0s ewmalog 4.0s", " --rateest-name est1 --rateest-interval 1.0s --rateest-ewmalog 4.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 1s --rateest-ewmalog 4000MSEC", "6573743100000000000000000000000000020000000000000000000000000000", " name est1 interval 1.0s ewmalog 4.0s", " --rateest-name est1 --rateest-interval 1.0s --rateest-ewmalog 4.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 1s --rateest-ewmalog 4000mSeCs", "6573743100000000000000000000000000020000000000000000000000000000", " name est1 interval 1.0s ewmalog 4.0s", " --rateest-name est1 --rateest-interval 1.0s --rateest-ewmalog 4.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 1s --rateest-ewmalog 4000000US", "6573743100000000000000000000000000020000000000000000000000000000", " name est1 interval 1.0s ewmalog 4.0s", " --rateest-name est1 --rateest-interval 1.0s --rateest-ewmalog 4.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 1s --rateest-ewmalog 4000000uSec", "6573743100000000000000000000000000020000000000000000000000000000", " name est1 interval 1.0s ewmalog 4.0s", " --rateest-name est1 --rateest-interval 1.0s --rateest-ewmalog 4.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 1s --rateest-ewmalog 4000000usecs", "6573743100000000000000000000000000020000000000000000000000000000", " name est1 interval 1.0s ewmalog 4.0s", " --rateest-name est1 --rateest-interval 1.0s --rateest-ewmalog 4.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 1s --rateest-ewmalog 4000000", "6573743100000000000000000000000000020000000000000000000000000000", " name est1 interval 1.0s ewmalog 4.0s", " --rateest-name est1 --rateest-interval 1.0s --rateest-ewmalog 4.0s"),
	// Saved options parse back into the same codes, on both sides of the 2^32us limit of the saved averaging time.
	kept("-j RATEEST --rateest-name est1 --rateest-interval 1 --rateest-ewmalog 400ms", "65737431000000000000000000000000fe120000000000000000000000000000", " name est1 interval 250.0ms ewmalog 65536.0s", " --rateest-name est1 --rateest-interval 250.0ms --rateest-ewmalog 65536.0s"),
	kept("-j RATEEST --rateest-name est1 --rateest-interval 1 --rateest-ewmalog 1s", "65737431000000000000000000000000fe130000000000000000000000000000", " name est1 interval 250.0ms ewmalog 131072.0s", " --rateest-name est1 --rateest-interval 250.0ms --rateest-ewmalog 131072.0s"),
	kept("-j RATEEST --rateest-name est1 --rateest-interval 1 --rateest-ewmalog 1442696us", "65737431000000000000000000000000fe140000000000000000000000000000", " name est1 interval 250.0ms ewmalog 262144.0s", " --rateest-name est1 --rateest-interval 250.0ms --rateest-ewmalog 262144.0s"),
	kept("-j RATEEST --rateest-name est1 --rateest-interval 1 --rateest-ewmalog 3s", "65737431000000000000000000000000fe150000000000000000000000000000", " name est1 interval 250.0ms ewmalog 524288.0s", " --rateest-name est1 --rateest-interval 250.0ms --rateest-ewmalog 524288.0s"),
	kept("-j RATEEST --rateest-name est1 --rateest-interval 1 --rateest-ewmalog 10s", "65737431000000000000000000000000fe170000000000000000000000000000", " name est1 interval 250.0ms ewmalog 2097152.0s", " --rateest-name est1 --rateest-interval 250.0ms --rateest-ewmalog 2097152.0s"),
	kept("-j RATEEST --rateest-name est1 --rateest-interval 1 --rateest-ewmalog 100s", "65737431000000000000000000000000fe1a0000000000000000000000000000", " name est1 interval 250.0ms ewmalog 16777216.0s", " --rateest-name est1 --rateest-interval 250.0ms --rateest-ewmalog 16777216.0s"),
	kept("-j RATEEST --rateest-name est1 --rateest-interval 1 --rateest-ewmalog 1000s", "65737431000000000000000000000000fe1d0000000000000000000000000000", " name est1 interval 250.0ms ewmalog 134217728.0s", " --rateest-name est1 --rateest-interval 250.0ms --rateest-ewmalog 134217728.0s"),
	no("-j RATEEST --rateest-name est1 --rateest-interval 1 --rateest-ewmalog 4000s", out_of_range),
	no("-j RATEEST --rateest-name est1 --rateest-interval 1 --rateest-ewmalog 4294967295us", out_of_range),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 40ms --rateest-ewmalog 400ms", "65737431000000000000000000000000fe030000000000000000000000000000", " name est1 interval 250.0ms ewmalog 2.0s", " --rateest-name est1 --rateest-interval 250.0ms --rateest-ewmalog 2.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 40ms --rateest-ewmalog 1s", "65737431000000000000000000000000fe040000000000000000000000000000", " name est1 interval 250.0ms ewmalog 4.0s", " --rateest-name est1 --rateest-interval 250.0ms --rateest-ewmalog 4.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 40ms --rateest-ewmalog 1442696us", "65737431000000000000000000000000fe050000000000000000000000000000", " name est1 interval 250.0ms ewmalog 8.0s", " --rateest-name est1 --rateest-interval 250.0ms --rateest-ewmalog 8.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 40ms --rateest-ewmalog 3s", "65737431000000000000000000000000fe060000000000000000000000000000", " name est1 interval 250.0ms ewmalog 16.0s", " --rateest-name est1 --rateest-interval 250.0ms --rateest-ewmalog 16.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 40ms --rateest-ewmalog 10s", "65737431000000000000000000000000fe070000000000000000000000000000", " name est1 interval 250.0ms ewmalog 32.0s", " --rateest-name est1 --rateest-interval 250.0ms --rateest-ewmalog 32.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 40ms --rateest-ewmalog 100s", "65737431000000000000000000000000fe0b0000000000000000000000000000", " name est1 interval 250.0ms ewmalog 512.0s", " --rateest-name est1 --rateest-interval 250.0ms --rateest-ewmalog 512.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 40ms --rateest-ewmalog 1000s", "65737431000000000000000000000000fe0e0000000000000000000000000000", " name est1 interval 250.0ms ewmalog 4096.0s", " --rateest-name est1 --rateest-interval 250.0ms --rateest-ewmalog 4096.0s"),
	kept("-j RATEEST --rateest-name est1 --rateest-interval 40ms --rateest-ewmalog 4000s", "65737431000000000000000000000000fe100000000000000000000000000000", " name est1 interval 250.0ms ewmalog 16384.0s", " --rateest-name est1 --rateest-interval 250.0ms --rateest-ewmalog 16384.0s"),
	kept("-j RATEEST --rateest-name est1 --rateest-interval 40ms --rateest-ewmalog 4294967295us", "65737431000000000000000000000000fe100000000000000000000000000000", " name est1 interval 250.0ms ewmalog 16384.0s", " --rateest-name est1 --rateest-interval 250.0ms --rateest-ewmalog 16384.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 100ms --rateest-ewmalog 400ms", "65737431000000000000000000000000fe020000000000000000000000000000", " name est1 interval 250.0ms ewmalog 1.0s", " --rateest-name est1 --rateest-interval 250.0ms --rateest-ewmalog 1.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 100ms --rateest-ewmalog 1s", "65737431000000000000000000000000fe030000000000000000000000000000", " name est1 interval 250.0ms ewmalog 2.0s", " --rateest-name est1 --rateest-interval 250.0ms --rateest-ewmalog 2.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 100ms --rateest-ewmalog 1442696us", "65737431000000000000000000000000fe030000000000000000000000000000", " name est1 interval 250.0ms ewmalog 2.0s", " --rateest-name est1 --rateest-interval 250.0ms --rateest-ewmalog 2.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 100ms --rateest-ewmalog 3s", "65737431000000000000000000000000fe040000000000000000000000000000", " name est1 interval 250.0ms ewmalog 4.0s", " --rateest-name est1 --rateest-interval 250.0ms --rateest-ewmalog 4.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 100ms --rateest-ewmalog 100s", "65737431000000000000000000000000fe090000000000000000000000000000", " name est1 interval 250.0ms ewmalog 128.0s", " --rateest-name est1 --rateest-interval 250.0ms --rateest-ewmalog 128.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 100ms --rateest-ewmalog 1000s", "65737431000000000000000000000000fe0d0000000000000000000000000000", " name est1 interval 250.0ms ewmalog 2048.0s", " --rateest-name est1 --rateest-interval 250.0ms --rateest-ewmalog 2048.0s"),
	kept("-j RATEEST --rateest-name est1 --rateest-interval 100ms --rateest-ewmalog 4000s", "65737431000000000000000000000000fe0f0000000000000000000000000000", " name est1 interval 250.0ms ewmalog 8192.0s", " --rateest-name est1 --rateest-interval 250.0ms --rateest-ewmalog 8192.0s"),
	kept("-j RATEEST --rateest-name est1 --rateest-interval 100ms --rateest-ewmalog 4294967295us", "65737431000000000000000000000000fe0f0000000000000000000000000000", " name est1 interval 250.0ms ewmalog 8192.0s", " --rateest-name est1 --rateest-interval 250.0ms --rateest-ewmalog 8192.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 250ms --rateest-ewmalog 400ms", "65737431000000000000000000000000fe010000000000000000000000000000", " name est1 interval 250.0ms ewmalog 500.0ms", " --rateest-name est1 --rateest-interval 250.0ms --rateest-ewmalog 500.0ms"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 250ms --rateest-ewmalog 1s", "65737431000000000000000000000000fe020000000000000000000000000000", " name est1 interval 250.0ms ewmalog 1.0s", " --rateest-name est1 --rateest-interval 250.0ms --rateest-ewmalog 1.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 250ms --rateest-ewmalog 1442696us", "65737431000000000000000000000000fe020000000000000000000000000000", " name est1 interval 250.0ms ewmalog 1.0s", " --rateest-name est1 --rateest-interval 250.0ms --rateest-ewmalog 1.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 250ms --rateest-ewmalog 3s", "65737431000000000000000000000000fe030000000000000000000000000000", " name est1 interval 250.0ms ewmalog 2.0s", " --rateest-name est1 --rateest-interval 250.0ms --rateest-ewmalog 2.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 250ms --rateest-ewmalog 10s", "65737431000000000000000000000000fe050000000000000000000000000000", " name est1 interval 250.0ms ewmalog 8.0s", " --rateest-name est1 --rateest-interval 250.0ms --rateest-ewmalog 8.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 250ms --rateest-ewmalog 100s", "65737431000000000000000000000000fe080000000000000000000000000000", " name est1 interval 250.0ms ewmalog 64.0s", " --rateest-name est1 --rateest-interval 250.0ms --rateest-ewmalog 64.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 250ms --rateest-ewmalog 1000s", "65737431000000000000000000000000fe0b0000000000000000000000000000", " name est1 interval 250.0ms ewmalog 512.0s", " --rateest-name est1 --rateest-interval 250.0ms --rateest-ewmalog 512.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 250ms --rateest-ewmalog 4000s", "65737431000000000000000000000000fe0d0000000000000000000000000000", " name est1 interval 250.0ms ewmalog 2048.0s", " --rateest-name est1 --rateest-interval 250.0ms --rateest-ewmalog 2048.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 250ms --rateest-ewmalog 4294967295us", "65737431000000000000000000000000fe0e0000000000000000000000000000", " name est1 interval 250.0ms ewmalog 4096.0s", " --rateest-name est1 --rateest-interval 250.0ms --rateest-ewmalog 4096.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 250001us --rateest-ewmalog 400ms", "65737431000000000000000000000000ff010000000000000000000000000000", " name est1 interval 500.0ms ewmalog 1.0s", " --rateest-name est1 --rateest-interval 500.0ms --rateest-ewmalog 1.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 250001us --rateest-ewmalog 1s", "65737431000000000000000000000000ff020000000000000000000000000000", " name est1 interval 500.0ms ewmalog 2.0s", " --rateest-name est1 --rateest-interval 500.0ms --rateest-ewmalog 2.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 250001us --rateest-ewmalog 1442696us", "65737431000000000000000000000000ff020000000000000000000000000000", " name est1 interval 500.0ms ewmalog 2.0s", " --rateest-name est1 --rateest-interval 500.0ms --rateest-ewmalog 2.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 250001us --rateest-ewmalog 3s", "65737431000000000000000000000000ff030000000000000000000000000000", " name est1 interval 500.0ms ewmalog 4.0s", " --rateest-name est1 --rateest-interval 500.0ms --rateest-ewmalog 4.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 250001us --rateest-ewmalog 10s", "65737431000000000000000000000000ff050000000000000000000000000000", " name est1 interval 500.0ms ewmalog 16.0s", " --rateest-name est1 --rateest-interval 500.0ms --rateest-ewmalog 16.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 250001us --rateest-ewmalog 100s", "65737431000000000000000000000000ff080000000000000000000000000000", " name est1 interval 500.0ms ewmalog 128.0s", " --rateest-name est1 --rateest-interval 500.0ms --rateest-ewmalog 128.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 250001us --rateest-ewmalog 1000s", "65737431000000000000000000000000ff0b0000000000000000000000000000", " name est1 interval 500.0ms ewmalog 1024.0s", " --rateest-name est1 --rateest-interval 500.0ms --rateest-ewmalog 1024.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 250001us --rateest-ewmalog 4000s", "65737431000000000000000000000000ff0d0000000000000000000000000000", " name est1 interval 500.0ms ewmalog 4096.0s", " --rateest-name est1 --rateest-interval 500.0ms --rateest-ewmalog 4096.0s"),
	kept("-j RATEEST --rateest-name est1 --rateest-interval 250001us --rateest-ewmalog 4294967295us", "65737431000000000000000000000000ff0e0000000000000000000000000000", " name est1 interval 500.0ms ewmalog 8192.0s", " --rateest-name est1 --rateest-interval 500.0ms --rateest-ewmalog 8192.0s"),
	no("-j RATEEST --rateest-name est1 --rateest-interval 300ms --rateest-ewmalog 400ms", out_of_range),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 300ms --rateest-ewmalog 1s", "65737431000000000000000000000000ff010000000000000000000000000000", " name est1 interval 500.0ms ewmalog 1.0s", " --rateest-name est1 --rateest-interval 500.0ms --rateest-ewmalog 1.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 300ms --rateest-ewmalog 1442696us", "65737431000000000000000000000000ff020000000000000000000000000000", " name est1 interval 500.0ms ewmalog 2.0s", " --rateest-name est1 --rateest-interval 500.0ms --rateest-ewmalog 2.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 300ms --rateest-ewmalog 3s", "65737431000000000000000000000000ff030000000000000000000000000000", " name est1 interval 500.0ms ewmalog 4.0s", " --rateest-name est1 --rateest-interval 500.0ms --rateest-ewmalog 4.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 300ms --rateest-ewmalog 10s", "65737431000000000000000000000000ff050000000000000000000000000000", " name est1 interval 500.0ms ewmalog 16.0s", " --rateest-name est1 --rateest-interval 500.0ms --rateest-ewmalog 16.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 300ms --rateest-ewmalog 100s", "65737431000000000000000000000000ff080000000000000000000000000000", " name est1 interval 500.0ms ewmalog 128.0s", " --rateest-name est1 --rateest-interval 500.0ms --rateest-ewmalog 128.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 300ms --rateest-ewmalog 1000s", "65737431000000000000000000000000ff0b0000000000000000000000000000", " name est1 interval 500.0ms ewmalog 1024.0s", " --rateest-name est1 --rateest-interval 500.0ms --rateest-ewmalog 1024.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 300ms --rateest-ewmalog 4000s", "65737431000000000000000000000000ff0d0000000000000000000000000000", " name est1 interval 500.0ms ewmalog 4096.0s", " --rateest-name est1 --rateest-interval 500.0ms --rateest-ewmalog 4096.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 300ms --rateest-ewmalog 4294967295us", "65737431000000000000000000000000ff0d0000000000000000000000000000", " name est1 interval 500.0ms ewmalog 4096.0s", " --rateest-name est1 --rateest-interval 500.0ms --rateest-ewmalog 4096.0s"),
	no("-j RATEEST --rateest-name est1 --rateest-interval 700ms --rateest-ewmalog 400ms", out_of_range),
	no("-j RATEEST --rateest-name est1 --rateest-interval 700ms --rateest-ewmalog 1s", out_of_range),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 700ms --rateest-ewmalog 1442696us", "6573743100000000000000000000000000010000000000000000000000000000", " name est1 interval 1.0s ewmalog 2.0s", " --rateest-name est1 --rateest-interval 1.0s --rateest-ewmalog 2.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 700ms --rateest-ewmalog 3s", "6573743100000000000000000000000000020000000000000000000000000000", " name est1 interval 1.0s ewmalog 4.0s", " --rateest-name est1 --rateest-interval 1.0s --rateest-ewmalog 4.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 700ms --rateest-ewmalog 10s", "6573743100000000000000000000000000030000000000000000000000000000", " name est1 interval 1.0s ewmalog 8.0s", " --rateest-name est1 --rateest-interval 1.0s --rateest-ewmalog 8.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 700ms --rateest-ewmalog 100s", "6573743100000000000000000000000000070000000000000000000000000000", " name est1 interval 1.0s ewmalog 128.0s", " --rateest-name est1 --rateest-interval 1.0s --rateest-ewmalog 128.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 700ms --rateest-ewmalog 1000s", "65737431000000000000000000000000000a0000000000000000000000000000", " name est1 interval 1.0s ewmalog 1024.0s", " --rateest-name est1 --rateest-interval 1.0s --rateest-ewmalog 1024.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 700ms --rateest-ewmalog 4000s", "65737431000000000000000000000000000c0000000000000000000000000000", " name est1 interval 1.0s ewmalog 4096.0s", " --rateest-name est1 --rateest-interval 1.0s --rateest-ewmalog 4096.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 700ms --rateest-ewmalog 4294967295us", "65737431000000000000000000000000000c0000000000000000000000000000", " name est1 interval 1.0s ewmalog 4096.0s", " --rateest-name est1 --rateest-interval 1.0s --rateest-ewmalog 4096.0s"),
	no("-j RATEEST --rateest-name est1 --rateest-interval 1s --rateest-ewmalog 400ms", out_of_range),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 1s --rateest-ewmalog 3s", "6573743100000000000000000000000000010000000000000000000000000000", " name est1 interval 1.0s ewmalog 2.0s", " --rateest-name est1 --rateest-interval 1.0s --rateest-ewmalog 2.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 1s --rateest-ewmalog 10s", "6573743100000000000000000000000000030000000000000000000000000000", " name est1 interval 1.0s ewmalog 8.0s", " --rateest-name est1 --rateest-interval 1.0s --rateest-ewmalog 8.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 1s --rateest-ewmalog 100s", "6573743100000000000000000000000000060000000000000000000000000000", " name est1 interval 1.0s ewmalog 64.0s", " --rateest-name est1 --rateest-interval 1.0s --rateest-ewmalog 64.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 1s --rateest-ewmalog 1000s", "6573743100000000000000000000000000090000000000000000000000000000", " name est1 interval 1.0s ewmalog 512.0s", " --rateest-name est1 --rateest-interval 1.0s --rateest-ewmalog 512.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 1s --rateest-ewmalog 4000s", "65737431000000000000000000000000000b0000000000000000000000000000", " name est1 interval 1.0s ewmalog 2048.0s", " --rateest-name est1 --rateest-interval 1.0s --rateest-ewmalog 2048.0s"),
	no("-j RATEEST --rateest-name est1 --rateest-interval 1500ms --rateest-ewmalog 400ms", out_of_range),
	no("-j RATEEST --rateest-name est1 --rateest-interval 1500ms --rateest-ewmalog 1s", out_of_range),
	no("-j RATEEST --rateest-name est1 --rateest-interval 1500ms --rateest-ewmalog 1442696us", out_of_range),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 1500ms --rateest-ewmalog 3s", "6573743100000000000000000000000001010000000000000000000000000000", " name est1 interval 2.0s ewmalog 4.0s", " --rateest-name est1 --rateest-interval 2.0s --rateest-ewmalog 4.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 1500ms --rateest-ewmalog 10s", "6573743100000000000000000000000001020000000000000000000000000000", " name est1 interval 2.0s ewmalog 8.0s", " --rateest-name est1 --rateest-interval 2.0s --rateest-ewmalog 8.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 1500ms --rateest-ewmalog 100s", "6573743100000000000000000000000001060000000000000000000000000000", " name est1 interval 2.0s ewmalog 128.0s", " --rateest-name est1 --rateest-interval 2.0s --rateest-ewmalog 128.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 1500ms --rateest-ewmalog 1000s", "6573743100000000000000000000000001090000000000000000000000000000", " name est1 interval 2.0s ewmalog 1024.0s", " --rateest-name est1 --rateest-interval 2.0s --rateest-ewmalog 1024.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 1500ms --rateest-ewmalog 4000s", "65737431000000000000000000000000010b0000000000000000000000000000", " name est1 interval 2.0s ewmalog 4096.0s", " --rateest-name est1 --rateest-interval 2.0s --rateest-ewmalog 4096.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 1500ms --rateest-ewmalog 4294967295us", "65737431000000000000000000000000010b0000000000000000000000000000", " name est1 interval 2.0s ewmalog 4096.0s", " --rateest-name est1 --rateest-interval 2.0s --rateest-ewmalog 4096.0s"),
	no("-j RATEEST --rateest-name est1 --rateest-interval 3s --rateest-ewmalog 400ms", out_of_range),
	no("-j RATEEST --rateest-name est1 --rateest-interval 3s --rateest-ewmalog 1s", out_of_range),
	no("-j RATEEST --rateest-name est1 --rateest-interval 3s --rateest-ewmalog 1442696us", out_of_range),
	no("-j RATEEST --rateest-name est1 --rateest-interval 3s --rateest-ewmalog 3s", out_of_range),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 3s --rateest-ewmalog 10s", "6573743100000000000000000000000002010000000000000000000000000000", " name est1 interval 4.0s ewmalog 8.0s", " --rateest-name est1 --rateest-interval 4.0s --rateest-ewmalog 8.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 3s --rateest-ewmalog 100s", "6573743100000000000000000000000002050000000000000000000000000000", " name est1 interval 4.0s ewmalog 128.0s", " --rateest-name est1 --rateest-interval 4.0s --rateest-ewmalog 128.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 3s --rateest-ewmalog 1000s", "6573743100000000000000000000000002080000000000000000000000000000", " name est1 interval 4.0s ewmalog 1024.0s", " --rateest-name est1 --rateest-interval 4.0s --rateest-ewmalog 1024.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 3s --rateest-ewmalog 4000s", "65737431000000000000000000000000020a0000000000000000000000000000", " name est1 interval 4.0s ewmalog 4096.0s", " --rateest-name est1 --rateest-interval 4.0s --rateest-ewmalog 4096.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 3s --rateest-ewmalog 4294967295us", "65737431000000000000000000000000020a0000000000000000000000000000", " name est1 interval 4.0s ewmalog 4096.0s", " --rateest-name est1 --rateest-interval 4.0s --rateest-ewmalog 4096.0s"),
	no("-j RATEEST --rateest-name est1 --rateest-interval 4s --rateest-ewmalog 400ms", out_of_range),
	no("-j RATEEST --rateest-name est1 --rateest-interval 4s --rateest-ewmalog 1s", out_of_range),
	no("-j RATEEST --rateest-name est1 --rateest-interval 4s --rateest-ewmalog 1442696us", out_of_range),
	no("-j RATEEST --rateest-name est1 --rateest-interval 4s --rateest-ewmalog 3s", out_of_range),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 4s --rateest-ewmalog 10s", "6573743100000000000000000000000002010000000000000000000000000000", " name est1 interval 4.0s ewmalog 8.0s", " --rateest-name est1 --rateest-interval 4.0s --rateest-ewmalog 8.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 4s --rateest-ewmalog 100s", "6573743100000000000000000000000002040000000000000000000000000000", " name est1 interval 4.0s ewmalog 64.0s", " --rateest-name est1 --rateest-interval 4.0s --rateest-ewmalog 64.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 4s --rateest-ewmalog 1000s", "6573743100000000000000000000000002070000000000000000000000000000", " name est1 interval 4.0s ewmalog 512.0s", " --rateest-name est1 --rateest-interval 4.0s --rateest-ewmalog 512.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 4s --rateest-ewmalog 4000s", "6573743100000000000000000000000002090000000000000000000000000000", " name est1 interval 4.0s ewmalog 2048.0s", " --rateest-name est1 --rateest-interval 4.0s --rateest-ewmalog 2048.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 4s --rateest-ewmalog 4294967295us", "65737431000000000000000000000000020a0000000000000000000000000000", " name est1 interval 4.0s ewmalog 4096.0s", " --rateest-name est1 --rateest-interval 4.0s --rateest-ewmalog 4096.0s"),
	no("-j RATEEST --rateest-name est1 --rateest-interval 5s --rateest-ewmalog 400ms", out_of_range),
	no("-j RATEEST --rateest-name est1 --rateest-interval 5s --rateest-ewmalog 1s", out_of_range),
	no("-j RATEEST --rateest-name est1 --rateest-interval 5s --rateest-ewmalog 1442696us", out_of_range),
	no("-j RATEEST --rateest-name est1 --rateest-interval 5s --rateest-ewmalog 3s", out_of_range),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 5s --rateest-ewmalog 10s", "6573743100000000000000000000000003010000000000000000000000000000", " name est1 interval 8.0s ewmalog 16.0s", " --rateest-name est1 --rateest-interval 8.0s --rateest-ewmalog 16.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 5s --rateest-ewmalog 100s", "6573743100000000000000000000000003040000000000000000000000000000", " name est1 interval 8.0s ewmalog 128.0s", " --rateest-name est1 --rateest-interval 8.0s --rateest-ewmalog 128.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 5s --rateest-ewmalog 1000s", "6573743100000000000000000000000003070000000000000000000000000000", " name est1 interval 8.0s ewmalog 1024.0s", " --rateest-name est1 --rateest-interval 8.0s --rateest-ewmalog 1024.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 5s --rateest-ewmalog 4000s", "6573743100000000000000000000000003090000000000000000000000000000", " name est1 interval 8.0s ewmalog 4096.0s", " --rateest-name est1 --rateest-interval 8.0s --rateest-ewmalog 4096.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 5s --rateest-ewmalog 4294967295us", "6573743100000000000000000000000003090000000000000000000000000000", " name est1 interval 8.0s ewmalog 4096.0s", " --rateest-name est1 --rateest-interval 8.0s --rateest-ewmalog 4096.0s"),
	no("-j RATEEST --rateest-name est1 --rateest-interval 8s --rateest-ewmalog 400ms", out_of_range),
	no("-j RATEEST --rateest-name est1 --rateest-interval 8s --rateest-ewmalog 1s", out_of_range),
	no("-j RATEEST --rateest-name est1 --rateest-interval 8s --rateest-ewmalog 1442696us", out_of_range),
	no("-j RATEEST --rateest-name est1 --rateest-interval 8s --rateest-ewmalog 3s", out_of_range),
	no("-j RATEEST --rateest-name est1 --rateest-interval 8s --rateest-ewmalog 10s", out_of_range),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 8s --rateest-ewmalog 100s", "6573743100000000000000000000000003030000000000000000000000000000", " name est1 interval 8.0s ewmalog 64.0s", " --rateest-name est1 --rateest-interval 8.0s --rateest-ewmalog 64.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 8s --rateest-ewmalog 1000s", "6573743100000000000000000000000003060000000000000000000000000000", " name est1 interval 8.0s ewmalog 512.0s", " --rateest-name est1 --rateest-interval 8.0s --rateest-ewmalog 512.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 8s --rateest-ewmalog 4000s", "6573743100000000000000000000000003080000000000000000000000000000", " name est1 interval 8.0s ewmalog 2048.0s", " --rateest-name est1 --rateest-interval 8.0s --rateest-ewmalog 2048.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 8s --rateest-ewmalog 4294967295us", "6573743100000000000000000000000003090000000000000000000000000000", " name est1 interval 8.0s ewmalog 4096.0s", " --rateest-name est1 --rateest-interval 8.0s --rateest-ewmalog 4096.0s"),
	// 4096s is the longest listed averaging time below 2^32us; 8192s does not fit, and parsed again gives a smaller code.
	ok("-j RATEEST --rateest-name est1 --rateest-interval 100ms --rateest-ewmalog 2000s", "65737431000000000000000000000000fe0e0000000000000000000000000000", " name est1 interval 250.0ms ewmalog 4096.0s", " --rateest-name est1 --rateest-interval 250.0ms --rateest-ewmalog 4096.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 250.0ms --rateest-ewmalog 8192.0s", "65737431000000000000000000000000fe0e0000000000000000000000000000", " name est1 interval 250.0ms ewmalog 4096.0s", " --rateest-name est1 --rateest-interval 250.0ms --rateest-ewmalog 4096.0s"),
	kept("-j RATEEST --rateest-name est1 --rateest-interval 3 --rateest-ewmalog 4294967295us", "65737431000000000000000000000000fe1e0000000000000000000000000000", " name est1 interval 250.0ms ewmalog 268435456.0s", " --rateest-name est1 --rateest-interval 250.0ms --rateest-ewmalog 268435456.0s"),
	ok("-j RATEEST --rateest-name est1 --rateest-interval 250.0ms --rateest-ewmalog 268435456.0s", "65737431000000000000000000000000fe0e0000000000000000000000000000", " name est1 interval 250.0ms ewmalog 4096.0s", " --rateest-name est1 --rateest-interval 250.0ms --rateest-ewmalog 4096.0s"),
	// Bad times and failed checks: the interval is checked before the averaging time, truncated, not rounded; an
	// interval of 0 gives a time constant of 0 for every code; parse errors come in command-line order.
	no("-j RATEEST --rateest-name est1 --rateest-interval \"1 s\" --rateest-ewmalog 4s", "RATEEST: bad interval value \"1 s\""),
	no("-j RATEEST --rateest-name est1 --rateest-interval 1s --rateest-ewmalog \"1 s\"", "RATEEST: bad ewmalog value \"1 s\""),
	no("-j RATEEST --rateest-name est1 --rateest-interval 1sx --rateest-ewmalog 4s", "RATEEST: bad interval value \"1sx\""),
	no("-j RATEEST --rateest-name est1 --rateest-interval 1s --rateest-ewmalog 1sx", "RATEEST: bad ewmalog value \"1sx\""),
	no("-j RATEEST --rateest-name est1 --rateest-interval 1m --rateest-ewmalog 4s", "RATEEST: bad interval value \"1m\""),
	no("-j RATEEST --rateest-name est1 --rateest-interval 1s --rateest-ewmalog 1m", "RATEEST: bad ewmalog value \"1m\""),
	no("-j RATEEST --rateest-name est1 --rateest-interval abc --rateest-ewmalog 4s", "RATEEST: bad interval value \"abc\""),
	no("-j RATEEST --rateest-name est1 --rateest-interval 1s --rateest-ewmalog abc", "RATEEST: bad ewmalog value \"abc\""),
	no("-j RATEEST --rateest-name est1 --rateest-interval \"\" --rateest-ewmalog 4s", "RATEEST: bad interval value \"\""),
	no("-j RATEEST --rateest-name est1 --rateest-interval 1s --rateest-ewmalog \"\"", "RATEEST: bad ewmalog value \"\""),
	no("-j RATEEST --rateest-name est1 --rateest-interval \" \" --rateest-ewmalog 4s", "RATEEST: bad interval value \" \""),
	no("-j RATEEST --rateest-name est1 --rateest-interval 1s --rateest-ewmalog \" \"", "RATEEST: bad ewmalog value \" \""),
	no("-j RATEEST --rateest-name est1 --rateest-interval s --rateest-ewmalog 4s", "RATEEST: bad interval value \"s\""),
	no("-j RATEEST --rateest-name est1 --rateest-interval 1s --rateest-ewmalog s", "RATEEST: bad ewmalog value \"s\""),
	no("-j RATEEST --rateest-name est1 --rateest-interval \"1s \" --rateest-ewmalog 4s", "RATEEST: bad interval value \"1s \""),
	no("-j RATEEST --rateest-name est1 --rateest-interval 1s --rateest-ewmalog \"1s \"", "RATEEST: bad ewmalog value \"1s \""),
	no("-j RATEEST --rateest-name est1 --rateest-interval 1.5.s --rateest-ewmalog 4s", "RATEEST: bad interval value \"1.5.s\""),
	no("-j RATEEST --rateest-name est1 --rateest-interval 1s --rateest-ewmalog 1.5.s", "RATEEST: bad ewmalog value \"1.5.s\""),
	no("-j RATEEST --rateest-name est1 --rateest-interval 1us1 --rateest-ewmalog 4s", "RATEEST: bad interval value \"1us1\""),
	no("-j RATEEST --rateest-name est1 --rateest-interval 1s --rateest-ewmalog 1us1", "RATEEST: bad ewmalog value \"1us1\""),
	no("-j RATEEST --rateest-name est1 --rateest-interval 8000001us --rateest-ewmalog 64s", too_large),
	no("-j RATEEST --rateest-name est1 --rateest-interval 9s --rateest-ewmalog 64s", too_large),
	no("-j RATEEST --rateest-name est1 --rateest-interval 4294967296 --rateest-ewmalog 64s", too_large),
	no("-j RATEEST --rateest-name est1 --rateest-interval 9s --rateest-ewmalog 1us", too_large),
	no("-j RATEEST --rateest-name est1 --rateest-interval 1s --rateest-ewmalog 1442695us", out_of_range),
	no("-j RATEEST --rateest-name est1 --rateest-interval 1s --rateest-ewmalog 1442695.9us", out_of_range),
	no("-j RATEEST --rateest-name est1 --rateest-interval 1s --rateest-ewmalog 1s", out_of_range),
	no("-j RATEEST --rateest-name est1 --rateest-interval 1s --rateest-ewmalog nan", out_of_range),
	no("-j RATEEST --rateest-name est1 --rateest-interval 1s --rateest-ewmalog -1s", out_of_range),
	no("-j RATEEST --rateest-name est1 --rateest-interval -1s --rateest-ewmalog 4s", out_of_range),
	no("-j RATEEST --rateest-name est1 --rateest-interval 0 --rateest-ewmalog 4294967295", out_of_range),
	no("-j RATEEST --rateest-name est1 --rateest-interval 1e-9s --rateest-ewmalog 4s", out_of_range),
	no("-j RATEEST --rateest-name est1 --rateest-interval 1 --rateest-ewmalog 4294967295", out_of_range),
	no("-j RATEEST --rateest-name e --rateest-ewmalog x --rateest-interval y", "RATEEST: bad ewmalog value \"x\""),
	no("-j RATEEST --rateest-name est1 --rateest-interval \"1\xc2\xb5s\" --rateest-ewmalog 4s", "RATEEST: bad interval value \"1\xc2\xb5s\""),
	no("-j RATEEST --rateest-name est1 --rateest-interval \"\xef\xbc\x91s\" --rateest-ewmalog 4s", "RATEEST: bad interval value \"\xef\xbc\x91s\""),
	no("-j RATEEST --rateest-name est1 --rateest-interval 1" + std::string(5000, 's') + " --rateest-ewmalog 4s", "RATEEST: bad interval value \"1" + std::string(5000, 's') + "\""),
	no("-j RATEEST --rateest-name est1 --rateest-interval 1s --rateest-ewmalog 1" + std::string(5000, 's'), "RATEEST: bad ewmalog value \"1" + std::string(5000, 's') + "\""),
	no("-j RATEEST --rateest-name est1 --rateest-interval 1s --rateest-ewmalog \"4 s\"", "RATEEST: bad ewmalog value \"4 s\""),
	no(words{"-j", "RATEEST", "--rateest-name", "est1", "--rateest-interval", "1s", "--rateest-ewmalog", "4sec\n"}, "RATEEST: bad ewmalog value \"4sec\\x0a\""),
	no("-j RATEEST --rateest-name est1 --rateest-interval 1s --rateest-ewmalog 4hz", "RATEEST: bad ewmalog value \"4hz\""),
	no("-j RATEEST --rateest-name est1 --rateest-interval inf --rateest-ewmalog 4s", too_large),
	no("-j RATEEST --rateest-name est1 --rateest-interval 1e10 --rateest-ewmalog 4s", too_large),
	no("-j RATEEST --rateest-name est1 --rateest-interval 8.5s --rateest-ewmalog 64s", too_large),
	no("-j RATEEST --rateest-name est1 --rateest-interval 1s --rateest-ewmalog 0", out_of_range),
	no("-j RATEEST --rateest-name est1 --rateest-interval 1s --rateest-ewmalog -inf", out_of_range),
	// Infinity saturates to 4294967295us; not-a-number and negative times count as 0, and an interval of 0 leaves no
	// averaging code in range: these keep the final check's messages.
	ok("-j RATEEST --rateest-name est1 --rateest-interval 1s --rateest-ewmalog infs", "65737431000000000000000000000000000c0000000000000000000000000000", " name est1 interval 1.0s ewmalog 4096.0s", " --rateest-name est1 --rateest-interval 1.0s --rateest-ewmalog 4096.0s"),
	no("-j RATEEST --rateest-name est1 --rateest-interval infs --rateest-ewmalog 4s", too_large),
	no("-j RATEEST --rateest-name est1 --rateest-interval nans --rateest-ewmalog 4s", out_of_range),
	no("-j RATEEST --rateest-name est1 --rateest-interval -nanms --rateest-ewmalog 4s", out_of_range),
	no("-j RATEEST --rateest-name est1 --rateest-interval 1s --rateest-ewmalog nans", out_of_range),
	// The host's checks; a missing option is reported before the interval is checked.
	no("-j RATEEST --rateest-name e --rateest-interval 9s", host_says::must_be_given("RATEEST", "--rateest-ewmalog")),
	no("-j RATEEST --rateest-name abcdefghijklmnop --rateest-interval 1s --rateest-ewmalog 4s", "RATEEST: option \"--rateest-name\": the text must be at most 15 characters long"),
	no("-j RATEEST --rateest-name est1 --rateest-interval 1s --rateest-ewmalog 4s --rateest-interval 2s", host_says::once("RATEEST", "--rateest-interval")),
	no("-j RATEEST --rateest-name", host_says::needs_argument("RATEEST", "--rateest-name")),
	ok("-j RATEEST --rateest-name abcdefghijklmno --rateest-interval 1s --rateest-ewmalog 4s", "6162636465666768696a6b6c6d6e6f0000020000000000000000000000000000", " name abcdefghijklmno interval 1.0s ewmalog 4.0s", " --rateest-name abcdefghijklmno --rateest-interval 1.0s --rateest-ewmalog 4.0s"),
	ok("-6 -j RATEEST --rateest-name v6 --rateest-interval 1s --rateest-ewmalog 4s", "7636000000000000000000000000000000020000000000000000000000000000", " name v6 interval 1.0s ewmalog 4.0s", " --rateest-name v6 --rateest-interval 1.0s --rateest-ewmalog 4.0s"),
	no("-j RATEEST --rateest-name " + std::string(5000, 'n') + " --rateest-interval 1s --rateest-ewmalog 4s", "RATEEST: option \"--rateest-name\": the text must be at most 15 characters long"),
	no("-j RATEEST --rateest-name \"\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\" --rateest-interval 1s --rateest-ewmalog 4s", "RATEEST: option \"--rateest-name\": the text must be at most 15 characters long"),
	no("-j RATEEST --rateest-name est1 --rateest-interval 1s --rateest-ewmalog 4s --rateest-name other", host_says::once("RATEEST", "--rateest-name")),
	no("-j RATEEST --rateest-name est1 --rateest-interval 1s --rateest-ewmalog 4s --rateest-ewmalog 4s", host_says::once("RATEEST", "--rateest-ewmalog")),
	no("-j RATEEST --rateest-name e ! --rateest-interval 1s --rateest-ewmalog 4s", host_says::not_negatable("RATEEST", "--rateest-interval")),
	no("-j RATEEST --rateest-name e --rateest-interval 1s ! --rateest-ewmalog 4s", host_says::not_negatable("RATEEST", "--rateest-ewmalog")),
	no("-j RATEEST --rateest-name e --rateest-interval", host_says::needs_argument("RATEEST", "--rateest-interval")),
	no("-j RATEEST", host_says::must_be_given("RATEEST", "--rateest-name")),
	no("-j RATEEST --rateest-name est1 --rateest-interval 1s --rateest-ewmalog 4s --rateest-burst 1", host_says::unknown("RATEEST", "--rateest-burst")),
	no("-j RATEEST --name e", host_says::unknown("RATEEST", "--name")),
	no("-j RATEEST --rateest-name est1 --rateest-interval 1s --rateest-ewmalog 4s extra", host_says::unknown("RATEEST", "extra")),
	no("-j RATEEST --rateest-name est1 --rateest-interval 1s --rateest-ewmalog 4s !", host_says::bang_alone("RATEEST")),
	// Names with bytes no saved text carries: the bytes that stay live in double quotes, and control bytes.
	no("-j RATEEST --rateest-name \"a\\\"b\" --rateest-interval 1s --rateest-ewmalog 4s", invalid_name("a\"b")),
	no("-j RATEEST --rateest-name \"a\\\\b\" --rateest-interval 1s --rateest-ewmalog 4s", invalid_name("a\\b")),
	no("-j RATEEST --rateest-name \"\\$HOME\" --rateest-interval 1s --rateest-ewmalog 4s", invalid_name("$HOME")),
	no("-j RATEEST --rateest-name \"a\\`id\\`\" --rateest-interval 1s --rateest-ewmalog 4s", invalid_name("a`id`")),
	no(words{"-j", "RATEEST", "--rateest-name", "a\nb", "--rateest-interval", "1s", "--rateest-ewmalog", "4s"}, invalid_name("a\\x0ab")),
	no(words{"-j", "RATEEST", "--rateest-name", "a\x0d""b", "--rateest-interval", "1s", "--rateest-ewmalog", "4s"}, invalid_name("a\\x0db")),
	no("-j RATEEST --rateest-name \"\t\" --rateest-interval 1s --rateest-ewmalog 4s", invalid_name("\\x09")),
	no("-j RATEEST --rateest-name \"\x01\" --rateest-interval 1s --rateest-ewmalog 4s", invalid_name("\\x01")),
	no("-j RATEEST --rateest-name \"\x1f\" --rateest-interval 1s --rateest-ewmalog 4s", invalid_name("\\x1f")),
	no("-j RATEEST --rateest-name \"a\x7f\" --rateest-interval 1s --rateest-ewmalog 4s", invalid_name("a\\x7f")),
	no("-j RATEEST --rateest-name \"a\xc3\" --rateest-interval 1s --rateest-ewmalog 4s", invalid_name("a\xc3")),
	no("-j RATEEST --rateest-name \"a\xc3z\" --rateest-interval 1s --rateest-ewmalog 4s", invalid_name("a\xc3z")),
	no("-j RATEEST --rateest-name \"\xa9\" --rateest-interval 1s --rateest-ewmalog 4s", invalid_name("\xa9")),
	no("-j RATEEST --rateest-name \"\xff\" --rateest-interval 1s --rateest-ewmalog 4s", invalid_name("\xff")),
	no("-j RATEEST --rateest-name \"\xc0\xaf\" --rateest-interval 1s --rateest-ewmalog 4s", invalid_name("\xc0\xaf")),
	no("-j RATEEST --rateest-name \"\xe0\x9f\xbf\" --rateest-interval 1s --rateest-ewmalog 4s", invalid_name("\xe0\x9f\xbf")),
	no("-j RATEEST --rateest-name \"\xed\xa0\x80\" --rateest-interval 1s --rateest-ewmalog 4s", invalid_name("\xed\xa0\x80")),
	no("-j RATEEST --rateest-name \"\xf0\x8f\xbf\xbf\" --rateest-interval 1s --rateest-ewmalog 4s", invalid_name("\xf0\x8f\xbf\xbf")),
	no("-j RATEEST --rateest-name \"\xf4\x90\x80\x80\" --rateest-interval 1s --rateest-ewmalog 4s", invalid_name("\xf4\x90\x80\x80")),
	no("-j RATEEST --rateest-name \"\xf0\x9f\x98\" --rateest-interval 1s --rateest-ewmalog 4s", invalid_name("\xf0\x9f\x98")),
	// Time items switch units at 1ms and 1s (every listed time is 15625 * 2^k us); the averaging time is not cut to
	// 32 bits; codes this plug-in never writes list their exact times; a name filling all 16 bytes ends at the field;
	// bytes after the name's NUL, reserved and kernel-owned bytes are not printed.
	prints("-j RATEEST --block 74000000000000000000000000000000f6000000000000000000000000000000", " name t interval 976us ewmalog 976us", " --rateest-name t --rateest-interval 976us --rateest-ewmalog 976us"),
	prints("-j RATEEST --block 74000000000000000000000000000000f6010000000000000000000000000000", " name t interval 976us ewmalog 2.0ms", " --rateest-name t --rateest-interval 976us --rateest-ewmalog 2.0ms"),
	prints("-j RATEEST --block 74000000000000000000000000000000f0000000000000000000000000000000", " name t interval 15us ewmalog 15us", " --rateest-name t --rateest-interval 15us --rateest-ewmalog 15us"),
	prints("-j RATEEST --block 74000000000000000000000000000000ff000000000000000000000000000000", " name t interval 500.0ms ewmalog 500.0ms", " --rateest-name t --rateest-interval 500.0ms --rateest-ewmalog 500.0ms"),
	prints("-j RATEEST --block 74000000000000000000000000000000ff010000000000000000000000000000", " name t interval 500.0ms ewmalog 1.0s", " --rateest-name t --rateest-interval 500.0ms --rateest-ewmalog 1.0s"),
	prints("-j RATEEST --block 74000000000000000000000000000000fe020000000000000000000000000000", " name t interval 250.0ms ewmalog 1.0s", " --rateest-name t --rateest-interval 250.0ms --rateest-ewmalog 1.0s"),
	prints("-j RATEEST --block 65000000000000000000000000000000fe1e0000000000000000000000000000", " name e interval 250.0ms ewmalog 268435456.0s", " --rateest-name e --rateest-interval 250.0ms --rateest-ewmalog 268435456.0s"),
	prints("-j RATEEST --block 65000000000000000000000000000000fe0f0000000000000000000000000000", " name e interval 250.0ms ewmalog 8192.0s", " --rateest-name e --rateest-interval 250.0ms --rateest-ewmalog 8192.0s"),
	prints("-j RATEEST --block 65000000000000000000000000000000fe0e0000000000000000000000000000", " name e interval 250.0ms ewmalog 4096.0s", " --rateest-name e --rateest-interval 250.0ms --rateest-ewmalog 4096.0s"),
	prints("-j RATEEST --block 65000000000000000000000000000000031e0000000000000000000000000000", " name e interval 8.0s ewmalog 8589934592.0s", " --rateest-name e --rateest-interval 8.0s --rateest-ewmalog 8589934592.0s"),
	prints("-j RATEEST --block 65" + std::string(62, '0'), " name e interval 1.0s ewmalog 1.0s", " --rateest-name e --rateest-interval 1.0s --rateest-ewmalog 1.0s"),
	prints("-j RATEEST --block 6500000000000000000000000000000004010000000000000000000000000000", " name e interval 16.0s ewmalog 32.0s", " --rateest-name e --rateest-interval 16.0s --rateest-ewmalog 32.0s"),
	prints("-j RATEEST --block 65000000000000000000000000000000fd030000000000000000000000000000", " name e interval 125.0ms ewmalog 1.0s", " --rateest-name e --rateest-interval 125.0ms --rateest-ewmalog 1.0s"),
	prints("-j RATEEST --block 6500000000000000000000000000000000400000000000000000000000000000", " name e interval 1.0s ewmalog 18446744073709551616.0s", " --rateest-name e --rateest-interval 1.0s --rateest-ewmalog 18446744073709551616.0s"),
	prints("-j RATEEST --block 6500000000000000000000000000000080800000000000000000000000000000", " name e interval 0us ewmalog 1.0s", " --rateest-name e --rateest-interval 0us --rateest-ewmalog 1.0s"),
	prints("-j RATEEST --block 650000000000000000000000000000007f000000000000000000000000000000", " name e interval 170141183460469231731687303715884105728.0s ewmalog 170141183460469231731687303715884105728.0s", " --rateest-name e --rateest-interval 170141183460469231731687303715884105728.0s --rateest-ewmalog 170141183460469231731687303715884105728.0s"),
	prints("-j RATEEST --block 4142434445464748494a4b4c4d4e4f5001020000000000000000000000000000", " name ABCDEFGHIJKLMNOP interval 2.0s ewmalog 8.0s", " --rateest-name ABCDEFGHIJKLMNOP --rateest-interval 2.0s --rateest-ewmalog 8.0s"),
	prints("-j RATEEST --block 657374310041420000000000000000000002ffffffffffffffffffffffffffff", " name est1 interval 1.0s ewmalog 4.0s", " --rateest-name est1 --rateest-interval 1.0s --rateest-ewmalog 4.0s"),
	no("-j RATEEST --block 00", "--block for target \"RATEEST\" needs exactly 32 bytes as 64 hexadecimal digits"),
	help("-j RATEEST -h", "RATEEST target options:\n  --rateest-name name\t\tRate estimator name\n  --rateest-interval sec\tRate measurement interval in seconds\n  --rateest-ewmalog value\tRate measurement averaging time constant\n"),
};
// clang-format on

TEST(Rateest, Table)
{
	check_table(rows);
}

TEST(Rateest, Grammar)
{
	check_table(grammar_rows("-j RATEEST", "", options));
}

// The saved names pasted into a shell script, run in an empty folder with a
// file a glob could match and HOME set, by sh and by bash with history
// expansion on as in an interactive one: the accepted ones give their block,
// the ones read back from blocks are refused.
TEST(Rateest, SavedNamesReadBackThroughAShell)
{
	std::string dir = testing::TempDir() + "rateest-shell.XXXXXX";
	ASSERT_NE(mkdtemp(dir.data()), nullptr);
	std::filesystem::create_directory(dir + "/empty");
	const std::string file = dir + "/history";
	const auto block_through = [&](const std::string &save, bool history) {
		const std::string rule = "$ZUNDER -j RATEEST" + save;
		std::ofstream(file) << "set -o history -H\n" << rule << "\n";
		const auto r = history ? run_shell("bash <\"$FILE\"", {"FILE=" + file})
				       : run_shell("cd \"$DIR\" && : >a1 && " + rule,
						   {"DIR=" + dir + "/empty", "HOME=/home-expanded"});
		rule_lines lines;
		return r.status == 0 && r.err.empty() && split_rule_output(r.out, &lines) ? lines.block : "";
	};
	for (const row &r : names)
		for (const bool history : {false, true}) {
			if (r.what == row::kind::accepted) {
				EXPECT_EQ(block_through(r.save, history), r.block)
					<< r.line << (history ? " (bash -H)" : "");
			} else if (r.what == row::kind::printed) {
				EXPECT_EQ(block_through(r.save, history), "")
					<< r.line << (history ? " (bash -H)" : "");
			}
		}
	// In double quotes bash's history expansion would take !x for an event.
	const std::string double_quoted =
		" --rateest-name \"!x\" --rateest-interval 1.0s --rateest-ewmalog 4.0s";
	EXPECT_EQ(block_through(double_quoted, false),
		  "2178" + std::string(28, '0') + "0002" + std::string(28, '0'));
	EXPECT_EQ(block_through(double_quoted, true), "");
	std::filesystem::remove_all(dir);
}

// The saved names typed into an interactive bash in a UTF-8 locale, through
// a terminal (script(1)): its line editor drops or moves bytes that are not
// UTF-8 as they are typed, even inside quotes, and it expands history.  The
// accepted names give their block; the ones read back from blocks, whose
// bytes outside UTF-8 are saved as \xHH, are refused, never read as another
// name.  Its home is the test's folder: the user's history file and line
// editor settings stay out of it.
TEST(Rateest, SavedNamesTypedIntoAnInteractiveBash)
{
	if (run_shell("LC_ALL=C.UTF-8 locale charmap 2>/dev/null").out != "UTF-8\n")
		GTEST_SKIP() << "no C.UTF-8 locale on this machine";
	if (run_shell("command -v script && command -v bash").status != 0)
		GTEST_SKIP() << "script(1) or bash is missing (Debian packages bsdutils, bash)";
	std::vector<const row *> checked;
	std::string lines;
	for (const row &r : names)
		if (r.what == row::kind::accepted || r.what == row::kind::printed) {
			checked.push_back(&r);
			lines += r.line + "\n";
		}
	const run_result saved = run_batch(lines, {});
	ASSERT_EQ(saved.status, 0) << saved.err;
	const std::string dir = testing::TempDir() + "/rateest-typed-" + std::to_string(getpid());
	std::filesystem::create_directories(dir);
	std::ofstream typed(dir + "/typed");
	std::istringstream out(saved.out);
	size_t count = 0;
	for (std::string line; std::getline(out, line);)
		if (line.starts_with("save"))
			typed << "$ZUNDER -j RATEEST" << line.substr(4) << " >" << count++ << " 2>&1\n";
	typed << "exit 0\n";
	typed.close();
	ASSERT_EQ(count, checked.size());
	const auto session = run_shell(
		"cd \"$DIR\" && unset INPUTRC && HOME=\"$DIR\" HISTFILE=\"$DIR/history\" LC_ALL=C.UTF-8 "
		"TERM=dumb script -qec 'bash --norc --noprofile -i' /dev/null <typed >/dev/null",
		{"DIR=" + dir});
	ASSERT_EQ(session.status, 0) << session.err;
	for (size_t i = 0; i < checked.size(); ++i) {
		const row &r = *checked[i];
		std::ifstream file(dir + "/" + std::to_string(i));
		const std::string got((std::istreambuf_iterator<char>(file)),
				      std::istreambuf_iterator<char>());
		rule_lines back;
		if (r.what == row::kind::accepted) {
			EXPECT_TRUE(split_rule_output(got, &back) && back.block == r.block)
				<< r.line << ": " << got;
		} else {
			EXPECT_TRUE(got.starts_with("zunder: RATEEST: ")) << r.line << ": " << got;
		}
	}
	std::filesystem::remove_all(dir);
}

// A host that took its locale from the environment (setlocale(LC_ALL, ""))
// under one with a decimal comma: times still read and print with a point,
// as every other host reads them back.  The locale is made for the test
// with localedef in a folder of its own (LOCPATH), so that the machine's
// installed locales play no part.
TEST(Rateest, TimesReadAndPrintTheSameInEveryLocale)
{
	const std::string dir = testing::TempDir() + "/rateest-locale-" + std::to_string(getpid());
	const auto made =
		run_shell("mkdir -p \"$DIR\" && localedef -i de_DE -f UTF-8 \"$DIR/de_DE.UTF-8\" 2>&1",
			  {"DIR=" + dir});
	if (!std::filesystem::exists(dir + "/de_DE.UTF-8/LC_NUMERIC")) {
		std::filesystem::remove_all(dir);
		GTEST_SKIP() << "cannot make a locale with a decimal comma (localedef and the locale sources "
				"of Debian's package locales): "
			     << made.out;
	}
	setenv("LOCPATH", dir.c_str(), 1);
	setenv("LC_ALL", "de_DE.UTF-8", 1);
	const bool comma =
		std::setlocale(LC_ALL, "") != nullptr && std::string(localeconv()->decimal_point) == ",";
	unsetenv("LC_ALL");
	unsetenv("LOCPATH");
	if (!comma) {
		std::setlocale(LC_ALL, "C");
		std::filesystem::remove_all(dir);
		GTEST_SKIP() << "the locale made with localedef does not load here";
	}

	ASSERT_EQ(zunder::load_plugin_file(RATEEST_PLUGIN_FILE), "");
	const zunder::plugin_record *record =
		zunder::find_record(zunder::clause_kind::target, "RATEEST", ZU_FAMILY_IPV4);
	ASSERT_NE(record, nullptr);
	const char *const args[] = {"--rateest-name",    "e",     "--rateest-interval", "0.5s",
				    "--rateest-ewmalog", "1.5e1s"};
	zunder::clause_state state;
	const auto error = zunder::try_parse_clause(*record, ZU_FAMILY_IPV4, args, state);
	EXPECT_FALSE(error) << error->message;
	const std::vector<unsigned char> block(state.info.data(), state.info.data() + state.info.size());
	EXPECT_EQ(block[16], 0xff); // 500ms
	EXPECT_EQ(block[17], 4);
	testing::internal::CaptureStdout();
	zunder::print_block(*record, ZU_FAMILY_IPV4, block, false);
	std::fputc('\n', stdout);
	zunder::save_block(*record, ZU_FAMILY_IPV4, block);
	std::fflush(stdout);
	EXPECT_EQ(testing::internal::GetCapturedStdout(),
		  " name e interval 500.0ms ewmalog 8.0s\n"
		  " --rateest-name e --rateest-interval 500.0ms --rateest-ewmalog 8.0s");
	// The host's own locale is left as it was.
	EXPECT_EQ(std::string(localeconv()->decimal_point), ",");
	std::setlocale(LC_ALL, "C");
	std::filesystem::remove_all(dir);
}

} // namespace
