// SPDX-License-Identifier: GPL-2.0-or-later
#include "rule_checks.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <sstream>

namespace ztest {

namespace {

std::string describe(const std::vector<std::string> &args)
{
	std::string text = "zunder";
	for (const std::string &a : args)
		text += " '" + a + "'";
	return text;
}

::testing::AssertionResult ran_ok(const std::vector<std::string> &args, const run_result &r)
{
	if (r.status == 0 && r.err.empty())
		return ::testing::AssertionSuccess();
	return ::testing::AssertionFailure()
	       << describe(args) << " exited " << r.status << " with stderr: " << r.err;
}

} // namespace

namespace {

::testing::AssertionResult runs_as_accepted(const accepted_rule &rule, const std::vector<std::string> &env)
{
	const run_result r = zunder(rule.args, env);
	if (auto ok = ran_ok(rule.args, r); !ok)
		return ok;
	rule_lines lines;
	if (!split_rule_output(r.out, &lines))
		return ::testing::AssertionFailure() << describe(rule.args) << " wrote unexpected lines:\n"
						     << r.out;
	if ((!rule.block.empty() && lines.block != rule.block) || lines.list != rule.list ||
	    lines.save != rule.save)
		return ::testing::AssertionFailure()
		       << describe(rule.args) << "\n  wrote block '" << lines.block << "' list '"
		       << lines.list << "' save '" << lines.save << "'\n  wanted block '" << rule.block
		       << "' list '" << rule.list << "' save '" << rule.save << "'";
	return ::testing::AssertionSuccess();
}

// One batch line: each word in double quotes, with backslash before the
// characters that end or escape them; false for words no line can hold.
bool batch_line(const std::vector<std::string> &args, std::string *line)
{
	line->clear();
	for (const std::string &word : args) {
		if (word.find_first_of("\n\r") != std::string::npos)
			return false;
		*line += line->empty() ? "\"" : " \"";
		for (char c : word) {
			if (c == '"' || c == '\\')
				*line += '\\';
			*line += c;
		}
		*line += '"';
	}
	return true;
}

// The rules as batch lines, or false if some word cannot be on a line.
bool batch_lines(const std::vector<accepted_rule> &rules, std::string *lines)
{
	lines->clear();
	for (const accepted_rule &rule : rules) {
		std::string line;
		if (!batch_line(rule.args, &line))
			return false;
		*lines += line + "\n";
	}
	return true;
}

// Runs the lines through `zunder --batch FILE`, or `zunder --kernel --batch FILE`.
run_result run_batch(const std::string &lines, const std::vector<std::string> &env, bool kernel = false)
{
	char path[] = "/tmp/zunder_batch.XXXXXX";
	const int fd = mkstemp(path);
	if (fd < 0)
		return {};
	std::FILE *file = fdopen(fd, "w");
	const bool written = file && std::fwrite(lines.data(), 1, lines.size(), file) == lines.size();
	if (file)
		std::fclose(file);
	std::vector<std::string> args = {"--batch", path};
	if (kernel)
		args.insert(args.begin(), "--kernel");
	run_result r = written ? zunder(args, env) : run_result{};
	unlink(path);
	return r;
}

::testing::AssertionResult all_run_as_accepted(const std::vector<accepted_rule> &rules,
					       const std::vector<std::string> &env)
{
	std::string lines;
	const bool batchable = batch_lines(rules, &lines);
	if (batchable) {
		const run_result r = run_batch(lines, env);
		std::stringstream out(r.out);
		bool all_match = r.status == 0 && r.err.empty();
		for (size_t i = 0; all_match && i < rules.size(); ++i) {
			std::string block, list, save;
			const accepted_rule &rule = rules[i];
			all_match = std::getline(out, block) && std::getline(out, list) &&
				    std::getline(out, save) &&
				    (rule.block.empty() ? block.rfind("block ", 0) == 0
							: block == "block " + rule.block) &&
				    list == "list" + rule.list && save == "save" + rule.save;
		}
		std::string rest;
		if (all_match && !std::getline(out, rest))
			return ::testing::AssertionSuccess();
	}
	// Slow, but it says which rules are at fault.
	::testing::AssertionResult result = ::testing::AssertionSuccess();
	for (const accepted_rule &rule : rules)
		if (auto ok = runs_as_accepted(rule, env); !ok) {
			if (result)
				result = ::testing::AssertionFailure();
			result << ok.message() << "\n";
		}
	if (result && batchable)
		return ::testing::AssertionFailure()
		       << "each of the " << rules.size() << " rules passes on its own, not in one batch";
	return result;
}

// Says once per reason why the rules do not go through the kernel.
void report_kernel_skip(const std::string &reason)
{
	static std::set<std::string> reported;
	if (reported.insert(reason).second)
		std::printf("[  SKIPPED ] accepted rows not through the kernel: %s\n", reason.c_str());
}

// The accepted rules through `zunder --kernel --batch`: each must come back
// from the kernel with its block (the kernel's line may leave out a tail of
// zeros, the bytes the clause leaves to the kernel) and list and save the
// same.  A machine that cannot judge rules (not root, no namespace, no packet
// filter, the clause missing from the kernel, an emulator) skips this.
::testing::AssertionResult kernel_gives_back(const std::vector<accepted_rule> &rules,
					     const std::string &lines, const std::vector<std::string> &env)
{
	if (emulated()) {
		report_kernel_skip(
			"qemu-arm (user mode) does not pass the packet filter's socket options to the "
			"kernel");
		return ::testing::AssertionSuccess();
	}
	const run_result r = run_batch(lines, env, true);
	for (const char *cannot : {"--kernel needs", "the kernel has no"})
		if (r.status == 2 && r.out.empty() && r.err.find(cannot) != std::string::npos) {
			report_kernel_skip(r.err.substr(0, r.err.find('\n')));
			return ::testing::AssertionSuccess();
		}
	std::stringstream out(r.out);
	bool all_match = r.status == 0 && r.err.empty();
	size_t i = 0;
	for (; all_match && i < rules.size(); ++i) {
		std::string block, kernel, list, save;
		all_match = std::getline(out, block) && std::getline(out, kernel) &&
			    std::getline(out, list) && std::getline(out, save) &&
			    block.rfind("block ", 0) == 0 && kernel.rfind("kernel ", 0) == 0 &&
			    kernel.size() > 7;
		if (!all_match)
			break;
		block.erase(0, 6);
		kernel.erase(0, 7);
		all_match = block.rfind(kernel, 0) == 0 &&
			    block.find_first_not_of('0', kernel.size()) == std::string::npos &&
			    list == "list" + rules[i].list && save == "save" + rules[i].save;
	}
	std::string rest;
	if (all_match && !std::getline(out, rest))
		return ::testing::AssertionSuccess();
	return ::testing::AssertionFailure()
	       << "zunder --kernel --batch exited " << r.status << ", stderr '" << r.err << "'; at "
	       << (i < rules.size() ? describe(rules[i].args) : "the end") << " it wrote:\n"
	       << r.out;
}

bool is_temporary_file(const std::string &path)
{
	const std::string build =
		std::filesystem::path(ZUNDER_BIN).parent_path().parent_path().string() + "/";
	return path.rfind(build, 0) != 0 && std::filesystem::is_regular_file(path);
}

// With ZUNDER_ROWS_DIR set, appends the accepted rows to
// $ZUNDER_ROWS_DIR/<clause>.rules, where <clause> is the word after -m or -j,
// so that they can be replayed elsewhere (`zunder --kernel --batch FILE`).
// Each row is one line that `zunder --batch` reads back into the same words:
// every word in double quotes, with a backslash before each `"` and `\`,
// words separated by one blank.  Every row ran with the tests' fixed protocol
// table preloaded (<build>/test-preload/zunder_fixed_protocols.so).  A row
// that ran with further changes to zunder's environment comes right after a
// comment line `# env: CHANGE...` that holds for that row alone: blank-
// separated NAME=value (a value naming a file outside the build tree, a
// test's temporary file, is replaced by a copy of the file beside the rows,
// <clause>.<NAME>) or a bare NAME for a variable taken away (a bare
// LD_PRELOAD: the machine's own protocol database).
void append_rows(const std::vector<accepted_rule> &rules, const std::vector<std::string> &env)
{
	const char *dir = std::getenv("ZUNDER_ROWS_DIR");
	if (dir == nullptr || *dir == '\0')
		return;
	for (const accepted_rule &rule : rules) {
		std::string clause, line;
		for (size_t i = 0; i + 1 < rule.args.size() && clause.empty(); ++i)
			if (rule.args[i] == "-m" || rule.args[i] == "-j")
				clause = rule.args[i + 1];
		if (clause.empty() || clause.find('/') != std::string::npos || !batch_line(rule.args, &line))
			continue;
		std::string comment;
		for (const std::string &change : env) {
			std::string written = change;
			const size_t equals = change.find('=');
			if (equals != std::string::npos && is_temporary_file(change.substr(equals + 1))) {
				const std::string copy =
					std::string(dir) + "/" + clause + "." + change.substr(0, equals);
				std::filesystem::copy_file(change.substr(equals + 1), copy,
							   std::filesystem::copy_options::overwrite_existing);
				written = change.substr(0, equals + 1) + copy;
			}
			comment += (comment.empty() ? "# env: " : " ") + written;
		}
		std::FILE *file = std::fopen((std::string(dir) + "/" + clause + ".rules").c_str(), "a");
		if (file == nullptr)
			continue;
		const std::string text = (comment.empty() ? "" : comment + "\n") + line + "\n";
		std::fwrite(text.data(), 1, text.size(), file);
		std::fclose(file);
	}
}

::testing::AssertionResult accepted_and_given_back(const std::vector<accepted_rule> &rules,
						   ::testing::AssertionResult ordinary,
						   const std::vector<std::string> &env)
{
	if (!ordinary)
		return ordinary;
	append_rows(rules, env);
	std::string lines;
	if (!batch_lines(rules, &lines))
		return ::testing::AssertionSuccess();
	return kernel_gives_back(rules, lines, env);
}

} // namespace

::testing::AssertionResult accepts(const accepted_rule &rule, const std::vector<std::string> &env)
{
	return accepted_and_given_back({rule}, runs_as_accepted(rule, env), env);
}

::testing::AssertionResult accepts_all(const std::vector<accepted_rule> &rules,
				       const std::vector<std::string> &env)
{
	return accepted_and_given_back(rules, all_run_as_accepted(rules, env), env);
}

void expect_rejected(const std::vector<std::string> &head, const std::vector<bad_input> &rows,
		     const std::vector<std::string> &env)
{
	for (const bad_input &row : rows)
		EXPECT_TRUE(rejects({concat(head, row.options), row.message}, env));
}

::testing::AssertionResult rejects(const rejected_rule &rule, const std::vector<std::string> &env)
{
	const run_result r = zunder(rule.args, env);
	const std::string wanted = "zunder: " + rule.message + "\n";
	if (r.status == 2 && r.out.empty() && r.err == wanted)
		return ::testing::AssertionSuccess();
	return ::testing::AssertionFailure()
	       << describe(rule.args) << " exited " << r.status << "\n  stdout: '" << r.out
	       << "'\n  stderr: '" << r.err << "'\n  wanted stderr: '" << wanted << "'";
}

::testing::AssertionResult round_trips(const std::vector<std::string> &head,
				       const std::vector<std::string> &options,
				       const std::vector<std::string> &env)
{
	const auto first_args = concat(head, options);
	const run_result first = zunder(first_args, env);
	if (auto ok = ran_ok(first_args, first); !ok)
		return ok;
	rule_lines a;
	if (!split_rule_output(first.out, &a))
		return ::testing::AssertionFailure() << "unexpected output: " << first.out;

	const auto second_args = concat(head, split_words(a.save));
	const run_result second = zunder(second_args, env);
	if (auto ok = ran_ok(second_args, second); !ok)
		return ok << " (saved from " << describe(first_args) << ")";
	rule_lines b;
	if (!split_rule_output(second.out, &b))
		return ::testing::AssertionFailure() << "unexpected output: " << second.out;
	if (a.block != b.block || a.save != b.save)
		return ::testing::AssertionFailure()
		       << describe(first_args) << " gave block " << a.block << " save '" << a.save
		       << "'; parsed again: block " << b.block << " save '" << b.save << "'";
	return ::testing::AssertionSuccess();
}

::testing::AssertionResult prints_block(const std::vector<std::string> &head, const std::string &hex,
					const std::string &list, const std::string &save,
					const std::vector<std::string> &env)
{
	const auto args = concat(head, {"--block", hex});
	const run_result r = zunder(args, env);
	if (auto ok = ran_ok(args, r); !ok)
		return ok;
	const std::string wanted = "list" + list + "\nsave" + save + "\n";
	if (r.out == wanted)
		return ::testing::AssertionSuccess();
	return ::testing::AssertionFailure()
	       << describe(args) << "\n  wrote:  '" << r.out << "'\n  wanted: '" << wanted << "'";
}

} // namespace ztest
