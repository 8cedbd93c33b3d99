// SPDX-License-Identifier: GPL-2.0-or-later
// "RATEEST": target that hands packets to a named rate estimator.  The user
// writes the measurement interval and the averaging time as times with
// units; parsing keeps them in microseconds in the scratch block, and the
// final check turns them into the two power-of-two codes the kernel takes.
#include <zunder/plugin.h>

#include "saved_word.h"

#include <locale.h>
#include <math.h>
#include <stdlib.h>
#include <strings.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

enum option_id : unsigned { opt_name, opt_interval, opt_ewmalog };

constexpr zu_option_entry rateest_options[] = {
	{.name = "rateest-name",
	 .type = ZU_TYPE_STRING,
	 .id = opt_name,
	 .flags = ZU_FLAG_MANDATORY | ZU_FLAG_STORE,
	 .store_offset = 0,
	 .store_size = 16},
	{.name = "rateest-interval", .type = ZU_TYPE_STRING, .id = opt_interval, .flags = ZU_FLAG_MANDATORY},
	{.name = "rateest-ewmalog", .type = ZU_TYPE_STRING, .id = opt_ewmalog, .flags = ZU_FLAG_MANDATORY},
	{},
};

constexpr char rateest_help_text[] =
	"RATEEST target options:\n"
	"  --rateest-name name\t\tRate estimator name\n"
	"  --rateest-interval sec\tRate measurement interval in seconds\n"
	"  --rateest-ewmalog value\tRate measurement averaging time constant";

struct rateest_block {
	char name[16];
	int8_t interval; // measurement interval is 2^interval seconds
	uint8_t ewmalog; // each new measurement weighs 2^-ewmalog
	uint8_t reserved[6];
	uint8_t kernel_owned[8]; // beyond userspace_size
};
static_assert(sizeof(rateest_block) == 32);
static_assert(offsetof(rateest_block, name) == 0);
static_assert(offsetof(rateest_block, interval) == 16);
static_assert(offsetof(rateest_block, ewmalog) == 17);
static_assert(offsetof(rateest_block, kernel_owned) == 24);

constexpr unsigned rateest_userspace_size = offsetof(rateest_block, kernel_owned);

// The two times as given, until the final check encodes them.
struct rateest_scratch {
	uint32_t interval_us;
	uint32_t ewma_us;
};
static_assert(sizeof(rateest_scratch) == 8);
static_assert(offsetof(rateest_scratch, interval_us) == 0);
static_assert(offsetof(rateest_scratch, ewma_us) == 4);

constexpr uint32_t shortest_interval_us = 250000; // code -2
constexpr int shortest_interval_code = -2;
constexpr int interval_steps = 5; // codes -1 .. 3
constexpr int ewma_search_limit = 31;

struct time_unit {
	const char *word;
	double factor;
};

constexpr time_unit time_units[] = {
	{"s", 1000000.0},  {"sec", 1000000.0}, {"secs", 1000000.0}, {"ms", 1000.0}, {"msec", 1000.0},
	{"msecs", 1000.0}, {"us", 1.0},        {"usec", 1.0},       {"usecs", 1.0},
};

// Numbers are read and written in the C locale, whatever locale the host
// chose, so that a saved rule reads back on every machine ("0.5s", never
// "0,5s").  The C locale object is the C library's own: nothing is
// allocated.  No fatal error may be raised while one of these is alive.
class c_numbers {
public:
	c_numbers() : before_(uselocale(newlocale(LC_ALL_MASK, "C", locale_t{}))) {}
	~c_numbers() { uselocale(before_); }
	c_numbers(const c_numbers &) = delete;
	c_numbers &operator=(const c_numbers &) = delete;

private:
	locale_t before_;
};

// A number as strtod reads it, then an optional unit; without a unit the
// number counts microseconds.  The result saturates to 0 .. 4294967295.
int rateest_parse_time(const char *text, uint32_t *out)
{
	char *rest;
	const c_numbers in_c;
	double value = strtod(text, &rest);
	if (rest == text)
		return -1;
	if (*rest != '\0') {
		const time_unit *unit = nullptr;
		for (const time_unit &u : time_units)
			if (strcasecmp(rest, u.word) == 0) {
				unit = &u;
				break;
			}
		if (unit == nullptr)
			return -1;
		value *= unit->factor;
	}
	if (!(value > 0.0)) // negative, zero or NaN
		*out = 0;
	else if (value >= 4294967295.0)
		*out = UINT32_MAX;
	else
		*out = static_cast<uint32_t>(value);
	return 0;
}

// One time item.  Takes a double so that any block read back lists its
// times exactly, also beyond 32 bits; under 1 ms whole microseconds.
void rateest_print_time(double us)
{
	const c_numbers in_c;
	if (us >= 1000000.0)
		std::printf(" %.1fs", us / 1000000.0);
	else if (us >= 1000.0)
		std::printf(" %.1fms", us / 1000.0);
	else
		std::printf(" %uus", static_cast<unsigned>(us));
}

// Bytes a name may not hold: control bytes, which no one-line text carries
// through both a shell and a line reader, and the four that stay live inside
// double quotes; the connection-label map refuses the same.
bool refused_name_byte(char c)
{
	return saved_word::is_control(static_cast<unsigned char>(c)) || c == '"' || c == '\\' || c == '$' ||
	       c == '`';
}

