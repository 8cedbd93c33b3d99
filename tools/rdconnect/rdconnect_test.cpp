// SPDX-License-Identifier: GPL-2.0-or-later
// Runs the built rdconnect against a private Xvfb and reads the root-window
// property back with Xlib.

// gtest comes before Xlib, whose macros (None, Bool, Status) clash with it.
#include <gtest/gtest.h>

#include "table.h"
#include "zunder_run.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using ztest::run_result;

const std::string binary = RDCONNECT_BIN;
// Under an emulator the program sees its own path as argv[0]; otherwise it
// gets a name of its own, to show that messages use argv[0], not a fixed name.
const std::string argv0 = ztest::emulator().empty() ? "rdc-under-test" : binary;

// Runs rdconnect with `args`, with DISPLAY set to `display` or unset.
run_result run_rdconnect(const std::vector<std::string> &args, const std::optional<std::string> &display)
{
	return ztest::run({binary, args, {display ? "DISPLAY=" + *display : "DISPLAY"}, argv0});
}

std::string usage_text(const std::string &name)
{
	return "usage: " + name +
	       " [-display Xtarvik-display] host[:port]\n"
	       "Tells Xtarvik to connect to a listening TARVIK viewer on the given "
	       "host and port\n";
}

std::string open_failure_text(const std::string &name, const std::string &display)
{
	return name + ": unable to open display \"" + display + "\"\n";
}

// ":N".  Appended rather than written ":" + text, which GCC 12 at -O3
// reports as an overlapping copy (a false -Wrestrict in the inlined insert).
std::string display_name(const std::string &number)
{
	std::string name = ":";
	name += number;
	return name;
}

// Whether anything takes a connection at `address`.
bool answers(const sockaddr *address, socklen_t size)
{
	const int fd = socket(address->sa_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
	const bool taken = fd >= 0 && connect(fd, address, size) == 0;
	if (fd >= 0)
		close(fd);
	return taken;
}

// Whether display n may have a server: its lock or socket file exists, or
// something answers where the X library looks for it.  That is the abstract
// socket first (a server whose /tmp is not ours listens there too), then the
// socket file, then TCP port 6000 + n on the loopback address.
bool display_taken(int n)
{
	const std::string path = "/tmp/.X11-unix/X" + std::to_string(n);
	struct stat st;
	if (stat(("/tmp/.X" + std::to_string(n) + "-lock").c_str(), &st) == 0 || stat(path.c_str(), &st) == 0)
		return true;
	sockaddr_un abstract{};
	abstract.sun_family = AF_UNIX;
	std::memcpy(abstract.sun_path + 1, path.data(), path.size()); // after the leading zero byte
	sockaddr_in tcp4{};
	tcp4.sin_family = AF_INET;
	tcp4.sin_port = htons(static_cast<uint16_t>(6000 + n));
	tcp4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
	sockaddr_in6 tcp6{};
	tcp6.sin6_family = AF_INET6;
	tcp6.sin6_port = tcp4.sin_port;
	tcp6.sin6_addr = in6addr_loopback;
	return answers(reinterpret_cast<const sockaddr *>(&abstract),
		       static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + path.size())) ||
	       answers(reinterpret_cast<const sockaddr *>(&tcp4), sizeof tcp4) ||
	       answers(reinterpret_cast<const sockaddr *>(&tcp6), sizeof tcp6);
}

// A display number that no server on this machine answers on.
std::string unserved_display()
{
	for (int n = 500 + getpid() % 200;; ++n)
		if (!display_taken(n))
			return display_name(std::to_string(n));
}

pid_t xvfb = -1;

void stop_xvfb()
{
	if (xvfb > 0)
		kill(xvfb, SIGTERM);
	xvfb = -1;
}

// Starts the tests' own X server with scripts/private-xvfb.sh, the way the
// demo does, owned by this process; returns ":N".
std::string start_xvfb()
{
	const run_result r =
		ztest::run_shell("\"$SCRIPT\" " + std::to_string(getpid()), {"SCRIPT=" PRIVATE_XVFB_SCRIPT});
	const size_t blank = r.out.find(' ');
	if (r.status != 0 || blank == std::string::npos)
		return "";
	xvfb = static_cast<pid_t>(std::stol(r.out.substr(blank + 1)));
	std::atexit(stop_xvfb);
	return r.out.substr(0, blank);
}

