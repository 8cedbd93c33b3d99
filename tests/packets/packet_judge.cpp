// SPDX-License-Identifier: GPL-2.0-or-later
// The packet judge: rules made by zunder, put into the filter table of a
// network namespace of each case's own, judged by how many of the packets
// the case sends each rule counts.
//
//   packet_judge [--disagree] ZUNDER TABLE...
//
// A table holds one case a line (blank lines and # comments aside; a line
// starting with blanks goes on with the line before, after one blank), five
// fields apart by "|":
//
//   FAMILY CHAIN | IPSEC | RULE ; RULE ... | PACKET ... | COUNT ...
//
// FAMILY is 4 or 6 and CHAIN in or out, the INPUT or OUTPUT chain of the
// filter table, where the rules go that do not start with "in" or "out".
// IPSEC is "-" or the transforms an IPsec policy applies to the packets from
// A to B, innermost first, joined by "+": PROTO:SPI:MODE:REQID with PROTO
// esp, ah or comp and MODE transport or tunnel.  A RULE is its clauses
// joined by "&", each zunder's words for it ("-m ah --ahspi 5"); a clause's
// last word "@OFFSET:swap" byte-swaps the four bytes of its block at OFFSET,
// "@OFFSET^XX" flips the bits XX (hexadecimal) of its byte OFFSET.  The
// PACKETs are described at build_packet.  COUNT is each rule's packet count,
// or the one word "refused" when the kernel must refuse the rules.
//
// Prints each case that disagrees or is skipped, then one line
// "packets on RELEASE: N cases, A agree[, D disagree][, S skipped]".  Exit
// status 0 when every case agrees, 1 when one disagrees, 77 when none
// disagrees but some were skipped, 2 on a bad table.  With --disagree every case must disagree instead: the
// tables of corrupted blocks show that the judge notices a wrong block.
#include "kernel.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <linux/netfilter.h>
#include <linux/netlink.h>
#include <linux/xfrm.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <list>
#include <map>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

