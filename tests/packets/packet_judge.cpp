// SPDX-License-Identifier: GPL-2.0-or-later
// The packet judge: each case's rules, made by zunder, go into the filter
// table of a network namespace of the case's own; the kernel must count for
// each rule as many of the packets the case sends as the case says.
//
//   packet_judge [--disagree] ZUNDER TABLE...
//
// A table (tests/support/table.h, whose "let" lines name repeated words)
// holds cases:
//   FAMILY CHAIN | IPSEC | RULE ; RULE ... | PACKET ... | COUNT ...
// FAMILY is 4 or 6, CHAIN in or out: the filter table's chain for the rules
// that do not start with "in" or "out".  IPSEC is "-" or the transforms an
// IPsec policy applies to what goes from A to B, innermost first, joined by
// "+": esp|ah|comp:SPI:transport|tunnel:REQID.  A RULE is its clauses joined
// by "&", each in zunder's words; a clause's last word "@OFFSET:swap"
// byte-swaps the four bytes of its block at OFFSET, "@OFFSET^XX" flips the
// bits XX (hexadecimal) of that byte.  PACKETs are described at packet().
// COUNT is each rule's packet count, or "refused" when the kernel must
// refuse the rules.
//
// Prints each case that disagrees, then "packets on RELEASE: N cases, A
// agree[, D disagree][, S skipped (WHY)]".  Exit status 0 when all agree, 1
// when one disagrees, 77 when some were skipped, 2 on a bad table.  With
// --disagree every case must disagree instead (the corrupted blocks' tables).
#include "kernel.h"
#include "table.h"

#include <arpa/inet.h>
#include <net/if.h>
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
#include <string>
#include <vector>

