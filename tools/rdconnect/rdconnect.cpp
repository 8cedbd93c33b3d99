// SPDX-License-Identifier: GPL-2.0-or-later
// rdconnect: ask the remote-desktop X server of a display to connect out to a
// listening viewer.
//
// The tool only writes the target text into the TARVIK_CONNECT property of the
// root window; the server watches that property and makes the connection.
//
//   rdconnect [-display <display>] host[:port]

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const char *program = "rdconnect";

// Writes the text to standard error with control bytes and DEL as \xHH, so
// that a message echoing a name stays one line.
void put_one_line(const char *text)
{
	for (const char *p = text; *p != '\0'; ++p) {
		const auto b = static_cast<unsigned char>(*p);
		if (b >= 0x20 && b != 0x7f)
			std::fputc(b, stderr);
		else
			std::fprintf(stderr, "\\x%02x", b);
	}
}

// A descriptor 0, 1 or 2 that was closed gets a placeholder, so that the X
// connection's socket does not take its place: the X library writes its
// error text to descriptor 2, which would send it to the server as
// requests.  The placeholder is open the wrong way round, so that writing
// it fails, as with the closed descriptor.
void hold_standard_descriptors()
{
	for (int fd = 0; fd <= 2; ++fd) {
		if (fcntl(fd, F_GETFD) != -1 || errno != EBADF)
			continue;
		if (open("/dev/null", fd == 0 ? O_WRONLY : O_RDONLY) != fd)
			_exit(1);
	}
}

[[noreturn]] void usage()
{
	std::fputs("usage: ", stderr);
	put_one_line(program);
	std::fputs(
		" [-display Xtarvik-display] host[:port]\n"
		"Tells Xtarvik to connect to a listening TARVIK viewer on the "
		"given host and port\n",
		stderr);
	std::exit(1);
}

} // namespace

int main(int argc, char **argv)
{
	hold_standard_descriptors();
	// Buffered, so that each message leaves in one write; exit flushes it.
	static char error_buffer[BUFSIZ];
	std::setvbuf(stderr, error_buffer, _IOFBF, sizeof error_buffer);
	// A caller may exec us with an empty argument vector (which newer kernels
	// turn into a single empty word); keep the built-in name then rather than
	// printing a null pointer or nothing.
	if (argc > 0 && argv[0] != nullptr && argv[0][0] != '\0')
		program = argv[0];
	if (argc < 2)
		usage();

	const char *display_name = nullptr;
	int i = 1;
	// Leading options: anything whose second character is 'd' (-d, -dpy,
	// -display, ...) takes the next argument as the display; a later one wins.
	for (; i < argc && argv[i][0] == '-'; i += 2) {
		if (argv[i][1] != 'd' || i + 1 >= argc)
			usage();
		display_name = argv[i + 1];
	}
	// Exactly one target text must remain; it is passed on unchecked.
	if (argc - i != 1)
		usage();
	const char *target = argv[i];

	Display *connection = XOpenDisplay(display_name);
	if (connection == nullptr) {
		put_one_line(program);
		std::fputs(": unable to open display \"", stderr);
		put_one_line(XDisplayName(display_name));
		std::fputs("\"\n", stderr);
		return 1;
	}

	Atom request = XInternAtom(connection, "TARVIK_CONNECT", False);
	XChangeProperty(connection, DefaultRootWindow(connection), request, XA_STRING, 8, PropModeReplace,
			reinterpret_cast<const unsigned char *>(target),
			static_cast<int>(std::strlen(target)));
	// Closing flushes the request to the server.
	XCloseDisplay(connection);
	return 0;
}