namespace {

using bytes = std::vector<unsigned char>;

[[noreturn]] void bad_table(const std::string &where, const std::string &what)
{
	std::fprintf(stderr, "packet_judge: %s: %s\n", where.c_str(), what.c_str());
	std::exit(2);
}

std::vector<std::string> split(const std::string &text, char by)
{
	std::vector<std::string> parts;
	std::istringstream in(text);
	for (std::string part; std::getline(in, part, by);)
		parts.push_back(part);
	return parts;
}

std::vector<std::string> words(const std::string &text)
{
	std::vector<std::string> all;
	std::istringstream in(text);
	for (std::string w; in >> w;)
		all.push_back(w);
	return all;
}

// The family as the packet filter's clauses name it.
uint16_t family_code(int family)
{
	return family == AF_INET ? ZU_FAMILY_IPV4 : ZU_FAMILY_IPV6;
}

// The case's two ends: A sends, B receives; in IPv6 both are ::1.
struct ends {
	int family;
	unsigned char a[16], b[16];
	size_t size;
};

ends ends_of(int family)
{
	ends e{family, {}, {}, family == AF_INET ? 4u : 16u};
	inet_pton(family, family == AF_INET ? "127.0.0.1" : "::1", e.a);
	inet_pton(family, family == AF_INET ? "127.0.0.2" : "::1", e.b);
	return e;
}

void put16(bytes &b, size_t at, unsigned v)
{
	b[at] = static_cast<unsigned char>(v >> 8);
	b[at + 1] = static_cast<unsigned char>(v);
}

void put32(bytes &b, size_t at, uint32_t v)
{
	put16(b, at, v >> 16);
	put16(b, at + 2, v & 0xffff);
}

// The Internet checksum of a UDP datagram with its pseudo-header.
// The sum does not depend on which end sends.
unsigned udp_checksum(const ends &e, const bytes &udp)
{
	bytes sum(e.a, e.a + e.size);
	sum.insert(sum.end(), e.b, e.b + e.size);
	sum.insert(sum.end(), {0, 17, static_cast<unsigned char>(udp.size() >> 8),
			       static_cast<unsigned char>(udp.size())});
	sum.insert(sum.end(), udp.begin(), udp.end());
	uint32_t total = 0;
	for (size_t i = 0; i < sum.size(); i += 2)
		total += (sum[i] << 8) + (i + 1 < sum.size() ? sum[i + 1] : 0);
	while (total >> 16)
		total = (total & 0xffff) + (total >> 16);
	return ~total & 0xffff ? ~total & 0xffff : 0xffff;
}

unsigned long number(const std::string &text, const std::string &where)
{
	char *end = nullptr;
	const unsigned long v = std::strtoul(text.c_str(), &end, 0);
	if (text.empty() || *end != '\0')
		bad_table(where, "not a number: \"" + text + "\"");
	return v;
}

// One packet from its description, the whole datagram from the IP header on:
// items joined by "." from the first header after the IP header to the last.
//   hop, dst        hop-by-hop or destination options, 8 bytes of padding
//   route           routing header of type 0, no segments left
//   frag            fragment header of a whole datagram (offset 0, last)
//   ah[:SPI[:LEN[:RES]]]  authentication header, payload-length field LEN
//                   (default 4: 24 bytes), reserved field RES (default 0)
//   esp[:SPI]       an encrypted payload; nothing follows
//   none            no next header
//   udp[:PORT]      UDP from A, port PORT (default 1000), to B port 2000
//   reply           UDP from B port 2000 to A port 1000
// A chain that ends in an extension header ends with "no next header".  IPv4
// packets are udp or reply alone.  The reply is the only packet from B.
bytes build_packet(const ends &e, const std::string &text, bool &reply, const std::string &where)
{
	struct header {
		unsigned char type;
		bytes body;
	};
	std::vector<header> chain;
	reply = false;
	for (const std::string &item : split(text, '.')) {
		if (!chain.empty() &&
		    (chain.back().type == 50 || chain.back().type == 59 || chain.back().type == 17))
			bad_table(where, "nothing follows esp, none, udp or reply in a packet");
		const std::vector<std::string> f = split(item + ":", ':');
		auto field = [&](size_t i, unsigned long otherwise) {
			return f.size() > i ? number(f[i], where) : otherwise;
		};
		bytes pad = {0, 0, 1, 4, 0, 0, 0, 0}; // a PadN option of four bytes
		if (f[0] == "hop" || f[0] == "dst")
			chain.push_back({static_cast<unsigned char>(f[0] == "hop" ? 0 : 60), pad});
		else if (f[0] == "route")
			chain.push_back({43, bytes(8)});
		else if (f[0] == "frag")
			chain.push_back({44, {0, 0, 0, 0, 0, 0, 0, 1}});
		else if (f[0] == "ah") {
			const unsigned long length = field(2, 4);
			bytes ah((length + 2) * 4);
			ah[1] = static_cast<unsigned char>(length);
			put16(ah, 2, field(3, 0));
			put32(ah, 4, field(1, 1));
			chain.push_back({51, ah});
		} else if (f[0] == "esp") {
			bytes esp(24);
			put32(esp, 0, field(1, 1));
			chain.push_back({50, esp});
		} else if (f[0] == "none")
			chain.push_back({59, {}});
		else if (f[0] == "udp" || f[0] == "reply") {
			reply = f[0] == "reply";
			bytes udp = {0, 0, 0, 0, 0, 0, 0, 0, 'z', 'u', 'n', 'd'};
			put16(udp, 0, reply ? 2000 : field(1, 1000));
			put16(udp, 2, reply ? 1000 : 2000);
			put16(udp, 4, static_cast<unsigned>(udp.size()));
			put16(udp, 6, udp_checksum(e, udp));
			chain.push_back({17, udp});
		} else
			bad_table(where, "unknown packet item \"" + item + "\"");
	}
	if (chain.empty() || (e.family == AF_INET && (chain.size() != 1 || chain[0].type != 17)))
		bad_table(where, "an IPv6 packet is one or more items, an IPv4 packet udp or reply alone");
	bytes payload;
	for (size_t i = chain.size(); i-- > 0;) {
		bytes &body = chain[i].body;
		if (chain[i].type != 50 && chain[i].type != 59 && chain[i].type != 17) // an extension header
			body[0] = i + 1 < chain.size() ? chain[i + 1].type : 59;
		payload.insert(payload.begin(), body.begin(), body.end());
	}
	const unsigned char *from = reply ? e.b : e.a, *to = reply ? e.a : e.b;
	bytes ip(e.family == AF_INET ? 20 : 40);
	if (e.family == AF_INET) {
		ip[0] = 0x45;
		put16(ip, 2, static_cast<unsigned>(ip.size() + payload.size()));
		ip[8] = 64;
		ip[9] = chain[0].type;
		std::memcpy(&ip[12], from, 4);
		std::memcpy(&ip[16], to, 4);
	} else {
		ip[0] = 0x60;
		put16(ip, 4, static_cast<unsigned>(payload.size()));
		ip[6] = chain[0].type;
		ip[7] = 64;
		std::memcpy(&ip[8], from, 16);
		std::memcpy(&ip[24], to, 16);
	}
	ip.insert(ip.end(), payload.begin(), payload.end());
	return ip;
}

struct transform {
	unsigned char proto;
	uint32_t spi;
	unsigned char mode;
	uint32_t reqid;
};

struct clause_text {
	std::vector<std::string> words;
	size_t offset = 0; // where its block is corrupted: four bytes swapped,
	bool swap = false; // or the bits `flip` of one byte flipped
	unsigned char flip = 0;
};

struct rule_text {
	unsigned hook;
	std::vector<clause_text> clauses;
};

struct test_case {
	std::string where;
	int family;
	unsigned hook;
	std::vector<transform> ipsec;
	std::vector<rule_text> rules;
	std::vector<std::tuple<std::string, bytes, bool, unsigned>> packets; // text, bytes, reply, times
	std::vector<uint64_t> counts;
	bool refused = false;
};

test_case parse_case(const std::string &line, const std::string &where)
{
	const std::vector<std::string> field = split(line, '|');
	if (field.size() != 5)
		bad_table(where, "a case has five fields apart by |");
	test_case c{where, 0, 0, {}, {}, {}, {}, false};
	const std::vector<std::string> head = words(field[0]);
	if (head.size() != 2 || (head[0] != "4" && head[0] != "6") || (head[1] != "in" && head[1] != "out"))
		bad_table(where, "a case starts with 4 or 6, then in or out");
	c.family = head[0] == "4" ? AF_INET : AF_INET6;
	c.hook = head[1] == "in" ? NF_INET_LOCAL_IN : NF_INET_LOCAL_OUT;
	const std::map<std::string, unsigned char> protos = {{"esp", IPPROTO_ESP},
							     {"ah", IPPROTO_AH},
							     {"comp", IPPROTO_COMP}};
	const std::map<std::string, unsigned char> modes = {{"transport", XFRM_MODE_TRANSPORT},
							    {"tunnel", XFRM_MODE_TUNNEL}};
	const std::vector<std::string> ipsec = words(field[1]);
	if (ipsec.size() != 1)
		bad_table(where, "the IPsec field is - or the transforms joined by +");
	for (const std::string &t : ipsec[0] == "-" ? std::vector<std::string>{} : split(ipsec[0], '+')) {
		const std::vector<std::string> f = split(t, ':');
		if (f.size() != 4 || !protos.count(f[0]) || !modes.count(f[2]))
			bad_table(where, "a transform is esp|ah|comp:SPI:transport|tunnel:REQID, not " + t);
		c.ipsec.push_back({protos.at(f[0]), static_cast<uint32_t>(number(f[1], where)),
				   modes.at(f[2]), static_cast<uint32_t>(number(f[3], where))});
	}
	for (const std::string &r : split(field[2], ';')) {
		rule_text rule{c.hook, {}};
		for (const std::string &clause : split(r, '&')) {
			clause_text t{words(clause)};
			if (rule.clauses.empty() && !t.words.empty() &&
			    (t.words[0] == "in" || t.words[0] == "out")) {
				rule.hook = t.words[0] == "in" ? NF_INET_LOCAL_IN : NF_INET_LOCAL_OUT;
				t.words.erase(t.words.begin());
			}
			if (!t.words.empty() && t.words.back()[0] == '@') {
				const std::string how = t.words.back().substr(1);
				const size_t at = how.find_first_of(":^");
				t.offset = number(how.substr(0, at), where);
				t.swap = at != std::string::npos && how.substr(at) == ":swap";
				t.flip = at != std::string::npos && how[at] == '^'
						 ? static_cast<unsigned char>(
							   number("0x" + how.substr(at + 1), where))
						 : 0;
				if (!t.swap && !t.flip)
					bad_table(where,
						  "a corruption is @OFFSET:swap or @OFFSET^XX, not " + how);
				t.words.pop_back();
			}
			if (t.words.size() < 2 || (t.words[0] != "-m" && t.words[0] != "-j"))
				bad_table(where, "a clause is -m or -j, its name and its options");
			rule.clauses.push_back(t);
		}
		c.rules.push_back(rule);
	}
	for (const std::string &p : words(field[3])) {
		const size_t star = p.find('*');
		bool reply = false;
		const bytes packet = build_packet(ends_of(c.family), p.substr(0, star), reply, where);
		c.packets.emplace_back(p, packet, reply,
				       star == std::string::npos ? 1 : number(p.substr(star + 1), where));
	}
	const std::vector<std::string> counts = words(field[4]);
	c.refused = counts == std::vector<std::string>{"refused"};
	c.counts = std::vector<uint64_t>(c.refused ? 0 : counts.size());
	for (size_t i = 0; i < c.counts.size(); ++i)
		c.counts[i] = number(counts[i], where);
	if (!c.refused && c.counts.size() != c.rules.size())
		bad_table(where, "one count a rule");
	return c;
}

// Everything that can be read from `fd` until its end; closes it.
std::string read_to_end(int fd)
{
	std::string text;
	char buffer[4096];
	for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;)
		text.append(buffer, static_cast<size_t>(n));
	close(fd);
	return text;
}

