// SPDX-License-Identifier: GPL-2.0-or-later
// libzunder: the clause driver.  It calls a plug-in's operations in a rule
// command's order, with guard bytes around every block it hands out.
#include "host_internal.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace zunder {

namespace {

const zu_option_entry *find_option(const zu_option_entry *rows, const char *name)
{
	for (const zu_option_entry *row = rows; row && row->name; ++row)
		if (std::strcmp(row->name, name) == 0)
			return row;
	return nullptr;
}

[[noreturn]] void guard_failure(const plugin_record &record, const char *operation)
{
	host_fault("%s %s: plug-in %s wrote outside its block in %s", kind_word(record.kind), record.name,
		   record.loaded_from.c_str(), operation);
}

void check_guards(const plugin_record &record, const clause_state &state, const char *operation)
{
	if (!state.info.guards_intact() || !state.scratch.guards_intact())
		guard_failure(record, operation);
}

// Runs print or save on an entry with guards around it and a copy to
// compare with, since listing and saving must leave the block alone.
template <typename Operation>
void with_entry(const plugin_record &record, uint16_t family, std::span<const unsigned char> block,
		const char *operation, Operation op)
{
	if (block.size() != record.size)
		host_fault("%s %s: a block of %zu bytes cannot be printed: it takes %u",
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

	if (!storage.guards_intact() || !std::equal(before.begin(), before.end(), storage.data()))
		guard_failure(record, operation);
}

} // namespace

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

void parse_clause(const plugin_record &record, uint16_t family, std::span<const char *const> args,
		  clause_state &state)
{
	const char *clause = record.name;
	state.info.reset(record.size);
	state.scratch.reset(record.udata_size);
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
				zu_params->exit_error(2, "%s: option \"--%s\" requires an argument", clause,
						      row->name);
			arg = args[i];
		}
		if ((seen & (1u << row->id)) && !(row->flags & ZU_FLAG_MULTI))
			zu_params->exit_error(2, "%s: option \"--%s\" may be given only once", clause,
					      row->name);
		seen |= 1u << row->id;

		zu_option_call call{};
		call.arg = arg;
		call.entry = row;
		call.data = state.info.data();
		call.invert = invert;
		call.udata = state.scratch.data();
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
				zu_params->exit_error(
					2, "%s: option \"--%s\" cannot be used with option \"--%s\"", clause,
					row->name, other->name);
		}
	}

	if (record.final_check != nullptr) {
		zu_fcheck_call call{state.info.data(), state.scratch.data(), clause};
		record.final_check(&call);
		check_guards(record, state, "final check");
	}
}

std::optional<caught_error> try_parse_clause(const plugin_record &record, uint16_t family,
					     std::span<const char *const> args, clause_state &state)
{
	return try_call([&] { parse_clause(record, family, args, state); });
}

void print_block(const plugin_record &record, uint16_t family, std::span<const unsigned char> block,
		 bool numeric)
{
	with_entry(record, family, block, "print",
		   [&](const zu_clause_entry *entry) { record.print(nullptr, entry, numeric); });
}

void save_block(const plugin_record &record, uint16_t family, std::span<const unsigned char> block)
{
	with_entry(record, family, block, "save",
		   [&](const zu_clause_entry *entry) { record.save(nullptr, entry); });
}

} // namespace zunder