namespace {

using bytes = std::vector<unsigned char>;

std::string where; // the table row being read

// Ends the judge with a message on the row unless `ok`.
void need(bool ok, const std::string &what)
{
	if (ok)
		return;
	std::fprintf(stderr, "packet_judge: %s: %s\n", where.c_str(), what.c_str());
	std::exit(2);
}

// `text` split at each `by`, empty parts kept.
std::vector<std::string> split(const std::string &text, char by)
{
	std::vector<std::string> parts(1);
	for (const char c : text)
		c == by ? parts.emplace_back() : (parts.back() += c);
	return parts;
}

unsigned long number(const std::string &text)
{
	char *end = nullptr;
	const unsigned long v = std::strtoul(text.c_str(), &end, 0);
	need(!text.empty() && *end == '\0', "not a number: \"" + text + "\"");
	return v;
}

// Puts `v` at `at` in `size` bytes, the most significant first.
void put(bytes &b, size_t at, unsigned long v, size_t size = 2)
{
	for (size_t i = size; i-- > 0; v >>= 8)
		b[at + i] = static_cast<unsigned char>(v);
}

template <typename T>
bytes raw(const T &first, size_t n = 1)
{
	const auto *p = reinterpret_cast<const unsigned char *>(&first);
	return bytes(p, p + n * sizeof first);
}

// The case's two ends: A sends, B receives; in IPv6 both are ::1.
struct ends {
	int family;
	bytes a, b;
	uint16_t code() const { return family == AF_INET ? ZU_FAMILY_IPV4 : ZU_FAMILY_IPV6; }
};

// The checksum of a UDP datagram of an even size, whichever end sends it.
unsigned udp_checksum(const ends &e, const bytes &udp)
{
	bytes sum = e.a;
	sum.insert(sum.end(), e.b.begin(), e.b.end());
	sum.insert(sum.end(), {0, IPPROTO_UDP, 0, static_cast<unsigned char>(udp.size())});
	sum.insert(sum.end(), udp.begin(), udp.end());
	uint32_t total = 0;
	for (size_t i = 0; i < sum.size(); i += 2)
		total += sum[i] << 8 | sum[i + 1];
	while (total >> 16)
		total = (total & 0xffff) + (total >> 16);
	return ~total & 0xffff ? ~total & 0xffff : 0xffff;
}

// A packet from the IP header on, described by the headers after the IP
// header joined by ".":
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
bytes packet(const ends &e, const std::string &text, bool &reply)
{
	const bytes pad = {0, 0, 1, 4, 0, 0, 0, 0},
		    frag = {0, 0, 0, 0, 0, 0, 0, 1}; // PadN of four bytes; offset 0, last
	const std::map<std::string, std::pair<unsigned, bytes>> fixed = {{"hop", {0, pad}},
									 {"dst", {60, pad}},
									 {"route", {43, bytes(8)}},
									 {"frag", {44, frag}},
									 {"none", {59, {}}}};
	const auto last = [](unsigned proto) { return proto == 17 || proto == 50 || proto == 59; };
	std::vector<std::pair<unsigned, bytes>> chain; // protocol number, header
	reply = false;
	for (const std::string &item : split(text, '.')) {
		need(chain.empty() || !last(chain.back().first), "nothing follows esp, none, udp or reply");
		const std::vector<std::string> f = split(item, ':');
		const auto field = [&](size_t i, unsigned long otherwise) {
			return f.size() > i ? number(f[i]) : otherwise;
		};
		if (fixed.count(f[0]))
			chain.push_back(fixed.at(f[0]));
		else if (f[0] == "ah") {
			bytes &ah = chain.emplace_back(51, bytes((field(2, 4) + 2) * 4)).second;
			ah[1] = static_cast<unsigned char>(field(2, 4));
			put(ah, 2, field(3, 0));
			put(ah, 4, field(1, 1), 4);
		} else if (f[0] == "esp")
			put(chain.emplace_back(50, bytes(24)).second, 0, field(1, 1), 4);
		else {
			need(f[0] == "udp" || f[0] == "reply", "unknown packet item \"" + item + "\"");
			reply = f[0] == "reply";
			bytes udp = {0, 0, 0, 0, 0, 12, 0, 0, 'z', 'u', 'n', 'd'};
			put(udp, 0, reply ? 2000 : field(1, 1000));
			put(udp, 2, reply ? 1000 : 2000);
			put(udp, 6, udp_checksum(e, udp));
			chain.emplace_back(17, udp);
		}
	}
	const bool v4 = e.family == AF_INET;
	need(!v4 || (chain.size() == 1 && chain[0].first == 17), "an IPv4 packet is udp or reply alone");
	bytes ip(v4 ? 20 : 40);
	for (size_t i = 0; i < chain.size(); ++i) {
		if (!last(chain[i].first)) // an extension header: the one after it
			chain[i].second[0] =
				static_cast<unsigned char>(i + 1 < chain.size() ? chain[i + 1].first : 59);
		ip.insert(ip.end(), chain[i].second.begin(), chain[i].second.end());
	}
	const bytes &from = reply ? e.b : e.a, &to = reply ? e.a : e.b;
	ip[0] = v4 ? 0x45 : 0x60;
	put(ip, v4 ? 2 : 4, v4 ? ip.size() : ip.size() - 40);
	ip[v4 ? 8 : 7] = 64; // time to live, hop limit
	ip[v4 ? 9 : 6] = static_cast<unsigned char>(chain[0].first);
	std::copy(from.begin(), from.end(), &ip[v4 ? 12 : 8]);
	std::copy(to.begin(), to.end(), &ip[v4 ? 16 : 24]);
	return ip;
}

// An IPsec protocol: its word in tables, its name, the null algorithm of
// its states and the attribute that names that.
struct ipsec_protocol {
	const char *word, *name, *algorithm;
	unsigned char number;
	uint16_t attribute;
};
const ipsec_protocol ipsec_protocols[] = {{"esp", "ESP", "ecb(cipher_null)", IPPROTO_ESP, XFRMA_ALG_CRYPT},
					  {"ah", "AH", "digest_null", IPPROTO_AH, XFRMA_ALG_AUTH},
					  {"comp", "IPComp", "deflate", IPPROTO_COMP, XFRMA_ALG_COMP}};

struct transform {
	const ipsec_protocol *protocol;
	uint32_t spi, reqid;
	bool tunnel;
};

struct sent {
	std::string text;
	bytes packet;
	bool reply;
	unsigned long times;
};

struct test_case {
	ends e;
	std::vector<transform> ipsec;
	std::list<std::pair<std::string, bytes>> clauses; // names and blocks the rules point into
	std::vector<kernel::rule> rules;
	std::vector<sent> packets;
	std::vector<uint64_t> counts;
	bool refused = false;
	std::string failed; // why a clause has no block
};

// What `child` writes to its standard output, run in a process of its own;
// `status` gets the process's exit status.
template <typename F>
std::string output_of(F child, int *status = nullptr)
{
	int out[2];
	if (pipe(out) != 0)
		return "";
	const pid_t pid = fork();
	if (pid == 0) {
		close(out[0]);
		dup2(out[1], 1);
		child();
		_exit(127);
	}
	close(out[1]);
	std::string text;
	char buffer[4096];
	for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;)
		text.append(buffer, static_cast<size_t>(n));
	close(out[0]);
	waitpid(pid, status, 0);
	return text;
}

