// SPDX-License-Identifier: GPL-2.0-or-later
// Heap calls and protocol look-ups, counted by definitions of malloc and
// friends and of getprotobyname/getprotobynumber in the benchmark program:
// being in the executable, they come first for the host library and for
// every plug-in.  In "db cached" runs the look-ups answer from a small
// table instead of the database, so that what is left is the plug-in's own
// work.
#pragma once

#include <benchmark/benchmark.h>

namespace bench {

extern unsigned long db_calls; // getprotobyname / getprotobynumber so far
extern bool db_cached;         // answer look-ups from memory

// Finds the C library's look-ups behind ours; false when it cannot.
bool find_real_protocol_lookups();

// Per-iteration counters around a benchmark's loop: allocations, bytes left
// allocated, protocol look-ups.
class counting {
public:
	explicit counting(benchmark::State &state) : state_(state) {}
	void start();
	void stop();

private:
	benchmark::State &state_;
	unsigned long heap_ = 0, db_ = 0;
	long live_ = 0;
};

} // namespace bench
