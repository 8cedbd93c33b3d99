// SPDX-License-Identifier: GPL-2.0-or-later
// Runs a table of rule cases (a .cases file) through the build's zunder.
//
// One case a line, its fields separated by "|", blanks around a field
// dropped; "\xHH" in a field is the byte HH, as zunder echoes bytes,
// "\xHH{N}" N of them and "\{TEXT}{N}" N times TEXT; $PLUGINS and
// $TEST_PLUGINS are the build's plug-in folders.  "#" starts a comment; a
// line starting with blanks goes on with the line before, after one blank.
// Context lines set what later rows share:
//   head WORDS [| LIST | SAVE]  the words before each row's options ("-6 -m
//                     ah"), and what the listing and saved text start with;
//                     "head" alone clears it
//   tail WORDS [| LIST | SAVE]  what the options of the ok, kept, no and args
//                     rows, and the listing and saved text of the ok, kept
//                     and prints rows, end with (a head line clears it)
//   size N            the block size for blocks given as pieces
//   protocols NAME    the protocol database: fixed (the default), none, hostile
//   labels TEXT       a label file holding TEXT
//   env CHANGES       NAME=value (or a bare NAME, taken away) for zunder
//   families both|one with both, each row runs again with the head's -4 as -6
//   shell on|off      with on, the saved text of each ok row gives the same
//                     lines through sh and through bash with history
//                     expansion, and that of each prints row is refused
// Rows (OPTIONS follow the head on one zunder --batch line):
//   ok OPTIONS | BLOCK | LIST | SAVE    accepted, writing exactly these
//   kept OPTIONS | BLOCK | LIST | SAVE  the same, but known not to read back
//   prints HEX | LIST | SAVE            "--block HEX" after the clause
//   no OPTIONS | MESSAGE                exit 2, "zunder: line 1: MESSAGE" alone
//   args WORDS | MESSAGE                the same with head and words (split at
//                                       blanks) as arguments: "zunder: MESSAGE"
//   help OPTIONS                        the help text, on "> TEXT" lines,
//                                       from a batch line and as arguments
//   same WORDS | WORDS                  two calls giving exactly the same
//                                       status, output and errors (a help
//                                       text against the plug-in's own)
//   gives WORDS | FILE | STATUS | OUT | ERR  any call, with exactly what it
//                                       gives (OUT may go on "> " lines); the
//                                       word FILE is a file holding FILE;
//                                       "sh SCRIPT" runs SCRIPT, $ZUNDER in it
// BLOCK is hex digits, or pieces "OFFSET:HEX ..." in a block of zeros.
// The ok and kept rows then go through zunder --check, which must report
// just the kept ones, and zunder --kernel --check, which must report the
// same, where the machine allows (else the reason is printed).
// With --rows DIR the accepted rules are written out instead (write_rows);
// with --shell-rows the ok and prints rows under "shell on" are printed,
// "KIND LINE" each, LINE as a zunder --batch line.
// The lines and fields are read with table.h, as rdconnect's runs are.
#include "table.h"
#include "zunder_run.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>

#include <cstdio>
#include <fstream>
#include <sstream>

