/* Baseline for the plug-in load benchmark: a C shared object with nothing in it. */
