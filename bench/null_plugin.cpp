// Baseline plug-in for the benchmarks: one record per measured clause, with
// the same option table (names, types, flags, stored ranges), the same block
// and scratch sizes and the same operations present, but operations that do
// nothing beyond the host's own work.  parse only calls zunder_option_parse;
// print and save write a text the benchmark hands over (the measured
// plug-in's finished text) with one fputs.  Not a product plug-in: it is
// built and loaded only by the benchmarks.
#include <zunder/plugin.h>

#include <cstdio>
#include <cstring>

namespace {

constexpr unsigned element_flags = ZU_FLAG_INVERT | ZU_FLAG_MULTI;

constexpr zu_option_entry ah_options[] = {
	{.name = "ahspi", .type = ZU_TYPE_UINT32_RANGE, .id = 0,
	 .flags = ZU_FLAG_INVERT | ZU_FLAG_STORE, .store_offset = 0, .store_size = 8},
	{.name = "ahlen", .type = ZU_TYPE_UINT32, .id = 1,
	 .flags = ZU_FLAG_INVERT | ZU_FLAG_STORE, .store_offset = 8, .store_size = 4},
	{.name = "ahres", .type = ZU_TYPE_NONE, .id = 2},
	{},
};

constexpr zu_option_entry policy_options[] = {
	{.name = "dir", .type = ZU_TYPE_STRING, .id = 0},
	{.name = "pol", .type = ZU_TYPE_STRING, .id = 1},
	{.name = "strict", .type = ZU_TYPE_NONE, .id = 2},
	{.name = "reqid", .type = ZU_TYPE_UINT32, .id = 3, .flags = element_flags},
	{.name = "spi", .type = ZU_TYPE_UINT32, .id = 4, .flags = element_flags},
	{.name = "tunnel-src", .type = ZU_TYPE_HOSTMASK, .id = 7, .flags = element_flags},
	{.name = "tunnel-dst", .type = ZU_TYPE_HOSTMASK, .id = 8, .flags = element_flags},
	{.name = "proto", .type = ZU_TYPE_PROTOCOL, .id = 5, .flags = element_flags},
	{.name = "mode", .type = ZU_TYPE_STRING, .id = 6, .flags = element_flags},
	{.name = "next", .type = ZU_TYPE_NONE, .id = 9, .requires_ = 1u << 2, .flags = ZU_FLAG_MULTI},
	{},
};

constexpr zu_option_entry rateest_options[] = {
	{.name = "rateest-name", .type = ZU_TYPE_STRING, .id = 0,
	 .flags = ZU_FLAG_MANDATORY | ZU_FLAG_STORE, .store_offset = 0, .store_size = 16},
	{.name = "rateest-interval", .type = ZU_TYPE_STRING, .id = 1, .flags = ZU_FLAG_MANDATORY},
	{.name = "rateest-ewmalog", .type = ZU_TYPE_STRING, .id = 2, .flags = ZU_FLAG_MANDATORY},
	{},
};

constexpr zu_option_entry ipv6header_options[] = {
	{.name = "header", .type = ZU_TYPE_STRING, .id = 0,
	 .flags = ZU_FLAG_INVERT | ZU_FLAG_MANDATORY},
	{.name = "soft", .type = ZU_TYPE_NONE, .id = 1},
	{},
};

constexpr zu_option_entry connlabel_options[] = {
	{.name = "label", .type = ZU_TYPE_STRING, .id = 0,
	 .flags = ZU_FLAG_INVERT | ZU_FLAG_MANDATORY, .min = 1},
	{.name = "set", .type = ZU_TYPE_NONE, .id = 1},
	{},
};

// The texts print and save write, per record; set by the benchmark.
struct texts {
	const char *print = "";
	const char *save = "";
};
enum : unsigned { rec_ah, rec_policy, rec_connlabel, rec_ipv6header, rec_count };
texts match_texts[rec_count];
texts rateest_texts;

void null_parse(zu_option_call *call)
{
	zunder_option_parse(call);
}

void null_final_check(zu_fcheck_call *) {}

template <unsigned index>
void match_print(const void *, const zu_clause_entry *, int)
{
	std::fputs(match_texts[index].print, stdout);
}

template <unsigned index>
void match_save(const void *, const zu_clause_entry *)
{
	std::fputs(match_texts[index].save, stdout);
}

void rateest_print(const void *, const zu_clause_entry *, int)
{
	std::fputs(rateest_texts.print, stdout);
}

void rateest_save(const void *, const zu_clause_entry *)
{
	std::fputs(rateest_texts.save, stdout);
}

constexpr zunder_match match_record(const char *name, uint16_t family, unsigned size,
                                    unsigned udata_size, zu_print_fn print, zu_save_fn save,
                                    zu_final_check_fn final_check,
                                    const zu_option_entry *options)
{
	return {
		.version = ZUNDER_VERSION,
		.name = name,
		.revision = 0,
		.family = family,
		.size = size,
		.userspace_size = size,
		.help = nullptr,
		.print = print,
		.save = save,
		.parse = null_parse,
		.final_check = final_check,
		.options = options,
		.udata_size = udata_size,
	};
}

// Sizes as the measured plug-ins' blocks and scratch blocks.
constinit zunder_match null_matches[rec_count] = {
	match_record("null_ah", ZU_FAMILY_IPV6, 16, 1, match_print<rec_ah>, match_save<rec_ah>,
	             null_final_check, ah_options),
	match_record("null_policy", ZU_FAMILY_IPV4, 312, 0, match_print<rec_policy>,
	             match_save<rec_policy>, null_final_check, policy_options),
	match_record("null_connlabel", ZU_FAMILY_ANY, 8, 0, match_print<rec_connlabel>,
	             match_save<rec_connlabel>, nullptr, connlabel_options),
	match_record("null_ipv6header", ZU_FAMILY_IPV6, 8, 0, match_print<rec_ipv6header>,
	             match_save<rec_ipv6header>, nullptr, ipv6header_options),
};

constinit zunder_target null_rateest = {
	.version = ZUNDER_VERSION,
	.name = "null_RATEEST",
	.revision = 0,
	.family = ZU_FAMILY_ANY,
	.size = 32,
	.userspace_size = 24,
	.help = nullptr,
	.print = rateest_print,
	.save = rateest_save,
	.parse = null_parse,
	.final_check = null_final_check,
	.options = rateest_options,
	.udata_size = 8,
};

} // namespace

// Sets the texts the record `name` writes; false for an unknown name.
extern "C" __attribute__((visibility("default")))
bool bench_null_set_texts(const char *name, const char *print, const char *save)
{
	texts *t = nullptr;
	if (std::strcmp(name, null_rateest.name) == 0)
		t = &rateest_texts;
	for (unsigned i = 0; i < rec_count; ++i)
		if (std::strcmp(name, null_matches[i].name) == 0)
			t = &match_texts[i];
	if (t == nullptr)
		return false;
	t->print = print;
	t->save = save;
	return true;
}

ZU_PLUGIN_CONSTRUCTOR(bench_null)
{
	zunder_register_matches(null_matches, rec_count);
	zunder_register_target(&null_rateest);
}
