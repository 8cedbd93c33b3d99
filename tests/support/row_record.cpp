#include "row_record.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>

namespace ztest {

void record_row(std::string clause, const std::vector<std::string> &words)
{
	const char *dir = std::getenv("ZUNDER_ROWS_DIR");
	if (dir == nullptr || *dir == '\0')
		return;
	std::string line;
	for (size_t i = 0; i < words.size(); ++i) {
		if (clause.empty() && i > 0 && (words[i - 1] == "-m" || words[i - 1] == "-j"))
			clause = words[i];
		if (words[i].find_first_of("\n\r") != std::string::npos)
			return;
		// Double quotes, with a backslash before the bytes that end or escape them.
		line += line.empty() ? "\"" : " \"";
		for (const char c : words[i]) {
			if (c == '"' || c == '\\' || c == '$' || c == '`')
				line += '\\';
			line += c;
		}
		line += '"';
	}
	if (clause.empty() || clause.find('/') != std::string::npos)
		return;
	line += '\n';
	// One write in append mode, so that tests running side by side do not
	// mix their lines.
	const int fd = open((std::string(dir) + "/" + clause + ".rules").c_str(),
			    O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
	if (fd >= 0) {
		[[maybe_unused]] const ssize_t written = write(fd, line.data(), line.size());
		close(fd);
	}
}

} // namespace ztest
