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
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

const std::string binary = RDCONNECT_BIN;
// The usage text after the program's name.
const std::string usage_tail =
	" [-display Xtarvik-display] host[:port]\n"
	"Tells Xtarvik to connect to a listening TARVIK viewer on the given host and port\n";

// A stream socket connected to `address`, or listening there; -1 if not.
int stream_socket(const void *address, size_t size, bool listening = false)
{
	const auto *a = static_cast<const sockaddr *>(address);
	const auto n = static_cast<socklen_t>(size);
	const int fd = socket(a->sa_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
	if (fd < 0 || (listening ? bind(fd, a, n) || listen(fd, 1) : connect(fd, a, n)) == 0)
		return fd;
	close(fd);
	return -1;
}

// The address of the unix socket `path`, from `at` in sun_path.
sockaddr_un unix_address(const std::string &path, size_t at = 0)
{
	sockaddr_un address{};
	address.sun_family = AF_UNIX;
	path.copy(address.sun_path + at, sizeof address.sun_path - 1 - at);
	return address;
}

// Whether something takes a connection at `address`.
bool answers(const void *address, size_t size)
{
	const int fd = stream_socket(address, size);
	return fd >= 0 && close(fd) == 0;
}

// A display number that no server on this machine may have: its lock and
// socket files are missing, and nothing answers where the X library looks,
// the abstract socket (a server whose /tmp is not ours listens there too)
// or TCP port 6000 + N on the loopback address.
int unserved_display()
{
	for (int n = 500 + getpid() % 200;; ++n) {
		const std::string path = "/tmp/.X11-unix/X" + std::to_string(n);
		const sockaddr_un abstract = unix_address(path, 1); // after a zero byte
		const sockaddr_in tcp4{AF_INET,
				       htons(static_cast<uint16_t>(6000 + n)),
				       {htonl(INADDR_LOOPBACK)},
				       {}};
		const sockaddr_in6 tcp6{AF_INET6, tcp4.sin_port, 0, in6addr_loopback, 0};
		if (access(("/tmp/.X" + std::to_string(n) + "-lock").c_str(), F_OK) != 0 &&
		    access(path.c_str(), F_OK) != 0 &&
		    !answers(&abstract, offsetof(sockaddr_un, sun_path) + 1 + path.size()) &&
		    !answers(&tcp4, sizeof tcp4) && !answers(&tcp6, sizeof tcp6))
			return n;
	}
}

class RdconnectTest : public testing::Test {
protected:
	// Starts the tests' own X server with scripts/private-xvfb.sh, as the
	// demo does: owned by this process, and stopped when it exits.
	static void SetUpTestSuite()
	{
		const ztest::run_result r = ztest::run_shell("\"$SCRIPT\" " + std::to_string(getpid()),
							     {"SCRIPT=" PRIVATE_XVFB_SCRIPT});
		const size_t blank = r.out.find(' '); // ":N PID"
		ASSERT_TRUE(r.status == 0 && blank != std::string::npos) << "Xvfb did not start";
		display_ = r.out.substr(0, blank);
		xvfb_ = static_cast<pid_t>(std::stol(r.out.substr(blank + 1)));
		std::atexit([] { kill(xvfb_, SIGTERM); });
		connection_ = XOpenDisplay(display_.c_str());
		ASSERT_NE(connection_, nullptr) << "cannot open " << display_;
		atom_ = XInternAtom(connection_, "TARVIK_CONNECT", False);
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
		EXPECT_EQ(XGetWindowProperty(connection_, DefaultRootWindow(connection_), atom_, 0, 1L << 20,
					     False, AnyPropertyType, &type, &format, &items, &after, &data),
			  Success);
		std::optional<std::string> value;
		if (type != None) {
			EXPECT_EQ(type, XA_STRING);
			EXPECT_EQ(format, 8);
			EXPECT_EQ(after, 0u);
			value = std::string(reinterpret_cast<char *>(data), items);
		}
		XFree(data);
		return value;
	}

	static inline std::string display_;
	static inline Display *connection_ = nullptr;
	static inline Atom atom_ = None;
	static inline pid_t xvfb_ = -1;
};

// The runs of rdconnect.cases (its head describes the rows), each against
// the tests' server; a failure names the table's line.
TEST_F(RdconnectTest, Runs)
{
	const std::string number = std::to_string(unserved_display());
	const auto table = ztest::read_table(RDCONNECT_CASES);
	ASSERT_TRUE(table) << "cannot read " RDCONNECT_CASES;
	ztest::run_request run{binary, {}, {"DISPLAY"}};
	std::string name; // argv[0] as the messages show it
	int runs = 0;
	for (const ztest::table_line &line : *table) {
		std::string rest = line.rest;
		for (size_t at; (at = rest.find("{N}")) != std::string::npos;)
			rest.replace(at, 3, number);
		const std::vector<std::string> f = ztest::fields(rest);
		if (line.word == "name") {
			run.argv0 = ztest::decoded(rest);
			run.no_argv = rest == "NONE";
			name = ztest::emulated() ? binary : run.no_argv ? "rdconnect" : rest;
			continue;
		}
		if (line.word == "display") {
			const std::string value = rest == "D" ? display_ : ztest::decoded(rest);
			run.env = {rest == "unset" ? "DISPLAY" : "DISPLAY=" + value};
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
		run.args.clear();
		for (const std::string &w : ztest::words(f[0]))
			run.args.push_back(w == "D" ? display_ : w == "EMPTY" ? "" : w);
		const std::string &cell = f[1];
		std::string err = refused ? ztest::decoded(cell) : "";
		if (refused && cell == "USAGE")
			err = "usage: " + name + usage_tail;
		else if (refused && cell.compare(0, 4, "OPEN") == 0)
			err = name + ": unable to open display \"" + cell.substr(cell.size() > 4 ? 5 : 4) +
			      "\"\n";
		const auto value = refused ? std::nullopt : std::optional<std::string>(ztest::decoded(cell));
		const ztest::run_result r = ztest::run(run);
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

// Relays the one client of `listener` to the server at `server`, but gives
// the ChangeProperty request (opcode 18, a 24-byte head) that carries
// `target` a mode that does not exist, so the server answers with an X error
// (BadValue).  Returns what the client sent.
std::string erring_relay(int listener, const std::string &server, const std::string &target)
{
	pollfd waiting{listener, POLLIN, 0};
	const int client =
		poll(&waiting, 1, 30000) == 1 ? accept4(listener, nullptr, nullptr, SOCK_CLOEXEC) : -1;
	const sockaddr_un address = unix_address(server);
	const int upstream = stream_socket(&address, sizeof address);
	pollfd ends[2] = {{client, POLLIN, 0}, {upstream, POLLIN, 0}};
	std::string sent;
	char buffer[65536];
	while (client >= 0 && upstream >= 0 && poll(ends, 2, 30000) > 0) {
		const bool from_client = ends[0].revents != 0;
		const ssize_t n = read(from_client ? client : upstream, buffer, sizeof buffer);
		if (n <= 0)
			break;
		const std::string chunk(buffer, static_cast<size_t>(n));
		const size_t at = from_client ? chunk.find(target) : std::string::npos;
		if (at != std::string::npos && at >= 24 && buffer[at - 24] == 18)
			buffer[at - 23] = 7;
		if (from_client)
			sent += chunk;
		if (write(from_client ? upstream : client, buffer, chunk.size()) != n)
			break;
	}
	close(upstream);
	close(client);
	return sent;
}

// Started with standard error closed, the connection to the display must not
// take descriptor 2: the X library writes the text of an X error there, which
// would go to the server as requests.  Output and input stay open, so a
// closed descriptor 2 would be the first free one.
TEST_F(RdconnectTest, StandardErrorClosedKeepsErrorTextOutOfTheConnection)
{
	if (ztest::emulated())
		GTEST_SKIP() << "under the emulator its own files take the closed descriptors";
	const std::string number = std::to_string(unserved_display());
	const sockaddr_un address = unix_address("/tmp/.X11-unix/X" + number);
	const int listener = stream_socket(&address, sizeof address, true);
	ASSERT_GE(listener, 0) << "cannot listen on " << address.sun_path;
	std::string sent;
	std::thread relay(
		[&] { sent = erring_relay(listener, "/tmp/.X11-unix/X" + display_.substr(1), "probe:1"); });
	const ztest::run_result r = ztest::run_shell("\"$BIN\" -display :$N probe:1 </dev/null 2>&-",
						     {"BIN=" + binary, "N=" + number});
	relay.join();
	unlink(address.sun_path);
	close(listener);
	// The X library's handler ends the program with status 1 after an X error.
	EXPECT_EQ(r.status, 1);
	EXPECT_NE(sent.find("probe:1"), std::string::npos) << "the request never reached the display";
	EXPECT_EQ(sent.find("X Error"), std::string::npos) << "error text sent to the server: " << sent;
	EXPECT_EQ(property(), std::nullopt);
}

} // namespace