class RdconnectTest : public testing::Test {
protected:
	static void SetUpTestSuite()
	{
		display_ = start_xvfb();
		ASSERT_FALSE(display_.empty()) << "Xvfb did not start";
		connection_ = XOpenDisplay(display_.c_str());
		ASSERT_NE(connection_, nullptr) << "cannot open " << display_;
		atom_ = XInternAtom(connection_, "TARVIK_CONNECT", False);
	}

	static void TearDownTestSuite()
	{
		if (connection_)
			XCloseDisplay(connection_);
		connection_ = nullptr;
		stop_xvfb();
	}

	void SetUp() override
	{
		ASSERT_NE(connection_, nullptr);
		delete_property();
	}

	static void delete_property()
	{
		XDeleteProperty(connection_, DefaultRootWindow(connection_), atom_);
		XSync(connection_, False);
	}

	// The property's value, or nullopt when it is absent.  Type and format
	// are checked here since every written value must carry them.
	static std::optional<std::string> property()
	{
		Atom type = None;
		int format = 0;
		unsigned long items = 0, after = 0;
		unsigned char *data = nullptr;
		const int rc =
			XGetWindowProperty(connection_, DefaultRootWindow(connection_), atom_, 0, 1L << 20,
					   False, AnyPropertyType, &type, &format, &items, &after, &data);
		EXPECT_EQ(rc, Success);
		std::optional<std::string> value;
		if (type != None) {
			EXPECT_EQ(type, XA_STRING);
			EXPECT_EQ(format, 8);
			EXPECT_EQ(after, 0u);
			value = std::string(reinterpret_cast<char *>(data), items);
		}
		if (data)
			XFree(data);
		return value;
	}

	static inline std::string display_;
	static inline Display *connection_ = nullptr;
	static inline Atom atom_ = None;
};

// The runs of rdconnect.cases (its head describes the rows), each against
// the tests' server; a failure names the table's line.
TEST_F(RdconnectTest, Runs)
{
	const std::string nowhere = unserved_display();
	const auto word = [&](const std::string &w) {
		return w == "D" ? display_ : w == "NOWHERE" ? nowhere : w == "EMPTY" ? "" : w;
	};
	const auto table = ztest::read_table(RDCONNECT_CASES);
	ASSERT_TRUE(table) << "cannot read " RDCONNECT_CASES;
	std::optional<std::string> display; // DISPLAY, or unset
	int runs = 0;
	for (const ztest::table_line &line : *table) {
		const std::vector<std::string> f = ztest::fields(line.rest);
		if (line.word == "display" &&
		    (line.rest == "unset" || line.rest == "D" || line.rest == "NOWHERE")) {
			display = line.rest == "unset" ? std::nullopt
						       : std::optional<std::string>(word(line.rest));
			continue;
		}
		const bool refused = line.word == "refused";
		if ((!refused && line.word != "writes" && line.word != "replaces") || f.size() != 2) {
			ADD_FAILURE_AT(RDCONNECT_CASES, line.at)
				<< "not a row of a known kind: " << line.text;
			continue;
		}
		if (line.word != "replaces")
			delete_property();
		std::vector<std::string> args;
		for (const std::string &w : ztest::words(f[0]))
			args.push_back(word(w));
		const std::string cell = ztest::decoded(f[1]);
		const std::string err = !refused          ? ""
					: cell == "USAGE" ? usage_text(argv0)
					: cell == "OPEN"  ? open_failure_text(argv0, nowhere)
							  : cell;
		const auto value = refused ? std::nullopt : std::optional<std::string>(cell);
		const run_result r = run_rdconnect(args, display);
		const auto got = property();
		++runs;
		if (r.status != (refused ? 1 : 0) || !r.out.empty() || r.err != err || got != value)
			ADD_FAILURE_AT(RDCONNECT_CASES, line.at)
				<< "exit " << r.status << ", stdout '" << r.out << "', stderr '" << r.err
				<< "', property " << (got ? "'" + got->substr(0, 40) + "'" : "absent");
	}
	EXPECT_GT(runs, 0) << "no runs in " RDCONNECT_CASES;
	std::printf("%s: %d runs\n", RDCONNECT_CASES, runs);
}

