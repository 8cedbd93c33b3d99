// SPDX-License-Identifier: GPL-2.0-or-later
// "connlabel": match on a connection-tracking label, named through the
// label map; --set asks the kernel to set the label instead.
#include <zunder/plugin.h>

#include <pavane_conntrack.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

enum option_id : unsigned { opt_label, opt_set };

constexpr zu_option_entry connlabel_options[] = {
	{.name = "label",
	 .type = ZU_TYPE_STRING,
	 .id = opt_label,
	 .flags = ZU_FLAG_INVERT | ZU_FLAG_MANDATORY,
	 .min = 1},
	{.name = "set", .type = ZU_TYPE_NONE, .id = opt_set},
	{},
};

constexpr char connlabel_help_text[] =
	"connlabel match options:\n"
	"[!] --label name     Match if label has been set on connection\n"
	"    --set            Set label on connection";

struct connlabel_block {
	uint16_t label_bit;
	uint16_t label_flags;
	uint8_t unused[4]; // left as the host's zero fill
};
static_assert(sizeof(connlabel_block) == 8);
static_assert(offsetof(connlabel_block, label_bit) == 0);
static_assert(offsetof(connlabel_block, label_flags) == 2);
static_assert(offsetof(connlabel_block, unused) == 4);

enum : uint16_t { flag_invert = 1, flag_set = 2 };

// Set once by the constructor, before the clause is registered; never released.
constinit mokt_labelmap *label_map = nullptr;

// The name of a label bit, or null when the map has none for it.
const char *label_name_of(unsigned bit)
{
	const char *name = mokt_labelmap_get_name(label_map, bit);
	return name != nullptr && name[0] != '\0' ? name : nullptr;
}

void connlabel_help()
{
	std::puts(connlabel_help_text);
}

void connlabel_parse(zu_option_call *call)
{
	zunder_option_parse(call);
	auto &b = *static_cast<connlabel_block *>(call->data);
	switch (call->entry->id) {
	case opt_label: {
		const int bit = mokt_labelmap_get_bit(label_map, call->arg);
		if (bit < 0)
			zu_params->exit_error(2, "label '%s' not found", call->arg);
		b.label_bit = static_cast<uint16_t>(bit);
		if (call->invert)
			b.label_flags |= flag_invert;
		break;
	}
	case opt_set:
		b.label_flags |= flag_set;
		break;
	}
}

void connlabel_print(const void *, const zu_clause_entry *entry, int numeric)
{
	const auto &b = info_block<connlabel_block>(entry);
	std::printf(" connlabel");
	if (b.label_flags & flag_invert)
		std::printf(" !");
	const char *name = numeric ? nullptr : label_name_of(b.label_bit);
	if (name != nullptr)
		std::printf(" '%s'", name);
	else
		std::printf(" %u", unsigned{b.label_bit});
	if (b.label_flags & flag_set)
		std::printf(" %sset", "");
}

void connlabel_save(const void *, const zu_clause_entry *entry)
{
	const auto &b = info_block<connlabel_block>(entry);
	if (b.label_flags & flag_invert)
		std::printf(" !");
	if (const char *name = label_name_of(b.label_bit))
		std::printf(" --label \"%s\"", name);
	else
		std::printf(" --label \"%u\"", unsigned{b.label_bit});
	if (b.label_flags & flag_set)
		std::printf(" %sset", "--");
}

constinit zunder_match connlabel_record = {
	.version = ZUNDER_VERSION,
	.name = "connlabel",
	.revision = 0,
	.family = ZU_FAMILY_ANY,
	.size = sizeof(connlabel_block),
	.userspace_size = 0,
	.help = connlabel_help,
	.print = connlabel_print,
	.save = connlabel_save,
	.parse = connlabel_parse,
	.final_check = nullptr,
	.options = connlabel_options,
	.udata_size = 0,
};

} // namespace

ZU_PLUGIN_CONSTRUCTOR(libzu_connlabel)
{
	label_map = mokt_labelmap_new(nullptr);
	if (label_map == nullptr) {
		// The map gives EINVAL for a FIFO, a device or a socket.
		std::fprintf(stderr, "cannot open connlabel.conf, not registering '%s' match: %s\n",
			     connlabel_record.name,
			     errno == EINVAL ? "not a regular file" : std::strerror(errno));
		return;
	}
	zunder_register_match(&connlabel_record);
}
