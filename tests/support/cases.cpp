// SPDX-License-Identifier: GPL-2.0-or-later
// Runs a table of rule cases (a .cases file, read by table.h) through the
// build's zunder; "\xHH" in a field is the byte HH, as zunder echoes bytes,
// and $PLUGINS and $TEST_PLUGINS are the build's plug-in folders.
// Context lines, for the rows after them:
//   head [WORDS [| LIST | SAVE]]  what a row's options, listing and saved text
//       start with ("-6 -m ah"); a bare head clears it
//   tail WORDS [| LIST | SAVE]  what they end with: the options of ok, kept, no
//       and args rows, the texts of ok, kept and prints rows (head clears it)
//   size N  the block size for blocks given as pieces
//   protocols fixed|none|hostile  zunder's protocol database (fixed at first)
//   labels TEXT  a label file holding TEXT
//   env CHANGES  NAME=value (or a bare NAME, taken away) for zunder
//   families both|one  with both, each row under a -4 head runs again with -6
//   shell on|off  with on, the saved text of each ok row writes the same
//       through sh and through bash with history expansion, and that of each
//       prints row is refused
// Rows (OPTIONS follow the head on one zunder --batch line):
//   ok OPTIONS | BLOCK | LIST | SAVE    accepted, writing exactly these
//   kept OPTIONS | BLOCK | LIST | SAVE  the same, but known not to read back
//   prints HEX | LIST | SAVE            "--block HEX" after the clause
//   no OPTIONS | MESSAGE                exit 2, "zunder: line 1: MESSAGE" alone
//   args WORDS | MESSAGE                the same with head, words and tail as
//                                       arguments: "zunder: MESSAGE"
//   help OPTIONS                        the help text, on "> TEXT" lines, from
//                                       a batch line and as arguments
//   same WORDS | WORDS                  two calls giving exactly the same
//   gives WORDS | FILE | STATUS | OUT | ERR  a call giving exactly these (OUT
//       may go on "> " lines); the word FILE names a file holding FILE, and
//       "sh SCRIPT" runs SCRIPT, $ZUNDER in it
// BLOCK is hex digits, or pieces "OFFSET:HEX ..." in a block of zeros.  The ok
// and kept rows then go through zunder --check, which must report just the kept
// ones, and zunder --kernel --check, which must report the same where the
// machine allows.  --rows DIR writes the accepted rules out instead
// (write_rows); --shell-rows prints the ok and prints rows under "shell on",
// "KIND LINE" each.
#include "table.h"
#include "zunder_run.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

