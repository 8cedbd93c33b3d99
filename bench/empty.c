// SPDX-License-Identifier: GPL-2.0-or-later
/* Baseline for the plug-in load benchmark: a C shared object with nothing in it. */
