// Runs the built rdconnect against a private Xvfb and reads the root-window
// property back with Xlib.

// gtest comes before Xlib, whose macros (None, Bool, Status) clash with it.
#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

extern char **environ;

namespace {

const std::string kBinary = RDCONNECT_BIN;
// The emulator command and its arguments, separated by '|', or empty.
std::vector<std::string> SplitEmulator(const std::string &text) {
    std::vector<std::string> words;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('|', start);
        if (end == std::string::npos) end = text.size();
        if (end > start) words.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return words;
}
const std::vector<std::string> kEmulator = SplitEmulator(RDCONNECT_EMULATOR);
// Under an emulator the program sees its own path as argv[0]; otherwise we
// pick a distinct name to show that messages use argv[0], not a fixed name.
const std::string kArgv0 = kEmulator.empty() ? "rdc-under-test" : kBinary;

struct Result {
    int status = -1;  // exit status, or -1 if killed / timed out
    std::string out, err;
};

// Environment for a child: ours without DISPLAY, plus DISPLAY if given.
std::vector<std::string> ChildEnv(const std::optional<std::string> &display) {
    std::vector<std::string> env;
    for (char **e = environ; *e; ++e)
        if (std::strncmp(*e, "DISPLAY=", 8) != 0) env.emplace_back(*e);
    if (display) env.push_back("DISPLAY=" + *display);
    return env;
}

std::vector<char *> CStrings(std::vector<std::string> &v) {
    std::vector<char *> p;
    for (auto &s : v) p.push_back(s.data());
    p.push_back(nullptr);
    return p;
}

// Runs rdconnect with the given arguments (argv[0] added here), capturing
// stdout and stderr; a run that outlives the timeout is killed.
Result RunTool(const std::vector<std::string> &args,
           const std::optional<std::string> &display) {
    std::vector<std::string> argv;
    argv.insert(argv.end(), kEmulator.begin(), kEmulator.end());
    argv.push_back(kArgv0);
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> env = ChildEnv(display);
    auto argp = CStrings(argv), envp = CStrings(env);
    const std::string &path = kEmulator.empty() ? kBinary : kEmulator.front();

    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe: " << std::strerror(errno);
        return {};
    }
    pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        dup2(err[1], 2);
        execvpe(path.c_str(), argp.data(), envp.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);

    Result r;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string *sinks[2] = {&r.out, &r.err};
    bool timed_out = false;
    while (fds[0].fd >= 0 || fds[1].fd >= 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) { timed_out = true; break; }
        if (poll(fds, 2, static_cast<int>(left.count())) < 0 && errno != EINTR)
            break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
            char buf[4096];
            ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                sinks[i]->append(buf, static_cast<size_t>(n));
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
            }
        }
    }
    for (auto &f : fds)
        if (f.fd >= 0) close(f.fd);
    if (timed_out) kill(pid, SIGKILL);
    int ws = 0;
    waitpid(pid, &ws, 0);
    EXPECT_FALSE(timed_out) << "rdconnect did not finish in time";
    if (!timed_out && WIFEXITED(ws)) r.status = WEXITSTATUS(ws);
    return r;
}

std::string UsageText(const std::string &name) {
    return "usage: " + name +
           " [-display Xtarvik-display] host[:port]\n"
           "Tells Xtarvik to connect to a listening TARVIK viewer on the given "
           "host and port\n";
}

std::string OpenFailureText(const std::string &name, const std::string &dpy) {
    return name + ": unable to open display \"" + dpy + "\"\n";
}

// ":N".  Appended rather than written ":" + text, which GCC 12 at -O3
// reports as an overlapping copy (a false -Wrestrict in the inlined insert).
std::string DisplayName(const std::string &number) {
    std::string name = ":";
    name += number;
    return name;
}

// A display number that no server on this machine answers on.
std::string UnservedDisplay() {
    struct stat st;
    for (int n = 500 + getpid() % 200;; ++n) {
        std::string lock = "/tmp/.X" + std::to_string(n) + "-lock";
        std::string sock = "/tmp/.X11-unix/X" + std::to_string(n);
        if (stat(lock.c_str(), &st) != 0 && stat(sock.c_str(), &st) != 0)
            return DisplayName(std::to_string(n));
    }
}

pid_t g_xvfb = -1;

