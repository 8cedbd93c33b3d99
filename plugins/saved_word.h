// SPDX-License-Identifier: GPL-2.0-or-later
// Names in saved options: a name from a block or from the protocol database
// is written so that it reads back as the same word through `zunder --batch`
// and through a shell, interactive or not.  Compiled into each plug-in that
// saves such names; it asks nothing of the host.
#pragma once

#include <cstddef>
#include <cstdio>
#include <cstring>

namespace saved_word {

inline bool is_control(unsigned char b)
{
	return b < 0x20 || b == 0x7f;
}

// The length of the UTF-8 sequence that starts at p, of at most `left`
// bytes, or 0 when it is not a valid one: shortest form, no surrogate,
// nothing above U+10FFFF.  A line editor in a UTF-8 locale drops or
// reorders bytes that do not form one, even inside quotes.
inline size_t utf8_length(const unsigned char *p, size_t left)
{
	if (p[0] < 0x80)
		return 1;
	size_t length;
	unsigned char low = 0x80, high = 0xbf; // the second byte's range
	if (p[0] >= 0xc2 && p[0] <= 0xdf) {
		length = 2;
	} else if (p[0] >= 0xe0 && p[0] <= 0xef) {
		length = 3;
		low = p[0] == 0xe0 ? 0xa0 : low;
		high = p[0] == 0xed ? 0x9f : high;
	} else if (p[0] >= 0xf0 && p[0] <= 0xf4) {
		length = 4;
		low = p[0] == 0xf0 ? 0x90 : low;
		high = p[0] == 0xf4 ? 0x8f : high;
	} else {
		return 0;
	}
	if (left < length || p[1] < low || p[1] > high)
		return 0;
	for (size_t i = 2; i < length; ++i)
		if (p[i] < 0x80 || p[i] > 0xbf)
			return 0;
	return length;
}

// Text that a saved line carries unchanged: not empty, no control byte,
// and valid UTF-8 throughout.
inline bool carries(const char *text, size_t length)
{
	const auto *p = reinterpret_cast<const unsigned char *>(text);
	if (length == 0)
		return false;
	for (size_t i = 0; i < length;) {
		const size_t n = utf8_length(p + i, length - i);
		if (n == 0 || is_control(p[i]))
			return false;
		i += n;
	}
	return true;
}

// Bytes a shell or the batch reader would act on in a bare word.
inline bool needs_quotes(char c)
{
	return c == '\0' || is_control(static_cast<unsigned char>(c)) ||
	       std::strchr(" '\"\\$`|&;<>()*?[]#~{}!^", c) != nullptr;
}

// The name bare when it is carried and no byte needs quoting, else in
// single quotes, inside which neither a shell (nor bash's history expansion
// of '!') nor the batch reader acts on any byte; a ' is written '\'' (close,
// a quote taken as it is, reopen).  A byte no line carries (a control byte,
// one outside valid UTF-8) is written \xHH inside the quotes: the word read
// back then holds a backslash instead of changing silently.
inline void write(const char *text, size_t length)
{
	bool bare = carries(text, length);
	for (size_t i = 0; bare && i < length; ++i)
		bare = !needs_quotes(text[i]);
	if (bare) {
		std::fwrite(text, 1, length, stdout);
		return;
	}
	const auto *p = reinterpret_cast<const unsigned char *>(text);
	std::putchar('\'');
	for (size_t i = 0; i < length;) {
		const size_t n = utf8_length(p + i, length - i);
		if (n == 0 || is_control(p[i])) {
			std::printf("\\x%02x", p[i]);
			++i;
		} else if (p[i] == '\'') {
			std::fputs("'\\''", stdout);
			++i;
		} else {
			std::fwrite(p + i, 1, n, stdout);
			i += n;
		}
	}
	std::putchar('\'');
}

inline void write(const char *text)
{
	write(text, std::strlen(text));
}

} // namespace saved_word