// Adds the clause of words `w` to `r`, its block made by zunder and
// corrupted as its last word asks.
void add_clause(test_case &c, kernel::rule &r, const char *zunder, std::vector<std::string> w)
{
	unsigned long at = 0;
	unsigned flip = 0;
	int end = 0;
	bool swap = false;
	if (!w.empty() && w.back()[0] == '@') {
		const char *how = w.back().c_str();
		const int size = static_cast<int>(w.back().size());
		swap = std::sscanf(how, "@%lu:swap%n", &at, &end) == 1 && end == size;
		need(swap || (std::sscanf(how, "@%lu^%x%n", &at, &flip, &end) == 2 && end == size && flip),
		     "a corruption is @OFFSET:swap or @OFFSET^XX, not " + w.back());
		w.pop_back();
	}
	need(w.size() >= 2 && (w[0] == "-m" || w[0] == "-j"),
	     "a clause is -m or -j, its name and its options");
	std::vector<char *> args = {const_cast<char *>(zunder),
				    const_cast<char *>(c.e.family == AF_INET ? "-4" : "-6")};
	for (std::string &word : w)
		args.push_back(word.data());
	args.push_back(nullptr);
	int status = 0;
	const std::string text = output_of([&] { execv(zunder, args.data()); }, &status);
	auto &[name, block] = c.clauses.emplace_back(w[1], bytes{});
	if (status != 0 || text.rfind("block ", 0) != 0)
		c.failed = "zunder refused the rule";
	for (size_t i = 6; i + 1 < text.find('\n'); i += 2)
		block.push_back(static_cast<unsigned char>(std::stoul(text.substr(i, 2), nullptr, 16)));
	// A corruption past the block's end is a table's fault that shows as a disagreement.
	if (swap && at + 4 <= block.size())
		std::reverse(&block[at], &block[at] + 4);
	else if (flip && at < block.size())
		block[at] ^= static_cast<unsigned char>(flip);
	r.clauses.push_back({w[0] == "-m" ? zunder::clause_kind::match : zunder::clause_kind::target,
			     name.c_str(), 0, c.e.code(), block});
}

