// SPDX-License-Identifier: GPL-2.0-or-later
// zunder's rules: the words of one call, the plug-in that serves the clause,
// and what is written for it (run) or compared (check).
#include "rule.h"
#include "batch.h"
#include "kernel.h"
#include "lookup.h"

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace command {

namespace {

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

// The block through the kernel, in a network namespace of the run's own,
// made for its first block: the run's `copy` is what the kernel hands back,
// with zeros for the bytes it keeps to itself.
kernel::failure kernel_copy(run &run, const zunder::plugin_record &record, const rule &r,
			    std::span<const unsigned char> block)
{
	if (!run.in_own_namespace) {
		if (kernel::failure f = kernel::enter_own_namespace())
			return f;
		run.in_own_namespace = true;
	}
	std::vector<unsigned char> &copy = run.work.copy;
	kernel::failure f = kernel::judge({r.kind, record.name, record.revision, r.family, block}, copy);
	if (!f && copy.size() != block.size())
		f = {"the kernel handed back " + std::to_string(copy.size()) + " of the block's " +
		     std::to_string(block.size()) + " bytes"};
	copy.resize(block.size());
	std::fill(copy.begin() + static_cast<ptrdiff_t>(returned_size(record)), copy.end(), 0);
	return f;
}

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
void report(const run &run, const std::string &text)
{
	std::fputs((one_line("line %lu: %s", run.line, text.c_str()) + "\n").c_str(), stdout);
}

// An error handed back from a parse: a fault of the host or a plug-in ends
// the command, as it does outside a check; refused input is its message.
std::string refusal(const zunder::caught_error &error)
{
	if (error.host_fault)
		zu_params->exit_error(error.status, "%s", error.message.c_str());
	return error.message;
}

// What evaluate made of one rule, as far as it got.
struct evaluation {
	rule r;
	const zunder::plugin_record *record = nullptr;
	const char *help = nullptr;              // the word that asks for the clause's help; no block is made
	std::string refused;                     // why the rule gives no block
	int status = 2;                          // the status an error for `refused` ends the command with
	std::span<const unsigned char> block;    // the block the rule makes or gives
	std::string kernel_refused;              // with --kernel: why the kernel took no block
	std::span<const unsigned char> returned; // with --kernel: the block as the kernel hands it back
};

// What a rule is evaluated for.  A run shows the help a rule asks for, so the
// clause must be found for it; a check only tells that the rule asks for
// help, and a clause not found is looked for again for the rule's family.
enum class purpose { run, check };

// The steps of every rule, for one rule, a batch line or a checked line: its
// words, the help it asks for, the plug-in serving its clause, its block,
// and with --kernel the block as the kernel hands it back.  Input that gives
// no block is handed back; a fault of the host or a plug-in, and a machine
// that cannot judge rules, end the command.
evaluation evaluate(run &run, std::span<const char *const> words, purpose why_asked)
{
	evaluation e;
	if (e.refused = read_words(words, e.r); !e.refused.empty())
		return e;
	const rule &r = e.r;
	if (may_ask_for_help(r)) {
		std::string why;
		const zunder::plugin_record *any = find_clause(run, r, true, why);
		if (any == nullptr && why_asked == purpose::run) {
			e.refused = why;
			return e;
		}
		if (any != nullptr && (e.help = help_word(*any, r.options)) != nullptr) {
			e.record = any;
			return e;
		}
	}
	e.record = find_clause(run, r, false, e.refused);
	if (e.record == nullptr)
		return e;
	const zunder::plugin_record &record = *e.record;
	workspace &w = run.work;
	if (is_block_rule(r)) {
		if (e.refused = given_block(r, record, w.block); !e.refused.empty())
			return e;
	} else if (const auto error = zunder::try_parse_clause(record, r.family, r.options, w.state)) {
		e.refused = refusal(*error);
		e.status = error->status;
		return e;
	} else {
		w.block.assign(w.state.info.data(), w.state.info.data() + w.state.info.size());
	}
	e.block = w.block;
	if (!run.through_kernel)
		return e;
	const kernel::failure f = kernel_copy(run, record, r, e.block);
	if (f.environment)
		zu_params->exit_error(2, "%s", f.message.c_str());
	e.kernel_refused = f.message;
	e.returned = w.copy;
	return e;
}

// Why the block does not read back: its saved text, parsed again, is refused
// or gives another block.  Empty when it reads back.
std::string read_back(run &run, const rule &r, const zunder::plugin_record &record,
		      std::span<const unsigned char> block)
{
	workspace &w = run.work;
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
	if (!refused.empty())
		return "read back refused (" + refused + "), save" + saved;

	// A block read back may carry bytes that belong to the kernel.
	const size_t compared = is_block_rule(r) || run.through_kernel ? returned_size(record) : record.size;
	if (std::ranges::equal(block.first(compared), std::span(w.state.info.data(), compared)))
		return {};
	return "read back " + hex_text({w.state.info.data(), w.state.info.size()}) + ", save" + saved;
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

void run_rule(run &run, std::span<const char *const> words)
{
	const evaluation e = evaluate(run, words, purpose::run);
	if (e.help != nullptr) {
		if (e.record->help)
			e.record->help();
		return;
	}
	if (!e.refused.empty())
		zu_params->exit_error(e.status, "%s", e.refused.c_str());
	if (!e.kernel_refused.empty())
		zu_params->exit_error(2, "%s", e.kernel_refused.c_str());
	const zunder::plugin_record &record = *e.record;
	std::span<const unsigned char> block = e.block;
	std::string lines = is_block_rule(e.r) ? "" : "block " + hex_text(block) + "\n";
	if (run.through_kernel) {
		block = e.returned;
		lines += "kernel " + hex_text(block.first(returned_size(record))) + "\n";
	}
	std::fputs(lines.c_str(), stdout);
	write_list_and_save(record, e.r.family, block, e.r.numeric);
}

checked check_rule(run &run, std::span<const char *const> words)
{
	const evaluation e = evaluate(run, words, purpose::check);
	if (e.help != nullptr || !e.refused.empty()) {
		report(run,
		       e.help != nullptr ? std::string(e.help) + " shows help and saves no rule" : e.refused);
		return checked::not_parsing;
	}
	const zunder::plugin_record &record = *e.record;
	// What keeps the block from reading back is told after the block it
	// concerns: the rule's, or the kernel's once the kernel handed it back
	// unchanged.
	std::span<const unsigned char> block = e.block;
	std::string finding = e.kernel_refused;
	if (run.through_kernel && finding.empty()) {
		const size_t returned = returned_size(record);
		if (std::ranges::equal(block.first(returned), e.returned.first(returned)))
			block = e.returned;
		else
			finding = "kernel " + hex_text(e.returned.first(returned));
	}
	if (finding.empty())
		finding = read_back(run, e.r, record, block);
	if (finding.empty())
		return checked::reads_back;
	report(run, "block " + hex_text(block) + ", " + finding);
	return checked::not_reading_back;
}

} // namespace command
