// SPDX-License-Identifier: GPL-2.0-or-later
// Inputs the connlabel clause must refuse, beyond those in connlabel_test.cpp:
// each row is an option vector and the exact message (exit status 2 too).
#include "rule_checks.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {

// A label file of its own, so that the rows do not hang on the sample file.
class ConnlabelBadInput : public ::testing::Test {
protected:
	static void SetUpTestSuite()
	{
		char pattern[] = "/tmp/connlabel_bad_input.XXXXXX";
		ASSERT_NE(mkdtemp(pattern), nullptr);
		dir_ = new std::string(pattern);
		std::ofstream(*dir_ + "/labels") << "5 blocked\n"
						    "8 \xc3\xa9t\xc3\xa9\n"
						    "9 "
						 << std::string(255, 'm') << "\n";
		env_ = new std::vector<std::string>{"PAVANE_CONNLABEL_CONF=" + *dir_ + "/labels"};
	}
	static void TearDownTestSuite()
	{
		std::filesystem::remove_all(*dir_);
		delete dir_;
		delete env_;
	}
	static void expect_rejected(const std::vector<ztest::bad_input> &rows)
	{
		ztest::expect_rejected({"-4", "-m", "connlabel"}, rows, *env_);
	}

private:
	static std::string *dir_;
	static std::vector<std::string> *env_;
};

std::string *ConnlabelBadInput::dir_ = nullptr;
std::vector<std::string> *ConnlabelBadInput::env_ = nullptr;

std::string not_found(const std::string &name)
{
	return "label '" + name + "' not found";
}

TEST_F(ConnlabelBadInput, NamesTheMapDoesNotKnow)
{
	const std::string overlong(256, 'm'); // one more than the longest name in the file
	const std::string very_long(10000, 'z');
	expect_rejected({
		// Only the plain form of a number stands for a bit.
		{{"--label", "007"}, not_found("007")},
		{{"--label", "+5"}, not_found("+5")},
		{{"--label", " 5"}, not_found(" 5")},
		{{"--label", "5 "}, not_found("5 ")},
		{{"--label", "0x5"}, not_found("0x5")},
		{{"--label", "4294967301"}, not_found("4294967301")},
		// Names exactly as in the file: no trimming, bytes compared as they are.
		{{"--label", "blocked "}, not_found("blocked ")},
		{{"--label", "\xc3\x89t\xc3\xa9"}, not_found("\xc3\x89t\xc3\xa9")},
		{{"--label", "\xff"}, not_found("\xff")},
		{{"--label", overlong}, not_found(overlong)},
		{{"--label", very_long}, not_found(very_long)},
	});
}

TEST_F(ConnlabelBadInput, WordsThatAreNoOption)
{
	expect_rejected({
		{{"--labels", "blocked"}, "connlabel: unknown option \"--labels\""},
		{{"--label", "blocked", "set"}, "connlabel: unknown option \"set\""},
		{{"--set", "blocked"}, "connlabel: unknown option \"blocked\""},
		{{"!", "!", "--label", "blocked"}, "connlabel: unknown option \"!\""},
		{{"--label", "blocked", "!"}, "connlabel: \"!\" must be followed by an option"},
		{{"!", "--label"}, "connlabel: option \"--label\" requires an argument"},
		{{}, "connlabel: option \"--label\" must be given"},
	});
}

} // namespace