// The case of a table row, its blocks made by zunder.
void read_case(test_case &c, const ztest::table_line &row, const char *zunder)
{
	const std::vector<std::string> f = ztest::fields(row.rest);
	const std::map<std::string, unsigned> hooks = {{"in", NF_INET_LOCAL_IN}, {"out", NF_INET_LOCAL_OUT}};
	need(f.size() == 5 && (row.word == "4" || row.word == "6") && hooks.count(f[0]),
	     "a case is 4 or 6, in or out, and four more fields apart by |");
	bytes loopback(16); // ::1
	loopback[15] = 1;
	c.e = row.word == "4" ? ends{AF_INET, {127, 0, 0, 1}, {127, 0, 0, 2}}
			      : ends{AF_INET6, loopback, loopback};
	for (const std::string &t : f[1] == "-" ? std::vector<std::string>{} : split(f[1], '+')) {
		const std::vector<std::string> p = split(t, ':');
		const auto *proto = std::find_if(std::begin(ipsec_protocols), std::end(ipsec_protocols),
						 [&](const ipsec_protocol &i) { return p[0] == i.word; });
		need(p.size() == 4 && proto != std::end(ipsec_protocols) &&
			     (p[2] == "transport" || p[2] == "tunnel"),
		     "a transform is esp|ah|comp:SPI:transport|tunnel:REQID, not " + t);
		c.ipsec.push_back({proto, static_cast<uint32_t>(number(p[1])),
				   static_cast<uint32_t>(number(p[3])), p[2] == "tunnel"});
	}
	for (const std::string &rule : split(f[2], ';')) {
		kernel::rule &r = c.rules.emplace_back(kernel::rule{hooks.at(f[0]), {}});
		for (const std::string &clause : split(rule, '&')) {
			std::vector<std::string> w = ztest::words(clause);
			if (r.clauses.empty() && !w.empty() && hooks.count(w[0])) {
				r.hook = hooks.at(w[0]);
				w.erase(w.begin());
			}
			add_clause(c, r, zunder, w);
		}
	}
	for (const std::string &p : ztest::words(f[3])) {
		const size_t star = p.find('*');
		bool reply = false;
		const bytes b = packet(c.e, p.substr(0, star), reply);
		c.packets.push_back(
			{p, b, reply, star == std::string::npos ? 1 : number(p.substr(star + 1))});
	}
	const std::vector<std::string> counts = ztest::words(f[4]);
	c.refused = counts == std::vector<std::string>{"refused"};
	for (size_t i = 0; !c.refused && i < counts.size(); ++i)
		c.counts.push_back(number(counts[i]));
	need(c.refused || c.counts.size() == c.rules.size(), "one count a rule");
}

// Sends one XFRM request with one attribute; the kernel's answer: 0, or an
// error number.
int xfrm_request(uint16_t type, const bytes &body, uint16_t attribute, const bytes &data)
{
	bytes m(NLMSG_HDRLEN);
	for (const bytes &part :
	     {body, raw(nlattr{static_cast<uint16_t>(NLA_HDRLEN + data.size()), attribute}), data}) {
		m.insert(m.end(), part.begin(), part.end());
		m.resize(NLMSG_ALIGN(m.size()));
	}
	const nlmsghdr header{static_cast<uint32_t>(m.size()), type,
			      NLM_F_REQUEST | NLM_F_ACK | NLM_F_CREATE | NLM_F_EXCL, 1, 0};
	std::memcpy(m.data(), &header, sizeof header);
	const int s = socket(AF_NETLINK, SOCK_RAW, NETLINK_XFRM);
	if (s < 0)
		return errno;
	int answer = EIO;
	unsigned char reply[4096];
	if (send(s, m.data(), m.size(), 0) == static_cast<ssize_t>(m.size()) &&
	    recv(s, reply, sizeof reply, 0) >= static_cast<ssize_t>(NLMSG_LENGTH(sizeof(nlmsgerr)))) {
		nlmsgerr error;
		std::memcpy(&error, reply + NLMSG_HDRLEN, sizeof error);
		answer = -error.error;
	}
	close(s);
	return answer;
}

