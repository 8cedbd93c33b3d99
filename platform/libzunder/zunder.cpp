// zunder: drives one rule clause through its plug-in, as a rule command does.
//
//   zunder [-4|-6] [-n] (-m|-j) NAME [OPTION...]      parse, check, list, save
//   zunder [-4|-6] [-n] (-m|-j) NAME --block HEX      list and save a block
//   zunder (-m|-j) NAME -h                            the plug-in's help
//   zunder --batch FILE|-                             one such call a line
#include "zunder_host.h"

#include <netdb.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace {

// The batch line being run, 0 outside a batch; errors name it.
unsigned long batch_line = 0;

// Ends the command with the message on standard error.  Standard output that
// is still buffered belongs to the failed rule and is dropped, so a failed
// rule never leaves a partial listing behind.
__attribute__((noreturn, format(printf, 2, 3)))
void exit_error(int status, const char *format, ...)
{
	std::fputs("zunder: ", stderr);
	if (batch_line != 0)
		std::fprintf(stderr, "line %lu: ", batch_line);
	va_list args;
	va_start(args, format);
	std::vfprintf(stderr, format, args);
	va_end(args);
	std::fputc('\n', stderr);
	std::fflush(stderr);
	_exit(status);
}

[[noreturn]] void usage()
{
	if (batch_line != 0)
		exit_error(2, "not a rule: expected [-4|-6] [-n] (-m|-j) NAME [OPTION...]");
	std::fputs("usage: zunder [-4|-6] [-n] (-m|-j) NAME [OPTION...]\n"
	           "       zunder [-4|-6] [-n] (-m|-j) NAME --block HEX\n"
	           "       zunder (-m|-j) NAME -h\n"
	           "       zunder --batch FILE|-\n",
	           stderr);
	std::exit(2);
}

