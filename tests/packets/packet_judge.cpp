// SPDX-License-Identifier: GPL-2.0-or-later
// The packet judge: each case's rules, made by zunder, go into the filter
// table of a network namespace of the case's own, and the kernel must count
// for each rule as many of the packets the case sends as the case says.
//
//   packet_judge [--disagree] ZUNDER TABLE...
//
// A table (tests/support/table.h) holds cases and "let NAME WORDS" rows:
//
//   FAMILY CHAIN | IPSEC | RULE ; RULE ... | PACKET ... | COUNT ...
//
// FAMILY is 4 or 6, CHAIN in or out: the INPUT or OUTPUT chain of the filter
// table, for the rules that do not start with "in" or "out".  IPSEC is "-"
// or the transforms an IPsec policy applies to what goes from A to B,
// innermost first, joined by "+": PROTO:SPI:MODE:REQID, PROTO esp, ah or
// comp, MODE transport or tunnel.  A RULE is its clauses joined by "&", each
// in zunder's words, a word that a "let" row names standing for its WORDS; a
// clause's last word "@OFFSET:swap" byte-swaps the four bytes of its block
// at OFFSET, "@OFFSET^XX" flips the bits XX (hexadecimal) of its byte
// OFFSET.  PACKETs are described at packet().  COUNT is each rule's packet
// count, or the one word "refused" when the kernel must refuse the rules.
//
// Prints each case that disagrees, then "packets on RELEASE: N cases, A
// agree[, D disagree][, S skipped (WHY)]".  Exit status 0 when every case
// agrees, 1 when one disagrees, 77 when none does but some were skipped, 2
// on a bad table.  With --disagree every case must disagree instead: the
// tables of corrupted blocks show that the judge notices a wrong block.
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
#include <functional>
#include <list>
#include <map>
#include <string>
#include <tuple>
#include <vector>

