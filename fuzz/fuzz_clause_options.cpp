// SPDX-License-Identifier: GPL-2.0-or-later
// Option vectors for every clause, through the host's clause driver, then
// the listing (numeric and not) and the saved options of each block that
// parsed.
//
// Input: byte 0 picks the family (6: IPv6, anything else IPv4), then the
// clause's name and a NUL; an input naming no clause of the build for that
// family is ignored.  The rest is words separated by NUL bytes.  A word may
// be a short code instead of text, so that the fuzzer reaches deep paths
// without guessing names:
//   \x01 i   the clause's option i, as "--name"
//   \x02     "!"
//   \x03 i   plausible value i
// Any other word is used as it stands.
#include "fuzz_support.h"

#include <cstddef>
#include <cstdint>

namespace {

constexpr size_t max_input = 1 << 16;
constexpr size_t max_words = 64;

constexpr const char *values[] = {
	"",
	"0",
	"1",
	"7",
	"24",
	"255",
	"256",
	"65535",
	"4294967295",
	"4294967296",
	"0x10",
	"0X20",
	"-1",
	" 5",
	"1:2",
	"200:100",
	"0:4294967295",
	"1:",
	":1",
	// policy
	"in",
	"out",
	"none",
	"ipsec",
	"transport",
	"tunnel",
	"esp",
	"ah",
	"ipcomp",
	"tcp",
	"50",
	"108",
	"1.2.3.4",
	"10.0.0.0/8",
	"10.0.0.1/255.0.255.0",
	"0.0.0.0/0",
	"::1",
	"fe80::/64",
	"2001:db8::1/ffff::ffff",
	"::/0",
	"1.2.3.4/33",
	// ipv6header
	"hop,dst",
	"none,esp,auth,frag,route,dst,hop,prot",
	",,",
	"hop-by-hop",
	"ipv6-opts",
	"58",
	"protocol",
	"0,60,43,44,51,50,59,255",
	// RATEEST
	"1s",
	"4s",
	"250ms",
	"250000",
	"8s",
	"9s",
	"1e-9s",
	"nan",
	"inf",
	"-1s",
	"1.5SEC",
	"100us",
	"64s",
	"est1",
	"abcdefghijklmnop",
	// connlabel (sample label file)
	"eth0-in",
	"interactive",
	"5",
	"127",
	"128",
	"007",
};
constexpr size_t value_count = sizeof(values) / sizeof(values[0]);

char text[max_input + 1];
const char *words[max_words];
char option_words[max_words][40];
zunder::clause_state state;

size_t option_rows(const zunder::plugin_record &record)
{
	size_t n = 0;
	for (const zu_option_entry *row = record.options; row && row->name; ++row)
		++n;
	return n;
}

// Splits `data` into the word list; returns the number of words.  A NUL
// ends a word, so "a\0" is one word and "a\0\0" two, the second empty.
size_t make_words(const zunder::plugin_record &record, const uint8_t *data, size_t size)
{
	std::memcpy(text, data, size);
	text[size] = '\0';
	const size_t rows = option_rows(record);
	size_t count = 0;
	for (size_t start = 0; start < size && count < max_words;) {
		const char *word = text + start;
		const size_t length = std::strlen(word);
		if (length == 1 && word[0] == '\x02') {
			word = "!";
		} else if (length == 2 && word[0] == '\x01' && rows != 0) {
			std::snprintf(option_words[count], sizeof(option_words[count]), "--%s",
				      record.options[static_cast<uint8_t>(word[1]) % rows].name);
			word = option_words[count];
		} else if (length == 2 && word[0] == '\x03') {
			word = values[static_cast<uint8_t>(word[1]) % value_count];
		}
		words[count++] = word;
		start += length + 1;
	}
	return count;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
	fuzz::load_plugins();
	return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	if (size < 2 || size > max_input)
		return 0;
	const uint16_t family = data[0] == 6 ? ZU_FAMILY_IPV6 : ZU_FAMILY_IPV4;
	const void *name_end = std::memchr(data + 1, '\0', size - 1);
	if (name_end == nullptr)
		return 0;
	const fuzz::clause_choice *clause =
		fuzz::find_clause(reinterpret_cast<const char *>(data + 1), family);
	if (clause == nullptr)
		return 0;
	const zunder::plugin_record &record = *clause->record;
	const size_t words_at = static_cast<size_t>(static_cast<const uint8_t *>(name_end) - data) + 1;
	const size_t count = make_words(record, data + words_at, size - words_at);

	if (fuzz::refused(zunder::try_parse_clause(record, family, {words, count}, state)))
		return 0;
	if (!state.info.guards_intact() || !state.scratch.guards_intact())
		fuzz::finding("block guards broken after a clause that parsed");

	const std::span<const unsigned char> block{state.info.data(), state.info.size()};
	fuzz::must_finish([&] { zunder::print_block(record, family, block, false); });
	fuzz::must_finish([&] { zunder::print_block(record, family, block, true); });
	fuzz::must_finish([&] { zunder::save_block(record, family, block); });
	return 0;
}
