// SPDX-License-Identifier: GPL-2.0-or-later
// Every plug-in file loads, with RTLD_NOW, into a process whose
// libzunder.so.10 is minimal_host.c, written from the contract alone and
// built without symbol versions or with a version node of another name, and
// registers its clause there.  What a plug-in needs of the host beyond the
// contract, or a version node of the stand-in's, fails here.
#include "listed_plugins.h"
#include "minimal_host.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>

namespace {

// The file name up to its first dot: libzu_policy for .../libzu_policy.so.
std::string stem(const std::string &path)
{
	std::string name = path.substr(path.find_last_of('/') + 1);
	return name.substr(0, name.find('.'));
}

class MinimalHost : public ::testing::TestWithParam<listed_plugin> {};

TEST_P(MinimalHost, LoadsThePluginAndTakesItsRecords)
{
	const std::string file = stem(GetParam().path);
	unsigned before = 0, after = 0;
	minimal_host_records(&before);
	ASSERT_NE(dlopen(GetParam().path, RTLD_NOW | RTLD_LOCAL), nullptr) << dlerror();
	const minimal_host_record *records = minimal_host_records(&after);
	ASSERT_GT(after, before) << file << " registers nothing";
	for (unsigned i = before; i < after; ++i) {
		EXPECT_STREQ(records[i].version, ZUNDER_VERSION) << file;
		EXPECT_EQ(records[i].name, file.substr(file.find('_') + 1)) << file;
	}
}

INSTANTIATE_TEST_SUITE_P(All, MinimalHost, ::testing::ValuesIn(listed_plugins),
			 [](const auto &info) { return stem(info.param.path); });

} // namespace

int main(int argc, char **argv)
{
	// The connection-label plug-in registers only when it can read a label file.
	setenv("PAVANE_CONNLABEL_CONF", ZUNDER_SAMPLE_LABELS, 0);
	::testing::InitGoogleTest(&argc, argv);
	return RUN_ALL_TESTS();
}