// A name parse accepts: valid UTF-8 (an interactive shell's line editor
// changes other bytes as they are typed, even inside quotes) without a
// refused byte.
bool acceptable_name(const char *name)
{
	const size_t length = std::strlen(name);
	for (size_t i = 0; i < length; ++i)
		if (refused_name_byte(name[i]))
			return false;
	return length == 0 || saved_word::carries(name, length);
}

// The name for people: as it is, with the bytes of a block read back that
// parse would refuse written as \xHH (control bytes, bytes outside valid
// UTF-8) or \\ (backslash), so that a listing stays one line.
void list_name(const char (&name)[16])
{
	const size_t length = strnlen(name, sizeof(name));
	const auto *p = reinterpret_cast<const unsigned char *>(name);
	for (size_t i = 0; i < length;) {
		const size_t n = saved_word::utf8_length(p + i, length - i);
		if (n == 0 || saved_word::is_control(p[i]))
			std::printf("\\x%02x", p[i]);
		else if (p[i] == '\\')
			std::fputs("\\\\", stdout);
		else
			std::fwrite(p + i, 1, n, stdout);
		i += n == 0 ? 1 : n;
	}
}

// The name as saved options hold it (saved_word.h): bare, or in single
// quotes.  Only a block read back can hold a refused byte: a control byte
// or one outside valid UTF-8 is written \xHH, the others as they are, so
// the name read back holds a refused byte or a backslash and the rule is
// refused rather than run, split or read as another name.  At most 16 bytes.
void save_name(const char (&name)[16])
{
	saved_word::write(name, strnlen(name, sizeof(name)));
}

// The interval is 2^interval s and the averaging time interval * 2^ewmalog.
// Both are exact in double for every code a block can carry, so neither
// wraps nor shifts by a count out of range.
void rateest_print_fields(const zu_clause_entry *entry, const char *prefix, bool saving)
{
	const auto &b = info_block<rateest_block>(entry);
	std::printf(" %sname ", prefix);
	if (saving)
		save_name(b.name);
	else
		list_name(b.name);
	const double interval_us = ldexp(1000000.0, b.interval);
	std::printf(" %sinterval", prefix);
	rateest_print_time(interval_us);
	std::printf(" %sewmalog", prefix);
	rateest_print_time(ldexp(interval_us, b.ewmalog));
}

void rateest_help()
{
	std::puts(rateest_help_text);
}

void rateest_parse(zu_option_call *call)
{
	zunder_option_parse(call);
	auto &s = *static_cast<rateest_scratch *>(call->udata);
	switch (call->entry->id) {
	case opt_name:
		if (!acceptable_name(call->arg))
			zu_params->exit_error(2,
					      "RATEEST: invalid name \"%s\": a name is UTF-8 text without "
					      "control characters and without \" \\ $ `",
					      call->arg);
		break;
	case opt_interval:
		if (rateest_parse_time(call->arg, &s.interval_us) != 0)
			zu_params->exit_error(2, "RATEEST: bad interval value \"%s\"", call->arg);
		break;
	case opt_ewmalog:
		if (rateest_parse_time(call->arg, &s.ewma_us) != 0)
			zu_params->exit_error(2, "RATEEST: bad ewmalog value \"%s\"", call->arg);
		break;
	}
}

void rateest_final_check(zu_fcheck_call *call)
{
	const auto &s = *static_cast<const rateest_scratch *>(call->udata);
	auto &b = *static_cast<rateest_block *>(call->data);

	// The interval is raised to the next power-of-two number of seconds.
	int interval = shortest_interval_code;
	if (s.interval_us > shortest_interval_us) {
		int k = 1;
		while (k <= interval_steps && s.interval_us > (shortest_interval_us << k))
			++k;
		if (k > interval_steps)
			zu_params->exit_error(2, "RATEEST: interval value is too large");
		interval = shortest_interval_code + k;
	}

	// The largest n - 1 whose time constant interval / -ln(1 - 2^-(n-1))
	// stays within the averaging time; the search uses the interval as given.
	const double interval_us = s.interval_us;
	int n = 1;
	for (; n <= ewma_search_limit; ++n) {
		const double w = 1.0 - ldexp(1.0, -n);
		if (interval_us / -log(w) > s.ewma_us)
			break;
	}
	const int ewmalog = n - 1;
	if (ewmalog == 0 || ewmalog == ewma_search_limit)
		zu_params->exit_error(2, "RATEEST: ewmalog value is out of range");

	b.interval = static_cast<int8_t>(interval);
	b.ewmalog = static_cast<uint8_t>(ewmalog);
}

void rateest_print(const void *, const zu_clause_entry *entry, int)
{
	rateest_print_fields(entry, "", false);
}

void rateest_save(const void *, const zu_clause_entry *entry)
{
	rateest_print_fields(entry, "--rateest-", true);
}

constinit zunder_target rateest_record = {
	.version = ZUNDER_VERSION,
	.name = "RATEEST",
	.revision = 0,
	.family = ZU_FAMILY_ANY,
	.size = sizeof(rateest_block),
	.userspace_size = rateest_userspace_size,
	.help = rateest_help,
	.print = rateest_print,
	.save = rateest_save,
	.parse = rateest_parse,
	.final_check = rateest_final_check,
	.options = rateest_options,
	.udata_size = sizeof(rateest_scratch),
};

} // namespace

ZU_PLUGIN_CONSTRUCTOR(libzu_RATEEST)
{
	zunder_register_target(&rateest_record);
}
