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