// Without an option the message names the default display as Xlib reports
// it for the same environment: DISPLAY pointing nowhere, or DISPLAY unset.
TEST_F(RdconnectTest, UnreachableDefaultDisplayIsReported)
{
	const char *saved = std::getenv("DISPLAY");
	const std::string saved_value = saved ? saved : "";
	for (const std::optional<std::string> &display :
	     {std::optional<std::string>(unserved_display()), std::optional<std::string>()}) {
		SCOPED_TRACE(display ? "DISPLAY=" + *display : "DISPLAY unset");
		if (display)
			setenv("DISPLAY", display->c_str(), 1);
		else
			unsetenv("DISPLAY");
		const std::string expected_name = XDisplayName(nullptr);
		const run_result r = run_rdconnect({"host:1"}, display);
		EXPECT_EQ(r.status, 1);
		EXPECT_EQ(r.err, open_failure_text(argv0, expected_name));
	}
	if (saved)
		setenv("DISPLAY", saved_value.c_str(), 1);
	else
		unsetenv("DISPLAY");
	EXPECT_EQ(property(), std::nullopt);
}

// Display and program names holding control bytes are echoed with them as
// \xHH, so that each message stays one line.  None of these names has a
// host part, so the X library refuses them without a network look-up; it
// reads ":\nN" as display N, so N is one that no server answers on.
TEST_F(RdconnectTest, NamesWithControlBytesAreEchoedOnOneLine)
{
	const bool native = ztest::emulator().empty();
	const std::string n = unserved_display().substr(1);
	const struct {
		std::vector<std::string> args;
		std::optional<std::string> display;
		std::string argv0, err;
	} cases[] = {
		{{"-display", ":\n" + n, "host:1"}, display_, argv0, open_failure_text(argv0, ":\\x0a" + n)},
		{{"-display", ":" + n + "\x1b[2J\x7f", "host:1"},
		 display_,
		 argv0,
		 open_failure_text(argv0, ":" + n + "\\x1b[2J\\x7f")},
		{{"host:1"}, ":" + n + "\n0", argv0, open_failure_text(argv0, ":" + n + "\\x0a0")},
		{{"-display", ":\r", "host:1"},
		 display_,
		 native ? "evil\nname" : binary,
		 open_failure_text(native ? "evil\\x0aname" : binary, ":\\x0d")},
		{{}, display_, native ? "a\tb" : binary, usage_text(native ? "a\\x09b" : binary)},
	};
	for (const auto &c : cases) {
		const run_result r = ztest::run(
			{binary, c.args, {c.display ? "DISPLAY=" + *c.display : "DISPLAY"}, c.argv0});
		EXPECT_EQ(r.status, 1) << c.err;
		EXPECT_EQ(r.out, "") << c.err;
		EXPECT_EQ(r.err, c.err);
	}
	EXPECT_EQ(property(), std::nullopt);
}

// Started with an empty argument vector, the tool still prints usage under
// its own name instead of dereferencing a missing argv[0].
TEST_F(RdconnectTest, EmptyArgumentVectorShowsUsage)
{
	if (!ztest::emulator().empty())
		GTEST_SKIP() << "argv[0] is set by the emulator";
	ztest::run_request request{binary, {}, {"DISPLAY=" + display_}};
	request.no_argv = true;
	const run_result r = ztest::run(request);
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.out, "");
	EXPECT_EQ(r.err, usage_text("rdconnect"));
}

// A display of its own in front of the tests' Xvfb that makes the server
// answer with an X error: it passes the bytes on both ways, but gives every
// ChangeProperty request a mode that does not exist (BadValue).  It keeps
// every byte its one client sent.
class erring_display {
public:
	explicit erring_display(const std::string &server) : name_(unserved_display())
	{
		const std::string path = "/tmp/.X11-unix/X" + name_.substr(1);
		listener_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
		if (!bind_to(listener_, path, true) || listen(listener_, 1) != 0)
			return;
		path_ = path;
		relay_ = std::thread([this, server] { relay("/tmp/.X11-unix/X" + server.substr(1)); });
	}
	~erring_display()
	{
		if (relay_.joinable())
			relay_.join();
		if (!path_.empty())
			unlink(path_.c_str());
		close(listener_);
	}
	bool ready() const { return !path_.empty(); }
	const std::string &name() const { return name_; }
	// What the client sent; call once it is gone.
	const std::string &sent()
	{
		if (relay_.joinable())
			relay_.join();
		return sent_;
	}

private:
	static bool bind_to(int fd, const std::string &path, bool listening)
	{
		sockaddr_un address{};
		address.sun_family = AF_UNIX;
		std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
		const auto *a = reinterpret_cast<const sockaddr *>(&address);
		return fd >= 0 &&
		       (listening ? bind(fd, a, sizeof address) : connect(fd, a, sizeof address)) == 0;
	}

