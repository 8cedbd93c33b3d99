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

// Says once per reason why the rules do not go through the kernel.
void report_kernel_skip(const std::string &reason)
{
	static std::set<std::string> reported;
	if (reported.insert(reason).second)
		std::printf("[  SKIPPED ] accepted rows not through the kernel: %s\n", reason.c_str());
}

} // namespace

// Runs the lines through `zunder --batch FILE`, or `zunder --kernel --batch FILE`.
run_result run_batch(const std::string &lines, const std::vector<std::string> &env, bool kernel)
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

// The accepted rules through `zunder --kernel --batch`: each must come back
// from the kernel with its block (the kernel's line may leave out a tail of
// zeros, the bytes the clause leaves to the kernel) and list and save the
// same.  A machine that cannot judge rules (not root, no namespace, no packet
// filter, the clause missing from the kernel, an emulator) skips this.
::testing::AssertionResult kernel_gives_back(const std::vector<given_row> &rules,
					     const std::vector<std::string> &env, size_t *failed)
{
	std::string lines;
	for (const given_row &rule : rules)
		lines += rule.line + "\n";
	if (emulated()) {
		report_kernel_skip(
			"qemu-arm (user mode) does not pass the packet filter's socket options to the "
			"kernel");
		return ::testing::AssertionSuccess();
	}
	const run_result r = run_batch(lines, env, true);
	*failed = rules.size();
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
	*failed = i;
	return ::testing::AssertionFailure()
	       << "zunder --kernel --batch exited " << r.status << ", stderr '" << r.err << "'; at "
	       << (i < rules.size() ? "'" + rules[i].line + "'" : "the end") << " it wrote:\n"
	       << r.out;
}

namespace {

bool is_temporary_file(const std::string &path)
{
	const std::string build =
		std::filesystem::path(ZUNDER_BIN).parent_path().parent_path().string() + "/";
	return path.rfind(build, 0) != 0 && std::filesystem::is_regular_file(path);
}

} // namespace

// With ZUNDER_ROWS_DIR set, appends the accepted rows to
// $ZUNDER_ROWS_DIR/<clause>.rules, where <clause> is the word after -m or -j,
// so that they can be replayed elsewhere (`zunder --kernel --batch FILE`).
// Each row is one line that `zunder --batch` reads back into the rule's
// words: a table row's line as written.  Every row ran with the tests' fixed protocol
// table preloaded (<build>/test-preload/zunder_fixed_protocols.so).  A row
// that ran with further changes to zunder's environment comes right after a
// comment line `# env: CHANGE...` that holds for that row alone: blank-
// separated NAME=value (a value naming a file outside the build tree, a
// test's temporary file, is replaced by a copy of the file beside the rows,
// <clause>.<NAME>) or a bare NAME for a variable taken away (a bare
// LD_PRELOAD: the machine's own protocol database).
void append_rows(const std::vector<given_row> &rules, const std::vector<std::string> &env)
{
	const char *dir = std::getenv("ZUNDER_ROWS_DIR");
	if (dir == nullptr || *dir == '\0')
		return;
	for (const given_row &rule : rules) {
		const std::string &clause = rule.clause, &line = rule.line;
		if (clause.empty() || clause.find('/') != std::string::npos || line.empty())
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

} // namespace ztest