namespace {

using bytes = std::vector<unsigned char>;

std::string where; // the table row being read, for messages about it

[[noreturn]] void bad_table(const std::string &what)
{
	std::fprintf(stderr, "packet_judge: %s: %s\n", where.c_str(), what.c_str());
	std::exit(2);
}

// `text` split at each `by`, empty parts kept.
std::vector<std::string> split(const std::string &text, char by)
{
	std::vector<std::string> parts(1);
	for (const char c : text)
		if (c == by)
			parts.emplace_back();
		else
			parts.back() += c;
	return parts;
}

unsigned long number(const std::string &text)
{
	char *end = nullptr;
	const unsigned long v = std::strtoul(text.c_str(), &end, 0);
	if (text.empty() || *end != '\0')
		bad_table("not a number: \"" + text + "\"");
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
	size_t size; // of an address
	unsigned char a[16], b[16];
	uint16_t code() const { return family == AF_INET ? ZU_FAMILY_IPV4 : ZU_FAMILY_IPV6; }
};

ends ends_of(int family)
{
	ends e{family, family == AF_INET ? 4u : 16u, {}, {}};
	inet_pton(family, family == AF_INET ? "127.0.0.1" : "::1", e.a);
	inet_pton(family, family == AF_INET ? "127.0.0.2" : "::1", e.b);
	return e;
}

// The checksum of a UDP datagram with its pseudo-header, whichever end sends.
unsigned udp_checksum(const ends &e, const bytes &udp)
{
	bytes sum(e.a, e.a + e.size);
	sum.insert(sum.end(), e.b, e.b + e.size);
	sum.insert(sum.end(), {0, IPPROTO_UDP, 0, 0});
	put(sum, sum.size() - 2, udp.size());
	sum.insert(sum.end(), udp.begin(), udp.end()); // of an even size
	uint32_t total = 0;
	for (size_t i = 0; i < sum.size(); i += 2)
		total += sum[i] << 8 | sum[i + 1];
	while (total >> 16)
		total = (total & 0xffff) + (total >> 16);
	return ~total & 0xffff ? ~total & 0xffff : 0xffff;
}

// The headers after which none follows: UDP, ESP and "no next header".
bool ends_chain(unsigned proto)
{
	return proto == IPPROTO_UDP || proto == IPPROTO_ESP || proto == IPPROTO_NONE;
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
	std::vector<std::pair<unsigned, bytes>> chain; // protocol number, header
	reply = false;
	for (const std::string &item : split(text, '.')) {
		if (!chain.empty() && ends_chain(chain.back().first))
			bad_table("nothing follows esp, none, udp or reply in a packet");
		const std::vector<std::string> f = split(item, ':');
		const auto field = [&](size_t i, unsigned long otherwise) {
			return f.size() > i ? number(f[i]) : otherwise;
		};
		if (f[0] == "hop" || f[0] == "dst") // a PadN option of four bytes
			chain.emplace_back(f[0] == "hop" ? 0 : 60, bytes{0, 0, 1, 4, 0, 0, 0, 0});
		else if (f[0] == "route")
			chain.emplace_back(43, bytes(8));
		else if (f[0] == "frag")
			chain.emplace_back(44, bytes{0, 0, 0, 0, 0, 0, 0, 1});
		else if (f[0] == "ah") {
			bytes &ah = chain.emplace_back(51, bytes((field(2, 4) + 2) * 4)).second;
			ah[1] = static_cast<unsigned char>(field(2, 4));
			put(ah, 2, field(3, 0));
			put(ah, 4, field(1, 1), 4);
		} else if (f[0] == "esp")
			put(chain.emplace_back(50, bytes(24)).second, 0, field(1, 1), 4);
		else if (f[0] == "none")
			chain.emplace_back(59, bytes{});
		else if (f[0] == "udp" || f[0] == "reply") {
			reply = f[0] == "reply";
			bytes &udp =
				chain.emplace_back(17, bytes{0, 0, 0, 0, 0, 12, 0, 0, 'z', 'u', 'n', 'd'})
					.second;
			put(udp, 0, reply ? 2000 : field(1, 1000));
			put(udp, 2, reply ? 1000 : 2000);
			put(udp, 6, udp_checksum(e, udp));
		} else
			bad_table("unknown packet item \"" + item + "\"");
	}
	const bool v4 = e.family == AF_INET;
	if (v4 && (chain.size() != 1 || chain[0].first != IPPROTO_UDP))
		bad_table("an IPv4 packet is udp or reply alone");
	bytes ip(v4 ? 20 : 40);
	for (size_t i = 0; i < chain.size(); ++i) {
		if (!ends_chain(chain[i].first)) // an extension header: the one after it
			chain[i].second[0] =
				static_cast<unsigned char>(i + 1 < chain.size() ? chain[i + 1].first : 59);
		ip.insert(ip.end(), chain[i].second.begin(), chain[i].second.end());
	}
	ip[0] = v4 ? 0x45 : 0x60;
	put(ip, v4 ? 2 : 4, v4 ? ip.size() : ip.size() - 40);
	ip[v4 ? 8 : 7] = 64; // time to live, hop limit
	ip[v4 ? 9 : 6] = static_cast<unsigned char>(chain[0].first);
	std::memcpy(&ip[v4 ? 12 : 8], reply ? e.b : e.a, e.size);
	std::memcpy(&ip[v4 ? 16 : 24], reply ? e.a : e.b, e.size);
	return ip;
}

// An IPsec protocol: its word in tables, its name, the null algorithm of
// its states and the attribute that names it.
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
	uint32_t spi;
	unsigned char mode;
	uint32_t reqid;
};

struct test_case {
	ends e;
	std::vector<transform> ipsec;
	std::list<std::pair<std::string, bytes>> clauses; // names and blocks the rules point into
	std::vector<kernel::rule> rules;
	std::vector<std::tuple<std::string, bytes, bool, unsigned long>> packets; // text, bytes, reply, times
	std::vector<uint64_t> counts;
	bool refused = false;
	std::string failed; // why a clause has no block
};

