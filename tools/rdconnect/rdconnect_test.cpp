// SPDX-License-Identifier: GPL-2.0-or-later
// Runs the built rdconnect against a private Xvfb and reads the root-window
// property back with Xlib.

// gtest comes before Xlib, whose macros (None, Bool, Status) clash with it.
#include <gtest/gtest.h>

#include "zunder_run.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <string>
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

// A display number that no server on this machine answers on.
std::string unserved_display()
{
	struct stat st;
	for (int n = 500 + getpid() % 200;; ++n) {
		const std::string lock = "/tmp/.X" + std::to_string(n) + "-lock";
		const std::string socket = "/tmp/.X11-unix/X" + std::to_string(n);
		if (stat(lock.c_str(), &st) != 0 && stat(socket.c_str(), &st) != 0)
			return display_name(std::to_string(n));
	}
}

pid_t xvfb = -1;

void stop_xvfb()
{
	if (xvfb > 0) {
		kill(xvfb, SIGTERM);
		waitpid(xvfb, nullptr, 0);
		xvfb = -1;
	}
}

// Starts Xvfb on a number it picks itself (-displayfd) and returns ":N".
std::string start_xvfb()
{
	int fd[2];
	if (pipe2(fd, O_CLOEXEC) != 0)
		return "";
	const pid_t parent = getpid();
	const pid_t pid = fork();
	if (pid == 0) {
		// Die with the test process even if it is killed outright.
		prctl(PR_SET_PDEATHSIG, SIGKILL);
		if (getppid() != parent)
			_exit(1);
		fcntl(fd[1], F_SETFD, 0);
		const int null = open("/dev/null", O_RDWR);
		dup2(null, 0);
		dup2(null, 1);
		dup2(null, 2);
		const std::string fd_text = std::to_string(fd[1]);
		execlp("Xvfb", "Xvfb", "-displayfd", fd_text.c_str(), "-nolisten", "tcp", "-screen", "0",
		       "320x240x24", static_cast<char *>(nullptr));
		_exit(127);
	}
	close(fd[1]);
	if (pid < 0) {
		close(fd[0]);
		return "";
	}
	xvfb = pid;
	std::atexit(stop_xvfb);

	std::string number;
	pollfd p{fd[0], POLLIN, 0};
	while (number.find('\n') == std::string::npos && poll(&p, 1, 20000) > 0) {
		char buffer[32];
		const ssize_t n = read(fd[0], buffer, sizeof buffer);
		if (n <= 0)
			break;
		number.append(buffer, static_cast<size_t>(n));
	}
	close(fd[0]);
	if (number.find('\n') == std::string::npos)
		return "";
	return display_name(number.substr(0, number.find('\n')));
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

TEST_F(RdconnectTest, WritesTargetBytesExactly)
{
	const std::vector<std::string> targets = {
		"10.0.0.5:5500",
		"", // gives a zero-length property
		"\xc3\xa9 host:1",
		"viewer.example",
		std::string(70000, 'x') + ":1", // beyond a single small request
	};
	for (const auto &target : targets) {
		SCOPED_TRACE("target of " + std::to_string(target.size()) +
			     " bytes: " + target.substr(0, 20));
		const run_result r = run_rdconnect({"-display", display_, target}, std::nullopt);
		EXPECT_EQ(r.status, 0);
		EXPECT_EQ(r.out, "");
		EXPECT_EQ(r.err, "");
		EXPECT_EQ(property(), std::optional<std::string>(target));
	}
}

TEST_F(RdconnectTest, LaterRunReplacesValue)
{
	ASSERT_EQ(run_rdconnect({"-display", display_, "first-and-longer:5500"}, {}).status, 0);
	ASSERT_EQ(run_rdconnect({"-display", display_, "b:1"}, {}).status, 0);
	EXPECT_EQ(property(), std::optional<std::string>("b:1"));
}

TEST_F(RdconnectTest, DisplayOptionSpellings)
{
	for (const char *option : {"-d", "-dpy", "-display"}) {
		SCOPED_TRACE(option);
		const run_result r =
			run_rdconnect({option, display_, std::string("via") + option}, std::nullopt);
		EXPECT_EQ(r.status, 0);
		EXPECT_EQ(property(), std::optional<std::string>(std::string("via") + option));
	}
}

TEST_F(RdconnectTest, UsesDisplayFromEnvironmentWithoutOption)
{
	const run_result r = run_rdconnect({"from-env:2"}, display_);
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(property(), std::optional<std::string>("from-env:2"));
}

TEST_F(RdconnectTest, LastDisplayOptionWins)
{
	const std::string nowhere = unserved_display();
	const run_result ok = run_rdconnect({"-display", nowhere, "-d", display_, "h:1"}, std::nullopt);
	EXPECT_EQ(ok.status, 0);
	EXPECT_EQ(ok.err, "");
	EXPECT_EQ(property(), std::optional<std::string>("h:1"));

	delete_property();
	const run_result bad = run_rdconnect({"-display", display_, "-display", nowhere, "h:2"}, display_);
	EXPECT_EQ(bad.status, 1);
	EXPECT_EQ(bad.err, open_failure_text(argv0, nowhere));
	EXPECT_EQ(property(), std::nullopt);
}

TEST_F(RdconnectTest, ArgumentErrorsShowUsage)
{
	const std::string d = display_;
	const std::vector<std::vector<std::string>> cases = {
		{},
		{"-"},
		{"-h"},
		{"-h", d, "host:1"},
		{"--display", d, "host:1"},
		{"-display"},
		{"host:1", "-display"},
		{"-display", d},
		{"host:1", "host:2"},
		{"-display", d, "host:1", "host:2"},
		{"host:1", "-display", d},
	};
	for (const auto &args : cases) {
		std::string shown;
		for (const auto &a : args)
			shown += "[" + a + "]";
		SCOPED_TRACE("args: " + shown);
		// DISPLAY is valid, so a run that wrongly went ahead would write.
		const run_result r = run_rdconnect(args, display_);
		EXPECT_EQ(r.status, 1);
		EXPECT_EQ(r.out, "");
		EXPECT_EQ(r.err, usage_text(argv0));
		EXPECT_EQ(property(), std::nullopt);
	}
}

TEST_F(RdconnectTest, UnreachableDisplayIsReported)
{
	const std::string nowhere = unserved_display();
	const run_result r = run_rdconnect({"-display", nowhere, "host:1"}, display_);
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.out, "");
	EXPECT_EQ(r.err, open_failure_text(argv0, nowhere));
	EXPECT_EQ(property(), std::nullopt);
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
// host part, so the X library refuses them without a network look-up.
TEST_F(RdconnectTest, NamesWithControlBytesAreEchoedOnOneLine)
{
	const bool native = ztest::emulator().empty();
	const struct {
		std::vector<std::string> args;
		std::optional<std::string> display;
		std::string argv0, err;
	} cases[] = {
		{{"-display", ":\n3", "host:1"}, display_, argv0, open_failure_text(argv0, ":\\x0a3")},
		{{"-display", ":1\x1b[2J\x7f", "host:1"},
		 display_,
		 argv0,
		 open_failure_text(argv0, ":1\\x1b[2J\\x7f")},
		{{"host:1"}, ":9\n0", argv0, open_failure_text(argv0, ":9\\x0a0")},
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

} // namespace
