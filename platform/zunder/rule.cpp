// SPDX-License-Identifier: GPL-2.0-or-later
// zunder's rules: the words of one call, the plug-in that serves the clause,
// and what is written for it (run) or compared (check).
#include "command.h"
#include "kernel.h"

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace command {

bool through_kernel = false;

namespace {

// Ends the command with `problem`, if there is one.
void end_on(const std::string &problem)
{
	if (!problem.empty())
		zu_params->exit_error(2, "%s", problem.c_str());
}

bool parse_hex(const char *text, std::vector<unsigned char> &out)
{
	const size_t length = std::strlen(text);
	if (length % 2 != 0)
		return false;
	out.clear();
	for (size_t i = 0; i < length; i += 2) {
		const char *digits = "0123456789abcdef";
		const char *high = std::strchr(digits, std::tolower(static_cast<unsigned char>(text[i])));
		const char *low = std::strchr(digits, std::tolower(static_cast<unsigned char>(text[i + 1])));
		if (text[i] == '\0' || text[i + 1] == '\0' || high == nullptr || low == nullptr)
			return false;
		out.push_back(static_cast<unsigned char>((high - digits) << 4 | (low - digits)));
	}
	return true;
}

std::string hex_text(std::span<const unsigned char> bytes)
{
	std::string text;
	for (const unsigned char b : bytes) {
		text += "0123456789abcdef"[b >> 4];
		text += "0123456789abcdef"[b & 15];
	}
	return text;
}

bool is_block_rule(const rule &r)
{
	return !r.options.empty() && std::strcmp(r.options[0], "--block") == 0;
}

// The block a --block rule gives, read into `block`; else why it cannot be.
std::string given_block(const rule &r, const zunder::plugin_record &record, std::vector<unsigned char> &block)
{
	if (r.options.size() != 2)
		return "--block takes one argument and no other option";
	if (!parse_hex(r.options[1], block) || block.size() != record.size)
		return "--block for " + std::string(zunder::kind_word(r.kind)) + " \"" + record.name +
		       "\" needs exactly " + std::to_string(record.size) + " bytes as " +
		       std::to_string(2 * record.size) + " hexadecimal digits";
	return {};
}

// A word that asks for the clause's help: "-h" or "--help" where an option
// would stand, unless the clause has an option --help itself.  An option's
// argument is never one, so that a name such as "--help" stays a name.
// Null when there is none.
const char *help_word(const zunder::plugin_record &record, std::span<const char *const> options)
{
	for (size_t i = 0; i < options.size(); ++i) {
		const char *word = options[i];
		if (std::strcmp(word, "-h") == 0)
			return word;
		const zu_option_entry *row = nullptr;
		if (word[0] == '-' && word[1] == '-')
			for (const zu_option_entry *r = record.options; r && r->name && !row; ++r)
				if (std::strcmp(r->name, word + 2) == 0)
					row = r;
		if (row == nullptr && std::strcmp(word, "--help") == 0)
			return word;
		if (row != nullptr && row->type != ZU_TYPE_NONE)
			++i;
	}
	return nullptr;
}

// Whether any word could ask for help, before the plug-in is loaded.
bool may_ask_for_help(const rule &r)
{
	return !is_block_rule(r) && std::any_of(r.options.begin(), r.options.end(), [](const char *word) {
		return std::strcmp(word, "-h") == 0 || std::strcmp(word, "--help") == 0;
	});
}

void write_list_and_save(const zunder::plugin_record &record, uint16_t family,
			 std::span<const unsigned char> block, bool numeric)
{
	std::fputs("list", stdout);
	zunder::print_block(record, family, block, numeric);
	std::fputs("\nsave", stdout);
	zunder::save_block(record, family, block);
	std::fputc('\n', stdout);
}

// What save writes for the block, caught in memory instead of standard
// output (glibc lets a program point stdout elsewhere for a while).
std::string saved_text(const zunder::plugin_record &record, uint16_t family,
		       std::span<const unsigned char> block)
{
	char *text = nullptr;
	size_t length = 0;
	std::FILE *memory = open_memstream(&text, &length);
	if (memory == nullptr)
		zu_params->exit_error(2, "cannot hold the saved options in memory");
	std::FILE *const real_stdout = stdout;
	stdout = memory;
	zunder::save_block(record, family, block);
	stdout = real_stdout;
	std::fclose(memory);
	std::string saved(text, length);
	std::free(text);
	return saved;
}

// How much of a block the kernel hands back: all of it, or the part before
// the bytes the clause leaves to the kernel.
size_t returned_size(const zunder::plugin_record &record)
{
	return record.userspace_size != 0 ? record.userspace_size : record.size;
}

// The block through the kernel, in a network namespace of its own: `copy` is
// what the kernel hands back, with zeros for the bytes it keeps to itself.
kernel::failure kernel_copy(const zunder::plugin_record &record, const rule &r,
			    std::span<const unsigned char> block, std::vector<unsigned char> &copy)
{
	kernel::failure f = kernel::judge({r.kind, record.name, record.revision, r.family, block}, copy);
	if (!f && copy.size() != block.size())
		f = {"the kernel handed back " + std::to_string(copy.size()) + " of the block's " +
		     std::to_string(block.size()) + " bytes"};
	copy.resize(block.size());
	std::fill(copy.begin() + static_cast<ptrdiff_t>(returned_size(record)), copy.end(), 0);
	return f;
}

} // namespace

std::string read_words(std::span<const char *const> words, rule &r)
{
	r = {};
	size_t i = 0;
	for (; i < words.size(); ++i) {
		if (std::strcmp(words[i], "-4") == 0)
			r.family = ZU_FAMILY_IPV4;
		else if (std::strcmp(words[i], "-6") == 0)
			r.family = ZU_FAMILY_IPV6;
		else if (std::strcmp(words[i], "-n") == 0)
			r.numeric = true;
		else
			break;
	}
	if (i == words.size())
		return "missing -m NAME or -j NAME";
	if (std::strcmp(words[i], "-m") == 0)
		r.kind = zunder::clause_kind::match;
	else if (std::strcmp(words[i], "-j") == 0)
		r.kind = zunder::clause_kind::target;
	else
		return "expected -4, -6, -n, -m or -j, not \"" + std::string(words[i]) + "\"";
	if (i + 1 == words.size())
		return std::string(words[i]) + " needs a NAME";
	r.name = words[i + 1];
	r.options = words.subspan(i + 2);
	return {};
}

void run_rule(std::span<const char *const> words, workspace &w)
{
	rule r;
	end_on(read_words(words, r));
	if (may_ask_for_help(r)) {
		const zunder::plugin_record &record = load_clause(r, true);
		if (help_word(record, r.options) != nullptr) {
			if (record.help)
				record.help();
			return;
		}
	}
	const zunder::plugin_record &record = load_clause(r, false);
	std::span<const unsigned char> block;
	std::string lines; // written once the kernel, if asked, took the block
	if (is_block_rule(r)) {
		end_on(given_block(r, record, w.block));
		block = w.block;
	} else {
		zunder::parse_clause(record, r.family, r.options, w.state);
		block = {w.state.info.data(), w.state.info.size()};
		lines = "block " + hex_text(block) + "\n";
	}
	if (through_kernel) {
		if (const kernel::failure f = kernel_copy(record, r, block, w.copy))
			zu_params->exit_error(2, "%s", f.message.c_str());
		block = w.copy;
		lines += "kernel " + hex_text(block.first(returned_size(record))) + "\n";
	}
	std::fputs(lines.c_str(), stdout);
	write_list_and_save(record, r.family, block, r.numeric);
}

namespace {

__attribute__((format(printf, 1, 2))) std::string one_line(const char *format, ...)
{
	va_list args;
	va_start(args, format);
	std::string line = zunder::one_line_message(format, args);
	va_end(args);
	return line;
}

// Writes one line of --check's report: "line N: " and the text, with
// control bytes escaped as in messages, so that it stays one line.
void report(const std::string &text)
{
	std::fputs((one_line("line %lu: %s", batch_line, text.c_str()) + "\n").c_str(), stdout);
}

// An error handed back from a parse: a fault of the host or a plug-in ends
// the command, as it does outside a check; refused input is its message.
std::string refusal(const zunder::caught_error &error)
{
	if (error.host_fault)
		zu_params->exit_error(error.status, "%s", error.message.c_str());
	return error.message;
}

// The rule's block into w.block; else why the rule does not give one.
std::string rule_block(const rule &r, workspace &w, const zunder::plugin_record *&record)
{
	std::string why;
	if (may_ask_for_help(r))
		if (const auto *any = find_clause(r, true, why))
			if (const char *word = help_word(*any, r.options))
				return std::string(word) + " shows help and saves no rule";
	why.clear();
	record = find_clause(r, false, why);
	if (record == nullptr)
		return why;
	if (is_block_rule(r))
		return given_block(r, *record, w.block);
	if (const auto refused = zunder::try_parse_clause(*record, r.family, r.options, w.state))
		return refusal(*refused);
	w.block.assign(w.state.info.data(), w.state.info.data() + w.state.info.size());
	return {};
}

} // namespace

checked check_rule(std::span<const char *const> words, workspace &w)
{
	rule r;
	const zunder::plugin_record *found = nullptr;
	std::string problem = read_words(words, r);
	if (problem.empty())
		problem = rule_block(r, w, found);
	if (!problem.empty()) {
		report(problem);
		return checked::not_parsing;
	}
	const zunder::plugin_record &record = *found;
	std::vector<unsigned char> &block = w.block;
	std::vector<unsigned char> &copy = w.copy;
	if (through_kernel) {
		const std::string head = "block " + hex_text(block);
		if (const kernel::failure f = kernel_copy(record, r, block, copy)) {
			if (f.environment)
				zu_params->exit_error(2, "%s", f.message.c_str());
			report(head + ", " + f.message);
			return checked::not_reading_back;
		}
		if (!std::equal(block.begin(), block.begin() + returned_size(record), copy.begin())) {
			report(head + ", kernel " + hex_text({copy.data(), returned_size(record)}));
			return checked::not_reading_back;
		}
		block = copy;
	}
	const std::string saved = saved_text(record, r.family, block);

	// The saved text after the words that name the clause, parsed again.
	std::string refused;
	if (const char *unsplit = split_words(saved, w.saved_words)) {
		refused = unsplit;
	} else {
		w.saved_args.clear();
		for (const std::string &word : w.saved_words)
			w.saved_args.push_back(word.c_str());
		if (const auto error = zunder::try_parse_clause(record, r.family, w.saved_args, w.state))
			refused = refusal(*error);
	}
	if (!refused.empty()) {
		report("block " + hex_text(block) + ", read back refused (" + refused + "), save" + saved);
		return checked::not_reading_back;
	}

	// A block read back may carry bytes that belong to the kernel.
	const size_t compared = is_block_rule(r) || through_kernel ? returned_size(record) : record.size;
	if (std::equal(block.begin(), block.begin() + compared, w.state.info.data()))
		return checked::reads_back;
	report("block " + hex_text(block) + ", read back " +
	       hex_text({w.state.info.data(), w.state.info.size()}) + ", save" + saved);
	return checked::not_reading_back;
}

} // namespace command
