// SPDX-License-Identifier: GPL-2.0-or-later
// The benchmark bodies: one measured operation each, with the counters.
#pragma once

#include "harness.h"

#include <benchmark/benchmark.h>

namespace bench {

enum class operation { parse, print, save };

// One operation on one clause, on the real record or on the null one, with
// the protocol look-ups answered from the database or from memory.
void run_clause(benchmark::State &state, clause &c, operation op, bool null, bool cached);

// The clause's finished print or save text written with one fputs.
void run_fputs(benchmark::State &state, clause &c, operation op);

// dlopen (RTLD_NOW, the constructor registers) and dlclose of a file.
void run_load(benchmark::State &state, const char *path);

// One protocol-database look-up, with the database closed or kept open.
void run_byname(benchmark::State &state, const char *name, bool stay_open);
void run_bynumber(benchmark::State &state, int number, bool stay_open);

// The real `zunder --batch` over `rules` rules, wall clock: the plug-ins'
// rules in turn, or those of plugins()[only] alone.
void run_batch(benchmark::State &state, long rules, int only = -1);

} // namespace bench
