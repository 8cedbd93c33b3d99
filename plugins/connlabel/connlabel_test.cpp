// SPDX-License-Identifier: GPL-2.0-or-later
// What the connlabel table (connlabel.cases) cannot hold: label files that
// are missing or not files, named in messages with the build's paths.
#include "zunder_run.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

namespace {

using namespace ztest;

// A temporary folder for the files the zunder children look for.
struct label_folder {
	std::string dir;
	label_folder()
	{
		char pattern[] = "/tmp/connlabel_test.XXXXXX";
		dir = mkdtemp(pattern) ? pattern : "/nonexistent";
	}
	~label_folder() { std::filesystem::remove_all(dir); }
};
const label_folder folder;

// Without a readable label file the plug-in says why, once, and offers no clause.
TEST(Connlabel, NotRegisteredWithoutALabelFile)
{
	const std::string plugin = std::string(ZUNDER_PLUGIN_DIR) + "/libzu_connlabel.so (registers none)";
	const struct {
		std::string file, why, family, looked_in;
	} cases[] = {
		{folder.dir + "/missing", "No such file or directory", "-4", "IPv4 (looked in " + plugin},
		// For IPv6 the host also looks for an IPv6-only file.
		{folder.dir + "/missing", "No such file or directory", "-6",
		 "IPv6 (looked in " + plugin + ", " + ZUNDER_PLUGIN_DIR + "/libqeb_connlabel.so"},
		{folder.dir, "Is a directory", "-4", "IPv4 (looked in " + plugin},
		// a FIFO would block the load for ever
		{folder.dir + "/fifo", "not a regular file", "-4", "IPv4 (looked in " + plugin},
	};
	ASSERT_EQ(mkfifo((folder.dir + "/fifo").c_str(), 0600), 0);
	for (const auto &c : cases) {
		const auto r = zunder({c.family, "-m", "connlabel", "--label", "blocked"},
				      {"PAVANE_CONNLABEL_CONF=" + c.file});
		EXPECT_EQ(r.status, 2) << c.file;
		EXPECT_EQ(r.out, "") << c.file;
		EXPECT_EQ(r.err, "cannot open connlabel.conf, not registering 'connlabel' match: " + c.why +
					 "\nzunder: no match \"connlabel\" exists for " + c.looked_in + ")\n")
			<< c.file;
	}
}

} // namespace
