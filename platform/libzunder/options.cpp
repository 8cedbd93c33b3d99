// SPDX-License-Identifier: GPL-2.0-or-later
// libzunder: zunder_option_parse, the generic conversion of an option's text
// by its row's type, one small converter a type, and the store into the block.
#include "zunder_host.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace {

// The bytes a converter leaves for the store.
struct converted {
	const void *bytes = nullptr;
	size_t size = 0;
};

const char *clause_of(const zu_option_call *call)
{
	return call->clause ? call->clause : "zunder";
}

unsigned limit_of(const zu_option_entry *row)
{
	return row->max != 0 ? row->max : UINT32_MAX;
}

converted convert_u32(zu_option_call *call)
{
	const zu_option_entry *row = call->entry;
	const unsigned limit = limit_of(row);
	if (!zunder::parse_u32(call->arg, &call->value.u32) || call->value.u32 > limit)
		zu_params->exit_error(2, "%s: option \"--%s\": \"%s\" is not a number from 0 to %u",
				      clause_of(call), row->name, call->arg, limit);
	call->value_count = 1;
	return {&call->value.u32, 4};
}

converted convert_u32_range(zu_option_call *call)
{
	const zu_option_entry *row = call->entry;
	const unsigned limit = limit_of(row);
	const std::string_view text = call->arg;
	const size_t colon = text.find(':');
	uint32_t *range = call->value.u32_range;
	bool ok = zunder::parse_u32(text.substr(0, colon), &range[0]) && range[0] <= limit;
	if (ok && colon != text.npos)
		ok = zunder::parse_u32(text.substr(colon + 1), &range[1]) && range[1] <= limit;
	if (!ok)
		zu_params->exit_error(2,
				      "%s: option \"--%s\": \"%s\" is not a number or a range "
				      "\"first:last\" of numbers from 0 to %u",
				      clause_of(call), row->name, call->arg, limit);
	call->value_count = colon != text.npos ? 2 : 1;
	return {range, 4u * call->value_count};
}

converted convert_string(zu_option_call *call)
{
	const zu_option_entry *row = call->entry;
	const size_t length = std::strlen(call->arg);
	if (length < row->min)
		zu_params->exit_error(2, "%s: option \"--%s\": the text must be at least %u characters long",
				      clause_of(call), row->name, row->min);
	// A stored text must fit with its NUL; it is never cut short.
	size_t longest = row->max != 0 ? row->max : SIZE_MAX;
	if (row->flags & ZU_FLAG_STORE)
		longest = std::min<size_t>(longest, row->store_size - 1);
	if (length > longest)
		zu_params->exit_error(2, "%s: option \"--%s\": the text must be at most %zu characters long",
				      clause_of(call), row->name, longest);
	call->value_count = 1;
	return {call->arg, length + 1};
}

converted convert_hostmask(zu_option_call *call)
{
	if (!zunder::parse_address(call->arg, call->family, &call->value))
		zu_params->exit_error(
			2, "%s: option \"--%s\": \"%s\" is not an %s address with an optional /mask",
			clause_of(call), call->entry->name, call->arg,
			call->family == ZU_FAMILY_IPV6 ? "IPv6" : "IPv4");
	call->value_count = 1;
	return {&call->value.host, sizeof(call->value.host)};
}

converted convert_protocol(zu_option_call *call)
{
	if (!zunder::parse_protocol(call->arg, &call->value.protocol))
		zu_params->exit_error(2, "%s: option \"--%s\": unknown protocol \"%s\"", clause_of(call),
				      call->entry->name, call->arg);
	call->value_count = 1;
	return {&call->value.protocol, 1};
}

converted convert(zu_option_call *call)
{
	switch (call->entry->type) {
	case ZU_TYPE_UINT32:
		return convert_u32(call);
	case ZU_TYPE_UINT32_RANGE:
		return convert_u32_range(call);
	case ZU_TYPE_STRING:
		return convert_string(call);
	case ZU_TYPE_HOSTMASK:
		return convert_hostmask(call);
	case ZU_TYPE_PROTOCOL:
		return convert_protocol(call);
	default:
		call->value_count = 0;
		return {};
	}
}

} // namespace

extern "C" void zunder_option_parse(struct zu_option_call *call)
{
	const zu_option_entry *row = call->entry;
	if (call->invert && !(row->flags & ZU_FLAG_INVERT))
		zu_params->exit_error(2, "%s: option \"--%s\" cannot be negated", clause_of(call), row->name);
	if (row->type != ZU_TYPE_NONE && call->arg == nullptr)
		zu_params->exit_error(2, "%s: option \"--%s\" requires an argument", clause_of(call),
				      row->name);
	const converted value = convert(call);
	if ((row->flags & ZU_FLAG_STORE) && value.size != 0)
		std::memcpy(static_cast<unsigned char *>(call->data) + row->store_offset, value.bytes,
			    value.size);
}