// The block zunder makes of a rule, corrupted as the rule asks; empty with a
// message when zunder refuses the rule.
bytes block_of(const char *zunder, int family, const clause_text &r, std::string &message)
{
	int out[2];
	if (pipe(out) != 0)
		return message = "pipe: " + std::string(std::strerror(errno)), bytes{};
	std::vector<std::string> argv = {zunder, family == AF_INET ? "-4" : "-6"};
	argv.insert(argv.end(), r.words.begin(), r.words.end());
	const pid_t child = fork();
	if (child == 0) {
		dup2(out[1], 1);
		close(out[0]);
		std::vector<char *> args;
		for (std::string &a : argv)
			args.push_back(a.data());
		args.push_back(nullptr);
		execv(zunder, args.data());
		_exit(127);
	}
	close(out[1]);
	const std::string text = read_to_end(out[0]);
	int status = 0;
	waitpid(child, &status, 0);
	bytes block;
	if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || text.rfind("block ", 0) != 0)
		return message = "zunder refused the rule", block;
	const std::string hex = text.substr(6, text.find('\n') - 6);
	for (size_t i = 0; i + 1 < hex.size(); i += 2)
		block.push_back(static_cast<unsigned char>(std::stoul(hex.substr(i, 2), nullptr, 16)));
	// A corruption past the block's end is a table's fault that the judge reports as a disagreement.
	if (r.swap && r.offset + 4 <= block.size())
		std::reverse(block.begin() + static_cast<ptrdiff_t>(r.offset),
			     block.begin() + static_cast<ptrdiff_t>(r.offset + 4));
	else if (r.flip && r.offset < block.size())
		block[r.offset] ^= r.flip;
	return block;
}

