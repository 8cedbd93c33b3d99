// SPDX-License-Identifier: GPL-2.0-or-later
// What the RATEEST table (RATEEST.cases) cannot hold: its saved names typed
// into an interactive bash, and a host under a locale with a decimal comma.
#include "zunder_host.h"
#include "zunder_run.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

namespace {

using namespace ztest;

// The rows of the table that go through shells (those between "shell on"
// and "shell off"), as the table runner reads them: the rule as a batch line,
// and whether it is accepted (ok) rather than a block read back (prints),
// whose saved text is refused.
struct name_row {
	std::string line;
	bool accepted;
};

std::vector<name_row> name_rows()
{
	const run_result listed = run_program(ZUNDER_CASES, {"--shell-rows", RATEEST_CASES});
	EXPECT_EQ(listed.status, 0) << listed.err;
	std::vector<name_row> rows;
	std::istringstream lines(listed.out);
	for (std::string line; std::getline(lines, line);)
		rows.push_back({line.substr(line.find(' ') + 1), line.starts_with("ok ")});
	return rows;
}

// The saved names typed into an interactive bash in a UTF-8 locale, through
// a terminal (script(1)): its line editor drops or moves bytes that are not
// UTF-8 as they are typed, even inside quotes, and it expands history.  The
// accepted names give their block; the ones read back from blocks, whose
// bytes outside UTF-8 are saved as \xHH, are refused, never read as another
// name.  Its home is the test's folder: the user's history file and line
// editor settings stay out of it.
TEST(Rateest, SavedNamesTypedIntoAnInteractiveBash)
{
	if (run_shell("LC_ALL=C.UTF-8 locale charmap 2>/dev/null").out != "UTF-8\n")
		GTEST_SKIP() << "no C.UTF-8 locale on this machine";
	if (run_shell("command -v script && command -v bash").status != 0)
		GTEST_SKIP() << "script(1) or bash is missing (Debian packages bsdutils, bash)";
	const std::vector<name_row> checked = name_rows();
	ASSERT_GT(checked.size(), 30u);
	const std::string batch = testing::TempDir() + "/rateest-names-" + std::to_string(getpid());
	std::ofstream lines(batch);
	for (const name_row &r : checked)
		lines << r.line << "\n";
	lines.close();
	const run_result saved = ztest::zunder({"--batch", batch});
	std::remove(batch.c_str());
	ASSERT_EQ(saved.status, 0) << saved.err;
	const std::string dir = testing::TempDir() + "/rateest-typed-" + std::to_string(getpid());
	std::filesystem::create_directories(dir);
	std::ofstream typed(dir + "/typed");
	// What each row writes, which the table holds: block, list and save lines
	// for an accepted rule, list and save for a block read back.
	std::vector<std::string> written(checked.size());
	std::istringstream out(saved.out);
	size_t count = 0;
	for (std::string line; count < checked.size() && std::getline(out, line);) {
		written[count] += line + "\n";
		if (line.starts_with("save"))
			typed << "$ZUNDER -j RATEEST" << line.substr(4) << " >" << count++ << " 2>&1\n";
	}
	typed << "exit 0\n";
	typed.close();
	ASSERT_EQ(count, checked.size());
	const auto session = run_shell(
		"cd \"$DIR\" && unset INPUTRC && HOME=\"$DIR\" HISTFILE=\"$DIR/history\" LC_ALL=C.UTF-8 "
		"TERM=dumb script -qec 'bash --norc --noprofile -i' /dev/null <typed >/dev/null",
		{"DIR=" + dir});
	ASSERT_EQ(session.status, 0) << session.err;
	for (size_t i = 0; i < checked.size(); ++i) {
		const name_row &r = checked[i];
		std::ifstream file(dir + "/" + std::to_string(i));
		const std::string got((std::istreambuf_iterator<char>(file)),
				      std::istreambuf_iterator<char>());
		if (r.accepted) {
			EXPECT_TRUE(written[i].starts_with("block ")) << r.line;
			EXPECT_EQ(got, written[i]) << r.line;
		} else {
			EXPECT_TRUE(got.starts_with("zunder: RATEEST: ")) << r.line << ": " << got;
		}
	}
	std::filesystem::remove_all(dir);
}

// A host that took its locale from the environment (setlocale(LC_ALL, ""))
// under one with a decimal comma: times still read and print with a point,
// as every other host reads them back.  The locale is made for the test
// with localedef in a folder of its own (LOCPATH), so that the machine's
// installed locales play no part.
TEST(Rateest, TimesReadAndPrintTheSameInEveryLocale)
{
	const std::string dir = testing::TempDir() + "/rateest-locale-" + std::to_string(getpid());
	const auto made =
		run_shell("mkdir -p \"$DIR\" && localedef -i de_DE -f UTF-8 \"$DIR/de_DE.UTF-8\" 2>&1",
			  {"DIR=" + dir});
	if (!std::filesystem::exists(dir + "/de_DE.UTF-8/LC_NUMERIC")) {
		std::filesystem::remove_all(dir);
		GTEST_SKIP() << "cannot make a locale with a decimal comma (localedef and the locale sources "
				"of Debian's package locales): "
			     << made.out;
	}
	setenv("LOCPATH", dir.c_str(), 1);
	setenv("LC_ALL", "de_DE.UTF-8", 1);
	const bool comma =
		std::setlocale(LC_ALL, "") != nullptr && std::string(localeconv()->decimal_point) == ",";
	unsetenv("LC_ALL");
	unsetenv("LOCPATH");
	if (!comma) {
		std::setlocale(LC_ALL, "C");
		std::filesystem::remove_all(dir);
		GTEST_SKIP() << "the locale made with localedef does not load here";
	}

	ASSERT_EQ(zunder::load_plugin_file(RATEEST_PLUGIN_FILE), "");
	const zunder::plugin_record *record =
		zunder::find_record(zunder::clause_kind::target, "RATEEST", ZU_FAMILY_IPV4);
	ASSERT_NE(record, nullptr);
	const char *const args[] = {"--rateest-name",    "e",     "--rateest-interval", "0.5s",
				    "--rateest-ewmalog", "1.5e1s"};
	zunder::clause_state state;
	const auto error = zunder::try_parse_clause(*record, ZU_FAMILY_IPV4, args, state);
	EXPECT_FALSE(error) << error->message;
	const std::vector<unsigned char> block(state.info.data(), state.info.data() + state.info.size());
	EXPECT_EQ(block[16], 0xff); // 500ms
	EXPECT_EQ(block[17], 4);
	testing::internal::CaptureStdout();
	zunder::print_block(*record, ZU_FAMILY_IPV4, block, false);
	std::fputc('\n', stdout);
	zunder::save_block(*record, ZU_FAMILY_IPV4, block);
	std::fflush(stdout);
	EXPECT_EQ(testing::internal::GetCapturedStdout(),
		  " name e interval 500.0ms ewmalog 8.0s\n"
		  " --rateest-name e --rateest-interval 500.0ms --rateest-ewmalog 8.0s");
	// The host's own locale is left as it was.
	EXPECT_EQ(std::string(localeconv()->decimal_point), ",");
	std::setlocale(LC_ALL, "C");
	std::filesystem::remove_all(dir);
}

} // namespace
