// SPDX-License-Identifier: GPL-2.0-or-later
// libzunder: the records plug-ins register, checked once so that the
// driver can trust them, and the loading of plug-in files.
#include "host_internal.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <map>

namespace zunder {

namespace {

std::vector<plugin_record> &records()
{
	static std::vector<plugin_record> all;
	return all;
}

// The file being loaded, so that records know where they came from, and
// why records it offered were refused: the load's failure, told in the one
// line that reports it.  Null outside a load.
const char *loading_file = "";
std::string *load_refusals = nullptr;

constexpr unsigned value_width(unsigned type)
{
	switch (type) {
	case ZU_TYPE_UINT32:
		return 4;
	case ZU_TYPE_UINT32_RANGE:
		return 8;
	case ZU_TYPE_PROTOCOL:
		return 1;
	case ZU_TYPE_HOSTMASK:
		return 32;
	case ZU_TYPE_STRING:
		return 1; // at least the NUL
	default:
		return 0;
	}
}

// The largest block a clause entry holds: its entry_size, 16 bits, counts
// the header too.
constexpr unsigned largest_block = (UINT16_MAX - sizeof(zu_clause_entry)) / 8 * 8;

// Why a record cannot be used, or empty when it can.  Checked once at
// registration so that the driver can trust ids and store ranges.
std::string record_fault(const plugin_record &r)
{
	if (r.name == nullptr || r.name[0] == '\0')
		return "it has no name";
	if (std::strlen(r.name) >= sizeof(zu_clause_entry::name))
		return "its name is too long";
	if (r.size % 8 != 0)
		return "its block size is not a multiple of 8";
	if (r.size > largest_block)
		return "its block size is larger than " + std::to_string(largest_block) + " bytes";
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
		if ((row->flags & ZU_FLAG_STORE) && (row->store_size < value_width(row->type) ||
						     row->store_offset + uint64_t{row->store_size} > r.size))
			return "an option stores outside the block";
	}
	// A bit naming no row would make its check one that can never fire.
	for (const zu_option_entry *row = r.options; row && row->name; ++row)
		if ((row->requires_ | row->exclusive_with) & ~ids)
			return "an option requires or excludes an id that no option has";
	return {};
}

// The clause a plug-in file's name names: <clause> in libzu_<clause>.so or
// libqeb_<clause>.so; empty for a file named otherwise.
std::string_view named_clause(std::string_view path)
{
	std::string_view file = path.substr(path.find_last_of('/') + 1);
	if (!file.ends_with(".so"))
		return {};
	file.remove_suffix(3);
	for (const std::string_view prefix : {"libzu_", "libqeb_"})
		if (file.starts_with(prefix) && file.size() > prefix.size())
			return file.substr(prefix.size());
	return {};
}

// Why a record may not join those registered: a file registers only the
// clause its name names, and never the same record twice; neither may
// another file, since the first would always win.
std::string registration_fault(const plugin_record &r)
{
	const std::string_view clause = named_clause(r.loaded_from);
	if (!clause.empty() && clause != r.name)
		return "its file is named for \"" + std::string(clause) + "\"";
	for (const plugin_record &other : records()) {
		if (other.kind != r.kind || other.family != r.family || std::strcmp(other.name, r.name) != 0)
			continue;
		const std::string family = family_word(r.family);
		if (other.loaded_from == r.loaded_from)
			return "it is registered twice for " + family;
		return "it is registered already for " + family + " by " +
		       (other.loaded_from.empty() ? "the program" : other.loaded_from);
	}
	return {};
}

__attribute__((format(printf, 1, 2))) void report(const char *format, ...)
{
	va_list args;
	va_start(args, format);
	write_error_line(format, args);
	va_end(args);
}

// A refused record: part of the failure of the load that offered it, else
// (a program registering records of its own) a line on standard error.
void refuse(clause_kind kind, const char *name, const char *fault)
{
	if (load_refusals == nullptr) {
		report("%s \"%s\" not registered: %s", kind_word(kind), name, fault);
		return;
	}
	if (!load_refusals->empty())
		*load_refusals += "; ";
	*load_refusals += std::string(kind_word(kind)) + " \"" + name + "\" not registered: " + fault;
}

template <typename Record>
void register_record(clause_kind kind, Record *record)
{
	if (record == nullptr) {
		refuse(kind, "", "no record was given");
		return;
	}
	plugin_record r{kind,
			record->name,
			record->revision,
			record->family,
			record->size,
			record->userspace_size,
			record->udata_size,
			record->help,
			record->print,
			record->save,
			record->parse,
			record->final_check,
			record->options,
			loading_file};
	std::string fault = record->version == nullptr || std::strcmp(record->version, ZUNDER_VERSION) != 0
				    ? "it was built for another host version"
				    : record_fault(r);
	if (fault.empty())
		fault = registration_fault(r);
	if (!fault.empty()) {
		refuse(kind, record->name ? record->name : "", fault.c_str());
		return;
	}
	record->loaded_from = loading_file;
	records().push_back(std::move(r));
}

} // namespace

const char *kind_word(clause_kind kind)
{
	return kind == clause_kind::match ? "match" : "target";
}

const char *family_word(uint16_t family)
{
	switch (family) {
	case ZU_FAMILY_IPV4:
		return "IPv4";
	case ZU_FAMILY_IPV6:
		return "IPv6";
	default:
		return "any family";
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
	loading_file = slot->first.c_str(); // lives as long as the process
	std::string refusals;
	load_refusals = &refusals;
	void *handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
	load_refusals = nullptr;
	loading_file = "";
	if (handle == nullptr) {
		const char *error = dlerror();
		why = error ? error : "cannot load";
	} else {
		why = refusals;
	}
	return why;
}

} // namespace zunder

using zunder::clause_kind;

extern "C" {

void zunder_register_match(struct zunder_match *record)
{
	zunder::register_record(clause_kind::match, record);
}

void zunder_register_matches(struct zunder_match *records, unsigned int count)
{
	if (records == nullptr && count != 0)
		return zunder::register_record<zunder_match>(clause_kind::match, nullptr);
	for (unsigned i = 0; i < count; ++i)
		zunder::register_record(clause_kind::match, &records[i]);
}

void zunder_register_target(struct zunder_target *record)
{
	zunder::register_record(clause_kind::target, record);
}

void zunder_register_targets(struct zunder_target *records, unsigned int count)
{
	if (records == nullptr && count != 0)
		return zunder::register_record<zunder_target>(clause_kind::target, nullptr);
	for (unsigned i = 0; i < count; ++i)
		zunder::register_record(clause_kind::target, &records[i]);
}

} // extern "C"