// --- IPsec through the kernel's XFRM netlink interface ------------------------

// Sends one XFRM request with its attributes and returns the kernel's answer:
// 0, or the error number.
int xfrm_request(uint16_t type, const void *body, size_t size,
		 const std::vector<std::pair<uint16_t, bytes>> &attrs)
{
	bytes message(NLMSG_SPACE(size));
	std::memcpy(NLMSG_DATA(reinterpret_cast<nlmsghdr *>(message.data())), body, size);
	for (const auto &[kind, data] : attrs) {
		nlattr attr{static_cast<uint16_t>(NLA_HDRLEN + data.size()), kind};
		const size_t at = message.size();
		message.resize(at + NLA_ALIGN(attr.nla_len));
		std::memcpy(&message[at], &attr, sizeof attr);
		std::memcpy(&message[at + NLA_HDRLEN], data.data(), data.size());
	}
	nlmsghdr header{static_cast<uint32_t>(message.size()), type,
			NLM_F_REQUEST | NLM_F_ACK | NLM_F_CREATE | NLM_F_EXCL, 1, 0};
	std::memcpy(message.data(), &header, sizeof header);
	const int s = socket(AF_NETLINK, SOCK_RAW, NETLINK_XFRM);
	if (s < 0)
		return errno;
	int answer = EIO;
	unsigned char reply[4096];
	if (send(s, message.data(), message.size(), 0) == static_cast<ssize_t>(message.size()) &&
	    recv(s, reply, sizeof reply, 0) >= static_cast<ssize_t>(NLMSG_LENGTH(sizeof(nlmsgerr)))) {
		nlmsgerr error;
		std::memcpy(&error, NLMSG_DATA(reinterpret_cast<nlmsghdr *>(reply)), sizeof error);
		answer = -error.error;
	}
	close(s);
	return answer;
}

