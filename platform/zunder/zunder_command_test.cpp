// SPDX-License-Identifier: GPL-2.0-or-later
// What command.cases cannot hold: a machine without /proc, and a plug-in
// folder list whose order decides which copy of a plug-in serves.
#include "zunder_run.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

namespace {

using ztest::run_result;

// libzu_broken saves the file it came from.
const std::string broken = "/libzu_broken.so";
run_result broken_from(const std::string &dir)
{
	return {0, "block 0000000000000000\nlist\nsave from " + dir + broken + "\n", ""};
}

void expect(const run_result &r, const run_result &want, const std::string &what)
{
	EXPECT_EQ(std::tie(r.status, r.out, r.err), std::tie(want.status, want.out, want.err)) << what;
}

// Without /proc (a bare chroot or container) the program's own folder is
// unknown: the plug-in folder is then ZUNDER_PLUGIN_DIR or an error, never
// the current folder, here one holding a plug-in that would load.
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
	std::filesystem::copy_file(ZUNDER_TEST_PLUGIN_DIR + broken, dir + broken,
				   std::filesystem::copy_options::overwrite_existing);
	const run_result no_folder =
		{2, "",
		 "zunder: cannot find the plug-in folder: /proc/self/exe: No such file or "
		 "directory; set ZUNDER_PLUGIN_DIR\n"};
	// Unset, empty, and the folder.
	for (const auto &[plugin_dir, want] :
	     {std::pair<std::string, run_result>{"ZUNDER_PLUGIN_DIR", no_folder},
	      {"ZUNDER_PLUGIN_DIR=", no_folder},
	      {"ZUNDER_PLUGIN_DIR=" + dir, broken_from(dir)}}) {
		// Without /proc the loader cannot find the libraries beside the program either.
		expect(ztest::run_shell("cd \"$DIR\" && unshare -m sh -c 'mount -t tmpfs none /proc && "
					"LD_LIBRARY_PATH=" ZUNDER_PLUGIN_DIR " exec $ZUNDER -m broken'",
					{"DIR=" + dir, plugin_dir}),
		       want, plugin_dir);
	}
	std::filesystem::remove_all(dir);
}

// ZUNDER_PLUGIN_DIR is a list searched in order: of two folders holding the
// same clause, the first serves it.
TEST(Command, PluginFolderListInOrder)
{
	std::string copy = testing::TempDir() + "first-plugins.XXXXXX";
	ASSERT_NE(mkdtemp(copy.data()), nullptr);
	std::filesystem::copy_file(ZUNDER_TEST_PLUGIN_DIR + broken, copy + broken);
	for (const auto &[first, second] : {std::pair<std::string, std::string>{copy, ZUNDER_TEST_PLUGIN_DIR},
					    {ZUNDER_TEST_PLUGIN_DIR, copy}})
		expect(ztest::zunder({"-m", "broken"}, {"ZUNDER_PLUGIN_DIR=" + first + ":" + second}),
		       broken_from(first), first);
	std::filesystem::remove_all(copy);
}

} // namespace