void StopXvfb() {
    if (g_xvfb > 0) {
        kill(g_xvfb, SIGTERM);
        waitpid(g_xvfb, nullptr, 0);
        g_xvfb = -1;
    }
}

// Starts Xvfb on a number it picks itself (-displayfd) and returns ":N".
std::string StartXvfb() {
    int fd[2];
    if (pipe2(fd, O_CLOEXEC) != 0) return "";
    pid_t parent = getpid();
    pid_t pid = fork();
    if (pid == 0) {
        // Die with the test process even if it is killed outright.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(1);
        fcntl(fd[1], F_SETFD, 0);
        int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
        std::string fdtext = std::to_string(fd[1]);
        execlp("Xvfb", "Xvfb", "-displayfd", fdtext.c_str(), "-nolisten", "tcp",
               "-screen", "0", "320x240x24", static_cast<char *>(nullptr));
        _exit(127);
    }
    close(fd[1]);
    if (pid < 0) { close(fd[0]); return ""; }
    g_xvfb = pid;
    std::atexit(StopXvfb);

    std::string number;
    pollfd p{fd[0], POLLIN, 0};
    while (number.find('\n') == std::string::npos && poll(&p, 1, 20000) > 0) {
        char buf[32];
        ssize_t n = read(fd[0], buf, sizeof buf);
        if (n <= 0) break;
        number.append(buf, static_cast<size_t>(n));
    }
    close(fd[0]);
    if (number.find('\n') == std::string::npos) return "";
    return DisplayName(number.substr(0, number.find('\n')));
}

class RdconnectTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        display_ = StartXvfb();
        ASSERT_FALSE(display_.empty()) << "Xvfb did not start";
        dpy_ = XOpenDisplay(display_.c_str());
        ASSERT_NE(dpy_, nullptr) << "cannot open " << display_;
        atom_ = XInternAtom(dpy_, "TARVIK_CONNECT", False);
    }

    static void TearDownTestSuite() {
        if (dpy_) XCloseDisplay(dpy_);
        dpy_ = nullptr;
        StopXvfb();
    }

    void SetUp() override {
        ASSERT_NE(dpy_, nullptr);
        XDeleteProperty(dpy_, DefaultRootWindow(dpy_), atom_);
        XSync(dpy_, False);
    }

    // The property's value, or nullopt when it is absent. Type and format
    // are checked here since every written value must carry them.
    static std::optional<std::string> Property() {
        Atom type = None;
        int format = 0;
        unsigned long nitems = 0, after = 0;
        unsigned char *data = nullptr;
        int rc = XGetWindowProperty(dpy_, DefaultRootWindow(dpy_), atom_, 0,
                                    1L << 20, False, AnyPropertyType, &type,
                                    &format, &nitems, &after, &data);
        EXPECT_EQ(rc, Success);
        std::optional<std::string> value;
        if (type != None) {
            EXPECT_EQ(type, XA_STRING);
            EXPECT_EQ(format, 8);
            EXPECT_EQ(after, 0u);
            value = std::string(reinterpret_cast<char *>(data), nitems);
        }
        if (data) XFree(data);
        return value;
    }

    static inline std::string display_;
    static inline Display *dpy_ = nullptr;
    static inline Atom atom_ = None;
};

TEST_F(RdconnectTest, WritesTargetBytesExactly) {
    const std::vector<std::string> targets = {
        "10.0.0.5:5500",
        "",  // gives a zero-length property
        "\xc3\xa9 host:1",
        "viewer.example",
        std::string(70000, 'x') + ":1",  // beyond a single small request
    };
    for (const auto &target : targets) {
        SCOPED_TRACE("target of " + std::to_string(target.size()) + " bytes: " +
                     target.substr(0, 20));
        Result r = RunTool({"-display", display_, target}, std::nullopt);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(Property(), std::optional<std::string>(target));
    }
}

TEST_F(RdconnectTest, LaterRunReplacesValue) {
    ASSERT_EQ(RunTool({"-display", display_, "first-and-longer:5500"}, {}).status, 0);
    ASSERT_EQ(RunTool({"-display", display_, "b:1"}, {}).status, 0);
    EXPECT_EQ(Property(), std::optional<std::string>("b:1"));
}

