// SPDX-License-Identifier: GPL-2.0-or-later
// Every plug-in file loads, with RTLD_NOW, into a process whose
// libzunder.so.10 is a host library written from the contract alone
// (minimal_host.c), built without symbol versions or with a version node of
// another name, and registers its clause there.  What a plug-in needs of the
// host beyond the contract, or a version node of the stand-in's, fails here.
#include "listed_plugins.h"
#include "minimal_host.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>

namespace {

std::string stem(const std::string &path)
{
	std::string name = path.substr(path.find_last_of('/') + 1);
	return name.substr(0, name.find('.'));
}

std::vector<std::string> plugin_files()
{
	std::vector<std::string> files;
	for (const listed_plugin &plugin : listed_plugins)
		files.push_back(plugin.path);
	return files;
}

class MinimalHost : public ::testing::TestWithParam<std::string> {};

TEST_P(MinimalHost, LoadsThePluginAndTakesItsRecords)
{
	const std::string file = stem(GetParam());
	const std::string clause = file.substr(file.find('_') + 1);
	unsigned before = 0;
	minimal_host_records(&before);
	void *handle = dlopen(GetParam().c_str(), RTLD_NOW | RTLD_LOCAL);
	ASSERT_NE(handle, nullptr) << dlerror();
	unsigned after = 0;
	const minimal_host_record *records = minimal_host_records(&after);
	ASSERT_GT(after, before) << file << " registers nothing";
	for (unsigned i = before; i < after; ++i) {
		EXPECT_STREQ(records[i].version, ZUNDER_VERSION) << file;
		EXPECT_EQ(records[i].name, clause) << file;
	}
}

INSTANTIATE_TEST_SUITE_P(All, MinimalHost, ::testing::ValuesIn(plugin_files()),
			 [](const auto &info) { return stem(info.param); });

} // namespace

int main(int argc, char **argv)
{
	// The connection-label plug-in registers only when it can read a label file.
	setenv("PAVANE_CONNLABEL_CONF", ZUNDER_SAMPLE_LABELS, 0);
	::testing::InitGoogleTest(&argc, argv);
	return RUN_ALL_TESTS();
}
