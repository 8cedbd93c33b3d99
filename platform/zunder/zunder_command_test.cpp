// SPDX-License-Identifier: GPL-2.0-or-later
// What the command's table (command.cases) cannot hold: a machine without
// /proc, where the plug-in folder is not taken from the current folder, and
// a folder list whose order decides which copy of a plug-in serves.
#include "zunder_run.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

namespace {

// Without /proc (a bare chroot or container) the program's own folder is
// unknown: the plug-in folder is then ZUNDER_PLUGIN_DIR or an error, never
// the current folder, here one holding a plug-in file that would load.
TEST(Command, NoPluginFolderFromTheCurrentFolder)
{
	if (ztest::emulated())
		GTEST_SKIP() << "the emulator answers /proc/self/exe itself";
#if defined(ZUNDER_SANITIZED)
	GTEST_SKIP() << "the sanitizer runtime does not start without /proc";
#endif
	if (geteuid() != 0 || ztest::run_shell("unshare -m true").status != 0)
		GTEST_SKIP() << "hiding /proc needs root and a mount namespace of its own";
	const std::string dir = testing::TempDir() + "/" + std::to_string(getpid()) + "-cwd-plugins";
	std::filesystem::create_directories(dir);
	std::filesystem::copy_file(ZUNDER_TEST_PLUGIN_DIR "/libzu_broken.so", dir + "/libzu_broken.so",
				   std::filesystem::copy_options::overwrite_existing);
	const std::string no_folder =
		"zunder: cannot find the plug-in folder: /proc/self/exe: No such file or "
		"directory; set ZUNDER_PLUGIN_DIR\n";
	const struct {
		std::string plugin_dir; // "-" for unset
		std::string out, err;
	} cases[] = {
		{"-", "", no_folder},
		{"", "", no_folder},
		{dir, "block 0000000000000000\nlist\nsave from " + dir + "/libzu_broken.so\n", ""},
	};
	for (const auto &c : cases) {
		// Without /proc the loader cannot find the libraries beside the program either.
		const std::string script =
			"cd \"$DIR\" && unshare -m sh -c 'mount -t tmpfs none /proc && "
			"LD_LIBRARY_PATH=" ZUNDER_PLUGIN_DIR " exec $ZUNDER -m broken'";
		const auto r =
			ztest::run_shell(script, {"DIR=" + dir,
						  c.plugin_dir == "-" ? "ZUNDER_PLUGIN_DIR"
								      : "ZUNDER_PLUGIN_DIR=" + c.plugin_dir});
		EXPECT_EQ(r.status, c.err.empty() ? 0 : 2) << c.plugin_dir;
		EXPECT_EQ(r.out, c.out) << c.plugin_dir;
		EXPECT_EQ(r.err, c.err) << c.plugin_dir;
	}
	std::filesystem::remove_all(dir);
}

// ZUNDER_PLUGIN_DIR is a list searched in order: of two folders holding the
// same clause, the first serves it (libzu_broken saves the file it came from).
TEST(Command, PluginFolderListInOrder)
{
	std::string copy = testing::TempDir() + "first-plugins.XXXXXX";
	ASSERT_NE(mkdtemp(copy.data()), nullptr);
	std::filesystem::copy_file(ZUNDER_TEST_PLUGIN_DIR "/libzu_broken.so", copy + "/libzu_broken.so");
	for (const std::string &first : {copy, std::string(ZUNDER_TEST_PLUGIN_DIR)}) {
		const std::string second = first == copy ? ZUNDER_TEST_PLUGIN_DIR : copy;
		const auto r = ztest::zunder({"-m", "broken"}, {"ZUNDER_PLUGIN_DIR=" + first + ":" + second});
		EXPECT_EQ(r.status, 0) << first;
		EXPECT_EQ(r.out, "block 0000000000000000\nlist\nsave from " + first + "/libzu_broken.so\n");
		EXPECT_EQ(r.err, "");
	}
	std::filesystem::remove_all(copy);
}

} // namespace
