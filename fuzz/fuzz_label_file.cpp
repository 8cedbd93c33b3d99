// SPDX-License-Identifier: GPL-2.0-or-later
// The label-file reader: the input is written as a label file and read into
// a map, whose names must then hold what the library promises: each named
// bit's name leads back to that bit, and names are words the saved rules
// can quote.  The first line of the input is also looked up as a name.
#include <pavane_conntrack.h>

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace {

char path[] = "/tmp/fuzz_label_file.XXXXXX";
int file = -1;
char name_buffer[4096];

[[noreturn]] void finding(const char *what, unsigned bit, const char *name)
{
	std::fprintf(stderr, "==fuzz== %s (bit %u, name \"%s\")\n", what, bit, name ? name : "");
	std::abort();
}

bool plain_number(const char *name)
{
	const size_t length = std::strlen(name);
	if (length == 0 || length > 3 || (length > 1 && name[0] == '0'))
		return false;
	for (size_t i = 0; i < length; ++i)
		if (name[i] < '0' || name[i] > '9')
			return false;
	return std::atoi(name) < MOKT_LABEL_BITS;
}

bool fitting_name(const char *name)
{
	const size_t length = std::strlen(name);
	if (length == 0 || length > MOKT_LABEL_NAME_MAX)
		return false;
	for (size_t i = 0; i < length; ++i) {
		const unsigned char c = static_cast<unsigned char>(name[i]);
		if (c <= ' ' || c == 0x7f || c == '"' || c == '\\' || c == '$' || c == '`')
			return false;
	}
	return !plain_number(name);
}

void write_all(const uint8_t *data, size_t size)
{
	if (ftruncate(file, 0) != 0 || lseek(file, 0, SEEK_SET) != 0) {
		std::perror(path);
		std::exit(1);
	}
	while (size > 0) {
		const ssize_t written = write(file, data, size);
		if (written <= 0) {
			std::perror(path);
			std::exit(1);
		}
		data += written;
		size -= static_cast<size_t>(written);
	}
}

void remove_file()
{
	unlink(path);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
	file = mkstemp(path);
	if (file < 0) {
		std::perror(path);
		std::exit(1);
	}
	std::atexit(remove_file);
	return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	if (size > (1 << 20))
		return 0;
	write_all(data, size);
	mokt_labelmap *map = mokt_labelmap_new(path);
	if (map == nullptr) {
		std::perror("mokt_labelmap_new");
		std::abort(); // the file is there and readable: a map was due
	}

	unsigned named = 0;
	for (unsigned bit = 0; bit < MOKT_LABEL_BITS; ++bit) {
		const char *name = mokt_labelmap_get_name(map, bit);
		if (name == nullptr)
			continue;
		++named;
		if (!fitting_name(name))
			finding("the map holds a name the file format does not allow", bit, name);
		const int back = mokt_labelmap_get_bit(map, name);
		if (back != static_cast<int>(bit))
			finding("a name does not lead back to its bit", bit, name);
	}
	for (unsigned bit : {128u, 129u, 1000u, 0xffffffffu})
		if (mokt_labelmap_get_name(map, bit) != nullptr)
			finding("a bit out of range has a name", bit, nullptr);

	// Unnamed bits by number; other numbers are no bits.
	char number[16];
	for (unsigned bit = 0; bit < MOKT_LABEL_BITS; ++bit) {
		std::snprintf(number, sizeof(number), "%u", bit);
		if (mokt_labelmap_get_name(map, bit) == nullptr &&
		    mokt_labelmap_get_bit(map, number) != int(bit))
			finding("an unnamed bit is not found by its number", bit, number);
	}
	for (const char *other : {"128", "-1", "007", "+5", "", " 5"}) {
		const int bit = mokt_labelmap_get_bit(map, other);
		if (bit >= 0 && mokt_labelmap_get_name(map, static_cast<unsigned>(bit)) == nullptr)
			finding("a number that is no plain bit number found a bit",
				static_cast<unsigned>(bit), other);
	}

	// The first line as a name: if the map knows it, the bit's name is it.
	const void *end = std::memchr(data, '\n', size);
	const size_t first = end ? static_cast<size_t>(static_cast<const uint8_t *>(end) - data) : size;
	if (first < sizeof(name_buffer)) {
		std::memcpy(name_buffer, data, first);
		name_buffer[first] = '\0';
		const int bit = mokt_labelmap_get_bit(map, name_buffer);
		if (bit >= MOKT_LABEL_BITS)
			finding("a name found a bit out of range", static_cast<unsigned>(bit), name_buffer);
		if (bit >= 0 && !plain_number(name_buffer)) {
			const char *name = mokt_labelmap_get_name(map, static_cast<unsigned>(bit));
			if (name == nullptr || std::strcmp(name, name_buffer) != 0)
				finding("a name found a bit that carries another name",
					static_cast<unsigned>(bit), name_buffer);
		}
	}
	(void)named;
	mokt_labelmap_free(map);
	return 0;
}