namespace {

using ztest::decoded;
using ztest::fields;
using ztest::run_result;

struct row {
	std::string kind, line, block, list, save; // for "no", `list` is the message
	std::vector<std::string> env;
	int at = 0;                     // line in the table
	std::string head;               // for a row read back through a shell
	std::vector<std::string> words; // for args, gives and same rows
	std::vector<std::string> other; // for same rows: the second call
	std::string file;               // for gives rows: the text of FILE
	int status = 0;                 // for gives rows
};

std::string table_name;
int failures = 0;
int cases = 0; // the rows checked, for the summary

void fail(int at, const std::string &what)
{
	std::printf("%s:%d: %s\n", table_name.c_str(), at, what.c_str());
	++failures;
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

std::string outcome(const run_result &r)
{
	return "exit " + std::to_string(r.status) + "\n  stdout: '" + r.out + "'\n  stderr: '" + r.err + "'";
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

// Runs zunder with `mode` ("--batch", "--check" or both "--kernel --check")
// on a file holding `lines`.
run_result run_file(std::vector<std::string> mode, const std::string &lines,
		    const std::vector<std::string> &env)
{
	mode.push_back(temporary_file(lines));
	const run_result r = ztest::zunder(mode, env);
	unlink(mode.back().c_str());
	return r;
}

// The build's plug-in folder and that of its faulty test plug-ins.
std::string placed(std::string text)
{
	for (const auto &[name, value] :
	     {std::pair<std::string, std::string>{"$TEST_PLUGINS", ZUNDER_TEST_PLUGIN_DIR},
	      {"$PLUGINS", ZUNDER_PLUGIN_DIR}})
		for (size_t at = text.find(name); at != std::string::npos; at = text.find(name, at))
			text.replace(at, name.size(), value);
	return text;
}

std::string wanted_output(const row &r)
{
	const auto text = [](const std::string &word, const std::string &cell) {
		return word + (cell.empty() ? "" : " " + cell) + "\n";
	};
	if (r.kind == "help")
		return r.list;
	return (r.kind == "prints" ? "" : "block " + r.block + "\n") + text("list", r.list) +
	       text("save", r.save);
}

void check_args(const row &r)
{
	const run_result got = ztest::zunder(r.words, r.env);
	const std::string wanted = "zunder: " + r.list + "\n";
	if (got.status != 2 || !got.out.empty() || got.err != wanted)
		fail(r.at, outcome(got) + "\n  wanted stderr: '" + wanted + "'");
}

void check_gives(const row &r)
{
	const std::string path = temporary_file(r.file);
	std::vector<std::string> words = r.words;
	for (std::string &word : words)
		for (size_t at = word.find("FILE"); at != std::string::npos; at = word.find("FILE", at))
			word.replace(at, 4, path);
	const bool shell = words.size() == 2 && words[0] == "sh";
	const run_result got = shell ? ztest::run_shell(words[1], r.env) : ztest::zunder(words, r.env);
	unlink(path.c_str());
	if (got.status != r.status || got.out != r.list || got.err != r.save)
		fail(r.at, outcome(got) + "\n  wanted exit " + std::to_string(r.status) + "\n  stdout: '" +
				   r.list + "'\n  stderr: '" + r.save + "'");
}

void check_same(const row &r)
{
	const run_result got = ztest::zunder(r.words, r.env), other = ztest::zunder(r.other, r.env);
	if (got.status != other.status || got.out != other.out || got.err != other.err)
		fail(r.at, outcome(got) + "\n  wanted what the second call gives: " + outcome(other));
}

// The help text as the arguments of one call, not a batch line.
void check_help(const row &r)
{
	const run_result got = ztest::zunder(ztest::words(r.line), r.env);
	if (got.status != 0 || !got.err.empty() || got.out != r.list)
		fail(r.at, "as arguments: " + outcome(got) + "\n  wanted stdout: '" + r.list + "'");
}

// The saved text pasted into a script run in a folder holding a file a glob
// could match, with HOME set: by sh, and by bash with history expansion on.
// Nothing may run, expand or split; `ls` shows that no file was made.
void check_through_shells(const row &r)
{
	char dir[] = "/tmp/zunder_shell.XXXXXX";
	if (mkdtemp(dir) == nullptr) {
		fail(r.at, "cannot make a folder");
		return;
	}
	const std::string script =
		"cd \"$DIR\" && : >a1 && $ZUNDER " + r.head + (r.save.empty() ? "" : " ") + r.save + "; ls\n";
	const std::string path = temporary_file("set -o history -H\n" + script);
	std::vector<std::string> env = r.env;
	env.insert(env.end(), {std::string("DIR=") + dir, "HOME=/home-expanded", "FILE=" + path});
	for (const std::string &shell : {std::string("sh"), std::string("bash")}) {
		const run_result got = ztest::run_shell(shell == "sh" ? script : "bash <\"$FILE\"", env);
		const bool refused = got.out == "a1\n" && got.err.rfind("zunder: ", 0) == 0;
		if (r.kind == "prints" ? !refused : got.out != wanted_output(r) + "a1\n" || !got.err.empty())
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
std::string rows_dir;
bool shell_rows = false;

void write_rows(const std::vector<row> &rows)
{
	for (const row &r : rows) {
		const size_t at = r.line.find(r.line.find("-j ") != std::string::npos ? "-j " : "-m ");
		if ((r.kind != "ok" && r.kind != "kept") || at == std::string::npos)
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

// Checks the refusals one at a time, the rows that list and help in one
// batch (one at a time when the batch fails, so that the failing row is
// named), and the accepted ones together through --check and --kernel
// --check.
void check_group(const std::vector<row> &rows)
{
	cases += static_cast<int>(rows.size());
	if (!rows_dir.empty()) {
		write_rows(rows);
		return;
	}
	if (shell_rows) {
		for (const row &r : rows)
			if (!r.head.empty())
				std::printf("%s %s\n", r.kind.c_str(), r.line.c_str());
		return;
	}
	std::string accepted, listing, wanted;
	std::vector<int> kept_at, lines_at;
	for (const row &r : rows) {
		if (r.kind == "args" || r.kind == "gives" || r.kind == "same") {
			r.kind == "args" ? check_args(r) : r.kind == "gives" ? check_gives(r) : check_same(r);
		} else if (r.kind == "no") {
			const run_result got = run_file({"--batch"}, r.line + "\n", r.env);
			const std::string message = "zunder: line 1: " + r.list + "\n";
			if (got.status != 2 || !got.out.empty() || got.err != message)
				fail(r.at, outcome(got) + "\n  wanted stderr: '" + message + "'");
		} else {
			listing += r.line + "\n";
			wanted += wanted_output(r);
			if (r.kind == "help")
				check_help(r);
		}
		if (!r.head.empty())
			check_through_shells(r);
		if (r.kind == "ok" || r.kind == "kept") {
			accepted += r.line + "\n";
			lines_at.push_back(r.at);
			if (r.kind == "kept")
				kept_at.push_back(static_cast<int>(lines_at.size()));
		}
	}
	const run_result batch =
		listing.empty() ? run_result{0, "", ""} : run_file({"--batch"}, listing, rows.front().env);
	if (batch.status != 0 || !batch.err.empty() || batch.out != wanted) {
		const int before = failures;
		for (const row &r : rows) {
			if (r.kind != "ok" && r.kind != "kept" && r.kind != "prints" && r.kind != "help")
				continue;
			const run_result got = run_file({"--batch"}, r.line + "\n", r.env);
			if (got.status != 0 || !got.err.empty() || got.out != wanted_output(r))
				fail(r.at, outcome(got) + "\n  wanted stdout: '" + wanted_output(r) + "'");
		}
		if (failures == before)
			fail(rows.front().at,
			     "the rows pass one at a time but not in one batch: " + outcome(batch));
	}
	if (accepted.empty())
		return;
	const std::vector<std::string> &env = rows.front().env;
	const run_result check = run_file({"--check"}, accepted, env);
	for (const int n : kept_at)
		if (check.out.find("line " + std::to_string(n) + ": ") == std::string::npos)
			fail(lines_at[n - 1], "reads back, though kept as not reading back");
	const std::string summary = "rules checked: " + std::to_string(lines_at.size()) +
				    ", not parsing: 0, not reading back: " + std::to_string(kept_at.size()) +
				    "\n";
	if (check.status != (kept_at.empty() ? 0 : 1) || !check.err.empty() ||
	    check.out.size() < summary.size() ||
	    check.out.compare(check.out.size() - summary.size(), summary.size(), summary) != 0 ||
	    std::count(check.out.begin(), check.out.end(), '\n') != static_cast<long>(kept_at.size()) + 1)
		fail(lines_at.front(), "zunder --check of the accepted rows: " + outcome(check));
	// The kernel's copies must read back as the rules do: the same reports.
	if (ztest::emulated()) {
		std::printf(
			"SKIPPED (%s, line %d on): kernel check: user-mode qemu does not pass the packet "
			"filter's socket options on\n",
			table_name.c_str(), lines_at.front());
		return;
	}
	const run_result kernel = run_file({"--kernel", "--check"}, accepted, env);
	if (kernel.status == 2 && kernel.out.empty() &&
	    (kernel.err.find("--kernel needs") != std::string::npos ||
	     kernel.err.find("the kernel has no") != std::string::npos)) {
		std::printf("SKIPPED (%s, line %d on): kernel check: %s", table_name.c_str(),
			    lines_at.front(), kernel.err.c_str());
		return;
	}
	if (kernel.status != check.status || !kernel.err.empty() || kernel.out != check.out)
		fail(lines_at.front(), "zunder --kernel --check of the accepted rows: " + outcome(kernel) +
					       "\n  wanted stdout: '" + check.out + "'");
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
	std::string head, clause_head, list_prefix, save_prefix, tail, list_tail, save_tail;
	size_t size = 0;
	std::vector<std::string> database, extra; // protocols and env context lines
	char labels[] = "/tmp/zunder_labels.XXXXXX";
	bool have_labels = false, both = false, shell = false;
	std::vector<row> group;
	int at = 0;
	for (const ztest::table_line &line : *lines) {
		const std::string &text = line.text, &word = line.word, &rest = line.rest;
		at = line.at;
		if (word == ">" || text == ">") {
			if (group.empty() || (group.back().kind != "help" && group.back().kind != "gives"))
				fail(at, "a line of output without a help or gives row");
			// to the row, run for one family or both
			for (auto r = group.rbegin(); r != group.rend() && r->at == group.back().at; ++r)
				r->list += placed(decoded(text.size() > 2 ? text.substr(2) : "")) + "\n";
			continue;
		}
		if (!group.empty() && (word == "protocols" || word == "labels" || word == "env")) {
			check_group(group);
			group.clear();
		}
		if (word == "head") {
			std::vector<std::string> f = fields(rest);
			f.resize(std::max<size_t>(f.size(), 1));
			head = decoded(f[0]);
			list_prefix = f.size() > 1 ? decoded(f[1]) : "";
			save_prefix = f.size() > 2 ? decoded(f[2]) : "";
			const size_t clause =
				head.find(head.find("-j ") != std::string::npos ? "-j " : "-m ");
			clause_head = head.substr(0, head.find(' ', clause + 3));
			tail = list_tail = save_tail = "";
		} else if (word == "tail") {
			const std::vector<std::string> f = fields(rest);
			tail = decoded(f[0]);
			list_tail = f.size() > 1 ? decoded(f[1]) : "";
			save_tail = f.size() > 2 ? decoded(f[2]) : "";
		} else if (word == "size") {
			size = std::stoul(rest);
		} else if (word == "families" || word == "shell") {
			(word == "shell" ? shell : both) = rest == "on" || rest == "both";
		} else if (word == "protocols") {
			database = rest == "fixed"  ? std::vector<std::string>{}
				   : rest == "none" ? ztest::no_protocols
				   : rest == "hostile"
					   ? ztest::hostile_protocols
					   : (fail(at, "unknown protocol database " + rest), database);
		} else if (word == "env") {
			extra.clear();
			for (const std::string &change : ztest::words(rest))
				extra.push_back(placed(change));
		} else if (word == "labels") {
			const std::string file = decoded(rest);
			const int fd = have_labels ? open(labels, O_WRONLY | O_TRUNC) : mkstemp(labels);
			if (fd < 0 ||
			    write(fd, file.data(), file.size()) != static_cast<ssize_t>(file.size()))
				fail(at, "cannot write the label file");
			close(fd);
			have_labels = true;
		} else {
			const std::vector<std::string> f = fields(rest);
			const auto cell = [&](size_t i) { return decoded(f[i]); };
			const size_t wanted = word == "ok" || word == "kept"   ? 4
					      : word == "prints"               ? 3
					      : word == "no" || word == "args" ? 2
					      : word == "same"                 ? 2
					      : word == "help"                 ? 1
					      : word == "gives"                ? 5
									       : 0;
			if (wanted == 0 || f.size() != wanted) {
				fail(at, "not a row of a known kind with its fields: " + text);
				continue;
			}
			std::vector<std::string> env = database;
			if (have_labels)
				env.push_back(std::string("PAVANE_CONNLABEL_CONF=") + labels);
			env.insert(env.end(), extra.begin(), extra.end());
			row r{word, head, "", "", "", env, at};
			if (word == "same") {
				r.words = ztest::words(placed(f[0]));
				r.other = ztest::words(placed(f[1]));
				group.push_back(r);
				continue;
			}
			if (word == "gives") {
				r.words = f[0].rfind("sh ", 0) == 0
						  ? std::vector<std::string>{"sh", decoded(f[0].substr(3))}
						  : ztest::words(f[0]);
				for (std::string &w : r.words)
					w = placed(w);
				r.file = cell(1);
				r.status = std::stoi(f[2]);
				r.list = placed(cell(3));
				r.save = placed(cell(4));
				group.push_back(r);
				continue;
			}
			const auto joined = [](const std::string &prefix, const std::string &text) {
				return prefix.empty() || text.empty() ? prefix + text : prefix + " " + text;
			};
			if (word == "args") {
				r.words = ztest::words(joined(joined(head, f[0]), tail));
				for (std::string &w : r.words)
					w = placed(w);
			}
			if (word == "prints") {
				r.line = clause_head + " --block " + block_of(f[0], size, at);
				r.list = joined(joined(list_prefix, cell(1)), list_tail);
				r.save = joined(joined(save_prefix, cell(2)), save_tail);
			} else {
				r.line = joined(r.line, cell(0));
				if (word != "help")
					r.line = joined(r.line, tail);
				if (wanted == 4) {
					r.block = block_of(f[1], size, at);
					r.list = joined(joined(list_prefix, cell(2)), list_tail);
					r.save = joined(joined(save_prefix, cell(3)), save_tail);
				} else if (wanted == 2) {
					r.list = word == "args" ? placed(cell(1)) : cell(1);
				}
			}
			if (shell && (word == "ok" || word == "prints"))
				r.head = clause_head;
			group.push_back(r);
			if (both && head.rfind("-4 ", 0) == 0) {
				r.line.replace(0, 2, "-6");
				if (!r.head.empty())
					r.head.replace(0, 2, "-6");
				group.push_back(r);
			}
		}
	}
	if (!group.empty())
		check_group(group);
	if (have_labels)
		unlink(labels);
	if (rows_dir.empty() && !shell_rows)
		std::printf("%s: %d cases, %s\n", table_name.c_str(), cases, failures ? "FAILED" : "passed");
	return failures ? 1 : 0;
}
