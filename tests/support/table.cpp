// SPDX-License-Identifier: GPL-2.0-or-later
// Reads the tests' plain-text tables (table.h).
#include "table.h"

#include <cctype>
#include <fstream>
#include <map>
#include <sstream>

namespace ztest {

namespace {

std::string trimmed(const std::string &text)
{
	const size_t first = text.find_first_not_of(" \t");
	return first == std::string::npos ? "" : text.substr(first, text.find_last_not_of(" \t") + 1 - first);
}

// A row of a kind with a form: its words, split at blanks, fill the form's
// {1}, {2}, ... in order, and {N+} (or {*}) takes the words from the Nth on.
std::string filled(const std::string &form, const std::string &values)
{
	std::vector<std::string> value;
	std::istringstream stream(values);
	for (std::string word; stream >> word;)
		value.push_back(word);
	std::string out;
	for (size_t i = 0; i < form.size(); ++i) {
		const bool digit = form[i] == '{' && i + 2 < form.size() && isdigit(form[i + 1]);
		const bool all = form.compare(i, 3, "{*}") == 0; // as {1+}
		const bool rest = all || (digit && form[i + 1] != '0' && form.compare(i + 2, 2, "+}") == 0);
		if (!rest && !(digit && form[i + 2] == '}')) {
			out += form[i];
			continue;
		}
		const size_t n = all ? 1 : static_cast<size_t>(form[i + 1] - '0');
		if (rest)
			for (size_t k = n; k <= value.size(); ++k)
				out += (k > n ? " " : "") + value[k - 1];
		else
			out += n >= 1 && n <= value.size() ? value[n - 1] : form.substr(i, 3); // shows a gap
		i += rest && !all ? 3 : 2;
	}
	return out;
}

} // namespace

std::optional<std::vector<table_line>> read_table(const std::string &path)
{
	std::ifstream in(path);
	if (!in)
		return std::nullopt;
	std::vector<table_line> lines;
	int at = 0;
	bool last_kept = false; // whether a continuation line has a row to join
	for (std::string text; std::getline(in, text);) {
		++at;
		if (!text.empty() && (text[0] == ' ' || text[0] == '\t')) {
			if (last_kept && !trimmed(text).empty())
				lines.back().text += " " + trimmed(text);
			continue;
		}
		last_kept = !text.empty() && text[0] != '#';
		if (last_kept)
			lines.push_back({at, text, "", ""});
	}
	std::vector<table_line> rows;
	std::map<std::string, std::string> forms; // by the kind of row they serve
	std::map<std::string, std::string> names; // of let lines
	for (table_line &line : lines) {
		const size_t space = line.text.find(' ');
		line.word = line.text.substr(0, space);
		line.rest = space == std::string::npos ? "" : trimmed(line.text.substr(space));
		if (line.word == "let") {
			const size_t blank = line.rest.find(' ');
			names[line.rest.substr(0, blank)] =
				blank == std::string::npos ? "" : trimmed(line.rest.substr(blank));
			continue;
		}
		if (!names.empty()) {
			std::istringstream stream(line.rest);
			line.rest.clear();
			for (std::string word; stream >> word;)
				line.rest += (line.rest.empty() ? "" : " ") +
					     (names.contains(word) ? names[word] : word);
			line.text = line.word + " " + line.rest;
		}
		if (line.word == "form") {
			const size_t blank = line.rest.find(' ');
			forms[line.rest.substr(0, blank)] =
				blank == std::string::npos ? "" : trimmed(line.rest.substr(blank));
			continue;
		}
		const std::string form = forms[line.word];
		if (form.empty() || line.rest.find('|') != std::string::npos) {
			rows.push_back(line);
			continue;
		}
		// With {*} in the form, each word is a row of its own.
		std::vector<std::string> each = {line.rest};
		if (form.find("{*}") != std::string::npos && line.rest.find(' ') != std::string::npos) {
			std::istringstream stream(line.rest);
			each.clear();
			for (std::string word; stream >> word;)
				each.push_back(word);
		}
		for (const std::string &values : each) {
			line.rest = filled(form, values);
			line.text = line.word + " " + line.rest;
			rows.push_back(line);
		}
	}
	return rows;
}

std::string decoded(const std::string &text)
{
	std::string out;
	for (size_t i = 0; i < text.size(); ++i)
		if (text.compare(i, 2, "\\x") == 0 && i + 3 < text.size() && isxdigit(text[i + 2]) &&
		    isxdigit(text[i + 3])) {
			// "\xHH{N}": the byte N times
			size_t count = 1, end = i + 4;
			if (end + 2 < text.size() && text[end] == '{' && isdigit(text[end + 1]))
				count = std::stoul(text.substr(end + 1), &end), end += i + 6;
			out.append(count, static_cast<char>(std::stoi(text.substr(i + 2, 2), nullptr, 16)));
			i = end - 1;
		} else if (const size_t close = text.find("}{", i);
			   text.compare(i, 2, "\\{") == 0 && close != std::string::npos) {
			// "\{TEXT}{N}": TEXT N times
			size_t end = 0;
			const size_t count = std::stoul(text.substr(close + 2), &end);
			for (size_t n = 0; n < count; ++n)
				out += text.substr(i + 2, close - i - 2);
			i = close + 2 + end;
		} else {
			out += text[i];
		}
	return out;
}

std::vector<std::string> fields(const std::string &text)
{
	std::vector<std::string> out;
	std::stringstream stream(text);
	for (std::string f; std::getline(stream, f, '|');)
		out.push_back(trimmed(f));
	if (!text.empty() && text.back() == '|')
		out.push_back("");
	return out;
}

std::vector<std::string> words(const std::string &text)
{
	std::vector<std::string> out;
	std::istringstream stream(text);
	for (std::string w; stream >> w;)
		out.push_back(decoded(w));
	return out;
}

} // namespace ztest