bool is_directory(const std::string &path)
{
	struct stat st;
	return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// ZUNDER_PLUGIN_DIR, else the plug-in folder beside this program: lib/zunder
// in an installed tree, lib in the build tree.
std::string find_plugin_dir()
{
	if (const char *dir = std::getenv("ZUNDER_PLUGIN_DIR"); dir != nullptr && *dir != '\0')
		return dir;
	char exe[4096];
	ssize_t length = readlink("/proc/self/exe", exe, sizeof(exe) - 1);
	if (length <= 0)
		return ".";
	exe[length] = '\0';
	std::string lib(exe);
	lib.erase(lib.find_last_of('/') + 1);
	lib += "../lib";
	if (char *resolved = realpath(lib.c_str(), nullptr)) {
		lib = resolved;
		std::free(resolved);
	}
	return is_directory(lib + "/zunder") ? lib + "/zunder" : lib;
}

const std::string &plugin_dir()
{
	static const std::string dir = find_plugin_dir();
	return dir;
}

bool valid_clause_name(const char *name)
{
	size_t length = std::strlen(name);
	if (length == 0 || length >= sizeof(zu_clause_entry::name))
		return false;
	for (const char *p = name; *p; ++p)
		if (!(std::isalnum(static_cast<unsigned char>(*p)) || *p == '_' || *p == '-'))
			return false;
	return true;
}

// Loads the clause's plug-in file(s) and returns the record serving `family`.
const zunder::plugin_record &load_clause(zunder::clause_kind kind, const char *name,
                                         uint16_t family)
{
	if (!valid_clause_name(name))
		zu_params->exit_error(2, "invalid %s name \"%s\"", zunder::kind_word(kind), name);
	const std::string dir = plugin_dir();
	std::vector<std::string> files{dir + "/libzu_" + name + ".so"};
	if (family == ZU_FAMILY_IPV6)
		files.push_back(dir + "/libqeb_" + name + ".so");

	std::string tried;
	for (const std::string &file : files) {
		if (const auto *record = zunder::find_record(kind, name, family))
			return *record;
		if (access(file.c_str(), F_OK) != 0) {
			tried += (tried.empty() ? "" : ", ") + file;
			continue;
		}
		if (std::string why = zunder::load_plugin_file(file); !why.empty())
			zu_params->exit_error(2, "cannot load %s: %s", file.c_str(), why.c_str());
		tried += (tried.empty() ? "" : ", ") + file + " (registers none)";
	}
	if (const auto *record = zunder::find_record(kind, name, family))
		return *record;
	zu_params->exit_error(2, "no %s \"%s\" exists for %s (looked in %s)", zunder::kind_word(kind),
	                      name, zunder::family_word(family), tried.c_str());
}

bool parse_hex(const char *text, std::vector<unsigned char> &out)
{
	size_t length = std::strlen(text);
	if (length % 2 != 0)
		return false;
	out.clear();
	for (size_t i = 0; i < length; i += 2) {
		char pair[3] = {text[i], text[i + 1], '\0'};
		char *end;
		if (!std::isxdigit(static_cast<unsigned char>(pair[0])) ||
		    !std::isxdigit(static_cast<unsigned char>(pair[1])))
			return false;
		out.push_back(static_cast<unsigned char>(std::strtoul(pair, &end, 16)));
	}
	return true;
}

void write_list_and_save(const zunder::plugin_record &record, uint16_t family,
                         std::span<const unsigned char> block, bool numeric)
{
	std::fputs("list", stdout);
	zunder::print_block(record, family, block, numeric);
	std::fputs("\nsave", stdout);
	zunder::save_block(record, family, block);
	std::fputc('\n', stdout);
}

// One rule: the words of a single zunder call, without the program name.
void run_rule(std::span<const char *const> words)
{
	uint16_t family = ZU_FAMILY_IPV4;
	bool numeric = false;
	size_t i = 0;
	for (; i < words.size(); ++i) {
		const char *word = words[i];
		if (std::strcmp(word, "-4") == 0)
			family = ZU_FAMILY_IPV4;
		else if (std::strcmp(word, "-6") == 0)
			family = ZU_FAMILY_IPV6;
		else if (std::strcmp(word, "-n") == 0)
			numeric = true;
		else
			break;
	}
	if (i + 2 > words.size())
		usage();
	zunder::clause_kind kind;
	if (std::strcmp(words[i], "-m") == 0)
		kind = zunder::clause_kind::match;
	else if (std::strcmp(words[i], "-j") == 0)
		kind = zunder::clause_kind::target;
	else
		usage();
	const zunder::plugin_record &record = load_clause(kind, words[i + 1], family);
	const auto options = words.subspan(i + 2);

	if (options.size() == 1 && std::strcmp(options[0], "-h") == 0) {
		if (record.help)
			record.help();
		return;
	}
	if (!options.empty() && std::strcmp(options[0], "--block") == 0) {
		static std::vector<unsigned char> block;
		if (options.size() != 2)
			zu_params->exit_error(2, "--block takes one argument and no other option");
		if (!parse_hex(options[1], block) || block.size() != record.size)
			zu_params->exit_error(2, "--block for %s \"%s\" needs exactly %u bytes as %u "
			                      "hexadecimal digits", zunder::kind_word(kind), record.name,
			                      record.size, 2 * record.size);
		write_list_and_save(record, family, block, numeric);
		return;
	}

	static zunder::clause_state state;
	zunder::parse_clause(record, family, options, state);
	static std::string line;
	line.assign("block ");
	for (size_t b = 0; b < state.data.size(); ++b) {
		line += "0123456789abcdef"[state.data.data()[b] >> 4];
		line += "0123456789abcdef"[state.data.data()[b] & 15];
	}
	line += '\n';
	std::fputs(line.c_str(), stdout);
	write_list_and_save(record, family, {state.data.data(), state.data.size()}, numeric);
}

// Splits a batch line into words as a shell does for the simple cases:
// blanks separate words; double quotes group, and inside them a backslash
// takes the next character literally; single quotes group literally; a
// backslash outside quotes takes the next character literally.
std::vector<std::string> split_line(const std::string &line)
{
	std::vector<std::string> words;
	std::string word;
	bool in_word = false;
	char quote = 0;
	for (size_t i = 0; i < line.size(); ++i) {
		const char c = line[i];
		if (quote != 0) {
			if (c == quote)
				quote = 0;
			else if (quote == '"' && c == '\\' && i + 1 < line.size())
				word += line[++i];
			else
				word += c;
		} else if (c == ' ' || c == '\t' || c == '\r') {
			if (in_word)
				words.push_back(std::move(word));
			word.clear();
			in_word = false;
		} else {
			in_word = true;
			if (c == '"' || c == '\'')
				quote = c;
			else if (c == '\\' && i + 1 < line.size())
				word += line[++i];
			else
				word += c;
		}
	}
	if (quote != 0)
		zu_params->exit_error(2, "unterminated %s quote", quote == '"' ? "double" : "single");
	if (in_word)
		words.push_back(std::move(word));
	return words;
}

// Runs one rule a line; each line's output is flushed before the next runs,
// so an error stops the batch after everything before it was written.
void run_batch(const char *name)
{
	std::ifstream file;
	if (std::strcmp(name, "-") != 0) {
		file.open(name);
		if (!file)
			exit_error(2, "cannot read %s: %s", name, std::strerror(errno));
	}
	std::istream &in = file.is_open() ? file : std::cin;
	setprotoent(1);   // keep the protocol database open for the whole batch
	std::vector<const char *> argv;
	for (std::string line; std::getline(in, line);) {
		++batch_line;
		const size_t first = line.find_first_not_of(" \t\r");
		if (first == std::string::npos || line[first] == '#')
			continue;
		const std::vector<std::string> words = split_line(line);
		argv.clear();
		for (const std::string &w : words)
			argv.push_back(w.c_str());
		run_rule(argv);
		if (std::fflush(stdout) != 0)
			exit_error(2, "cannot write the output: %s", std::strerror(errno));
	}
	if (in.bad())
		exit_error(2, "cannot read %s", name);
}

} // namespace

int main(int argc, char **argv)
{
	zunder::set_program_name("zunder");
	zunder::set_exit_error(exit_error);
	if (argc >= 2 && std::strcmp(argv[1], "--batch") == 0) {
		if (argc != 3)
			usage();
		run_batch(argv[2]);
	} else {
		run_rule({argv + 1, static_cast<size_t>(argc - 1)});
	}
	return std::fflush(stdout) == 0 ? 0 : 1;
}
