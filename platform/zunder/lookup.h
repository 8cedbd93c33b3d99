// SPDX-License-Identifier: GPL-2.0-or-later
// zunder's plug-in look-up: the file that serves a rule's clause.
#pragma once

#include "rule.h"

#include <string>

namespace command {

// Loads the clause's plug-in file(s) until one registers the clause; for
// help (`any_family`) a record of either family will do.  Null when none
// does, with why in `why`.  The plug-in folder is ZUNDER_PLUGIN_DIR, else the
// one beside the program; a folder that cannot be found ends the command.
const zunder::plugin_record *find_clause(run &run, const rule &r, bool any_family, std::string &why);

} // namespace command
