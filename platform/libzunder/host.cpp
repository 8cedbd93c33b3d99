// libzunder: registration, plug-in loading, generic option parsing and the
// clause driver that calls a plug-in's operations in a rule command's order.
#include "zunder_host.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

namespace zunder {

namespace {

const char *program_name = "zunder";

__attribute__((noreturn, format(printf, 2, 3)))
void default_exit_error(int status, const char *format, ...)
{
	std::fflush(stdout);
	va_list args;
	va_start(args, format);
	const std::string line = std::string(program_name) + ": " + one_line_message(format, args) + "\n";
	va_end(args);
	std::fputs(line.c_str(), stderr);
	std::exit(status);
}

struct zu_params host_params = {"zunder", default_exit_error};

std::vector<plugin_record> &records()
{
	static std::vector<plugin_record> all;
	return all;
}

// The file being loaded, so that records know where they came from.
const char *loading_file = "";

constexpr unsigned value_width(unsigned type)
{
	switch (type) {
	case ZU_TYPE_UINT32: return 4;
	case ZU_TYPE_UINT32_RANGE: return 8;
	case ZU_TYPE_PROTOCOL: return 1;
	case ZU_TYPE_HOSTMASK: return 32;
	case ZU_TYPE_STRING: return 1;   // at least the NUL
	default: return 0;
	}
}

// Why a record cannot be used, or null when it can.  Checked once at
// registration so that the driver can trust ids and store ranges.
const char *record_fault(const plugin_record &r)
{
	if (r.name == nullptr || r.name[0] == '\0')
		return "it has no name";
	if (std::strlen(r.name) >= sizeof(zu_clause_entry::name))
		return "its name is too long";
	if (r.size % 8 != 0)
		return "its block size is not a multiple of 8";
	if (r.userspace_size > r.size)
		return "its userspace size exceeds its block size";
	if (r.options != nullptr && r.parse == nullptr)
		return "it has options but no parse operation";
	if (r.print == nullptr || r.save == nullptr)
		return "it lacks a print or save operation";
	uint32_t ids = 0;
	for (const zu_option_entry *row = r.options; row && row->name; ++row) {
		if (row->id >= 32 || (ids & (1u << row->id)))
			return "an option id is out of range or used twice";
		ids |= 1u << row->id;
		if (value_width(row->type) == 0 && row->type != ZU_TYPE_NONE)
			return "an option has an unknown type";
		if ((row->flags & ZU_FLAG_STORE) &&
		    (row->store_size < value_width(row->type) ||
		     row->store_offset + uint64_t{row->store_size} > r.size))
			return "an option stores outside the block";
	}
	return nullptr;
}

__attribute__((format(printf, 1, 2)))
std::string message(const char *format, ...)
{
	va_list args;
	va_start(args, format);
	std::string text = one_line_message(format, args);
	va_end(args);
	return text;
}

template <typename Record>
void register_record(clause_kind kind, Record *record)
{
	plugin_record r{kind, record->name, record->revision, record->family,
	                record->size, record->userspace_size, record->udata_size,
	                record->help, record->print, record->save, record->parse,
	                record->final_check, record->options, loading_file};
	const char *fault = record->version == nullptr ||
	                    std::strcmp(record->version, ZUNDER_VERSION) != 0
	                        ? "it was built for another host version"
	                        : record_fault(r);
	if (fault != nullptr) {
		const std::string line = std::string(program_name) + ": " +
		                         message("%s: %s \"%s\" not registered: %s", loading_file,
		                                 kind_word(kind), record->name ? record->name : "", fault) +
		                         "\n";
		std::fputs(line.c_str(), stderr);
		return;
	}
	record->loaded_from = loading_file;
	records().push_back(std::move(r));
}

const zu_option_entry *find_option(const zu_option_entry *rows, const char *name)
{
	for (const zu_option_entry *row = rows; row && row->name; ++row)
		if (std::strcmp(row->name, name) == 0)
			return row;
	return nullptr;
}

[[noreturn]] void guard_failure(const plugin_record &record, const char *operation)
{
	zu_params->exit_error(2, "%s %s: plug-in %s wrote outside its block in %s",
	                      kind_word(record.kind), record.name,
	                      record.loaded_from.c_str(), operation);
}

void check_guards(const plugin_record &record, const clause_state &state, const char *operation)
{
	if (!state.data.guards_intact() || !state.udata.guards_intact())
		guard_failure(record, operation);
}

// Runs print or save on an entry with guards around it and a copy to
// compare with, since listing and saving must leave the block alone.
template <typename Operation>
void with_entry(const plugin_record &record, uint16_t family,
                std::span<const unsigned char> block, const char *operation, Operation op)
{
	if (block.size() != record.size)
		zu_params->exit_error(2, "%s %s: a block of %zu bytes cannot be shown: it takes %u",
		                      kind_word(record.kind), record.name, block.size(), record.size);
	static guarded_block storage;
	storage.reset(sizeof(zu_clause_entry) + block.size());
	auto *entry = reinterpret_cast<zu_clause_entry *>(storage.data());
	entry->entry_size = static_cast<uint16_t>(storage.size());
	entry->revision = record.revision;
	entry->family = static_cast<uint8_t>(family);
	std::snprintf(entry->name, sizeof(entry->name), "%s", record.name);
	std::copy(block.begin(), block.end(), entry->data);
	static std::vector<unsigned char> before;
	before.assign(storage.data(), storage.data() + storage.size());

	op(entry);

	if (!storage.guards_intact() ||
	    !std::equal(before.begin(), before.end(), storage.data()))
		guard_failure(record, operation);
}

} // namespace

const char *kind_word(clause_kind kind)
{
	return kind == clause_kind::match ? "match" : "target";
}

const char *family_word(uint16_t family)
{
	switch (family) {
	case ZU_FAMILY_IPV4: return "IPv4";
	case ZU_FAMILY_IPV6: return "IPv6";
	default: return "any family";
	}
}

const plugin_record *find_record(clause_kind kind, std::string_view name, uint16_t family)
{
	const plugin_record *any_family = nullptr;
	for (const plugin_record &r : records()) {
		if (r.kind != kind || name != r.name)
			continue;
		if (r.family == family)
			return &r;
		if (r.family == ZU_FAMILY_ANY && any_family == nullptr)
			any_family = &r;
	}
	return any_family;
}

const std::vector<plugin_record> &registered_records()
{
	return records();
}

std::string one_line_message(const char *format, va_list args)
{
	va_list again;
	va_copy(again, args);
	const int length = std::vsnprintf(nullptr, 0, format, again);
	va_end(again);
	std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
	std::vsnprintf(text.data(), text.size() + 1, format, args);
	std::string line;
	for (const char c : text) {
		const auto b = static_cast<unsigned char>(c);
		if (b >= 0x20 && b != 0x7f) {
			line += c;
			continue;
		}
		line += "\\x";
		line += "0123456789abcdef"[b >> 4];
		line += "0123456789abcdef"[b & 15];
	}
	return line;
}

std::string load_plugin_file(const std::string &path)
{
	// The outcome of each path, so that a file that failed fails again.
	static std::map<std::string, std::string> outcomes;
	const auto [slot, fresh] = outcomes.try_emplace(path);
	std::string &why = slot->second;
	if (!fresh)
		return why;
	// dlopen would wait for ever on a FIFO and read a device.
	struct stat st;
	if (stat(path.c_str(), &st) != 0)
		why = std::strerror(errno);
	else if (!S_ISREG(st.st_mode))
		why = "not a regular file";
	if (!why.empty())
		return why;
	loading_file = slot->first.c_str();   // lives as long as the process
	void *handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
	loading_file = "";
	if (handle == nullptr) {
		const char *error = dlerror();
		why = error ? error : "cannot load";
	}
	return why;
}

void set_exit_error(exit_error_fn handler)
{
	if (handler != nullptr)
		host_params.exit_error = handler;
	else
		host_params.exit_error = default_exit_error;
}

void set_program_name(const char *name)
{
	program_name = name;
	host_params.program_name = name;
}

void guarded_block::reset(size_t size)
{
	size_ = size;
	storage_.assign(size + 2 * guard_size, 0);
	std::fill_n(storage_.begin(), guard_size, 0xa5);
	std::fill_n(storage_.end() - guard_size, guard_size, 0x5a);
}

bool guarded_block::guards_intact() const
{
	return std::all_of(storage_.begin(), storage_.begin() + guard_size,
	                   [](unsigned char b) { return b == 0xa5; }) &&
	       std::all_of(storage_.end() - guard_size, storage_.end(),
	                   [](unsigned char b) { return b == 0x5a; });
}

void parse_clause(const plugin_record &record, uint16_t family,
                  std::span<const char *const> args, clause_state &state)
{
	const char *clause = record.name;
	state.data.reset(record.size);
	state.udata.reset(record.udata_size);
	uint32_t seen = 0;

	for (size_t i = 0; i < args.size(); ++i) {
		bool invert = false;
		if (std::strcmp(args[i], "!") == 0) {
			invert = true;
			if (++i == args.size())
				zu_params->exit_error(2, "%s: \"!\" must be followed by an option", clause);
		}
		const char *word = args[i];
		const zu_option_entry *row = nullptr;
		if (word[0] == '-' && word[1] == '-')
			row = find_option(record.options, word + 2);
		if (row == nullptr)
			zu_params->exit_error(2, "%s: unknown option \"%s\"", clause, word);
		const char *arg = nullptr;
		if (row->type != ZU_TYPE_NONE) {
			if (++i == args.size())
				zu_params->exit_error(2, "%s: option \"--%s\" requires an argument",
				                      clause, row->name);
			arg = args[i];
		}
		if ((seen & (1u << row->id)) && !(row->flags & ZU_FLAG_MULTI))
			zu_params->exit_error(2, "%s: option \"--%s\" may be given only once",
			                      clause, row->name);
		seen |= 1u << row->id;

		zu_option_call call{};
		call.arg = arg;
		call.entry = row;
		call.data = state.data.data();
		call.invert = invert;
		call.udata = state.udata.data();
		call.clause = clause;
		call.family = family;
		record.parse(&call);
		check_guards(record, state, "parse");
	}

	for (const zu_option_entry *row = record.options; row && row->name; ++row) {
		if ((row->flags & ZU_FLAG_MANDATORY) && !(seen & (1u << row->id)))
			zu_params->exit_error(2, "%s: option \"--%s\" must be given", clause, row->name);
	}
	for (const zu_option_entry *row = record.options; row && row->name; ++row) {
		if (!(seen & (1u << row->id)))
			continue;
		for (const zu_option_entry *other = record.options; other->name; ++other) {
			const uint32_t bit = 1u << other->id;
			if ((row->requires_ & bit) && !(seen & bit))
				zu_params->exit_error(2, "%s: option \"--%s\" requires option \"--%s\"",
				                      clause, row->name, other->name);
			if ((row->exclusive_with & bit) && other != row && (seen & bit))
				zu_params->exit_error(2, "%s: option \"--%s\" cannot be used with option \"--%s\"",
				                      clause, row->name, other->name);
		}
	}

	if (record.final_check != nullptr) {
		zu_fcheck_call call{state.data.data(), state.udata.data(), clause};
		record.final_check(&call);
		check_guards(record, state, "final check");
	}
}

void print_block(const plugin_record &record, uint16_t family,
                 std::span<const unsigned char> block, bool numeric)
{
	with_entry(record, family, block, "print",
	           [&](const zu_clause_entry *entry) { record.print(nullptr, entry, numeric); });
}

void save_block(const plugin_record &record, uint16_t family,
                std::span<const unsigned char> block)
{
	with_entry(record, family, block, "save",
	           [&](const zu_clause_entry *entry) { record.save(nullptr, entry); });
}

} // namespace zunder