TEST_F(RdconnectTest, DisplayOptionSpellings) {
    for (const char *opt : {"-d", "-dpy", "-display"}) {
        SCOPED_TRACE(opt);
        Result r = RunTool({opt, display_, std::string("via") + opt}, std::nullopt);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(Property(), std::optional<std::string>(std::string("via") + opt));
    }
}

TEST_F(RdconnectTest, UsesDisplayFromEnvironmentWithoutOption) {
    Result r = RunTool({"from-env:2"}, display_);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(Property(), std::optional<std::string>("from-env:2"));
}

TEST_F(RdconnectTest, LastDisplayOptionWins) {
    const std::string nowhere = UnservedDisplay();
    Result ok = RunTool({"-display", nowhere, "-d", display_, "h:1"}, std::nullopt);
    EXPECT_EQ(ok.status, 0);
    EXPECT_EQ(ok.err, "");
    EXPECT_EQ(Property(), std::optional<std::string>("h:1"));

    XDeleteProperty(dpy_, DefaultRootWindow(dpy_), atom_);
    Result bad = RunTool({"-display", display_, "-display", nowhere, "h:2"}, display_);
    EXPECT_EQ(bad.status, 1);
    EXPECT_EQ(bad.err, OpenFailureText(kArgv0, nowhere));
    EXPECT_EQ(Property(), std::nullopt);
}

TEST_F(RdconnectTest, ArgumentErrorsShowUsage) {
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
        for (const auto &a : args) shown += "[" + a + "]";
        SCOPED_TRACE("args: " + shown);
        // DISPLAY is valid, so a run that wrongly went ahead would write.
        Result r = RunTool(args, display_);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, UsageText(kArgv0));
        EXPECT_EQ(Property(), std::nullopt);
    }
}

TEST_F(RdconnectTest, UnreachableDisplayIsReported) {
    const std::string nowhere = UnservedDisplay();
    Result r = RunTool({"-display", nowhere, "host:1"}, display_);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, OpenFailureText(kArgv0, nowhere));
    EXPECT_EQ(Property(), std::nullopt);
}

// Without an option the message names the default display as Xlib reports
// it for the same environment: DISPLAY pointing nowhere, or DISPLAY unset.
TEST_F(RdconnectTest, UnreachableDefaultDisplayIsReported) {
    const char *saved = std::getenv("DISPLAY");
    std::string saved_value = saved ? saved : "";
    for (std::optional<std::string> env : {std::optional<std::string>(UnservedDisplay()),
                                           std::optional<std::string>()}) {
        SCOPED_TRACE(env ? "DISPLAY=" + *env : "DISPLAY unset");
        if (env) setenv("DISPLAY", env->c_str(), 1);
        else unsetenv("DISPLAY");
        std::string expected_name = XDisplayName(nullptr);
        Result r = RunTool({"host:1"}, env);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, OpenFailureText(kArgv0, expected_name));
    }
    if (saved) setenv("DISPLAY", saved_value.c_str(), 1);
    else unsetenv("DISPLAY");
    EXPECT_EQ(Property(), std::nullopt);
}

// Started with an empty argument vector, the tool still prints usage under
// its own name instead of dereferencing a missing argv[0].
TEST_F(RdconnectTest, EmptyArgumentVectorShowsUsage) {
    if (!kEmulator.empty()) GTEST_SKIP() << "argv[0] is set by the emulator";
    std::vector<std::string> env = ChildEnv(display_);
    auto envp = CStrings(env);
    int err[2];
    ASSERT_EQ(pipe2(err, O_CLOEXEC), 0);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(err[1], 2);
        char *argv[] = {nullptr};
        execve(kBinary.c_str(), argv, envp.data());
        _exit(127);
    }
    close(err[1]);
    std::string text;
    char buf[512];
    pollfd p{err[0], POLLIN, 0};
    while (poll(&p, 1, 15000) > 0) {
        ssize_t n = read(err[0], buf, sizeof buf);
        if (n <= 0) break;
        text.append(buf, static_cast<size_t>(n));
    }
    close(err[0]);
    kill(pid, SIGKILL);  // no-op once it has exited
    int ws = 0;
    waitpid(pid, &ws, 0);
    ASSERT_TRUE(WIFEXITED(ws));
    EXPECT_EQ(WEXITSTATUS(ws), 1);
    EXPECT_EQ(text, UsageText("rdconnect"));
}

}  // namespace
