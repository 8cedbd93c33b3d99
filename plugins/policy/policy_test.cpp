// SPDX-License-Identifier: GPL-2.0-or-later
// What the policy table (policy.cases) cannot hold: the machine's own
// protocol database, and a final check the rule command cannot reach.
#include "zunder_host.h"
#include "zunder_run.h"

#include <gtest/gtest.h>
#include <netdb.h>

#include <cstdio>
#include <cstring>

namespace {

using namespace ztest;

// The machine's own database: a name parses to its number, listed by the
// machine's name, which parses back.
TEST(Policy, MachineDatabase)
{
	const protoent *esp = getprotobyname("esp");
	if (esp == nullptr)
		GTEST_SKIP() << "this machine has no protocol database (/etc/protocols, Debian package "
				"netbase) or it lacks \"esp\"";
	const protoent *entry = getprotobynumber(esp->p_proto);
	const std::string name = entry ? entry->p_name : std::to_string(esp->p_proto);
	char number[3];
	std::snprintf(number, sizeof number, "%02x", esp->p_proto);
	for (const std::string dir : {"in", "out"}) {
		// The protocol at 72, its bit at 74, the direction at 304, one element at 306.
		std::string block(624, '0');
		block.replace(144, 2, number);
		block.replace(148, 2, "04");
		block.replace(608, 2, dir == "in" ? "01" : "02");
		block.replace(612, 2, "01");
		const std::string family = dir == "in" ? "-4" : "-6";
		const std::string wanted = "block " + block + "\nlist policy match dir " + dir +
					   " pol ipsec proto " + name + "\nsave --dir " + dir +
					   " --pol ipsec --proto " + name + "\n";
		const auto given = ztest::zunder({family, "-m", "policy", "--dir", dir, "--proto", "esp"},
						 system_protocols);
		EXPECT_EQ(given.out, wanted) << given.err;
		const auto back = ztest::zunder({family, "-m", "policy", "--dir", dir, "--pol", "ipsec",
						 "--proto", name},
						system_protocols);
		EXPECT_EQ(back.out, wanted) << back.err;
	}
}

// Policy none with elements cannot reach the final check through zunder
// (--next needs --strict, refused first with none): drive the record.
TEST(Policy, PolicyNoneWithElementsIsRefused)
{
	ASSERT_EQ(zunder::load_plugin_file(POLICY_PLUGIN_FILE), "");
	const zunder::plugin_record *record =
		zunder::find_record(zunder::clause_kind::match, "policy", ZU_FAMILY_IPV4);
	ASSERT_NE(record, nullptr);
	ASSERT_EQ(record->size, 312u);
	alignas(8) unsigned char data[312] = {};
	const uint16_t flags = 1 | 4, count = 1; // in, policy none
	std::memcpy(data + 304, &flags, 2);
	std::memcpy(data + 306, &count, 2);
	zu_fcheck_call call{data, nullptr, "policy"};
	EXPECT_EXIT(record->final_check(&call), ::testing::ExitedWithCode(2),
		    "^zunder: policy match: policy none but policy given\n$");
}

} // namespace
