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

std::string read_file(const std::string &path)
{
	std::ifstream file(path);
	return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// The table's rows under "shell on" (ok: accepted; prints: a block read
// back, whose saved text is refused), typed as saved into an interactive
// bash in a UTF-8 locale through a terminal (script(1)), whose line editor
// drops or moves bytes outside UTF-8 even inside quotes and which expands
// history.  An accepted name gives its block again; a name read back, its
// bytes outside UTF-8 saved as \xHH, is refused, never read as another
// name.  HOME is the test's folder, away from the user's history and
// line editor settings.
TEST(Rateest, SavedNamesTypedIntoAnInteractiveBash)
{
	if (run_shell("LC_ALL=C.UTF-8 locale charmap 2>/dev/null").out != "UTF-8\n")
		GTEST_SKIP() << "no C.UTF-8 locale on this machine";
	if (run_shell("command -v script && command -v bash").status != 0)
		GTEST_SKIP() << "script(1) or bash is missing (Debian packages bsdutils, bash)";
	const run_result listed = run_program(ZUNDER_CASES, {"--shell-rows", RATEEST_CASES});
	EXPECT_EQ(listed.status, 0) << listed.err;
	std::vector<std::pair<std::string, bool>> rows; // batch line, accepted
	std::istringstream listing(listed.out);
	for (std::string line; std::getline(listing, line);)
		rows.emplace_back(line.substr(line.find(' ') + 1), line.starts_with("ok "));
	ASSERT_GT(rows.size(), 30u);
	const std::string batch = testing::TempDir() + "/rateest-names-" + std::to_string(getpid());
	std::ofstream lines(batch);
	for (const auto &[line, accepted] : rows)
		lines << line << "\n";
	lines.close();
	const run_result saved = ztest::zunder({"--batch", batch});
	std::remove(batch.c_str());
	ASSERT_EQ(saved.status, 0) << saved.err;
	const std::string dir = testing::TempDir() + "/rateest-typed-" + std::to_string(getpid());
	std::filesystem::create_directories(dir);
	// Each row writes block, list and save lines if accepted, else list and save.
	std::vector<std::string> written(rows.size());
	std::ofstream typed(dir + "/typed");
	std::istringstream out(saved.out);
	size_t count = 0;
	for (std::string line; count < rows.size() && std::getline(out, line);) {
		written[count] += line + "\n";
		if (line.starts_with("save"))
			typed << "$ZUNDER -j RATEEST" << line.substr(4) << " >" << count++ << " 2>&1\n";
	}
	typed << "exit 0\n";
	typed.close();
	ASSERT_EQ(count, rows.size());
	const auto session = run_shell(
		"cd \"$DIR\" && unset INPUTRC && HOME=\"$DIR\" HISTFILE=\"$DIR/history\" LC_ALL=C.UTF-8 "
		"TERM=dumb script -qec 'bash --norc --noprofile -i' /dev/null <typed >/dev/null",
		{"DIR=" + dir});
	ASSERT_EQ(session.status, 0) << session.err;
	for (size_t i = 0; i < rows.size(); ++i) {
		const std::string got = read_file(dir + "/" + std::to_string(i));
		if (rows[i].second) {
			EXPECT_TRUE(written[i].starts_with("block ")) << rows[i].first;
			EXPECT_EQ(got, written[i]) << rows[i].first;
		} else {
			EXPECT_TRUE(got.starts_with("zunder: RATEEST: ")) << rows[i].first << ": " << got;
		}
	}
	std::filesystem::remove_all(dir);
}

// A host that set its locale from the environment, one with a decimal
// comma: times still read and print with a point, as every other host reads
// them back.  The locale is made with localedef in a folder of its own
// (LOCPATH), so the machine's installed locales play no part.
TEST(Rateest, TimesReadAndPrintTheSameInEveryLocale)
{
	const std::string dir = testing::TempDir() + "/rateest-locale-" + std::to_string(getpid());
	const auto made =
		run_shell("mkdir -p \"$DIR\" && localedef -i de_DE -f UTF-8 \"$DIR/de_DE.UTF-8\" 2>&1",
			  {"DIR=" + dir});
	setenv("LOCPATH", dir.c_str(), 1);
	setenv("LC_ALL", "de_DE.UTF-8", 1);
	const bool comma = std::filesystem::exists(dir + "/de_DE.UTF-8/LC_NUMERIC") &&
			   std::setlocale(LC_ALL, "") != nullptr &&
			   std::string(localeconv()->decimal_point) == ",";
	unsetenv("LC_ALL");
	unsetenv("LOCPATH");
	if (!comma) {
		std::setlocale(LC_ALL, "C");
		std::filesystem::remove_all(dir);
		GTEST_SKIP() << "cannot make and load a locale with a decimal comma (localedef and Debian's "
				"package locales): "
			     << made.out;
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
	EXPECT_EQ(std::string(localeconv()->decimal_point), ","); // the host's locale is kept
	std::setlocale(LC_ALL, "C");
	std::filesystem::remove_all(dir);
}

} // namespace
