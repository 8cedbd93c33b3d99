// SPDX-License-Identifier: GPL-2.0-or-later
#include "rule_table.h"

#include "rule_checks.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <sstream>

namespace ztest {

row ok(std::string rule, std::string block, std::string list, std::string save, where at)
{
	return {row::kind::accepted, std::move(rule), {}, std::move(block),
		std::move(list),     std::move(save), at};
}

row ok(words rule, std::string block, std::string list, std::string save, where at)
{
	return {row::kind::accepted, "", std::move(rule), std::move(block), std::move(list),
		std::move(save),     at};
}

row kept(std::string rule, std::string block, std::string list, std::string save, where at)
{
	return {row::kind::kept, std::move(rule), {}, std::move(block), std::move(list), std::move(save), at};
}

row prints(std::string rule, std::string list, std::string save, where at)
{
	return {row::kind::printed, std::move(rule), {}, "", std::move(list), std::move(save), at};
}

row no(std::string rule, std::string message, where at)
{
	return {row::kind::refused, std::move(rule), {}, "", std::move(message), "", at};
}

row no(words rule, std::string message, where at)
{
	return {row::kind::refused, "", std::move(rule), "", std::move(message), "", at};
}

row help(std::string rule, std::string text, where at)
{
	return {row::kind::help, std::move(rule), {}, "", std::move(text), "", at};
}

row gives(words args, std::string file, int status, std::string out, std::string err, where at)
{
	return {row::kind::call, "", std::move(args), "",    std::move(out),
		std::move(err),  at, std::move(file), status};
}

std::string saved_text_through_shell(const std::string &rule)
{
	size_t clause = rule.find("-m ");
	clause = clause != std::string::npos ? clause : rule.find("-j ");
	const std::string head = rule.substr(0, rule.find(' ', clause + 3));
	return "d=$(mktemp -d) && cd \"$d\" && s=$($ZUNDER " + rule +
	       " | sed -n 's/^save//p') && eval \"\\$ZUNDER " + head + "$s\"; ls; cd / && rm -r \"$d\"";
}

std::vector<row> both_families(std::vector<row> rows)
{
	const size_t n = rows.size();
	for (size_t i = 0; i < n; ++i) {
		row copy = rows[i];
		if (copy.line.rfind("-4 ", 0) != 0)
			ADD_FAILURE_AT(copy.at.file, static_cast<int>(copy.at.line)) << "not a -4 rule";
		copy.line.replace(0, 2, "-6");
		rows.push_back(copy);
	}
	return rows;
}

std::vector<row> operator+(std::vector<row> a, const std::vector<row> &b)
{
	a.insert(a.end(), b.begin(), b.end());
	return a;
}

std::string block(size_t size, const std::string &pieces)
{
	std::string hex(2 * size, '0');
	std::istringstream stream(pieces);
	for (std::string piece; stream >> piece;) {
		const size_t colon = piece.find(':');
		const size_t at = 2 * std::stoul(piece.substr(0, colon));
		const std::string bytes = piece.substr(colon + 1);
		if (colon == std::string::npos || bytes.size() % 2 != 0 || at + bytes.size() > hex.size())
			ADD_FAILURE() << "bad block piece '" << piece << "'";
		else
			hex.replace(at, bytes.size(), bytes);
	}
	return hex;
}

namespace {

void fail(const row &r, const std::string &what)
{
	ADD_FAILURE_AT(r.at.file, static_cast<int>(r.at.line))
		<< "row " << (r.line.empty() ? "(words)" : "'" + r.line + "'") << ": " << what;
}

std::string outcome(const run_result &r)
{
	return "exit " + std::to_string(r.status) + "\n  stdout: '" + r.out + "'\n  stderr: '" + r.err + "'";
}

// The words up to and including the clause name: "-6 -m ah" of
// "-6 -m ah --ahspi 1".
std::string head_of(const row &r)
{
	std::vector<std::string> words = r.args;
	if (words.empty()) {
		std::istringstream stream(r.line);
		for (std::string w; stream >> w;)
			words.push_back(w);
	}
	std::string head;
	for (size_t i = 0; i < words.size(); ++i) {
		head += (head.empty() ? "" : " ") + words[i];
		if ((words[i] == "-m" || words[i] == "-j") && i + 1 < words.size())
			return head + " " + words[i + 1];
	}
	return head;
}

// What a successful row writes: three lines for a rule, two for a block.
struct output {
	std::string block, list, save;
};

// Reads the next row's lines from `out`; false if they are not there.
bool next_output(std::istream &out, bool with_block, output *o)
{
	std::string block = "block ", list, save;
	if (with_block && !(std::getline(out, block) && block.rfind("block ", 0) == 0))
		return false;
	if (!(std::getline(out, list) && list.rfind("list", 0) == 0 && std::getline(out, save) &&
	      save.rfind("save", 0) == 0))
		return false;
	*o = {block.substr(6), list.substr(4), save.substr(4)};
	return true;
}

std::string differs(const row &r, const output &o, bool with_block)
{
	if ((with_block && !r.block.empty() && o.block != r.block) || o.list != r.list || o.save != r.save)
		return "wrote block '" + o.block + "' list '" + o.list + "' save '" + o.save +
		       "'\n  wanted block '" + r.block + "' list '" + r.list + "' save '" + r.save + "'";
	return "";
}

// Runs rows that succeed and write a listing, all in one batch where they
// have lines; a batch that fails runs its rows one at a time, so that each
// failing row is named.  Returns what each row wrote.
std::vector<output> run_listing_rows(const std::vector<const row *> &rows,
				     const std::vector<std::string> &env)
{
	std::vector<output> outputs(rows.size());
	std::string lines;
	for (const row *r : rows)
		if (!r->line.empty())
			lines += r->line + "\n";
	const run_result batch = lines.empty() ? run_result{0, "", ""} : run_batch(lines, env);
	const bool batch_ok = batch.status == 0 && batch.err.empty();
	std::istringstream out(batch.out);
	for (size_t i = 0; i < rows.size(); ++i) {
		const row &r = *rows[i];
		const bool with_block = r.what != row::kind::printed;
		run_result alone;
		if (!r.line.empty() && batch_ok) {
			if (!next_output(out, with_block, &outputs[i])) {
				fail(r, "the batch wrote unexpected lines:\n" + batch.out);
				continue;
			}
		} else {
			alone = r.line.empty() ? zunder(r.args, env) : run_batch(r.line + "\n", env);
			std::istringstream one(alone.out);
			std::string rest;
			if (alone.status != 0 || !alone.err.empty() ||
			    !next_output(one, with_block, &outputs[i]) || std::getline(one, rest)) {
				fail(r, outcome(alone));
				continue;
			}
		}
		if (const std::string d = differs(r, outputs[i], with_block); !d.empty())
			fail(r, d);
	}
	if (!batch_ok && !lines.empty())
		ADD_FAILURE() << "the rows pass one at a time but not in one batch: " << outcome(batch);
	return outputs;
}

void check_refusal(const row &r, const std::vector<std::string> &env)
{
	const run_result got = r.line.empty() ? zunder(r.args, env) : run_batch(r.line + "\n", env);
	const std::string wanted =
		std::string("zunder: ") + (r.line.empty() ? "" : "line 1: ") + r.list + "\n";
	if (got.status != 2 || !got.out.empty() || got.err != wanted)
		fail(r, outcome(got) + "\n  wanted stderr: '" + wanted + "'");
}

// Runs a call row: FILE, as a word or within a script, is a temporary file
// holding the row's text.
void check_call(const row &r, const std::vector<std::string> &env)
{
	char path[] = "/tmp/zunder_call.XXXXXX";
	const int fd = mkstemp(path);
	if (fd < 0 || write(fd, r.file.data(), r.file.size()) != static_cast<ssize_t>(r.file.size())) {
		fail(r, "cannot write a temporary file");
		return;
	}
	close(fd);
	words args = r.args;
	for (std::string &word : args)
		for (size_t at = word.find("FILE"); at != std::string::npos; at = word.find("FILE", at))
			word.replace(at, 4, path);
	const bool shell = args.size() == 2 && args[0] == "sh";
	const run_result got = shell ? run_shell(args[1], env) : zunder(args, env);
	unlink(path);
	if (got.status != r.status || got.out != r.list || got.err != r.save)
		fail(r, outcome(got) + "\n  wanted exit " + std::to_string(r.status) + "\n  stdout: '" +
				r.list + "'\n  stderr: '" + r.save + "'");
}

void check_help(const row &r, const std::vector<std::string> &env)
{
	const run_result got = run_batch(r.line + "\n", env);
	if (got.status != 0 || got.out != r.list || !got.err.empty())
		fail(r, outcome(got) + "\n  wanted stdout: '" + r.list + "'");
}

} // namespace

void check_table(const std::vector<row> &rows, const std::vector<std::string> &env)
{
	std::vector<const row *> listing;
	for (const row &r : rows)
		if (r.what == row::kind::accepted || r.what == row::kind::kept ||
		    r.what == row::kind::printed)
			listing.push_back(&r);
	const std::vector<output> outputs = run_listing_rows(listing, env);

	// Accepted rows are recorded for replaying elsewhere, and go through the
	// kernel where the machine allows.
	std::vector<given_row> given;
	std::vector<const row *> given_from;
	for (const row *r : listing) {
		if (r->what == row::kind::printed || r->line.empty())
			continue;
		const std::string head = head_of(*r);
		given.push_back({r->line, head.substr(head.rfind(' ') + 1), r->list, r->save});
		given_from.push_back(r);
	}
	append_rows(given, env);
	size_t failed = 0;
	if (const auto kernel =
		    given.empty() ? ::testing::AssertionSuccess() : kernel_gives_back(given, env, &failed);
	    !kernel)
		fail(failed < given_from.size() ? *given_from[failed] : *given_from.front(),
		     kernel.message());

	// The saved text of each accepted rule, read back by the product's own
	// batch reader, must give the same block, listing and saved text.
	std::vector<row> read_back;
	for (size_t i = 0; i < listing.size(); ++i)
		if (listing[i]->what == row::kind::accepted)
			read_back.push_back({row::kind::accepted,
					     head_of(*listing[i]) + outputs[i].save,
					     {},
					     outputs[i].block,
					     outputs[i].list,
					     outputs[i].save,
					     listing[i]->at});
	std::vector<const row *> again;
	for (const row &r : read_back)
		again.push_back(&r);
	run_listing_rows(again, env);

	for (const row &r : rows)
		if (r.what == row::kind::refused)
			check_refusal(r, env);
		else if (r.what == row::kind::help)
			check_help(r, env);
		else if (r.what == row::kind::call)
			check_call(r, env);
}

std::vector<row> grammar_rows(const std::string &head, const std::string &base,
			      const std::vector<option_row> &options)
{
	const std::string clause = head.substr(head.rfind(' ') + 1);
	const std::string start = head + (base.empty() ? "" : " " + base);
	std::string mandatory;
	for (const option_row &o : options)
		if (o.mandatory)
			mandatory += " " + o.name + (o.arg.empty() ? "" : " " + o.arg);
	std::vector<row> rows;
	for (const option_row &o : options) {
		const std::string given = o.name + (o.arg.empty() ? "" : " " + o.arg);
		std::string others; // the mandatory options but this one
		for (const option_row &p : options)
			if (p.mandatory && p.name != o.name)
				others += " " + p.name + (p.arg.empty() ? "" : " " + p.arg);
		if (!o.repeatable)
			rows.push_back(no(start + " " + given + " " + given + others,
					  host_says::once(clause, o.name), o.at));
		if (!o.arg.empty())
			rows.push_back(no(start + others + " " + o.name,
					  host_says::needs_argument(clause, o.name), o.at));
		if (!o.negatable)
			rows.push_back(
				no(start + " ! " + given, host_says::not_negatable(clause, o.name), o.at));
		if (o.mandatory)
			rows.push_back(no(start + others, host_says::must_be_given(clause, o.name), o.at));
	}
	const where at = options.empty() ? where::current() : options.front().at;
	rows.push_back(no(start + " --bogus", host_says::unknown(clause, "--bogus"), at));
	rows.push_back(no(start + mandatory + " !", host_says::bang_alone(clause), at));
	return rows;
}

namespace host_says {

std::string unknown(const std::string &clause, const std::string &word)
{
	return clause + ": unknown option \"" + word + "\"";
}

std::string once(const std::string &clause, const std::string &option)
{
	return clause + ": option \"" + option + "\" may be given only once";
}

std::string needs_argument(const std::string &clause, const std::string &option)
{
	return clause + ": option \"" + option + "\" requires an argument";
}

std::string not_negatable(const std::string &clause, const std::string &option)
{
	return clause + ": option \"" + option + "\" cannot be negated";
}

std::string must_be_given(const std::string &clause, const std::string &option)
{
	return clause + ": option \"" + option + "\" must be given";
}

std::string bang_alone(const std::string &clause)
{
	return clause + ": \"!\" must be followed by an option";
}

std::string requires_option(const std::string &clause, const std::string &option, const std::string &other)
{
	return clause + ": option \"" + option + "\" requires option \"" + other + "\"";
}

std::string number(const std::string &clause, const std::string &option, const std::string &arg)
{
	return clause + ": option \"" + option + "\": \"" + escaped(arg) +
	       "\" is not a number from 0 to 4294967295";
}

std::string range(const std::string &clause, const std::string &option, const std::string &arg)
{
	return clause + ": option \"" + option + "\": \"" + escaped(arg) +
	       "\" is not a number or a range \"first:last\" of numbers from 0 to 4294967295";
}

std::string address(const std::string &clause, const std::string &option, const std::string &arg,
		    const std::string &family)
{
	return clause + ": option \"" + option + "\": \"" + escaped(arg) + "\" is not an " + family +
	       " address with an optional /mask";
}

std::string protocol(const std::string &clause, const std::string &option, const std::string &arg)
{
	return clause + ": option \"" + option + "\": unknown protocol \"" + escaped(arg) + "\"";
}

} // namespace host_says

} // namespace ztest
