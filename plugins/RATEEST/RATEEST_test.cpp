#include "rule_checks.h"
