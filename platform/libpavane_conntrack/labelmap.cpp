// SPDX-License-Identifier: GPL-2.0-or-later
// libpavane_conntrack: reads a label file into a map between label names
// and connection-label bit numbers.  The line format is in the header.
#include "pavane_conntrack.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <new>
#include <string>
#include <string_view>

#ifndef PAVANE_CONNLABEL_DEFAULT
#error "PAVANE_CONNLABEL_DEFAULT must name the installed label file (absolute, or relative to the library)"
#endif

struct mokt_labelmap {
	std::string names[MOKT_LABEL_BITS]; // empty: the bit has no name
	std::map<std::string, unsigned, std::less<>> bits;
};

namespace {

constexpr char environment_variable[] = "PAVANE_CONNLABEL_CONF";

bool is_blank(char c)
{
	return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

bool is_digit(char c)
{
	return c >= '0' && c <= '9';
}

// Bytes a name may hold: printable, and safe inside double quotes, where a
// saved rule holds the name: not the four a shell acts on there, nor '!',
// which an interactive bash takes for history expansion even there.
bool is_name_byte(char c)
{
	const auto b = static_cast<unsigned char>(c);
	return b > 0x20 && b != 0x7f && c != '"' && c != '\\' && c != '$' && c != '`' && c != '!';
}

// Valid UTF-8 (shortest forms, no surrogates, nothing above U+10FFFF): a
// line editor in a UTF-8 locale changes other bytes as they are typed, so a
// saved rule pasted into an interactive shell would name another label.
bool is_utf8(std::string_view text)
{
	for (size_t i = 0; i < text.size();) {
		const auto b = static_cast<unsigned char>(text[i]);
		size_t length = 1;
		unsigned char low = 0x80, high = 0xbf; // the second byte's range
		if (b >= 0xc2 && b <= 0xdf)
			length = 2;
		else if (b >= 0xe0 && b <= 0xef)
			length = 3, low = b == 0xe0 ? 0xa0 : 0x80, high = b == 0xed ? 0x9f : 0xbf;
		else if (b >= 0xf0 && b <= 0xf4)
			length = 4, low = b == 0xf0 ? 0x90 : 0x80, high = b == 0xf4 ? 0x8f : 0xbf;
		else if (b >= 0x80)
			return false;
		if (length > text.size() - i)
			return false;
		for (size_t k = 1; k < length; ++k) {
			const auto c = static_cast<unsigned char>(text[i + k]);
			if (c < (k == 1 ? low : 0x80) || c > (k == 1 ? high : 0xbf))
				return false;
		}
		i += length;
	}
	return true;
}

// "0" to "127" without sign or leading zeros.
bool plain_bit_number(std::string_view text, unsigned *bit)
{
	if (text.empty() || text.size() > 3 || (text.size() > 1 && text[0] == '0'))
		return false;
	unsigned value = 0;
	for (char c : text) {
		if (!is_digit(c))
			return false;
		value = value * 10 + static_cast<unsigned>(c - '0');
	}
	if (value >= MOKT_LABEL_BITS)
		return false;
	*bit = value;
	return true;
}

// One line of the file, without its newline.  True when it defines a label.
bool parse_line(std::string_view line, unsigned *bit, std::string_view *name)
{
	size_t i = 0;
	while (i < line.size() && is_blank(line[i]))
		++i;
	if (i == line.size() || line[i] == '#')
		return false;

	const size_t digits = i;
	unsigned value = 0;
	for (; i < line.size() && is_digit(line[i]); ++i)
		if (value < MOKT_LABEL_BITS) // stop growing once too large: no overflow
			value = value * 10 + static_cast<unsigned>(line[i] - '0');
	if (i == digits || value >= MOKT_LABEL_BITS)
		return false;
	if (i == line.size() || !is_blank(line[i]))
		return false; // no name, or junk glued to the number
	while (i < line.size() && is_blank(line[i]))
		++i;

	const size_t start = i;
	for (; i < line.size() && is_name_byte(line[i]); ++i)
		;
	if (i == start || i - start > MOKT_LABEL_NAME_MAX)
		return false;
	const std::string_view word = line.substr(start, i - start);
	while (i < line.size() && is_blank(line[i]))
		++i;
	if (i != line.size())
		return false; // a second word, or a byte a name may not hold

	unsigned shadowed;
	if (plain_bit_number(word, &shadowed) || !is_utf8(word))
		return false;
	*bit = value;
	*name = word;
	return true;
}

void add_line(mokt_labelmap &map, std::string_view line)
{
	unsigned bit;
	std::string_view name;
	if (!parse_line(line, &bit, &name))
		return;
	// The first line for a bit or a name wins, so that every name stands for
	// one bit and every bit has at most one name.
	if (!map.names[bit].empty() || map.bits.find(name) != map.bits.end())
		return;
	map.names[bit] = name;
	map.bits.emplace(name, bit);
}

// Reads the whole file into `map`; false with errno set when it cannot.
bool read_file(std::FILE *file, mokt_labelmap &map)
{
	char *buffer = nullptr;
	size_t capacity = 0;
	bool ok = true;
	try {
		for (;;) {
			errno = 0;
			const ssize_t length = getline(&buffer, &capacity, file);
			if (length < 0) {
				if (std::ferror(file) || errno == ENOMEM) {
					if (errno == 0)
						errno = EIO;
					ok = false;
				}
				break;
			}
			std::string_view line(buffer, static_cast<size_t>(length));
			if (!line.empty() && line.back() == '\n')
				line.remove_suffix(1);
			add_line(map, line);
		}
	} catch (const std::bad_alloc &) {
		errno = ENOMEM;
		ok = false;
	}
	const int saved = errno;
	std::free(buffer);
	errno = saved;
	return ok;
}

// Opens without waiting (a FIFO would block the open for ever) and refuses
// anything but a regular file before a byte is read.
std::FILE *open_regular_file(const char *path)
{
	const int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
	if (fd < 0)
		return nullptr;
	struct stat st;
	int why = 0;
	if (fstat(fd, &st) != 0)
		why = errno;
	else if (S_ISDIR(st.st_mode))
		why = EISDIR;
	else if (!S_ISREG(st.st_mode))
		why = EINVAL;
	else if (fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0)
		why = errno;
	std::FILE *file = why == 0 ? fdopen(fd, "r") : nullptr;
	if (file == nullptr) {
		why = why != 0 ? why : errno;
		close(fd);
		errno = why;
	}
	return file;
}

// The folder this library was loaded from, with its trailing slash; empty
// when the library's own path is not known, never the current folder.
std::string library_folder()
{
	Dl_info info;
	if (dladdr(reinterpret_cast<void *>(&library_folder), &info) == 0 || info.dli_fname == nullptr)
		return {};
	std::string folder = info.dli_fname;
	const size_t slash = folder.find_last_of('/');
	if (slash == std::string::npos)
		return {};
	folder.erase(slash + 1);
	return folder;
}

// The default label file: connlabel.conf beside this library, which only the
// build tree puts there, so that build-tree programs use the sample; else
// the installed one, PAVANE_CONNLABEL_DEFAULT.  That is absolute where the
// configuration folder lies outside the install prefix (/etc for /usr), and
// otherwise relative to this library's folder (../etc/connlabel.conf from
// <prefix>/lib), so that a tree installed under another prefix than the
// build was configured with, or moved, reads its own file.  Empty when
// neither can be named.
std::string default_file()
{
	const std::string folder = library_folder();
	if (folder.empty())
		return PAVANE_CONNLABEL_DEFAULT[0] == '/' ? PAVANE_CONNLABEL_DEFAULT : "";
	if (const std::string beside = folder + "connlabel.conf"; access(beside.c_str(), F_OK) == 0)
		return beside;
	return PAVANE_CONNLABEL_DEFAULT[0] == '/' ? PAVANE_CONNLABEL_DEFAULT
						  : folder + PAVANE_CONNLABEL_DEFAULT;
}

} // namespace

// The library is built with hidden visibility; only the C calls are exported.
#define PAVANE_EXPORT __attribute__((visibility("default")))

extern "C" {

PAVANE_EXPORT struct mokt_labelmap *mokt_labelmap_new(const char *path)
{
	std::string installed;
	if (path == nullptr)
		path = std::getenv(environment_variable);
	if (path != nullptr && *path == '\0')
		path = nullptr; // an empty variable counts as unset, as ZUNDER_PLUGIN_DIR does
	if (path == nullptr) {
		installed = default_file();
		if (installed.empty()) {
			errno = ENOENT;
			return nullptr;
		}
		path = installed.c_str();
	}
	std::FILE *file = open_regular_file(path);
	if (file == nullptr)
		return nullptr;
	mokt_labelmap *map = new (std::nothrow) mokt_labelmap;
	if (map == nullptr) {
		std::fclose(file);
		errno = ENOMEM;
		return nullptr;
	}
	const bool ok = read_file(file, *map);
	const int saved = errno;
	std::fclose(file);
	if (!ok) {
		delete map;
		errno = saved;
		return nullptr;
	}
	return map;
}

PAVANE_EXPORT void mokt_labelmap_free(struct mokt_labelmap *map)
{
	delete map;
}

PAVANE_EXPORT int mokt_labelmap_get_bit(const struct mokt_labelmap *map, const char *name)
{
	if (map == nullptr || name == nullptr)
		return -1;
	if (auto found = map->bits.find(std::string_view(name)); found != map->bits.end())
		return static_cast<int>(found->second);
	unsigned bit;
	if (plain_bit_number(name, &bit))
		return static_cast<int>(bit);
	return -1;
}

PAVANE_EXPORT const char *mokt_labelmap_get_name(const struct mokt_labelmap *map, unsigned int bit)
{
	if (map == nullptr || bit >= MOKT_LABEL_BITS || map->names[bit].empty())
		return nullptr;
	return map->names[bit].c_str();
}

} // extern "C"
