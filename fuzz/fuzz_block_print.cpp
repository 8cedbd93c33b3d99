// SPDX-License-Identifier: GPL-2.0-or-later
// Arbitrary bytes as the info block the kernel hands back, printed (numeric
// and not) and saved by every clause of every plug-in, for each family the
// clause serves.  The input is cut or zero-padded to the clause's size.
#include "fuzz_support.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace {

constexpr size_t max_block = 4096;
unsigned char block[max_block];

void print(const zunder::plugin_record &record, uint16_t family, size_t size)
{
	const std::span<const unsigned char> bytes{block, size};
	fuzz::must_finish([&] { zunder::print_block(record, family, bytes, false); });
	fuzz::must_finish([&] { zunder::print_block(record, family, bytes, true); });
	fuzz::must_finish([&] { zunder::save_block(record, family, bytes); });
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
	fuzz::load_plugins();
	for (size_t i = 0; i < fuzz::clause_count; ++i)
		if (fuzz::clauses[i].record->size > max_block)
			fuzz::finding("a clause's block is larger than the fuzzer's buffer");
	return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	for (size_t i = 0; i < fuzz::clause_count; ++i) {
		const zunder::plugin_record &record = *fuzz::clauses[i].record;
		const size_t taken = std::min<size_t>(size, record.size);
		std::fill(block, block + record.size, 0);
		if (taken != 0)
			std::memcpy(block, data, taken);
		// Family-independent clauses appear twice in the list, once per family.
		print(record, fuzz::clauses[i].family, record.size);
	}
	return 0;
}
