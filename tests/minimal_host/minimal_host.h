/* SPDX-License-Identifier: GPL-2.0-or-later */
/* The minimal host library's one addition to the contract: what was registered. */
#ifndef MINIMAL_HOST_H
#define MINIMAL_HOST_H

#include <zunder.h>

#ifdef __cplusplus
extern "C" {
#endif

#define MINIMAL_HOST_MAX_RECORDS 16

struct minimal_host_record {
	const char *version;
	const char *name;
	uint16_t family;
};

const struct minimal_host_record *minimal_host_records(unsigned int *count);

#ifdef __cplusplus
}
#endif

#endif