// A state for each transform, from A to B, with a null algorithm, and a
// policy each way that applies them in order to what goes from A to B.
std::string set_up_ipsec(const ends &e, const std::vector<transform> &ipsec)
{
	if (ipsec.empty())
		return "";
	const xfrm_lifetime_cfg endless{XFRM_INF, XFRM_INF, XFRM_INF, XFRM_INF};
	const auto family = static_cast<uint16_t>(e.family);
	xfrm_selector a_to_b{.family = family};
	std::copy(e.a.begin(), e.a.end(), reinterpret_cast<unsigned char *>(&a_to_b.saddr));
	std::copy(e.b.begin(), e.b.end(), reinterpret_cast<unsigned char *>(&a_to_b.daddr));
	a_to_b.prefixlen_d = a_to_b.prefixlen_s = static_cast<uint8_t>(e.a.size() * 8);
	std::vector<xfrm_user_tmpl> templates;
	for (const transform &t : ipsec) {
		const auto mode = static_cast<uint8_t>(t.tunnel ? XFRM_MODE_TUNNEL : XFRM_MODE_TRANSPORT);
		const xfrm_usersa_info sa{.sel = {.family = family},
					  .id = {a_to_b.daddr, htonl(t.spi), t.protocol->number},
					  .saddr = a_to_b.saddr,
					  .lft = endless,
					  .reqid = t.reqid,
					  .family = family,
					  .mode = mode};
		xfrm_algo algorithm{};
		std::snprintf(algorithm.alg_name, sizeof algorithm.alg_name, "%s", t.protocol->algorithm);
		if (const int error =
			    xfrm_request(XFRM_MSG_NEWSA, raw(sa), t.protocol->attribute, raw(algorithm)))
			return std::string("the kernel cannot make an IPsec ") + t.protocol->name +
			       " state: " + std::strerror(error);
		// Small packets go uncompressed: compression is optional.
		templates.push_back({.id = sa.id,
				     .family = family,
				     .saddr = sa.saddr,
				     .reqid = t.reqid,
				     .mode = mode,
				     .optional = t.protocol->number == IPPROTO_COMP,
				     .aalgos = ~0u,
				     .ealgos = ~0u,
				     .calgos = ~0u});
	}
	for (const uint8_t dir : {XFRM_POLICY_OUT, XFRM_POLICY_IN}) {
		const xfrm_userpolicy_info policy{.sel = a_to_b,
						  .lft = endless,
						  .dir = dir,
						  .action = XFRM_POLICY_ALLOW};
		if (const int error = xfrm_request(XFRM_MSG_NEWPOLICY, raw(policy), XFRMA_TMPL,
						   raw(templates[0], templates.size())))
			return std::string("the kernel refused an IPsec policy: ") + std::strerror(error);
	}
	return "";
}

std::string counts_text(const std::vector<uint64_t> &counts)
{
	std::string text = "counts";
	for (const uint64_t n : counts)
		text += " " + std::to_string(n);
	return text;
}

// Runs in a child: "counts N...", "refused WHY" (the kernel refused the
// rules), "skipped WHY" or "error: WHY".
std::string run_case(const test_case &c)
{
	const auto failed = [](const std::string &what) { return what + ": " + std::strerror(errno); };
	if (unshare(CLONE_NEWNET) != 0)
		return failed("skipped a network namespace of its own takes root (CAP_SYS_ADMIN)");
	ifreq lo{};
	std::snprintf(lo.ifr_name, sizeof lo.ifr_name, "lo");
	const int control = socket(AF_INET, SOCK_DGRAM, 0);
	if (ioctl(control, SIOCGIFFLAGS, &lo) != 0 ||
	    (lo.ifr_flags |= IFF_UP, ioctl(control, SIOCSIFFLAGS, &lo)) != 0)
		return failed("skipped cannot bring the loopback device up");
	// IPv4 leaves what goes over loopback out of IPsec unless told otherwise,
	// and drops a packet that comes out of a tunnel from a loopback address,
	// one of its own, unless such packets may be routed and accepted.
	for (const auto &[name, value] : {std::pair{"disable_xfrm", 0},
					  {"disable_policy", 0},
					  {"route_localnet", 1},
					  {"accept_local", 1}})
		std::ofstream("/proc/sys/net/ipv4/conf/lo/" + std::string(name)) << value;
	if (const std::string why = set_up_ipsec(c.e, c.ipsec); !why.empty())
		return "skipped " + why;
	if (const kernel::failure f = kernel::load_rules(c.e.code(), c.rules, true))
		return (f.environment ? "skipped " : "refused ") + f.message;
	// Sockets that take what arrives, so that the kernel answers no packet
	// with an error of its own, which the rules would count too.
	const int family = c.e.family;
	const auto address = [family](const bytes &ip, int port) {
		sockaddr_storage s{};
		s.ss_family = static_cast<sa_family_t>(family);
		reinterpret_cast<sockaddr_in *>(&s)->sin_port =
			htons(static_cast<uint16_t>(port)); // sin6_port too
		const size_t at = family == AF_INET ? offsetof(sockaddr_in, sin_addr)
						    : offsetof(sockaddr_in6, sin6_addr);
		std::copy(ip.begin(), ip.end(), reinterpret_cast<unsigned char *>(&s) + at);
		return s;
	};
	for (const int port : {1000, 1001, 2000}) {
		const sockaddr_storage any = address(bytes(c.e.a.size()), port);
		bind(socket(family, SOCK_DGRAM, 0), reinterpret_cast<const sockaddr *>(&any),
		     family == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6));
	}
	for (const int proto : {int{IPPROTO_ESP}, int{IPPROTO_AH}, int{IPPROTO_COMP}, int{IPPROTO_NONE}})
		socket(family, SOCK_RAW, proto);
	const int sender = socket(family, SOCK_RAW, IPPROTO_RAW);
	for (const sent &p : c.packets) {
		const sockaddr_storage to = address(p.reply ? c.e.a : c.e.b, 0);
		for (unsigned long i = 0; i < p.times; ++i)
			if (sendto(sender, p.packet.data(), p.packet.size(), 0,
				   reinterpret_cast<const sockaddr *>(&to), sizeof to) < 0)
				return failed("error: cannot send " + p.text);
	}
	// What loopback hands on to be received is done in the kernel's own time.
	std::vector<uint64_t> counted;
	for (const int wait_ms : {20, 300}) {
		usleep(static_cast<useconds_t>(wait_ms * 1000));
		if (const kernel::failure f = kernel::packet_counts(c.e.code(), c.rules, counted))
			return "error: " + f.message;
		if (counted == c.counts)
			break;
	}
	return counts_text(counted);
}

} // namespace

