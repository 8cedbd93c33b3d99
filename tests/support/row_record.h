// Test support: the accepted rows of the tests' tables, written out for
// tools that want the same cases (fuzz/make_corpus.py makes the fuzzers'
// seed corpora from them).
#pragma once

#include <string>
#include <vector>

namespace ztest {

// When ZUNDER_ROWS_DIR is set, appends `words` (a whole zunder call) as one
// `zunder --batch` line to $ZUNDER_ROWS_DIR/<clause>.rules; `clause` empty
// takes it from the word after -m or -j.  Words no line can hold are skipped.
void record_row(std::string clause, const std::vector<std::string> &words);

} // namespace ztest
