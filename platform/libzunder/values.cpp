// SPDX-License-Identifier: GPL-2.0-or-later
// Value parsing by option type, and the address-to-text helpers.
#include "zunder_host.h"

#include <arpa/inet.h>
#include <netdb.h>

#include <cstdio>
#include <cstring>

namespace zunder {

namespace {

bool parse_digits(std::string_view text, unsigned base, uint64_t limit, uint64_t *out)
{
	if (text.empty())
		return false;
	uint64_t value = 0;
	for (char c : text) {
		unsigned digit;
		if (c >= '0' && c <= '9')
			digit = c - '0';
		else if (base == 16 && c >= 'a' && c <= 'f')
			digit = c - 'a' + 10;
		else if (base == 16 && c >= 'A' && c <= 'F')
			digit = c - 'A' + 10;
		else
			return false;
		value = value * base + digit;
		if (value > limit)
			return false;
	}
	*out = value;
	return true;
}

bool parse_number(std::string_view text, uint64_t limit, uint64_t *out)
{
	if (text.starts_with("0x") || text.starts_with("0X"))
		return parse_digits(text.substr(2), 16, limit, out);
	return parse_digits(text, 10, limit, out);
}

// Mask of `bits` leading one bits over `length` bytes.
void prefix_mask(unsigned bits, unsigned length, uint8_t *mask)
{
	for (unsigned i = 0; i < length; ++i) {
		unsigned take = bits >= 8 ? 8 : bits;
		mask[i] = static_cast<uint8_t>(0xff00u >> take);
		bits -= take;
	}
}

// Length of the prefix if `mask` is contiguous leading ones, else -1.
int prefix_length(const uint8_t *mask, unsigned length)
{
	int bits = 0;
	unsigned i = 0;
	for (; i < length && mask[i] == 0xff; ++i)
		bits += 8;
	if (i == length)
		return bits;
	uint8_t partial = mask[i];
	while (partial & 0x80) {
		partial = static_cast<uint8_t>(partial << 1);
		++bits;
	}
	if (partial != 0)
		return -1;
	for (++i; i < length; ++i)
		if (mask[i] != 0)
			return -1;
	return bits;
}

const char *mask_text(const void *mask, int af, unsigned length, char *buffer, size_t size)
{
	const auto *bytes = static_cast<const uint8_t *>(mask);
	int bits = prefix_length(bytes, length);
	if (bits == static_cast<int>(length * 8)) {
		buffer[0] = '\0';
	} else if (bits >= 0) {
		std::snprintf(buffer, size, "/%d", bits);
	} else {
		buffer[0] = '/';
		inet_ntop(af, mask, buffer + 1, static_cast<socklen_t>(size - 1));
	}
	return buffer;
}

} // namespace

bool parse_u32(std::string_view text, uint32_t *out)
{
	uint64_t value;
	if (!parse_number(text, UINT32_MAX, &value))
		return false;
	*out = static_cast<uint32_t>(value);
	return true;
}

bool parse_address(const char *text, uint16_t family, union zu_option_value *out)
{
	const int af = family == ZU_FAMILY_IPV6 ? AF_INET6 : AF_INET;
	const unsigned length = af == AF_INET6 ? 16 : 4;
	char address[INET6_ADDRSTRLEN + 1];
	const char *slash = std::strchr(text, '/');
	size_t address_length = slash ? static_cast<size_t>(slash - text) : std::strlen(text);
	if (address_length >= sizeof(address))
		return false;
	std::memcpy(address, text, address_length);
	address[address_length] = '\0';

	union zu_option_value value {};
	if (inet_pton(af, address, value.host.addr.bytes) != 1)
		return false;
	if (slash == nullptr) {
		prefix_mask(length * 8, length, value.host.mask.bytes);
	} else {
		uint64_t bits;
		if (parse_digits(slash + 1, 10, length * 8, &bits))
			prefix_mask(static_cast<unsigned>(bits), length, value.host.mask.bytes);
		else if (inet_pton(af, slash + 1, value.host.mask.bytes) != 1)
			return false;
	}
	for (unsigned i = 0; i < length; ++i)
		value.host.addr.bytes[i] &= value.host.mask.bytes[i];
	*out = value;
	return true;
}

bool parse_protocol(const char *text, uint8_t *out)
{
	uint64_t number;
	if (parse_number(text, 255, &number)) {
		*out = static_cast<uint8_t>(number);
		return true;
	}
	if (const protoent *entry = getprotobyname(text);
	    entry != nullptr && entry->p_proto >= 0 && entry->p_proto <= 255) {
		*out = static_cast<uint8_t>(entry->p_proto);
		return true;
	}
	return false;
}

} // namespace zunder

extern "C" {

const char *zunder_ipaddr_to_numeric(const struct in_addr *addr)
{
	static char buffer[INET_ADDRSTRLEN];
	return inet_ntop(AF_INET, addr, buffer, sizeof(buffer));
}

const char *zunder_ipmask_to_numeric(const struct in_addr *mask)
{
	static char buffer[1 + INET_ADDRSTRLEN];
	return zunder::mask_text(mask, AF_INET, 4, buffer, sizeof(buffer));
}

const char *zunder_ip6addr_to_numeric(const struct in6_addr *addr)
{
	static char buffer[INET6_ADDRSTRLEN];
	return inet_ntop(AF_INET6, addr, buffer, sizeof(buffer));
}

const char *zunder_ip6mask_to_numeric(const struct in6_addr *mask)
{
	static char buffer[1 + INET6_ADDRSTRLEN];
	return zunder::mask_text(mask, AF_INET6, 16, buffer, sizeof(buffer));
}

} // extern "C"
