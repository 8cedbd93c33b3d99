#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Writes the seed corpora in fuzz/corpus/ from the cases the tests use.

Run from anywhere; it replaces fuzz/corpus/<target>/ entirely.  The input
formats are described at the top of each fuzzer's source.
"""
import hashlib
import pathlib
import shutil
import struct

here = pathlib.Path(__file__).resolve().parent
corpus = here / "corpus"

# Clauses as fuzz_clause_options picks them: family byte, name, NUL.
AH6, POLICY4, POLICY6 = (6, "ah"), (4, "policy"), (6, "policy")
RATEEST4, RATEEST6, IPV6HEADER6 = (4, "RATEEST"), (6, "RATEEST"), (6, "ipv6header")
CONNLABEL4, CONNLABEL6 = (4, "connlabel"), (6, "connlabel")


def pick(choice):
    family, name = choice
    return bytes([family]) + name.encode() + b"\0"


def clause(choice, words):
    return pick(choice) + b"".join(w.encode("latin-1") + b"\0" for w in words)


def rateest(interval, ewma, name="est1"):
    return ["--rateest-name", name, "--rateest-interval", interval, "--rateest-ewmalog", ewma]


clause_seeds = [
    clause(AH6, ["--ahspi", "500"]),
    clause(AH6, ["!", "--ahspi", "100:200", "--ahlen", "24", "--ahres"]),
    clause(AH6, ["--ahspi", "0x10:0X20", "!", "--ahlen", "0"]),
    clause(AH6, ["--ahspi", "1:"]),
    clause(AH6, ["!", "--ahres"]),
    clause(AH6, ["--ahspi", "1", "--ahspi", "2"]),
    clause(AH6, ["!"]),
    clause(AH6, []),
    clause(POLICY4, ["--dir", "in", "--pol", "ipsec", "--strict", "--reqid", "1", "--spi", "0x10",
                     "--proto", "esp", "--mode", "tunnel", "--tunnel-src", "10.0.0.0/8",
                     "--tunnel-dst", "1.2.3.4", "--next", "!", "--reqid", "2"]),
    clause(POLICY4, ["--dir", "out", "--pol", "none"]),
    clause(POLICY4, ["--dir", "in", "--strict", "--spi", "1", "--next", "--spi", "2", "--next",
                     "--next", "--next"]),
    clause(POLICY4, ["--dir", "in", "--tunnel-src", "1.2.3.4"]),
    clause(POLICY4, ["--dir", "in", "!", "--mode", "transport", "--tunnel-dst",
                     "1.2.3.4/255.0.255.0", "--proto", "ipcomp"]),
    clause(POLICY4, ["--dir", "in", "--reqid", "1", "--next"]),
    clause(POLICY6, ["--dir", "in", "--mode", "tunnel", "--tunnel-src", "2001:db8::/32", "!",
                     "--tunnel-dst", "::1", "--proto", "ah"]),
    clause(POLICY6, ["--dir", "out", "--strict", "--mode", "tunnel", "--tunnel-dst",
                     "fe80::/ffff::ffff"]),
    clause(RATEEST4, rateest("1s", "4s")),
    clause(RATEEST4, rateest("250ms", "1s")),
    clause(RATEEST4, rateest("9s", "64s")),
    clause(RATEEST4, rateest("1s", "nan")),
    clause(RATEEST4, rateest("1e-9s", "4294967295")),
    clause(RATEEST6, rateest("8000000us", "1.5SEC", "abcdefghijklmno")),
    clause(RATEEST6, rateest("1s", "4s", "abcdefghijklmnop")),
    clause(RATEEST6, ["--rateest-name", "e", "--rateest-interval", "9s"]),
    clause(IPV6HEADER6, ["--header", "hop,dst"]),
    clause(IPV6HEADER6, ["!", "--header", "none,esp,auth,frag,route,dst,hop,prot", "--soft"]),
    clause(IPV6HEADER6, ["--header", "0,60,43,44,51,50,59,255"]),
    clause(IPV6HEADER6, ["--header", "58"]),
    clause(IPV6HEADER6, ["--header", ",,,"]),
    clause(IPV6HEADER6, ["--header", "ipv6-frag,hop-by-hop,\xff"]),
    clause(CONNLABEL4, ["--label", "eth0-in"]),
    clause(CONNLABEL4, ["!", "--label", "interactive", "--set"]),
    clause(CONNLABEL4, ["--label", "7"]),
    clause(CONNLABEL6, ["--label", "128"]),
    clause(CONNLABEL6, ["--set", "--label", ""]),
    # Short codes: option 0, "!", option 1, value 1.
    pick(AH6) + b"\x01\x00\0\x02\0\x01\x01\0\x03\x01\0",
    pick(POLICY4) + b"\x01\x00\0\x03\x13\0\x01\x02\0\x01\x09\0",
]


def policy_element(src=b"", src_mask=b"", dst=b"", dst_mask=b"", spi=0, reqid=0, proto=0,
                   mode=0, match=0, invert=0):
    pad = lambda b: b.ljust(16, b"\0")
    return (pad(src) + pad(src_mask) + pad(dst) + pad(dst_mask) +
            struct.pack("<IIBBBB", spi, reqid, proto, mode, match, invert))


def policy_block(elements, flags, count):
    body = b"".join(elements).ljust(4 * 76, b"\0")
    return body + struct.pack("<HH", flags, count) + b"\0" * 4


block_seeds = [
    b"",
    b"\0" * 16,
    b"\xff" * 312,
    bytes.fromhex("64000000c80000001800000001010000"),   # ah: spis !100:200, length 24
    bytes.fromhex("05000000050000001800000000070000"),   # ah: unknown invert bits
    bytes.fromhex("c0ff"),                               # ipv6header: hop,dst inverted
    bytes.fromhex("0500030000000000"),                   # connlabel: ! bit 5, set
    bytes.fromhex("7f00020000000000"),
    b"est1".ljust(16, b"\0") + bytes([0xfe, 31]) + b"\0" * 14,   # RATEEST: codes at the ends
    b"abcdefghijklmnop" + bytes([0x80, 0xff]) + b"\0" * 14,
    policy_block([policy_element(b"\x0a\0\0\x01", b"\xff\0\xff\0", b"\x01\x02\x03\x04",
                                 b"\xff\xff\xff\xff", 0x10, 1, 50, 1, 63, 5),
                  policy_element(spi=2, match=16)], 1 | 8, 2),
    policy_block([policy_element(proto=200, mode=7, match=12, invert=255)], 2 | 4, 9),
]

# Operation byte, then the text (fuzz_host_values).
value_seeds = [b"\x00" + t for t in (b"0", b"4294967295", b"4294967296", b"0x10", b"0XfF",
                                        b"0x", b"-1", b"007", b"1\x002")]
value_seeds += [b"\x01" + t for t in (b"10.0.0.1/8", b"1.2.3.4/255.0.255.0", b"0.0.0.0/0",
                                        b"1.2.3.4/32", b"1.2.3.4/33", b"1.2.3.4/", b"01.2.3.4")]
value_seeds += [b"\x02" + t for t in (b"::1", b"fe80::1/64", b"::ffff:1.2.3.4/96",
                                        b"2001:db8::/ffff::ffff", b"::/128", b"::/0")]
value_seeds += [b"\x03" + t for t in (b"tcp", b"255", b"256", b"ipv6-icmp", b"0x32", b"")]
# zunder_option_parse: row pick (bit 7 "!", bit 6 IPv6), then the argument.
value_seeds += [b"\x04" + bytes([pick]) + t for pick, t in (
    (0, b""), (0x80, b""), (1, b"4294967295"), (0x81, b"7"), (2, b"65536"), (3, b"1:2"),
    (0x83, b"0x10:"), (4, b"1000:1001"), (5, b"a"), (5, b"abcdefghijk"), (6, b"abcdefg"),
    (6, b"abcdefgh"), (7, b"abcd"), (7, b""), (8, b"10.0.0.0/8"), (0xc8, b"fe80::/10"),
    (9, b"esp"), (0x89, b"udp"))]
value_seeds += [b"\x05\xff\xff\xff\x00", b"\x05\xff\x00\xff\x00", b"\x05",
                b"\x06" + b"\xff" * 8 + b"\x80", b"\x06" + b"\xff\x00" * 8, b"\x06" + b"\xff" * 16]

label_seeds = [
    (here.parent / "platform/libpavane_conntrack/connlabel.conf").read_bytes(),
    b"# labels for the tests\n5 blocked\n0\tfirst\n127 last\n9 Mixed\n40 quote'd\n",
    b"4 trailing-blanks \t \n6 crlf\r\n007 padded\n8 \xc3\xa9t\xc3\xa9\n"
    b"9 it's-ok#not-a-comment\n10 128\n11 05\n",
    b"128 too-big\n4294967301 wraps-to-5\n5 \n5 two words\n5 a\"b\n5 a\\b\n5 $HOME\n5 a`b`\n"
    b"5 bell\a\n5 del\x7f\n5 nul\0byte\n5 7\n5 127\n5 0\n",
    b"1 one\n1 second-name-for-one\n7 one\n200 out-of-range\n8 " + b"m" * 255 + b"\n9 " +
    b"n" * 256 + b"\n",
    b"   # indented comment\n\n \t\n  3\tindented\n",
    b"blocked\n5 blocked",
    b"",
]


def write(target, seeds):
    folder = corpus / target
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    for seed in seeds:
        (folder / hashlib.sha1(seed).hexdigest()).write_bytes(seed)


write("fuzz_clause_options", clause_seeds)
write("fuzz_block_show", block_seeds)
write("fuzz_host_values", value_seeds)
write("fuzz_label_file", label_seeds)
