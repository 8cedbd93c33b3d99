// SPDX-License-Identifier: GPL-2.0-or-later
// zunder's plug-in lookup: the plug-in folder and the files that may serve
// a clause.
#include "lookup.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace command {

namespace {

bool is_directory(const std::string &path)
{
	struct stat st;
	return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string resolved(std::string path)
{
	if (char *real = realpath(path.c_str(), nullptr)) {
		path = real;
		std::free(real);
	}
	return path;
}

// The folders of ZUNDER_PLUGIN_DIR, a colon-separated list searched in
// order; an empty entry names no folder (never the current one), and a list
// without any counts as unset.  Else the plug-in folder beside this program:
// the installed one (ZUNDER_INSTALLED_PLUGIN_DIR, relative to the bin folder,
// set by the build: ../lib/zunder, or ../lib/<multiarch>/zunder) in an
// installed tree, lib in the build tree.  Where this program cannot be found
// (no /proc in a bare chroot) that is an error: never the current folder,
// whose files anyone may have put there.
std::vector<std::string> find_plugin_dirs()
{
	std::vector<std::string> dirs;
	if (const char *list = std::getenv("ZUNDER_PLUGIN_DIR"); list != nullptr) {
		for (std::string_view rest = list; !rest.empty();) {
			const size_t colon = std::min(rest.find(':'), rest.size());
			if (colon > 0)
				dirs.emplace_back(rest.substr(0, colon));
			rest.remove_prefix(std::min(colon + 1, rest.size()));
		}
		if (!dirs.empty())
			return dirs;
	}
	char exe[4096];
	const ssize_t length = readlink("/proc/self/exe", exe, sizeof(exe));
	// Only an absolute path that fits makes a folder that is not the current one.
	if (length <= 0 || static_cast<size_t>(length) == sizeof(exe) || exe[0] != '/')
		zu_params->exit_error(
			2, "cannot find the plug-in folder: /proc/self/exe: %s; set ZUNDER_PLUGIN_DIR",
			length < 0 ? std::strerror(errno) : "not an absolute path that fits");
	exe[length] = '\0';
	std::string bin(exe);
	bin.erase(bin.find_last_of('/') + 1);
	const std::string installed = resolved(bin + ZUNDER_INSTALLED_PLUGIN_DIR);
	dirs.push_back(is_directory(installed) ? installed : resolved(bin + "../lib"));
	return dirs;
}

const std::vector<std::string> &plugin_dirs(run &run)
{
	if (run.plugin_dirs.empty())
		run.plugin_dirs = find_plugin_dirs();
	return run.plugin_dirs;
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

// The record serving the clause for the rule's family; for help (`any`), a
// record of either family, so that an IPv6-only clause shows its help too.
const zunder::plugin_record *find(const rule &r, bool any)
{
	if (const auto *record = zunder::find_record(r.kind, r.name, r.family))
		return record;
	if (!any)
		return nullptr;
	const uint16_t other = r.family == ZU_FAMILY_IPV6 ? ZU_FAMILY_IPV4 : ZU_FAMILY_IPV6;
	return zunder::find_record(r.kind, r.name, other);
}

// Loads the file, if it exists: true when it loaded or does not exist,
// else false with why in `why`.
bool load_if_there(const std::string &file, std::string &why)
{
	if (access(file.c_str(), F_OK) != 0)
		return true;
	if (std::string failure = zunder::load_plugin_file(file); !failure.empty()) {
		why = "cannot load " + file + ": " + failure;
		return false;
	}
	return true;
}

bool registers_any(const std::string &file)
{
	for (const zunder::plugin_record &record : zunder::registered_records())
		if (record.loaded_from == file)
			return true;
	return false;
}

// What the words that name a clause of this kind and family are.
std::string naming_words(zunder::clause_kind kind, uint16_t family, const char *name)
{
	const std::string family_word = family == ZU_FAMILY_IPV6 ? "-6 " : "";
	return family_word + (kind == zunder::clause_kind::match ? "-m " : "-j ") + name;
}

// Why the clause was not found when the name is known as the other kind,
// or for the other family only; empty when it is not.
std::string near_miss(const rule &r, bool any_family)
{
	const uint16_t other_family = r.family == ZU_FAMILY_IPV6 ? ZU_FAMILY_IPV4 : ZU_FAMILY_IPV6;
	if (!any_family)
		if (const auto *record = zunder::find_record(r.kind, r.name, other_family)) {
			const std::string head = std::string(zunder::kind_word(r.kind)) + " \"" + r.name +
						 "\" serves " + zunder::family_word(record->family) +
						 " only: ";
			const std::string words = " (" + naming_words(r.kind, record->family, r.name) + ")";
			if (record->family == ZU_FAMILY_IPV6)
				return head + "give -6 before " +
				       (r.kind == zunder::clause_kind::match ? "-m" : "-j") + words;
			return head + "leave out -6" + words;
		}
	const auto other_kind = r.kind == zunder::clause_kind::match ? zunder::clause_kind::target
								     : zunder::clause_kind::match;
	const auto *record = zunder::find_record(other_kind, r.name, r.family);
	if (record == nullptr)
		record = zunder::find_record(other_kind, r.name, other_family);
	if (record == nullptr)
		return {};
	const uint16_t family = record->family == ZU_FAMILY_ANY ? r.family : record->family;
	return "\"" + std::string(r.name) + "\" is a " + zunder::kind_word(other_kind) + ", not a " +
	       zunder::kind_word(r.kind) + ": use " + naming_words(other_kind, family, r.name);
}

} // namespace

const zunder::plugin_record *find_clause(run &run, const rule &r, bool any_family, std::string &why)
{
	const char *kind = zunder::kind_word(r.kind);
	if (!valid_clause_name(r.name)) {
		why = "invalid " + std::string(kind) + " name \"" + r.name + "\"";
		return nullptr;
	}
	// Folder by folder: the first folder with a file serving the clause wins.
	const bool ipv6_files = r.family == ZU_FAMILY_IPV6 || any_family;
	std::vector<std::string> files;
	for (const std::string &dir : plugin_dirs(run)) {
		files.push_back(dir + "/libzu_" + r.name + ".so");
		if (ipv6_files)
			files.push_back(dir + "/libqeb_" + r.name + ".so");
	}

	std::string tried;
	for (const std::string &file : files) {
		if (const auto *record = find(r, any_family))
			return record;
		tried += (tried.empty() ? "" : ", ") + file;
		if (access(file.c_str(), F_OK) != 0)
			continue;
		if (!load_if_there(file, why))
			return nullptr;
		if (!registers_any(file))
			tried += " (registers none)";
	}
	if (const auto *record = find(r, any_family))
		return record;
	// The file of a clause that serves IPv6 only tells what an IPv4 rule
	// that names it was meant to be.
	if (!ipv6_files)
		for (const std::string &dir : plugin_dirs(run)) {
			std::string unused;
			load_if_there(dir + "/libqeb_" + r.name + ".so", unused);
		}
	if (why = near_miss(r, any_family); !why.empty())
		return nullptr;
	why = "no " + std::string(kind) + " \"" + r.name + "\" exists" +
	      (any_family ? "" : std::string(" for ") + zunder::family_word(r.family)) + " (looked in " +
	      tried + ")";
	return nullptr;
}

} // namespace command