namespace {

using ztest::decoded;
using ztest::run_result;
using strings = std::vector<std::string>;

struct row {
	std::string kind;
	int at = 0; // its line in the table
	strings env;
	std::string line, save;       // a batch line, and the saved text it writes
	std::string clause;           // with shell on: the head up to the clause
	strings args, other;          // a call's words; a same row's second call
	std::string script, file;     // run by sh instead; what FILE holds
	run_result wanted{0, "", ""}; // of the call, or of the line alone
};

// The context lines by their word, each the rest of its line; a labels line
// leaves the label file's name.
using context = std::map<std::string, std::string>;

std::string table_name, rows_dir;
bool shell_rows = false;
int failures = 0, cases = 0;

void fail(int at, const std::string &what)
{
	std::printf("%s:%d: %s\n", table_name.c_str(), at, what.c_str());
	++failures;
}

bool is(const std::string &kind, std::initializer_list<const char *> kinds)
{
	return std::find(kinds.begin(), kinds.end(), kind) != kinds.end();
}

bool batched(const row &r)
{
	return is(r.kind, {"ok", "kept", "prints", "help"});
}

std::string outcome(const run_result &r)
{
	return "exit " + std::to_string(r.status) + "\n  stdout: '" + r.out + "'\n  stderr: '" + r.err + "'";
}

void expect(const row &r, const run_result &got, const run_result &wanted)
{
	if (got.status != wanted.status || got.out != wanted.out || got.err != wanted.err)
		fail(r.at, outcome(got) + "\n  wanted " + outcome(wanted));
}

std::string block_of(const std::string &cell, size_t size, int at)
{
	if (cell.find(':') == std::string::npos)
		return cell;
	std::string hex(2 * size, '0');
	std::istringstream stream(cell);
	for (std::string piece; stream >> piece;) {
		const size_t colon = piece.find(':');
		const size_t offset = 2 * std::stoul(piece.substr(0, colon));
		const std::string bytes = piece.substr(colon + 1);
		if (bytes.size() % 2 != 0 || offset + bytes.size() > hex.size())
			fail(at, "bad block piece '" + piece + "'");
		else
			hex.replace(offset, bytes.size(), bytes);
	}
	return hex;
}

std::string temporary_file(const std::string &text)
{
	char path[] = "/tmp/zunder_cases.XXXXXX";
	const int fd = mkstemp(path);
	if (fd < 0 || write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
		return "/nonexistent";
	close(fd);
	return path;
}

std::string replaced(std::string text, const std::string &name, const std::string &value)
{
	for (size_t at = text.find(name); at != std::string::npos; at = text.find(name, at + value.size()))
		text.replace(at, name.size(), value);
	return text;
}

// The build's plug-in folder and that of its faulty test plug-ins.
std::string placed(const std::string &text)
{
	return replaced(replaced(text, "$TEST_PLUGINS", ZUNDER_TEST_PLUGIN_DIR), "$PLUGINS",
			ZUNDER_PLUGIN_DIR);
}

// Runs zunder with `args`, or sh with `script` when given, the word FILE in
// them naming a file holding `file`.
run_result run(strings args, const std::string &file, const strings &env, const std::string &script = "")
{
	const std::string path = temporary_file(file);
	for (std::string &arg : args)
		arg = replaced(arg, "FILE", path);
	const run_result got = script.empty() ? ztest::zunder(args, env)
					      : ztest::run_shell(replaced(script, "FILE", path), env);
	unlink(path.c_str());
	return got;
}

// The saved text pasted into a script run in a folder holding a file a glob
// could match, with HOME set: by sh, and by bash with history expansion on.
// Nothing may run, expand or split; `ls` shows that no file was made.
void check_through_shells(const row &r)
{
	char dir[] = "/tmp/zunder_shell.XXXXXX";
	if (mkdtemp(dir) == nullptr)
		return fail(r.at, "cannot make a folder");
	const std::string script = "cd \"$DIR\" && : >a1 && $ZUNDER " + r.clause +
				   (r.save.empty() ? "" : " ") + r.save + "; ls\n";
	const std::string path = temporary_file("set -o history -H\n" + script);
	strings env = r.env;
	env.insert(env.end(), {std::string("DIR=") + dir, "HOME=/home-expanded", "FILE=" + path});
	for (const std::string shell : {"sh", "bash"}) {
		const run_result got = ztest::run_shell(shell == "sh" ? script : "bash <\"$FILE\"", env);
		const bool refused = got.out == "a1\n" && got.err.rfind("zunder: ", 0) == 0;
		if (r.kind == "prints" ? !refused : got.out != r.wanted.out + "a1\n" || !got.err.empty())
			fail(r.at, "saved text through " + shell + ": " + outcome(got));
	}
	unlink(path.c_str());
	unlink((std::string(dir) + "/a1").c_str());
	rmdir(dir);
}

// With --rows DIR: appends each accepted rule to DIR/<clause>.rules, as a
// zunder --batch line, after a line "# env: CHANGE..." when it runs with
// changes to zunder's environment beyond the fixed protocol table (a label
// file is copied to DIR/<clause>.labels), for other machines to replay.
void write_rows(const std::vector<row> &rows)
{
	for (const row &r : rows) {
		const size_t at = r.line.find(r.line.find("-j ") != std::string::npos ? "-j " : "-m ");
		if (!is(r.kind, {"ok", "kept"}) || at == std::string::npos)
			continue;
		const std::string clause = r.line.substr(at + 3, r.line.find(' ', at + 3) - at - 3);
		std::string changes;
		for (std::string change : r.env) {
			if (change.rfind("PAVANE_CONNLABEL_CONF=", 0) == 0) {
				std::ifstream from(change.substr(change.find('=') + 1));
				const std::string copy = rows_dir + "/" + clause + ".labels";
				std::ofstream(copy) << from.rdbuf();
				change = "PAVANE_CONNLABEL_CONF=" + copy;
			}
			changes += (changes.empty() ? "# env: " : " ") + change;
		}
		std::ofstream(rows_dir + "/" + clause + ".rules", std::ios::app)
			<< (changes.empty() ? "" : changes + "\n") << r.line << "\n";
	}
}

// Checks each call, the rows that list and help in one batch (one at a time
// when the batch fails, so that the failing row is named), and the accepted
// ones together through --check and --kernel --check.
void check_group(const std::vector<row> &rows)
{
	cases += static_cast<int>(rows.size());
	if (!rows_dir.empty())
		return write_rows(rows);
	if (shell_rows) {
		for (const row &r : rows)
			if (!r.clause.empty())
				std::printf("%s %s\n", r.kind.c_str(), r.line.c_str());
		return;
	}
	std::string listing, wanted, accepted;
	std::vector<int> lines_at, kept_at; // the accepted rows' lines; the kept ones' numbers
	for (const row &r : rows) {
		if (r.kind == "same")
			expect(r, ztest::zunder(r.args, r.env), ztest::zunder(r.other, r.env));
		else if (is(r.kind, {"args", "help"}))
			expect(r, ztest::zunder(r.kind == "help" ? ztest::words(r.line) : r.args, r.env),
			       r.wanted);
		else if (r.kind == "gives")
			expect(r, run(r.args, r.file, r.env, r.script), r.wanted);
		else if (r.kind == "no")
			expect(r, run({"--batch", "FILE"}, r.line + "\n", r.env), r.wanted);
		if (batched(r)) {
			listing += r.line + "\n";
			wanted += r.wanted.out;
		}
		if (!r.clause.empty())
			check_through_shells(r);
		if (is(r.kind, {"ok", "kept"})) {
			accepted += r.line + "\n";
			lines_at.push_back(r.at);
		}
		if (r.kind == "kept")
			kept_at.push_back(static_cast<int>(lines_at.size()));
	}
	const strings &env = rows.front().env;
	const run_result all =
		listing.empty() ? run_result{0, "", ""} : run({"--batch", "FILE"}, listing, env);
	if (all.status != 0 || !all.err.empty() || all.out != wanted) {
		const int before = failures;
		for (const row &r : rows)
			if (batched(r))
				expect(r, run({"--batch", "FILE"}, r.line + "\n", r.env), r.wanted);
		if (failures == before)
			fail(rows.front().at,
			     "the rows pass one at a time but not in one batch: " + outcome(all));
	}
	if (accepted.empty())
		return;
	const run_result check = run({"--check", "FILE"}, accepted, env);
	for (const int n : kept_at)
		if (check.out.find("line " + std::to_string(n) + ": ") == std::string::npos)
			fail(lines_at[n - 1], "reads back, though kept as not reading back");
	const std::string summary = "rules checked: " + std::to_string(lines_at.size()) +
				    ", not parsing: 0, not reading back: " + std::to_string(kept_at.size()) +
				    "\n";
	if (check.status != (kept_at.empty() ? 0 : 1) || !check.err.empty() ||
	    !check.out.ends_with(summary) ||
	    std::count(check.out.begin(), check.out.end(), '\n') != static_cast<long>(kept_at.size()) + 1)
		fail(lines_at.front(), "zunder --check of the accepted rows: " + outcome(check));
	// The kernel's copies must read back as the rules do: the same reports.
	const run_result kernel =
		ztest::emulated()
			? run_result{2, "",
				     "user-mode qemu does not pass the packet filter's socket options on\n"}
			: run({"--kernel", "--check", "FILE"}, accepted, env);
	if (kernel.status == 2 && kernel.out.empty() &&
	    (ztest::emulated() || kernel.err.find("--kernel needs") != std::string::npos ||
	     kernel.err.find("the kernel has no") != std::string::npos))
		std::printf("SKIPPED (%s, line %d on): kernel check: %s", table_name.c_str(),
			    lines_at.front(), kernel.err.c_str());
	else if (kernel.status != check.status || !kernel.err.empty() || kernel.out != check.out)
		fail(lines_at.front(),
		     "zunder --kernel --check: " + outcome(kernel) + "\n  wanted " + outcome(check));
}

// The row of a table line under `c`; its kind is "" when the line is not a
// row of a known kind with its fields.
row read_row(const ztest::table_line &line, const context &c)
{
	const strings f = ztest::fields(line.rest);
	const std::string &k = line.word;
	static const std::map<std::string, size_t> widths = {{"ok", 4},   {"kept", 4}, {"prints", 3},
							     {"no", 2},   {"args", 2}, {"same", 2},
							     {"help", 1}, {"gives", 5}};
	row r{widths.contains(k) && widths.at(k) == f.size() ? k : "", line.at};
	if (r.kind.empty())
		return r;
	const auto set = [&](const char *word) { return c.contains(word) ? c.at(word) : ""; };
	r.env = set("protocols") == "none"      ? ztest::no_protocols
		: set("protocols") == "hostile" ? ztest::hostile_protocols
						: strings{};
	if (c.contains("labels"))
		r.env.push_back("PAVANE_CONNLABEL_CONF=" + c.at("labels"));
	for (const std::string &change : ztest::words(set("env")))
		r.env.push_back(placed(change));
	strings head = ztest::fields(set("head")), tail = ztest::fields(set("tail"));
	head.resize(3), tail.resize(3);
	std::transform(head.begin(), head.end(), head.begin(), decoded);
	std::transform(tail.begin(), tail.end(), tail.begin(), decoded);
	const size_t at = head[0].find(head[0].find("-j ") != std::string::npos ? "-j " : "-m ");
	const std::string clause = head[0].substr(0, head[0].find(' ', at + 3));
	const bool shell = is(set("shell"), {"on", "both"});
	const size_t size = c.contains("size") ? std::stoul(c.at("size")) : 0;
	const auto cell = [&](size_t i) { return decoded(f[i]); };
	const auto joined = [](const std::string &a, const std::string &b) {
		return a.empty() || b.empty() ? a + b : a + " " + b;
	};
	// head, then the cell, then tail: for the options, the listing and the saved text
	const auto framed = [&](int i, const std::string &cell) {
		return joined(joined(head[i], cell), tail[i]);
	};
	const auto placed_words = [](const std::string &text) {
		strings words = ztest::words(text);
		std::transform(words.begin(), words.end(), words.begin(), placed);
		return words;
	};
	if (k == "same") {
		r.args = placed_words(f[0]);
		r.other = placed_words(f[1]);
	} else if (k == "gives") {
		if (f[0].rfind("sh ", 0) == 0)
			r.script = placed(decoded(f[0].substr(3)));
		else
			r.args = placed_words(f[0]);
		r.file = cell(1);
		r.wanted = {std::stoi(f[2]), placed(cell(3)), placed(cell(4))};
	} else if (k == "args") {
		r.args = placed_words(framed(0, f[0]));
		r.wanted = {2, "", "zunder: " + placed(cell(1)) + "\n"};
	} else if (k == "no") {
		r.line = framed(0, cell(0));
		r.wanted = {2, "", "zunder: line 1: " + cell(1) + "\n"};
	} else if (k == "help") {
		r.line = joined(head[0], cell(0));
	} else { // ok, kept or prints: its block (unless prints), listing and saved text
		const bool prints = k == "prints";
		const auto text = [](const std::string &word, const std::string &cell) {
			return word + (cell.empty() ? "" : " " + cell) + "\n";
		};
		r.line = prints ? clause + " --block " + block_of(f[0], size, r.at) : framed(0, cell(0));
		r.save = framed(2, cell(prints ? 2 : 3));
		r.wanted.out = (prints ? "" : "block " + block_of(f[1], size, r.at) + "\n") +
			       text("list", framed(1, cell(prints ? 1 : 2))) + text("save", r.save);
		r.clause = shell && k != "kept" ? clause : "";
	}
	return r;
}

} // namespace

int main(int argc, char **argv)
{
	if (argc == 4 && std::string(argv[1]) == "--rows")
		rows_dir = argv[2];
	shell_rows = argc == 3 && std::string(argv[1]) == "--shell-rows";
	if (argc != 2 && rows_dir.empty() && !shell_rows) {
		std::fprintf(stderr, "usage: zunder_cases [--rows DIR | --shell-rows] TABLE\n");
		return 2;
	}
	table_name = argv[argc - 1];
	const auto lines = ztest::read_table(table_name);
	if (!lines) {
		std::fprintf(stderr, "zunder_cases: cannot read %s\n", table_name.c_str());
		return 2;
	}
	context c;
	std::vector<row> group;
	for (const ztest::table_line &line : *lines) {
		if (line.word == ">") {
			if (group.empty() || !is(group.back().kind, {"help", "gives"})) {
				fail(line.at, "a line of output without a help or gives row");
				continue;
			}
			// to the row, run for one family or both
			const std::string text =
				placed(decoded(line.text.size() > 2 ? line.text.substr(2) : ""));
			for (auto r = group.rbegin(); r != group.rend() && r->at == group.back().at; ++r)
				r->wanted.out += text + "\n";
			continue;
		}
		if (is(line.word, {"protocols", "labels", "env"}) && !group.empty()) {
			check_group(group);
			group.clear();
		}
		const std::string &word = line.word;
		if (word == "labels") {
			const std::string path = c.contains(word) ? c.at(word) : temporary_file("");
			if (!(std::ofstream(path, std::ios::binary) << decoded(line.rest)))
				fail(line.at, "cannot write the label file");
			c[word] = path;
		} else if (word == "protocols" && !is(line.rest, {"fixed", "none", "hostile"})) {
			fail(line.at, "unknown protocol database " + line.rest);
		} else if (is(word, {"head", "tail", "size", "protocols", "env", "families", "shell"})) {
			c[word] = line.rest;
			if (word == "head")
				c.erase("tail");
		} else if (row r = read_row(line, c); r.kind.empty()) {
			fail(line.at, "not a row of a known kind with its fields: " + line.text);
		} else {
			group.push_back(r);
			if (is(c["families"], {"on", "both"}) && c["head"].rfind("-4 ", 0) == 0 &&
			    !is(r.kind, {"same", "gives"})) {
				r.line.replace(0, 2, "-6");
				if (!r.clause.empty())
					r.clause.replace(0, 2, "-6");
				group.push_back(r);
			}
		}
	}
	if (!group.empty())
		check_group(group);
	if (c.contains("labels"))
		unlink(c.at("labels").c_str());
	if (rows_dir.empty() && !shell_rows)
		std::printf("%s: %d cases, %s\n", table_name.c_str(), cases, failures ? "FAILED" : "passed");
	return failures ? 1 : 0;
}