bytes algorithm(const char *name)
{
	xfrm_algo algo{};
	std::snprintf(algo.alg_name, sizeof algo.alg_name, "%s", name);
	const auto *p = reinterpret_cast<const unsigned char *>(&algo);
	return bytes(p, p + sizeof algo);
}

template <typename T>
bytes raw(const T &value)
{
	const auto *p = reinterpret_cast<const unsigned char *>(&value);
	return bytes(p, p + sizeof value);
}

xfrm_lifetime_cfg endless()
{
	xfrm_lifetime_cfg l{};
	l.soft_byte_limit = l.hard_byte_limit = l.soft_packet_limit = l.hard_packet_limit = XFRM_INF;
	return l;
}

// A state for each transform, from A to B, with null algorithms, and a
// policy each way that applies them in order to what goes from A to B.
std::string set_up_ipsec(const ends &e, const std::vector<transform> &ipsec)
{
	std::vector<xfrm_user_tmpl> templates;
	for (const transform &t : ipsec) {
		xfrm_usersa_info sa{};
		sa.family = static_cast<uint16_t>(e.family);
		sa.sel.family = sa.family;
		std::memcpy(&sa.id.daddr, e.b, e.size);
		std::memcpy(&sa.saddr, e.a, e.size);
		sa.id.spi = htonl(t.spi);
		sa.id.proto = t.proto;
		sa.mode = t.mode;
		sa.reqid = t.reqid;
		sa.lft = endless();
		const uint16_t kind = t.proto == IPPROTO_ESP  ? XFRMA_ALG_CRYPT
				      : t.proto == IPPROTO_AH ? XFRMA_ALG_AUTH
							      : XFRMA_ALG_COMP;
		const char *name = t.proto == IPPROTO_ESP  ? "ecb(cipher_null)"
				   : t.proto == IPPROTO_AH ? "digest_null"
							   : "deflate";
		if (const int error = xfrm_request(XFRM_MSG_NEWSA, &sa, sizeof sa, {{kind, algorithm(name)}}))
			return std::string("the kernel cannot make an IPsec ") +
			       (t.proto == IPPROTO_ESP  ? "ESP"
				: t.proto == IPPROTO_AH ? "AH"
							: "IPComp") +
			       " state: " + std::strerror(error);
		xfrm_user_tmpl tmpl{};
		tmpl.id = sa.id;
		tmpl.family = sa.family;
		tmpl.saddr = sa.saddr;
		tmpl.reqid = t.reqid;
		tmpl.mode = t.mode;
		tmpl.optional = t.proto == IPPROTO_COMP; // small packets go uncompressed
		tmpl.aalgos = tmpl.ealgos = tmpl.calgos = ~0u;
		templates.push_back(tmpl);
	}
	for (const uint8_t dir : {XFRM_POLICY_OUT, XFRM_POLICY_IN}) {
		if (templates.empty())
			break;
		xfrm_userpolicy_info policy{};
		policy.sel.family = static_cast<uint16_t>(e.family);
		std::memcpy(&policy.sel.saddr, e.a, e.size);
		std::memcpy(&policy.sel.daddr, e.b, e.size);
		policy.sel.prefixlen_s = policy.sel.prefixlen_d = static_cast<uint8_t>(e.size * 8);
		policy.lft = endless();
		policy.dir = dir;
		policy.action = XFRM_POLICY_ALLOW;
		const auto *p = reinterpret_cast<const unsigned char *>(templates.data());
		const bytes tmpls(p, p + templates.size() * sizeof templates[0]);
		if (const int error =
			    xfrm_request(XFRM_MSG_NEWPOLICY, &policy, sizeof policy, {{XFRMA_TMPL, tmpls}}))
			return std::string("the kernel refused an IPsec policy: ") + std::strerror(error);
	}
	return "";
}

