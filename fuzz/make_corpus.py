#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Writes the seed corpora in fuzz/corpus/ from the cases the tests run.

   fuzz/make_corpus.py [BUILD]      (default: build, the default preset's)

It has BUILD's table runner write the accepted rules of every clause's
table (plugins/<clause>/<clause>.cases) as `zunder --batch` lines to
<clause>.rules (zunder_cases --rows); each becomes an option vector for
fuzz_clause_options, and the info block `zunder --batch` makes of it a
block for fuzz_block_print.  It
replaces fuzz/corpus/<target>/ entirely, keeping only the seeds that add
coverage when build-fuzz/ holds the fuzzers.  The input formats are described at
the top of each fuzzer's source.
"""
import hashlib
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile

here = pathlib.Path(__file__).resolve().parent
corpus = here / "corpus"
build = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else here.parent / "build").resolve()


def batch_words(line):
    """Splits a --batch line as zunder does: blanks separate, single quotes
    group literally, double quotes group with a backslash escaping only
    " \\ $ and `, and a backslash outside quotes takes the next byte."""
    words, word, quote, i, started = [], "", None, 0, False
    while i < len(line):
        c = line[i]
        if quote == "'":
            quote, word = (None, word) if c == "'" else (quote, word + c)
        elif quote == '"':
            if c == "\\" and i + 1 < len(line) and line[i + 1] in '"\\$`':
                i, word = i + 1, word + line[i + 1]
            elif c == '"':
                quote = None
            else:
                word += c
        elif c in " \t":
            if started:
                words.append(word)
            word, started = "", False
        elif c in "'\"":
            quote, started = c, True
        elif c == "\\" and i + 1 < len(line):
            i, word, started = i + 1, word + line[i + 1], True
        else:
            word, started = word + c, True
        i += 1
    if started:
        words.append(word)
    return words


def clause_seed(words):
    """fuzz_clause_options' input: family byte, clause name, NUL, words."""
    at = next(i for i, w in enumerate(words) if w in ("-m", "-j")) + 1
    family = 6 if "-6" in words[:at] else 4
    encoded = [w.encode("utf-8", "surrogateescape") + b"\0" for w in words[at + 1 :]]
    return bytes([family]) + words[at].encode() + b"\0" + b"".join(encoded)


def rows_from_tables():
    """The accepted rules of every clause's table, as the table runner writes them."""
    rows = pathlib.Path(tempfile.mkdtemp(prefix="zunder-rows."))
    for table in sorted(here.parent.glob("plugins/*/*.cases")):
        if not table.name.startswith("packets"):
            subprocess.run([str(build / "bin/zunder_cases"), "--rows", str(rows), str(table)], check=True)
    return rows


def blocks_of(lines):
    """The info block of each line the table's labels and the tests' fixed
    protocols accept, one `zunder --batch -` each (a refused line ends a batch)."""
    env = dict(os.environ, PAVANE_CONNLABEL_CONF=str(rows / "connlabel.labels"),
               LD_PRELOAD=str(build / "test-preload/zunder_fixed_protocols.so"))
    for line in lines:
        done = subprocess.run([str(build / "bin/zunder"), "--batch", "-"], input=line.encode(errors="surrogateescape") + b"\n",
                              env=env, capture_output=True)
        for out in done.stdout.decode().splitlines():
            if out.startswith("block "):
                yield bytes.fromhex(out[6:])


rows = rows_from_tables()
# Only the clauses of the build's plug-ins.
served = [f for f in sorted(rows.glob("*.rules"))
          if any((build / "lib" / f"{prefix}_{f.stem}.so").exists() for prefix in ("libzu", "libqeb"))]
lines = sorted({line for f in served for line in f.read_text(errors="surrogateescape").splitlines()
                if not line.startswith("#")})
clause_seeds = [clause_seed(batch_words(line)) for line in lines]
names = sorted({seed[1 : seed.index(b"\0")] for seed in clause_seeds})
# Short codes, which no test writes: option 0, "!", option 1, value 1.
clause_seeds += [bytes([family]) + name + b"\0\x01\x00\0\x02\0\x01\x01\0\x03\x01\0"
                 for name in names for family in (4, 6)]
block_seeds = [b"", b"\xff" * 4096] + list(blocks_of(lines))
shutil.rmtree(rows)

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
    """Replaces the target's corpus: with the seeds that add coverage when the
    fuzz preset's build of the target is there (libFuzzer's -merge), else
    with all of them."""
    folder = corpus / target
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    fuzzer = here.parent / "build-fuzz/bin" / target
    with tempfile.TemporaryDirectory() as raw:
        for seed in seeds:
            (pathlib.Path(raw) / hashlib.sha1(seed).hexdigest()).write_bytes(seed)
        if fuzzer.exists():
            subprocess.run([str(fuzzer), "-merge=1", str(folder), raw], check=True,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        else:
            shutil.copytree(raw, folder, dirs_exist_ok=True)
    print(f"{target}: {len(list(folder.iterdir()))} of {len(set(seeds))} seeds")


write("fuzz_clause_options", clause_seeds)
write("fuzz_block_print", block_seeds)
write("fuzz_host_values", value_seeds)
write("fuzz_label_file", label_seeds)