int main(int argc, char **argv)
{
	const bool disagree = argc > 1 && std::strcmp(argv[1], "--disagree") == 0;
	if (argc < 3 + disagree) {
		std::fprintf(stderr, "usage: packet_judge [--disagree] ZUNDER TABLE...\n");
		return 2;
	}
	unsigned cases = 0, agree = 0, disagreed = 0, skipped = 0;
	std::map<std::string, unsigned> reasons; // how many cases each was skipped for
	for (int t = 2 + disagree; t < argc; ++t) {
		where = argv[t];
		const auto rows = ztest::read_table(argv[t]);
		need(rows.has_value(), "cannot read it");
		for (const ztest::table_line &row : *rows) {
			where = std::string(argv[t]) + ":" + std::to_string(row.at);
			test_case c{};
			read_case(c, row, argv[1 + disagree]);
			++cases;
			std::string result = "error: " + c.failed; // not the kernel's refusal
			if (c.failed.empty()) {
				result = output_of([&] {
					const std::string line = run_case(c);
					(void)!write(1, line.data(), line.size());
				});
				if (result.empty())
					result = "error: the case's process ended without a result";
			}
			if (result.rfind("skipped ", 0) == 0) {
				++skipped;
				++reasons[result.substr(8)];
				continue;
			}
			// A case that could not be judged never counts, not even as a
			// disagreement that --disagree asks for.
			const std::string expected = c.refused ? "refused" : counts_text(c.counts);
			const bool judged = result.rfind("error: ", 0) != 0;
			if (judged &&
			    (c.refused ? result.rfind("refused ", 0) == 0 : result == expected) != disagree) {
				++agree;
				continue;
			}
			++disagreed;
			std::printf("%s: %s: %s, %s %s\n", where.c_str(), row.text.c_str(), result.c_str(),
				    disagree ? "and so it must not be:" : "expected", expected.c_str());
		}
	}
	utsname machine{};
	uname(&machine);
	std::printf("packets on %s: %u cases, %u %s", machine.release, cases, agree,
		    disagree ? "disagree as they must" : "agree");
	if (disagreed)
		std::printf(", %u %s", disagreed, disagree ? "agree (the judge missed them)" : "disagree");
	if (skipped)
		std::printf(", %u skipped (", skipped);
	for (auto it = reasons.begin(); it != reasons.end(); ++it)
		std::printf("%s%u: %s", it == reasons.begin() ? "" : "; ", it->second, it->first.c_str());
	std::printf("%s\n", skipped ? ")" : "");
	return disagreed ? 1 : skipped || agree == 0 ? 77 : 0;
}