// What `child` writes to its standard output, run in a process of its own;
// `status` gets the process's exit status.
std::string output_of(const std::function<void()> &child, int *status = nullptr)
{
	int out[2];
	if (pipe(out) != 0)
		return "";
	const pid_t pid = fork();
	if (pid == 0) {
		close(out[0]);
		dup2(out[1], 1);
		child();
		_exit(0);
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

// Adds a clause of its words to `r`, its block made by zunder and corrupted
// as its last word asks.
void add_clause(test_case &c, kernel::rule &r, const char *zunder, std::vector<std::string> w)
{
	size_t at = 0;
	bool swap = false;
	unsigned long flip = 0;
	if (!w.empty() && w.back()[0] == '@') {
		const std::string how = w.back().substr(1);
		const size_t mark = how.find_first_of(":^");
		at = number(how.substr(0, mark));
		swap = mark != std::string::npos && how.substr(mark) == ":swap";
		flip = mark != std::string::npos && how[mark] == '^' ? number("0x" + how.substr(mark + 1))
								     : 0;
		if (!swap && !flip)
			bad_table("a corruption is @OFFSET:swap or @OFFSET^XX, not " + how);
		w.pop_back();
	}
	if (w.size() < 2 || (w[0] != "-m" && w[0] != "-j"))
		bad_table("a clause is -m or -j, its name and its options");
	std::vector<std::string> argv = {zunder, c.e.family == AF_INET ? "-4" : "-6"};
	argv.insert(argv.end(), w.begin(), w.end());
	int status = 0;
	const std::string text = output_of(
		[&] {
			std::vector<char *> args;
			for (std::string &a : argv)
				args.push_back(a.data());
			args.push_back(nullptr);
			execv(zunder, args.data());
			_exit(127);
		},
		&status);
	auto &[name, block] = c.clauses.emplace_back(w[1], bytes{});
	if (status != 0 || text.rfind("block ", 0) != 0)
		c.failed = "zunder refused the rule";
	for (size_t i = 6; i + 1 < text.find('\n'); i += 2)
		block.push_back(static_cast<unsigned char>(std::stoul(text.substr(i, 2), nullptr, 16)));
	// A corruption past the block's end is a table's fault that shows as a disagreement.
	if (swap && at + 4 <= block.size())
		std::reverse(block.begin() + static_cast<ptrdiff_t>(at),
			     block.begin() + static_cast<ptrdiff_t>(at + 4));
	else if (flip && at < block.size())
		block[at] ^= static_cast<unsigned char>(flip);
	r.clauses.push_back({w[0] == "-m" ? zunder::clause_kind::match : zunder::clause_kind::target,
			     name.c_str(), 0, c.e.code(), block});
}

// The case of a table row, its blocks made by zunder; `names` are the
// table's "let" rows.
void read_case(test_case &c, const ztest::table_line &row, const char *zunder,
	       const std::map<std::string, std::vector<std::string>> &names)
{
	const std::vector<std::string> f = ztest::fields(row.rest);
	const std::map<std::string, unsigned> hooks = {{"in", NF_INET_LOCAL_IN}, {"out", NF_INET_LOCAL_OUT}};
	if (f.size() != 5 || (row.word != "4" && row.word != "6") || !hooks.count(f[0]))
		bad_table("a case is 4 or 6, in or out, and four more fields apart by |");
	c.e = ends_of(row.word == "4" ? AF_INET : AF_INET6);
	for (const std::string &t : f[1] == "-" ? std::vector<std::string>{} : split(f[1], '+')) {
		const std::vector<std::string> p = split(t, ':');
		const auto *proto = std::find_if(std::begin(ipsec_protocols), std::end(ipsec_protocols),
						 [&](const ipsec_protocol &i) { return p[0] == i.word; });
		if (p.size() != 4 || proto == std::end(ipsec_protocols) ||
		    (p[2] != "transport" && p[2] != "tunnel"))
			bad_table("a transform is esp|ah|comp:SPI:transport|tunnel:REQID, not " + t);
		c.ipsec.push_back({proto, static_cast<uint32_t>(number(p[1])),
				   static_cast<unsigned char>(p[2] == "tunnel" ? XFRM_MODE_TUNNEL
									       : XFRM_MODE_TRANSPORT),
				   static_cast<uint32_t>(number(p[3]))});
	}
	for (const std::string &text : split(f[2], ';')) {
		kernel::rule &r = c.rules.emplace_back(kernel::rule{hooks.at(f[0]), {}});
		for (const std::string &clause : split(text, '&')) {
			std::vector<std::string> w;
			for (const std::string &word : ztest::words(clause)) {
				const auto named = names.find(word);
				if (named == names.end())
					w.push_back(word);
				else
					w.insert(w.end(), named->second.begin(), named->second.end());
			}
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
		c.packets.emplace_back(p, b, reply,
				       star == std::string::npos ? 1 : number(p.substr(star + 1)));
	}
	const std::vector<std::string> counts = ztest::words(f[4]);
	c.refused = counts == std::vector<std::string>{"refused"};
	for (size_t i = 0; !c.refused && i < counts.size(); ++i)
		c.counts.push_back(number(counts[i]));
	if (!c.refused && c.counts.size() != c.rules.size())
		bad_table("one count a rule");
}

// --- IPsec through the kernel's XFRM netlink interface ---------------------

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
	xfrm_lifetime_cfg endless{};
	endless.soft_byte_limit = endless.hard_byte_limit = XFRM_INF;
	endless.soft_packet_limit = endless.hard_packet_limit = XFRM_INF;
	std::vector<xfrm_user_tmpl> templates;
	for (const transform &t : ipsec) {
		xfrm_usersa_info sa{};
		sa.family = sa.sel.family = static_cast<uint16_t>(e.family);
		std::memcpy(&sa.id.daddr, e.b, e.size);
		std::memcpy(&sa.saddr, e.a, e.size);
		sa.id.spi = htonl(t.spi);
		sa.id.proto = t.protocol->number;
		sa.mode = t.mode;
		sa.reqid = t.reqid;
		sa.lft = endless;
		xfrm_algo algorithm{};
		std::snprintf(algorithm.alg_name, sizeof algorithm.alg_name, "%s", t.protocol->algorithm);
		if (const int error =
			    xfrm_request(XFRM_MSG_NEWSA, raw(sa), t.protocol->attribute, raw(algorithm)))
			return std::string("the kernel cannot make an IPsec ") + t.protocol->name +
			       " state: " + std::strerror(error);
		xfrm_user_tmpl &tmpl = templates.emplace_back();
		tmpl.id = sa.id;
		tmpl.family = sa.family;
		tmpl.saddr = sa.saddr;
		tmpl.reqid = t.reqid;
		tmpl.mode = t.mode;
		tmpl.optional = t.protocol->number == IPPROTO_COMP; // small packets go uncompressed
		tmpl.aalgos = tmpl.ealgos = tmpl.calgos = ~0u;
	}
	for (const uint8_t dir : {XFRM_POLICY_OUT, XFRM_POLICY_IN}) {
		xfrm_userpolicy_info policy{};
		policy.sel.family = static_cast<uint16_t>(e.family);
		std::memcpy(&policy.sel.saddr, e.a, e.size);
		std::memcpy(&policy.sel.daddr, e.b, e.size);
		policy.sel.prefixlen_s = policy.sel.prefixlen_d = static_cast<uint8_t>(e.size * 8);
		policy.lft = endless;
		policy.dir = dir;
		policy.action = XFRM_POLICY_ALLOW;
		if (const int error = xfrm_request(XFRM_MSG_NEWPOLICY, raw(policy), XFRMA_TMPL,
						   raw(templates[0], templates.size())))
			return std::string("the kernel refused an IPsec policy: ") + std::strerror(error);
	}
	return "";
}

// --- One case in a namespace of its own --------------------------------------

std::string counts_text(const std::vector<uint64_t> &counts)
{
	std::string text = "counts";
	for (const uint64_t n : counts)
		text += " " + std::to_string(n);
	return text;
}

// Runs in a child: "counts N...", "refused WHY" or "skipped WHY".
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
	for (const auto &[setting, value] : {std::pair{"disable_xfrm", "0"},
					     {"disable_policy", "0"},
					     {"route_localnet", "1"},
					     {"accept_local", "1"}})
		if (std::FILE *f =
			    std::fopen((std::string("/proc/sys/net/ipv4/conf/lo/") + setting).c_str(), "w")) {
			std::fputs(value, f);
			std::fclose(f);
		}
	const int family = c.e.family;
	if (const std::string why = set_up_ipsec(c.e, c.ipsec); !why.empty())
		return "skipped " + why;
	if (const kernel::failure f = kernel::load_rules(c.e.code(), c.rules, true))
		return (f.environment ? "skipped " : "refused ") + f.message;
	// Sockets that take what arrives, so that the kernel answers no packet
	// with an error of its own, which the rules would count too.
	for (const int port : {1000, 1001, 2000}) {
		sockaddr_storage at{};
		at.ss_family = static_cast<sa_family_t>(family);
		reinterpret_cast<sockaddr_in *>(&at)->sin_port =
			htons(static_cast<uint16_t>(port)); // sin6_port too
		bind(socket(family, SOCK_DGRAM, 0), reinterpret_cast<sockaddr *>(&at),
		     family == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6));
	}
	for (const int proto : {int{IPPROTO_ESP}, int{IPPROTO_AH}, int{IPPROTO_COMP}, int{IPPROTO_NONE}})
		socket(family, SOCK_RAW, proto);
	const int sender = socket(family, SOCK_RAW, IPPROTO_RAW);
	for (const auto &[text, packet, reply, times] : c.packets) {
		sockaddr_storage to{};
		to.ss_family = static_cast<sa_family_t>(family);
		if (family == AF_INET)
			std::memcpy(&reinterpret_cast<sockaddr_in *>(&to)->sin_addr, reply ? c.e.a : c.e.b,
				    4);
		else
			std::memcpy(&reinterpret_cast<sockaddr_in6 *>(&to)->sin6_addr, reply ? c.e.a : c.e.b,
				    16);
		for (unsigned long i = 0; i < times; ++i)
			if (sendto(sender, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr *>(&to),
				   sizeof to) < 0)
				return failed("refused cannot send " + text);
	}
	// What loopback hands on to be received is done in the kernel's own time.
	std::vector<uint64_t> counted;
	for (const int wait_ms : {20, 300}) {
		usleep(static_cast<useconds_t>(wait_ms * 1000));
		if (const kernel::failure f = kernel::packet_counts(c.e.code(), c.rules, counted))
			return "refused " + f.message;
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
	const char *zunder = argv[1 + disagree];
	unsigned cases = 0, agree = 0, disagreed = 0, skipped = 0;
	std::map<std::string, unsigned> reasons; // how many cases each was skipped for
	for (int t = 2 + disagree; t < argc; ++t) {
		where = argv[t];
		const auto rows = ztest::read_table(argv[t]);
		if (!rows)
			bad_table("cannot read it");
		std::map<std::string, std::vector<std::string>> names;
		for (const ztest::table_line &row : *rows) {
			where = std::string(argv[t]) + ":" + std::to_string(row.at);
			if (row.word == "let") {
				const std::vector<std::string> w = ztest::words(row.rest);
				if (w.size() < 2)
					bad_table("let NAME WORDS");
				names[w[0]].assign(w.begin() + 1, w.end());
				continue;
			}
			test_case c{};
			read_case(c, row, zunder, names);
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
			const std::string expected = c.refused ? "refused" : counts_text(c.counts);
			const bool same = c.refused ? result.rfind("refused", 0) == 0 : result == expected;
			if (same != disagree) {
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
