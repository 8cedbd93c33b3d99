// SPDX-License-Identifier: GPL-2.0-or-later
// zunder's batch reader: rule lines from a file or standard input, split
// into words.
#include "batch.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace command {

namespace {

// Whether the open file is the placeholder that holds a closed standard
// input, opened afresh under another name (/dev/stdin, /proc/self/fd/0).
bool is_placeholder(std::FILE *file)
{
	struct stat opened, placeholder;
	return fstat(fileno(file), &opened) == 0 && fstat(0, &placeholder) == 0 &&
	       opened.st_dev == placeholder.st_dev && opened.st_ino == placeholder.st_ino;
}

} // namespace

// Blanks separate words.  Single quotes group literally.  Double quotes
// group, and inside them a backslash escapes only '"', '\', '$' and '`' and
// is kept before any other byte, as in a shell.  Outside quotes a backslash
// takes the next byte literally.
const char *split_words(std::string_view line, std::vector<std::string> &words)
{
	words.clear();
	std::string word;
	bool in_word = false;
	char quote = 0;
	for (size_t i = 0; i < line.size(); ++i) {
		const char c = line[i];
		if (quote != 0) {
			if (c == quote)
				quote = 0;
			else if (quote == '"' && c == '\\' && i + 1 < line.size() &&
				 std::strchr("\"\\$`", line[i + 1]) != nullptr)
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
		return quote == '"' ? "unterminated double quote" : "unterminated single quote";
	if (in_word)
		words.push_back(std::move(word));
	return nullptr;
}

line_reader::line_reader(run &run, const char *name)
    : run_(run), name_(name), from_stdin_(std::strcmp(name, "-") == 0),
      // A FIFO is fine here: that is how --batch <(generate) works.
      file_(from_stdin_ ? stdin : std::fopen(name, "re"))
{
	if (file_ == nullptr)
		zu_params->exit_error(2, "cannot read %s: %s", name, std::strerror(errno));
	if (run.standard_input_closed && (from_stdin_ || is_placeholder(file_)))
		zu_params->exit_error(2, "cannot read standard input: it is closed");
}

line_reader::~line_reader()
{
	zunder::set_message_prefix(nullptr);
	run_.line = 0;
	if (!from_stdin_)
		std::fclose(file_);
}

bool line_reader::next(std::string &line)
{
	// Byte by byte into a line of bounded length, so that a stream without
	// a newline (/dev/zero) ends the command at once instead of filling the
	// memory.  A NUL is refused as soon as it comes: a C string would end
	// there and run the rest of the line cut short.
	line.clear();
	errno = 0;
	int c = getc_unlocked(file_);
	if (c != EOF) {
		std::snprintf(prefix_, sizeof prefix_, "line %lu: ", ++run_.line);
		zunder::set_message_prefix(prefix_);
	}
	for (; c != EOF && c != '\n'; c = getc_unlocked(file_)) {
		if (c == '\0')
			zu_params->exit_error(2, "the line holds a NUL byte");
		if (line.size() == max_line_length)
			zu_params->exit_error(2, "the line is longer than %zu bytes", max_line_length);
		line += static_cast<char>(c);
	}
	if (c == EOF && std::ferror(file_))
		zu_params->exit_error(2, "cannot read %s: %s", from_stdin_ ? "standard input" : name_,
				      std::strerror(errno != 0 ? errno : EIO));
	return c != EOF || !line.empty();
}

} // namespace command