using zunder::clause_kind;

struct zu_params *zu_params = &zunder::host_params;

extern "C" {

void zunder_register_match(struct zunder_match *record)
{
	zunder::register_record(clause_kind::match, record);
}

void zunder_register_matches(struct zunder_match *records, unsigned int count)
{
	for (unsigned i = 0; i < count; ++i)
		zunder::register_record(clause_kind::match, &records[i]);
}

void zunder_register_target(struct zunder_target *record)
{
	zunder::register_record(clause_kind::target, record);
}

void zunder_register_targets(struct zunder_target *records, unsigned int count)
{
	for (unsigned i = 0; i < count; ++i)
		zunder::register_record(clause_kind::target, &records[i]);
}

void zunder_option_parse(struct zu_option_call *call)
{
	const zu_option_entry *row = call->entry;
	const char *clause = call->clause ? call->clause : "zunder";
	const char *arg = call->arg;
	const unsigned limit = row->max != 0 ? row->max : UINT32_MAX;

	if (call->invert && !(row->flags & ZU_FLAG_INVERT))
		zu_params->exit_error(2, "%s: option \"--%s\" cannot be negated", clause, row->name);
	if (row->type != ZU_TYPE_NONE && arg == nullptr)
		zu_params->exit_error(2, "%s: option \"--%s\" requires an argument", clause, row->name);

	const void *stored = nullptr;
	size_t stored_size = 0;
	switch (row->type) {
	case ZU_TYPE_NONE:
		call->value_count = 0;
		break;
	case ZU_TYPE_UINT32:
		if (!zunder::parse_u32(arg, &call->value.u32) || call->value.u32 > limit)
			zu_params->exit_error(2, "%s: option \"--%s\": \"%s\" is not a number from 0 to %u",
			                      clause, row->name, arg, limit);
		call->value_count = 1;
		stored = &call->value.u32;
		stored_size = 4;
		break;
	case ZU_TYPE_UINT32_RANGE: {
		const std::string_view text = arg;
		const size_t colon = text.find(':');
		uint32_t *range = call->value.u32_range;
		bool ok = zunder::parse_u32(text.substr(0, colon), &range[0]) && range[0] <= limit;
		if (ok && colon != text.npos)
			ok = zunder::parse_u32(text.substr(colon + 1), &range[1]) && range[1] <= limit;
		if (!ok)
			zu_params->exit_error(2, "%s: option \"--%s\": \"%s\" is not a number or a range "
			                      "\"first:last\" of numbers from 0 to %u",
			                      clause, row->name, arg, limit);
		call->value_count = colon != text.npos ? 2 : 1;
		stored = range;
		stored_size = 4u * call->value_count;
		break;
	}
	case ZU_TYPE_STRING: {
		const size_t length = std::strlen(arg);
		if (length < row->min)
			zu_params->exit_error(2, "%s: option \"--%s\": the text must be at least %u characters long",
			                      clause, row->name, row->min);
		// A stored text must fit with its NUL; it is never cut short.
		size_t longest = row->max != 0 ? row->max : SIZE_MAX;
		if (row->flags & ZU_FLAG_STORE)
			longest = std::min<size_t>(longest, row->store_size - 1);
		if (length > longest)
			zu_params->exit_error(2, "%s: option \"--%s\": the text must be at most %zu characters long",
			                      clause, row->name, longest);
		call->value_count = 1;
		stored = arg;
		stored_size = length + 1;
		break;
	}
	case ZU_TYPE_HOSTMASK:
		if (!zunder::parse_address(arg, call->family, &call->value))
			zu_params->exit_error(2, "%s: option \"--%s\": \"%s\" is not an %s address with an optional /mask",
			                      clause, row->name, arg,
			                      call->family == ZU_FAMILY_IPV6 ? "IPv6" : "IPv4");
		call->value_count = 1;
		stored = &call->value.host;
		stored_size = sizeof(call->value.host);
		break;
	case ZU_TYPE_PROTOCOL:
		if (!zunder::parse_protocol(arg, &call->value.protocol))
			zu_params->exit_error(2, "%s: option \"--%s\": unknown protocol \"%s\"",
			                      clause, row->name, arg);
		call->value_count = 1;
		stored = &call->value.protocol;
		stored_size = 1;
		break;
	}

	if ((row->flags & ZU_FLAG_STORE) && stored_size != 0)
		std::memcpy(static_cast<unsigned char *>(call->data) + row->store_offset, stored,
		            stored_size);
}

} // extern "C"
