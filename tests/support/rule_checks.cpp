// SPDX-License-Identifier: GPL-2.0-or-later
#include "rule_checks.h"

#include <unistd.h>

#include <cstdio>
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

::testing::AssertionResult accepts(const accepted_rule &rule, const std::vector<std::string> &env)
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

namespace {

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

// Runs the lines through `zunder --batch FILE`.
run_result run_batch(const std::string &lines, const std::vector<std::string> &env)
{
	char path[] = "/tmp/zunder_batch.XXXXXX";
	const int fd = mkstemp(path);
	if (fd < 0)
		return {};
	std::FILE *file = fdopen(fd, "w");
	const bool written = file && std::fwrite(lines.data(), 1, lines.size(), file) == lines.size();
	if (file)
		std::fclose(file);
	run_result r = written ? zunder({"--batch", path}, env) : run_result{};
	unlink(path);
	return r;
}

} // namespace

::testing::AssertionResult accepts_all(const std::vector<accepted_rule> &rules,
				       const std::vector<std::string> &env)
{
	std::string lines, wanted;
	bool batchable = true;
	for (const accepted_rule &rule : rules) {
		std::string line;
		batchable = batchable && batch_line(rule.args, &line);
		lines += line + "\n";
	}
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
		if (auto ok = accepts(rule, env); !ok) {
			if (result)
				result = ::testing::AssertionFailure();
			result << ok.message() << "\n";
		}
	if (result && batchable)
		return ::testing::AssertionFailure()
		       << "each of the " << rules.size() << " rules passes on its own, not in one batch";
	return result;
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

::testing::AssertionResult shows_block(const std::vector<std::string> &head, const std::string &hex,
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
