// SPDX-License-Identifier: GPL-2.0-or-later
// Host-side API of libzunder: what the rule command, the tests and the fuzzers
// use to load plug-ins and drive clauses.  Plug-ins see only <zunder.h>.
#pragma once

// Plug-ins are built with ZUNDER_BUILDING_PLUGIN defined: they may need of
// the host library only what <zunder.h> names, which any host provides.
#ifdef ZUNDER_BUILDING_PLUGIN
#error "zunder_host.h is the host library's own interface; a plug-in includes only <zunder.h>"
#endif

#include <zunder.h>

#include <cstdarg>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace zunder {

enum class clause_kind { match, target };

// A registered record, seen the same way whether it is a match or a target.
struct plugin_record {
	clause_kind kind;
	const char *name;
	uint8_t revision;
	uint16_t family;
	unsigned size;
	unsigned userspace_size;
	unsigned udata_size;
	zu_help_fn help;
	zu_print_fn print;
	zu_save_fn save;
	zu_parse_fn parse;
	zu_final_check_fn final_check;
	const zu_option_entry *options;
	std::string loaded_from;
};

const char *kind_word(clause_kind kind);  // "match" or "target"
const char *family_word(uint16_t family); // "IPv4", "IPv6" or "any family"

// The record for `name` that serves `family`: one registered for that family,
// else one registered for family 0.  Null when there is none.
const plugin_record *find_record(clause_kind kind, std::string_view name, uint16_t family);

// Every record registered so far, in registration order.
const std::vector<plugin_record> &registered_records();

// Loads a plug-in file once per process (RTLD_NOW); its constructor registers
// its records.  Returns an empty text on success, else why it failed (also
// for a path that is not a regular file, and for a file that offered a record
// the host refused: each such record and why, the others staying
// registered); a later call gives the same answer.
std::string load_plugin_file(const std::string &path);

// Replaces the fatal-error callback (the fuzzers use it to catch errors
// raised outside a guarded call).  Null restores the default, which writes
// the message as write_error does and ends the program with the status.
typedef void (*exit_error_fn)(int status, const char *format, ...)
	__attribute__((noreturn, format(printf, 2, 3)));
void set_exit_error(exit_error_fn handler);

// The formatted message as one line: bytes below 0x20 and DEL are written
// as \xHH, so that an echoed input never splits an error over lines.
std::string one_line_message(const char *format, va_list args) __attribute__((format(printf, 1, 0)));

// Error lines are "<program>: <prefix><message>\n" on standard error.
void set_program_name(const char *name);

// The prefix of every error line from now on, such as the rule command's
// "line N: "; null for none.  The text stays the caller's and must live as
// long as it is set.
void set_message_prefix(const char *prefix);

// Writes the message, as it is, in an error line with one write.  It
// allocates nothing, so that it serves when memory has run out.
void write_error(std::string_view message);

// A block with guard bytes on both sides, so that a plug-in writing outside
// its block is caught right after the call that did it.
class guarded_block {
public:
	void reset(size_t size); // zero-filled, fresh guards
	unsigned char *data() { return storage_.data() + guard_size; }
	const unsigned char *data() const { return storage_.data() + guard_size; }
	size_t size() const { return size_; }
	bool guards_intact() const;
	static constexpr size_t guard_size = 16;

private:
	std::vector<unsigned char> storage_;
	size_t size_ = 0;
};

// The state of one clause being parsed: its info block and scratch block,
// handed to the plug-in as the calls' `data` and `udata`.  Reused across
// clauses so that parsing allocates nothing once warm.
struct clause_state {
	guarded_block info;
	guarded_block scratch;
};

// Parses one clause's options: zero-fills the blocks (plug-ins rely on it),
// hands each option to the plug-in in order ("!" before an option negates
// it), then checks mandatory, `requires` and `exclusive_with`, then runs the
// final check.  Errors end through exit_error.
void parse_clause(const plugin_record &record, uint16_t family, std::span<const char *const> args,
		  clause_state &state);

// A fatal error that came back to the caller instead of ending the program.
struct caught_error {
	int status;
	std::string message; // one line, without the program name
	bool host_fault;     // a guard hit or a block of the wrong size, not a refused input
};

// Runs body(context) so that a fatal error on the way, from the host or a
// plug-in, comes back here instead of ending the program: nothing when the
// body returned, else the error.  The one way back from exit_error.  It is
// a jump, since plug-ins have no unwind tables to throw through: the frames
// it leaves run no destructors, so they must hold nothing that needs one.
std::optional<caught_error> try_call(void (*body)(void *), void *context);

template <typename Body>
std::optional<caught_error> try_call(Body &&body)
{
	return try_call([](void *b) { (*static_cast<std::remove_reference_t<Body> *>(b))(); }, &body);
}

// parse_clause with its error handed back: nothing when the clause parsed
// (its block is in `state`), else the error.
std::optional<caught_error> try_parse_clause(const plugin_record &record, uint16_t family,
					     std::span<const char *const> args, clause_state &state);

// Writes the listing or saved options of an info block to standard output,
// through a kernel clause entry built around it.  The block must be exactly
// `record.size` bytes.  A plug-in that changes the entry is a fatal error.
void print_block(const plugin_record &record, uint16_t family, std::span<const unsigned char> block,
		 bool numeric);
void save_block(const plugin_record &record, uint16_t family, std::span<const unsigned char> block);

// Value parsers behind zunder_option_parse, exposed for tests and fuzzers.
bool parse_u32(std::string_view text, uint32_t *out); // decimal or 0x hex
bool parse_address(const char *text, uint16_t family, union zu_option_value *out);
bool parse_protocol(const char *text, uint8_t *out);

} // namespace zunder
