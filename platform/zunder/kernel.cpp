// SPDX-License-Identifier: GPL-2.0-or-later
// zunder --kernel: the kernel's generic table interface, through the socket
// options of a raw socket.  A table goes to the kernel whole: every built-in
// chain of the table (its valid hooks) with its policy entry (the chain's
// underflow), then the error entry that ends every table.
#include "kernel.h"

#include <netinet/in.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <linux/netfilter/x_tables.h>
#include <linux/netfilter_ipv4/ip_tables.h>
#include <linux/netfilter_ipv6/ip6_tables.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace kernel {

namespace {

// The two families' tables: the same calls under other names.
struct ipv4_tables {
	using entry = ipt_entry;
	using info = ipt_getinfo;
	using replace = ipt_replace;
	using entries = ipt_get_entries;
	static constexpr int domain = AF_INET, level = IPPROTO_IP;
	static constexpr int get_info = IPT_SO_GET_INFO, get_entries = IPT_SO_GET_ENTRIES,
			     set_replace = IPT_SO_SET_REPLACE, match_revision = IPT_SO_GET_REVISION_MATCH,
			     target_revision = IPT_SO_GET_REVISION_TARGET;
	static constexpr char word[] = "IPv4";
};

struct ipv6_tables {
	using entry = ip6t_entry;
	using info = ip6t_getinfo;
	using replace = ip6t_replace;
	using entries = ip6t_get_entries;
	static constexpr int domain = AF_INET6, level = IPPROTO_IPV6;
	static constexpr int get_info = IP6T_SO_GET_INFO, get_entries = IP6T_SO_GET_ENTRIES,
			     set_replace = IP6T_SO_SET_REPLACE, match_revision = IP6T_SO_GET_REVISION_MATCH,
			     target_revision = IP6T_SO_GET_REVISION_TARGET;
	static constexpr char word[] = "IPv6";
};

constexpr char table_name[] = "filter";

// Entries and their parts start at multiples of the generic alignment, as
// XT_ALIGN computes it; that macro uses `typeof` in some versions of the
// headers, which C++ does not have.
constexpr size_t aligned(size_t size)
{
	constexpr size_t alignment = alignof(_xt_align);
	return (size + alignment - 1) & ~(alignment - 1);
}

constexpr const char *chain_names[NF_INET_NUMHOOKS] = {"PREROUTING", "INPUT", "FORWARD", "OUTPUT",
						       "POSTROUTING"};

constexpr int accept_verdict = -NF_ACCEPT - 1;

std::string reason()
{
	return std::strerror(errno);
}

// A raw socket of the family, closed when it goes.
class table_socket {
public:
	explicit table_socket(int domain) : fd_(socket(domain, SOCK_RAW, IPPROTO_RAW)) {}
	~table_socket()
	{
		if (fd_ >= 0)
			close(fd_);
	}
	table_socket(const table_socket &) = delete;
	table_socket &operator=(const table_socket &) = delete;
	int fd() const { return fd_; }

private:
	int fd_;
};

void append(std::vector<unsigned char> &bytes, const void *data, size_t size)
{
	const auto *from = static_cast<const unsigned char *>(data);
	bytes.insert(bytes.end(), from, from + size);
}

// A match or target as a rule holds it: the header naming it, its block,
// zeros up to the alignment.
std::vector<unsigned char> clause_bytes(const clause &c)
{
	std::vector<unsigned char> bytes(aligned(sizeof(xt_entry_match) + c.block.size()));
	if (c.kind == zunder::clause_kind::match) {
		xt_entry_match header{};
		header.u.user.match_size = static_cast<uint16_t>(bytes.size());
		std::snprintf(header.u.user.name, sizeof header.u.user.name, "%s", c.name);
		header.u.user.revision = c.revision;
		std::memcpy(bytes.data(), &header, sizeof header);
	} else {
		xt_entry_target header{};
		header.u.user.target_size = static_cast<uint16_t>(bytes.size());
		std::snprintf(header.u.user.name, sizeof header.u.user.name, "%s", c.name);
		header.u.user.revision = c.revision;
		std::memcpy(bytes.data(), &header, sizeof header);
	}
	std::memcpy(bytes.data() + sizeof(xt_entry_match), c.block.data(), c.block.size());
	return bytes;
}

std::vector<unsigned char> standard_target(int verdict)
{
	xt_standard_target target{};
	std::vector<unsigned char> bytes(aligned(sizeof target));
	target.target.u.user.target_size = static_cast<uint16_t>(bytes.size());
	target.verdict = verdict; // the empty name is the standard target's
	std::memcpy(bytes.data(), &target, sizeof target);
	return bytes;
}

std::vector<unsigned char> error_target()
{
	xt_error_target target{};
	std::vector<unsigned char> bytes(aligned(sizeof target));
	target.target.u.user.target_size = static_cast<uint16_t>(bytes.size());
	std::snprintf(target.target.u.user.name, sizeof target.target.u.user.name, "%s", XT_ERROR_TARGET);
	std::snprintf(target.errorname, sizeof target.errorname, "%s", XT_ERROR_TARGET);
	std::memcpy(bytes.data(), &target, sizeof target);
	return bytes;
}

// One entry matching every packet by address and interface, with its
// matches and then its target.
template <typename T>
void append_entry(std::vector<unsigned char> &table, const std::vector<unsigned char> &matches,
		  const std::vector<unsigned char> &target)
{
	typename T::entry entry{};
	entry.target_offset = static_cast<uint16_t>(sizeof entry + matches.size());
	entry.next_offset = static_cast<uint16_t>(entry.target_offset + target.size());
	append(table, &entry, sizeof entry);
	append(table, matches.data(), matches.size());
	append(table, target.data(), target.size());
}

template <typename T>
failure read_info(const table_socket &s, typename T::info &info)
{
	info = {};
	std::snprintf(info.name, sizeof info.name, "%s", table_name);
	socklen_t length = sizeof info;
	if (getsockopt(s.fd(), T::level, T::get_info, &info, &length) == 0)
		return {};
	const std::string family = T::word;
	if (errno == ENOPROTOOPT)
		return {"the kernel has no " + family + " packet filter", true};
	if (errno == ENOENT)
		return {"the kernel has no " + family + " filter table", true};
	return {"cannot read the kernel's " + family + " filter table: " + reason(), true};
}

template <typename T>
failure read_entries(const table_socket &s, const typename T::info &info, std::vector<unsigned char> &entries)
{
	typename T::entries request{};
	std::snprintf(request.name, sizeof request.name, "%s", table_name);
	request.size = info.size;
	std::vector<unsigned char> buffer(sizeof request + info.size);
	std::memcpy(buffer.data(), &request, sizeof request);
	socklen_t length = static_cast<socklen_t>(buffer.size());
	if (getsockopt(s.fd(), T::level, T::get_entries, buffer.data(), &length) != 0)
		return {"cannot read the filter table back from the kernel: " + reason(), true};
	entries.assign(buffer.begin() + sizeof request, buffer.end());
	return {};
}

// Asks the kernel whether it has the clause at its revision, so that a
// missing one is named as such.
template <typename T>
failure check_revision(const table_socket &s, const clause &c)
{
	xt_get_revision query{};
	std::snprintf(query.name, sizeof query.name, "%s", c.name);
	query.revision = c.revision;
	socklen_t length = sizeof query;
	const int option = c.kind == zunder::clause_kind::match ? T::match_revision : T::target_revision;
	if (getsockopt(s.fd(), T::level, option, &query, &length) >= 0)
		return {};
	const std::string what =
		std::string(zunder::kind_word(c.kind)) + " \"" + c.name + "\" for " + T::word;
	if (errno == ENOENT)
		return {"the kernel has no " + what};
	if (errno == EPROTONOSUPPORT)
		return {"the kernel has no revision " + std::to_string(c.revision) + " of " + what};
	return {"cannot ask the kernel for " + what + ": " + reason(), true};
}

// Replaces the filter table with one whose chains hold `rules`, each chain
// its rules in their order.  A rule without a target ends with ACCEPT, or
// with `fall_through` goes on to the next rule, so that every rule sees the
// packet.
template <typename T>
failure load(const table_socket &s, std::span<const rule> rules, bool fall_through)
{
	typename T::info info;
	if (failure f = read_info<T>(s, info))
		return f;
	for (const rule &r : rules) {
		if (r.hook >= NF_INET_NUMHOOKS || !(info.valid_hooks & (1u << r.hook)))
			return {std::string("the kernel's ") + T::word + " filter table has no " +
					(r.hook < NF_INET_NUMHOOKS ? chain_names[r.hook] : "such") + " chain",
				true};
		for (const clause &c : r.clauses)
			if (failure f = check_revision<T>(s, c))
				return f;
	}

	typename T::replace replace{};
	std::snprintf(replace.name, sizeof replace.name, "%s", table_name);
	replace.valid_hooks = info.valid_hooks;
	std::vector<unsigned char> entries;
	const std::vector<unsigned char> accept = standard_target(accept_verdict);
	for (unsigned h = 0; h < NF_INET_NUMHOOKS; ++h) {
		if (!(info.valid_hooks & (1u << h)))
			continue;
		replace.hook_entry[h] = static_cast<unsigned>(entries.size());
		for (const rule &r : rules) {
			if (r.hook != h)
				continue;
			std::vector<unsigned char> matches, target;
			for (const clause &c : r.clauses) {
				const std::vector<unsigned char> bytes = clause_bytes(c);
				if (c.kind == zunder::clause_kind::match)
					matches.insert(matches.end(), bytes.begin(), bytes.end());
				else
					target = bytes;
			}
			if (target.empty() && !fall_through)
				target = accept;
			else if (target.empty()) // a jump to the entry right after this one
				target = standard_target(static_cast<int>(entries.size() +
									  sizeof(typename T::entry) +
									  matches.size() + accept.size()));
			append_entry<T>(entries, matches, target);
			++replace.num_entries;
		}
		replace.underflow[h] = static_cast<unsigned>(entries.size());
		append_entry<T>(entries, {}, accept);
		++replace.num_entries;
	}
	append_entry<T>(entries, {}, error_target());
	++replace.num_entries;
	replace.size = static_cast<unsigned>(entries.size());
	// The kernel hands back the counters of the table it replaces.
	std::vector<xt_counters> old_counters(info.num_entries);
	replace.num_counters = info.num_entries;
	replace.counters = old_counters.data();

	std::vector<unsigned char> request;
	append(request, &replace, sizeof replace);
	append(request, entries.data(), entries.size());
	if (setsockopt(s.fd(), T::level, T::set_replace, request.data(),
		       static_cast<socklen_t>(request.size())) != 0)
		return !rules.empty() ? failure{"the kernel refused the rule: " + reason()}
				      : failure{"cannot empty the filter table again: " + reason(), true};
	return {};
}

// The clause's block in the FORWARD chain's first rule, as many bytes as were
// sent (a clause header of another size gives fewer).
template <typename T>
failure read_back(const table_socket &s, const clause &c, std::vector<unsigned char> &returned)
{
	typename T::info info;
	std::vector<unsigned char> entries;
	if (failure f = read_info<T>(s, info))
		return f;
	if (failure f = read_entries<T>(s, info, entries))
		return f;
	const failure missing = {"the kernel returned the rule without its " +
				 std::string(zunder::kind_word(c.kind))};
	const size_t at = info.hook_entry[NF_INET_FORWARD];
	typename T::entry entry;
	if (at + sizeof entry > entries.size())
		return missing;
	std::memcpy(&entry, entries.data() + at, sizeof entry);
	const size_t start = at + (c.kind == zunder::clause_kind::match ? sizeof entry : entry.target_offset);
	const size_t end =
		at + (c.kind == zunder::clause_kind::match ? entry.target_offset : entry.next_offset);
	xt_entry_match header; // a target's header has the same layout
	if (end > entries.size() || start + sizeof header > end)
		return missing;
	std::memcpy(&header, entries.data() + start, sizeof header);
	const size_t size = header.u.user.match_size;
	if (std::strncmp(header.u.user.name, c.name, sizeof header.u.user.name) != 0 ||
	    header.u.user.revision != c.revision || size < sizeof header || start + size > end)
		return missing;
	const size_t block_size = std::min(size - sizeof header, c.block.size());
	const auto block = entries.begin() + static_cast<ptrdiff_t>(start + sizeof header);
	returned.assign(block, block + static_cast<ptrdiff_t>(block_size));
	return {};
}

// The filter table as the kernel holds it now: its info and its entries.
template <typename T>
failure read_table(typename T::info &info, std::vector<unsigned char> &entries)
{
	const table_socket s(T::domain);
	if (s.fd() < 0)
		return {std::string("cannot open a ") + T::word + " raw socket: " + reason(), true};
	if (failure f = read_info<T>(s, info))
		return f;
	return read_entries<T>(s, info, entries);
}

template <typename T>
failure table_bytes(std::vector<unsigned char> &bytes)
{
	typename T::info info;
	std::vector<unsigned char> entries;
	if (failure f = read_table<T>(info, entries))
		return f;
	bytes.clear();
	append(bytes, &info, sizeof info);
	append(bytes, entries.data(), entries.size());
	return {};
}

// Loads the clause's rule and reads it back into `returned`, if asked;
// with `empty_after`, the table is then emptied again, so that nothing the
// rule holds in the kernel (a named rate estimator) outlives it.
template <typename T>
failure load_and_read(std::span<const rule> rules, bool fall_through, std::vector<unsigned char> *returned,
		      bool empty_after)
{
	const table_socket s(T::domain);
	if (s.fd() < 0)
		return {std::string("cannot open a ") + T::word + " raw socket: " + reason(), true};
	if (failure f = load<T>(s, rules, fall_through))
		return f;
	failure f = returned ? read_back<T>(s, rules[0].clauses[0], *returned) : failure{};
	if (empty_after)
		if (failure emptied = load<T>(s, {}, false); emptied && !f)
			f = emptied;
	return f;
}

// The packet counter of each of `rules`, as load put them into the table.
template <typename T>
failure counters(std::span<const rule> rules, std::vector<uint64_t> &packets)
{
	typename T::info info;
	std::vector<unsigned char> entries;
	if (failure f = read_table<T>(info, entries))
		return f;
	packets = std::vector<uint64_t>(rules.size());
	size_t next[NF_INET_NUMHOOKS] = {}; // where each chain's next rule starts
	for (unsigned h = 0; h < NF_INET_NUMHOOKS; ++h)
		next[h] = info.hook_entry[h];
	for (size_t i = 0; i < rules.size(); ++i) {
		const unsigned hook = rules[i].hook;
		typename T::entry entry;
		if (next[hook] + sizeof entry > entries.size())
			return {"the kernel returned fewer rules than were loaded"};
		std::memcpy(&entry, entries.data() + next[hook], sizeof entry);
		packets[i] = entry.counters.pcnt;
		next[hook] += entry.next_offset;
	}
	return {};
}

} // namespace

