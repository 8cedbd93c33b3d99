// SPDX-License-Identifier: GPL-2.0-or-later
// Baseline plug-in for the benchmarks: operations that do nothing beyond the
// host's own work.  parse only calls zunder_option_parse, final_check
// nothing; print and save write, with one fputs, the text the benchmark
// hands over (the measured plug-in's finished text).  Its one record only
// carries these operations: the benchmark swaps them into a copy of each
// measured record, so that the baseline has the same option table and blocks.
#include <zunder/plugin.h>

#include <cstdio>

namespace {

const char *print_text = "";
const char *save_text = "";

void null_parse(zu_option_call *call)
{
	zunder_option_parse(call);
}

void null_final_check(zu_fcheck_call *)
{}

void null_print(const void *, const zu_clause_entry *, int)
{
	std::fputs(print_text, stdout);
}

void null_save(const void *, const zu_clause_entry *)
{
	std::fputs(save_text, stdout);
}

constinit zunder_match null_record = {
	.version = ZUNDER_VERSION,
	.name = "bench_null",
	.family = ZU_FAMILY_ANY,
	.size = 8,
	.userspace_size = 8,
	.print = null_print,
	.save = null_save,
	.parse = null_parse,
	.final_check = null_final_check,
};

} // namespace

// Sets the texts print and save write from now on.
extern "C" __attribute__((visibility("default"))) void bench_null_set_texts(const char *print,
									    const char *save)
{
	print_text = print;
	save_text = save;
}

ZU_PLUGIN_CONSTRUCTOR(bench_null)
{
	zunder_register_match(&null_record);
}