// --- One case in a namespace of its own ----------------------------------------

// Runs in the child: one line of result, "counts N...", "refused WHY" or
// "skipped WHY".
std::string run_case(const test_case &c, const std::vector<kernel::rule> &rules)
{
	if (unshare(CLONE_NEWNET) != 0)
		return "skipped a network namespace of its own takes root (CAP_SYS_ADMIN): " +
		       std::string(std::strerror(errno));
	ifreq lo{};
	std::snprintf(lo.ifr_name, sizeof lo.ifr_name, "lo");
	const int control = socket(AF_INET, SOCK_DGRAM, 0);
	if (ioctl(control, SIOCGIFFLAGS, &lo) != 0 ||
	    (lo.ifr_flags |= IFF_UP, ioctl(control, SIOCSIFFLAGS, &lo)) != 0)
		return "skipped cannot bring the loopback device up: " + std::string(std::strerror(errno));
	// IPv4 leaves what goes over loopback out of IPsec unless told otherwise,
	// and drops a packet that comes out of a tunnel from a loopback address,
	// one of its own, unless such packets may be routed and accepted.
	for (const auto &[setting, value] : {std::pair{"disable_xfrm", "0"},
					     {"disable_policy", "0"},
					     {"route_localnet", "1"},
					     {"accept_local", "1"}})
		if (std::FILE *f =
			    std::fopen((std::string("/proc/sys/net/ipv4/conf/lo/") + setting).c_str(), "w")) {
			std::fputs(value, f);
			std::fclose(f);
		}
	const ends e = ends_of(c.family);
	if (const std::string why = set_up_ipsec(e, c.ipsec); !why.empty())
		return "skipped " + why;
	if (const kernel::failure f = kernel::load_rules(family_code(c.family), rules, true))
		return (f.environment ? "skipped " : "refused ") + f.message;
	// Sockets that take what arrives, so that the kernel answers no packet
	// with an error of its own, which the rules would count too.
	for (const int port : {1000, 1001, 2000}) {
		const int s = socket(c.family, SOCK_DGRAM, 0);
		sockaddr_storage at{};
		at.ss_family = static_cast<sa_family_t>(c.family);
		reinterpret_cast<sockaddr_in *>(&at)->sin_port = htons(static_cast<uint16_t>(port));
		bind(s, reinterpret_cast<sockaddr *>(&at),
		     c.family == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6));
	}
	for (const int proto : {int{IPPROTO_ESP}, int{IPPROTO_AH}, int{IPPROTO_COMP}, int{IPPROTO_NONE}})
		socket(c.family, SOCK_RAW, proto);
	const int sender = socket(c.family, SOCK_RAW, IPPROTO_RAW);
	for (const auto &[text, packet, reply, times] : c.packets) {
		sockaddr_storage to{};
		to.ss_family = static_cast<sa_family_t>(c.family);
		if (c.family == AF_INET)
			std::memcpy(&reinterpret_cast<sockaddr_in *>(&to)->sin_addr, reply ? e.a : e.b, 4);
		else
			std::memcpy(&reinterpret_cast<sockaddr_in6 *>(&to)->sin6_addr, reply ? e.a : e.b, 16);
		for (unsigned i = 0; i < times; ++i)
			if (sendto(sender, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr *>(&to),
				   sizeof to) < 0)
				return "refused cannot send " + text + ": " + std::strerror(errno);
	}
	// What loopback hands on to be received is done in the kernel's own time.
	std::vector<uint64_t> counted;
	for (int wait_ms : {20, 300}) {
		usleep(static_cast<useconds_t>(wait_ms * 1000));
		if (const kernel::failure f = kernel::packet_counts(family_code(c.family), rules, counted))
			return "refused " + f.message;
		if (counted == c.counts)
			break;
	}
	std::string line = "counts";
	for (const uint64_t n : counted)
		line += " " + std::to_string(n);
	return line;
}

