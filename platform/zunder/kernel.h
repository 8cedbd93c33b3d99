// SPDX-License-Identifier: GPL-2.0-or-later
// zunder --kernel: one clause through the running kernel's packet filter, in
// the filter table of a network namespace made for it, so that the machine's
// own tables are never touched.
#pragma once

#include "zunder_host.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kernel {

// Why something could not be done; empty when it was.  `environment` marks a
// machine that cannot judge rules at all (no namespace, no packet filter), as
// against a rule that the kernel does not take.
struct failure {
	std::string message;
	bool environment = false;
	explicit operator bool() const { return !message.empty(); }
};

// One clause of a rule as the kernel receives it.
struct clause {
	zunder::clause_kind kind;
	const char *name;
	uint8_t revision;
	uint16_t family; // ZU_FAMILY_IPV4 or ZU_FAMILY_IPV6
	std::span<const unsigned char> block;
};

// Moves this process into a new network namespace, so that the machine's
// own tables are never touched; judge needs it.  One is enough for any
// number of rules.
failure enter_own_namespace();

// Loads the clause (load_rule) and reads the rule back: `returned` gets the
// clause's block as the kernel hands it back, as many bytes as were sent.
// Then the table is emptied again, so that what the rule held in the kernel
// (a named rate estimator with its parameters) is gone before the next rule:
// each rule meets the kernel as in a namespace of its own, and a batch needs
// one namespace, not one a rule, which the kernel frees later than they
// would be made.
failure judge(const clause &c, std::vector<unsigned char> &returned);

// Replaces the filter table of the clause's family, in the namespace this
// process is in, with a table whose FORWARD chain holds one rule: the match
// followed by an ACCEPT verdict, or the target.  Every built-in chain keeps
// the policy ACCEPT.
failure load_rule(const clause &c);

// One rule: the chain it goes into, by its hook (NF_INET_LOCAL_IN, ...),
// its matches and at most one target.
struct rule {
	unsigned hook;
	std::vector<clause> clauses;
};

// Replaces the filter table of `family`, in this process's namespace, with a
// table whose chains hold `rules`, each chain its rules in their order.  A
// rule without a target ACCEPTs, or with `fall_through` hands the packet on
// to the next rule.
failure load_rules(uint16_t family, std::span<const rule> rules, bool fall_through);

// How many packets each of `rules`, as load_rules loaded them, has seen.
failure packet_counts(uint16_t family, std::span<const rule> rules, std::vector<uint64_t> &packets);

// The filter table of `family` in this process's namespace as the kernel
// describes it, its info and then its entries, for comparing before and after.
failure table_bytes(uint16_t family, std::vector<unsigned char> &bytes);

} // namespace kernel