failure enter_own_namespace()
{
	if (unshare(CLONE_NEWNET) == 0)
		return {};
	const std::string head = "--kernel needs a network namespace of its own";
	if (errno == ENOSPC)
		return {head +
				", and this user may make no more (the limit "
				"/proc/sys/user/max_net_namespaces is reached): " +
				reason(),
			true};
	if (errno == EPERM)
		return {head + ", which takes root (CAP_SYS_ADMIN): " + reason(), true};
	return {head + ": " + reason(), true};
}

failure judge(const clause &c, std::vector<unsigned char> &returned)
{
	const rule r = {NF_INET_FORWARD, {c}};
	return c.family == ZU_FAMILY_IPV6 ? load_and_read<ipv6_tables>({&r, 1}, false, &returned, true)
					  : load_and_read<ipv4_tables>({&r, 1}, false, &returned, true);
}

failure load_rule(const clause &c)
{
	const rule r = {NF_INET_FORWARD, {c}};
	return load_rules(c.family, {&r, 1}, false);
}

failure load_rules(uint16_t family, std::span<const rule> rules, bool fall_through)
{
	return family == ZU_FAMILY_IPV6 ? load_and_read<ipv6_tables>(rules, fall_through, nullptr, false)
					: load_and_read<ipv4_tables>(rules, fall_through, nullptr, false);
}

failure packet_counts(uint16_t family, std::span<const rule> rules, std::vector<uint64_t> &packets)
{
	return family == ZU_FAMILY_IPV6 ? counters<ipv6_tables>(rules, packets)
					: counters<ipv4_tables>(rules, packets);
}

failure table_bytes(uint16_t family, std::vector<unsigned char> &bytes)
{
	return family == ZU_FAMILY_IPV6 ? table_bytes<ipv6_tables>(bytes) : table_bytes<ipv4_tables>(bytes);
}

} // namespace kernel
