// SPDX-License-Identifier: GPL-2.0-or-later
// zunder's rules: the words of one call, the plug-in that serves the clause,
// and what is written for it (run) or compared (check).
#include "command.h"
#include "kernel.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace command {

bool through_kernel = false;

namespace {

rule read_words(std::span<const char *const> words)
{
	rule r;
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
		zu_params->exit_error(2, "missing -m NAME or -j NAME");
	if (std::strcmp(words[i], "-m") == 0)
		r.kind = zunder::clause_kind::match;
	else if (std::strcmp(words[i], "-j") == 0)
		r.kind = zunder::clause_kind::target;
	else
		zu_params->exit_error(2, "expected -4, -6, -n, -m or -j, not \"%s\"", words[i]);
	if (i + 1 == words.size())
		zu_params->exit_error(2, "%s needs a NAME", words[i]);
	r.name = words[i + 1];
	r.options = words.subspan(i + 2);
	return r;
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

// The block a --block rule gives, read into `block`.
std::span<const unsigned char> given_block(const rule &r, const zunder::plugin_record &record,
					   std::vector<unsigned char> &block)
{
	if (r.options.size() != 2)
		zu_params->exit_error(2, "--block takes one argument and no other option");
	if (!parse_hex(r.options[1], block) || block.size() != record.size)
		zu_params->exit_error(2,
				      "--block for %s \"%s\" needs exactly %u bytes as %u "
				      "hexadecimal digits",
				      zunder::kind_word(r.kind), record.name, record.size, 2 * record.size);
	return block;
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

void run_rule(std::span<const char *const> words, workspace &w)
{
	const rule r = read_words(words);
	if (r.options.size() == 1 && std::strcmp(r.options[0], "-h") == 0) {
		if (const auto &record = load_clause(r, true); record.help)
			record.help();
		return;
	}
	const zunder::plugin_record &record = load_clause(r, false);
	std::span<const unsigned char> block;
	std::string lines; // written once the kernel, if asked, took the block
	if (is_block_rule(r)) {
		block = given_block(r, record, w.block);
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

bool check_rule(std::span<const char *const> words, workspace &w)
{
	const rule r = read_words(words);
	if (r.options.size() == 1 && std::strcmp(r.options[0], "-h") == 0)
		zu_params->exit_error(2, "-h shows help and saves no rule");
	const zunder::plugin_record &record = load_clause(r, false);
	std::vector<unsigned char> &block = w.block;
	if (is_block_rule(r)) {
		given_block(r, record, block);
	} else {
		zunder::parse_clause(record, r.family, r.options, w.state);
		block.assign(w.state.info.data(), w.state.info.data() + w.state.info.size());
	}
	std::vector<unsigned char> &copy = w.copy;
	if (through_kernel) {
		const std::string line_head =
			"line " + std::to_string(batch_line) + ": block " + hex_text(block);
		if (const kernel::failure f = kernel_copy(record, r, block, copy)) {
			if (f.environment)
				zu_params->exit_error(2, "%s", f.message.c_str());
			std::fputs((line_head + ", " + f.message + "\n").c_str(), stdout);
			return false;
		}
		if (!std::equal(block.begin(), block.begin() + returned_size(record), copy.begin())) {
			const std::string kernel_hex = hex_text({copy.data(), returned_size(record)});
			std::fputs((line_head + ", kernel " + kernel_hex + "\n").c_str(), stdout);
			return false;
		}
		block = copy;
	}
	const std::string saved = saved_text(record, r.family, block);

	// The saved text after the words that name the clause, parsed again.
	w.saved_words = split_line(saved);
	w.saved_args.clear();
	for (const std::string &word : w.saved_words)
		w.saved_args.push_back(word.c_str());
	if (const auto refused = zunder::try_parse_clause(record, r.family, w.saved_args, w.state)) {
		const std::string line = "line " + std::to_string(batch_line) + ": block " + hex_text(block) +
					 ", read back refused (" + refused->message + "), save" + saved +
					 "\n";
		std::fputs(line.c_str(), stdout);
		return false;
	}

	// A block read back may carry bytes that belong to the kernel.
	const size_t compared = is_block_rule(r) || through_kernel ? returned_size(record) : record.size;
	if (std::equal(block.begin(), block.begin() + compared, w.state.info.data()))
		return true;
	const std::string line = "line " + std::to_string(batch_line) + ": block " + hex_text(block) +
				 ", read back " + hex_text({w.state.info.data(), w.state.info.size()}) +
				 ", save" + saved + "\n";
	std::fputs(line.c_str(), stdout);
	return false;
}

} // namespace command