	static uint32_t number(const std::string &bytes, size_t at, size_t width)
	{
		uint32_t value = 0; // the client's byte order is little-endian ('l') on this build's machines
		for (size_t i = width; i-- > 0;)
			value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
		return value;
	}

	// The length of the first whole request in `pending`, or 0 while it is
	// incomplete; the connection set-up comes first.
	size_t whole_request(const std::string &pending) const
	{
		if (!set_up_) {
			if (pending.size() < 12)
				return 0;
			const size_t length = 12 + (number(pending, 6, 2) + 3) / 4 * 4 +
					      (number(pending, 8, 2) + 3) / 4 * 4;
			return pending.size() >= length ? length : 0;
		}
		if (pending.size() < 4)
			return 0;
		uint32_t words = number(pending, 2, 2);
		if (words == 0 && pending.size() >= 8) // a big request: its length follows the header
			words = number(pending, 4, 4);
		return words != 0 && pending.size() >= 4u * words ? 4u * words : 0;
	}

	void relay(const std::string &server_path)
	{
		pollfd waiting{listener_, POLLIN, 0};
		if (poll(&waiting, 1, 30000) != 1)
			return;
		const int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
		const int server = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
		if (client >= 0 && bind_to(server, server_path, false)) {
			std::string pending;
			pollfd ends[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
			char buffer[65536];
			while (poll(ends, 2, 30000) > 0) {
				const bool from_client = ends[0].revents != 0;
				const ssize_t n = read(from_client ? client : server, buffer, sizeof buffer);
				if (n <= 0)
					break;
				if (!from_client) {
					if (write(client, buffer, static_cast<size_t>(n)) != n)
						break;
					continue;
				}
				sent_.append(buffer, static_cast<size_t>(n));
				pending.append(buffer, static_cast<size_t>(n));
				for (size_t length; (length = whole_request(pending)) != 0;
				     pending.erase(0, length)) {
					if (set_up_ &&
					    pending[0] == 18) // ChangeProperty: mode 7 does not exist
						pending[1] = 7;
					set_up_ = true;
					if (write(server, pending.data(), length) !=
					    static_cast<ssize_t>(length))
						break;
				}
			}
		}
		close(server);
		if (client >= 0)
			close(client);
	}

	std::string name_, path_, sent_;
	int listener_ = -1;
	bool set_up_ = false;
	std::thread relay_;
};

// Started with standard error closed, the connection to the display must not
// take descriptor 2: the X library writes the text of an X error there, which
// would go to the server as requests.  Output and input stay open, so a
// closed descriptor 2 would be the first free one.
TEST_F(RdconnectTest, StandardErrorClosedKeepsErrorTextOutOfTheConnection)
{
	if (!ztest::emulator().empty())
		GTEST_SKIP() << "under the emulator its own files take the closed descriptors";
	erring_display erring(display_);
	ASSERT_TRUE(erring.ready()) << "cannot listen on " << erring.name();
	const pid_t child = fork();
	ASSERT_GE(child, 0);
	if (child == 0) {
		const int devnull = open("/dev/null", O_RDWR);
		dup2(devnull, 0);
		dup2(devnull, 1);
		close(devnull);
		close(2);
		execl(binary.c_str(), argv0.c_str(), "-display", erring.name().c_str(), "probe:1", nullptr);
		_exit(127);
	}
	int status = 0;
	waitpid(child, &status, 0);
	// The X library's handler ends the program with status 1 after an X error.
	EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << "status " << status;
	const std::string &sent = erring.sent();
	EXPECT_NE(sent.find("probe:1"), std::string::npos) << "the request never reached the display";
	EXPECT_EQ(sent.find("X Error"), std::string::npos)
		<< "error text sent to the server: " << sent.substr(sent.find("X Error"));
	EXPECT_EQ(property(), std::nullopt);
}

} // namespace