std::string run_in_child(const test_case &c, const std::vector<kernel::rule> &rules)
{
	int out[2];
	if (pipe(out) != 0)
		return "refused pipe: " + std::string(std::strerror(errno));
	const pid_t child = fork();
	if (child == 0) {
		close(out[0]);
		const std::string line = run_case(c, rules);
		(void)!write(out[1], line.data(), line.size());
		_exit(0);
	}
	close(out[1]);
	const std::string line = read_to_end(out[0]);
	waitpid(child, nullptr, 0);
	return line.empty() ? "refused the case's process ended without a result" : line;
}

} // namespace

int main(int argc, char **argv)
{
	const bool disagree = argc > 1 && std::strcmp(argv[1], "--disagree") == 0;
	if (argc < 3 + disagree) {
		std::fprintf(stderr, "usage: packet_judge [--disagree] ZUNDER TABLE...\n");
		return 2;
	}
	const char *zunder = argv[1 + disagree];
	unsigned cases = 0, agree = 0, disagreed = 0, skipped = 0;
	std::map<std::string, unsigned> reasons;
	for (int t = 2 + disagree; t < argc; ++t) {
		std::ifstream table(argv[t]);
		if (!table)
			bad_table(argv[t], "cannot read it");
		unsigned number = 0;
		for (std::string line; std::getline(table, line);) {
			const unsigned first = ++number;
			for (std::string more;
			     (table.peek() == ' ' || table.peek() == '\t') && std::getline(table, more);
			     ++number)
				if (more.find_first_not_of(" \t") != std::string::npos)
					line += " " + more.substr(more.find_first_not_of(" \t"));
			if (line.find_first_not_of(" \t") == std::string::npos ||
			    line[line.find_first_not_of(" \t")] == '#')
				continue;
			const std::string where = std::string(argv[t]) + ":" + std::to_string(first);
			const test_case c = parse_case(line, where);
			++cases;
			std::list<bytes> blocks; // the rules' clauses point into them
			std::vector<kernel::rule> rules;
			std::string result, message;
			for (const rule_text &r : c.rules) {
				rules.push_back({r.hook, {}});
				for (const clause_text &t : r.clauses) {
					blocks.push_back(block_of(zunder, c.family, t, message));
					if (!message.empty())
						result = "error: " + message; // not the kernel's refusal
					rules.back().clauses.push_back(
						{t.words[0] == "-m" ? zunder::clause_kind::match
								    : zunder::clause_kind::target,
						 t.words[1].c_str(), 0, family_code(c.family),
						 blocks.back()});
				}
			}
			if (result.empty())
				result = run_in_child(c, rules);
			if (result.rfind("skipped ", 0) == 0) {
				++skipped;
				++reasons[result.substr(8)];
				continue;
			}
			std::string expected = c.refused ? "refused" : "counts";
			for (const uint64_t n : c.counts)
				expected += " " + std::to_string(n);
			const bool same = c.refused ? result.rfind("refused", 0) == 0 : result == expected;
			if (same != disagree) {
				++agree;
				continue;
			}
			++disagreed;
			std::printf("%s: %s: %s, %s %s\n", where.c_str(), line.c_str(), result.c_str(),
				    disagree ? "and so it must not be:" : "expected", expected.c_str());
		}
	}
	utsname machine{};
	uname(&machine);
	std::string summary = "packets on " + std::string(machine.release) + ": " + std::to_string(cases) +
			      " cases, " + std::to_string(agree) +
			      (disagree ? " disagree as they must" : " agree");
	if (disagreed)
		summary += ", " + std::to_string(disagreed) +
			   (disagree ? " agree (the judge missed them)" : " disagree");
	if (skipped) {
		summary += ", " + std::to_string(skipped) + " skipped (";
		for (auto it = reasons.begin(); it != reasons.end(); ++it)
			summary += (it == reasons.begin() ? "" : "; ") + std::to_string(it->second) + ": " +
				   it->first;
		summary += ")";
	}
	std::printf("%s\n", summary.c_str());
	return disagreed ? 1 : skipped || agree == 0 ? 77 : 0;
}
