// SPDX-License-Identifier: GPL-2.0-or-later
/*
 * The contract between libzunder.so.10 and its rule-extension plug-ins.
 *
 * A plug-in is a shared object whose load-time constructor registers one or
 * more static records.  The host then drives the record's operations: it
 * zero-fills the clause's info block (and scratch block), calls `parse` once
 * per option, runs its own option checks and the plug-in's `final_check`,
 * and later hands blocks read back from the kernel to `print` and `save`.
 *
 * Usable from C and C++.  Multi-byte fields are in host byte order.
 */
#ifndef ZUNDER_H
#define ZUNDER_H

#include <netinet/in.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define ZUNDER_VERSION "libzunder.so.10"

/* Address family codes of registration records. */
enum {
	ZU_FAMILY_ANY = 0,
	ZU_FAMILY_IPV4 = 2,
	ZU_FAMILY_IPV6 = 10,
};

/* Option argument types. */
enum zu_option_type {
	ZU_TYPE_NONE = 0,         /* no argument */
	ZU_TYPE_UINT32 = 3,       /* unsigned 32-bit number */
	ZU_TYPE_UINT32_RANGE = 7, /* one unsigned 32-bit number or "a:b" */
	ZU_TYPE_STRING = 10,      /* text */
	ZU_TYPE_HOSTMASK = 15,    /* address with optional "/mask" */
	ZU_TYPE_PROTOCOL = 16,    /* protocol name or number */
};

/* Option row flags. */
enum zu_option_flag {
	ZU_FLAG_INVERT = 1,    /* may be negated with "!" */
	ZU_FLAG_MANDATORY = 2, /* must be given */
	ZU_FLAG_MULTI = 4,     /* may be given more than once */
	ZU_FLAG_STORE = 8,     /* host stores the value at store_offset */
};

/*
 * One row of a plug-in's option table; a table ends with an all-zero row.
 * `exclusive_with` and `requires` are bit sets over option ids (bit 1 << id).
 * `requires` is a keyword in C++20, so C++ code names that field `requires_`.
 */
struct zu_option_entry {
	const char *name;  /* without the leading "--" */
	unsigned int type; /* enum zu_option_type */
	unsigned int id;   /* 0..31 */
	unsigned int exclusive_with;
#ifdef __cplusplus
	unsigned int requires_;
#else
	unsigned int requires;
#endif
	unsigned int flags; /* enum zu_option_flag */
	unsigned int store_offset;
	unsigned int store_size;
	unsigned int min; /* text: least length */
	unsigned int max; /* text: most length; numbers: largest value (0: no limit) */
};

/* What zunder_option_parse delivers for the option's type. */
union zu_option_value {
	uint32_t u32;
	uint32_t u32_range[2]; /* value_count tells whether one or two were given */
	uint8_t protocol;
	struct {
		union {
			uint8_t bytes[16];
			struct in_addr in;
			struct in6_addr in6;
		} addr;
		union {
			uint8_t bytes[16];
			struct in_addr in;
			struct in6_addr in6;
		} mask;
	} host; /* IPv4 uses the first 4 bytes of each; the rest stays 0 */
};

/* Handed to a plug-in's parse operation, once per option. */
struct zu_option_call {
	const char *arg; /* the option's argument, or NULL for type 0 */
	const struct zu_option_entry *entry;
	void *data;     /* the clause's info block */
	uint8_t invert; /* "!" was given before the option */
	uint8_t value_count;
	union zu_option_value value;
	void *udata; /* the clause's scratch block (udata_size bytes) */
	/* Host-owned. */
	const char *clause; /* clause name, for messages */
	uint16_t family;    /* family the clause is parsed for (2 or 10) */
};

/* Handed to a plug-in's final check, once after the last option. */
struct zu_fcheck_call {
	void *data;
	void *udata;
	/* Host-owned. */
	const char *clause;
};

/*
 * Kernel clause entry: a 32-byte header, then the info block.  Listing and
 * saving receive the entry as the kernel would return it.
 */
struct zu_clause_entry {
	uint16_t entry_size; /* header plus info block, bytes */
	uint8_t revision;
	uint8_t family;
	char name[28];        /* clause name, NUL-terminated */
	unsigned char data[]; /* the info block */
} __attribute__((aligned(8)));

#ifdef __cplusplus
#define ZU_STATIC_ASSERT static_assert
#else
#define ZU_STATIC_ASSERT _Static_assert
#endif
ZU_STATIC_ASSERT(sizeof(struct zu_clause_entry) == 32, "clause entry header is 32 bytes");
ZU_STATIC_ASSERT(offsetof(struct zu_clause_entry, entry_size) == 0, "entry_size at 0");
ZU_STATIC_ASSERT(offsetof(struct zu_clause_entry, revision) == 2, "revision at 2");
ZU_STATIC_ASSERT(offsetof(struct zu_clause_entry, family) == 3, "family at 3");
ZU_STATIC_ASSERT(offsetof(struct zu_clause_entry, name) == 4, "name at 4");
ZU_STATIC_ASSERT(offsetof(struct zu_clause_entry, data) == 32, "info block at 32");
#undef ZU_STATIC_ASSERT

typedef void (*zu_help_fn)(void);
typedef void (*zu_parse_fn)(struct zu_option_call *call);
typedef void (*zu_final_check_fn)(struct zu_fcheck_call *call);
typedef void (*zu_print_fn)(const void *ip, const struct zu_clause_entry *entry, int numeric);
typedef void (*zu_save_fn)(const void *ip, const struct zu_clause_entry *entry);

/*
 * Registration records.  Plug-ins fill the fields up to `udata_size`, in
 * this order; the rest belongs to the host.
 */
#define ZU_RECORD_FIELDS(record)                                                                             \
	const char *version; /* ZUNDER_VERSION */                                                            \
	const char *name;                                                                                    \
	uint8_t revision;                                                                                    \
	uint16_t family;                                                                                     \
	unsigned int size; /* info block bytes, a multiple of 8 */                                           \
	unsigned int userspace_size;                                                                         \
	zu_help_fn help;                                                                                     \
	zu_print_fn print;                                                                                   \
	zu_save_fn save;                                                                                     \
	zu_parse_fn parse;                                                                                   \
	zu_final_check_fn final_check;                                                                       \
	const struct zu_option_entry *options;                                                               \
	unsigned int udata_size;                                                                             \
	/* Host-owned. */                                                                                    \
	struct record *next;                                                                                 \
	const char *loaded_from;

struct zunder_match {
	ZU_RECORD_FIELDS(zunder_match)
};
struct zunder_target {
	ZU_RECORD_FIELDS(zunder_target)
};

/* Host parameters; plug-ins reach the fatal-error callback through it. */
struct zu_params {
	const char *program_name;
	/* Prints the message and ends the command; never returns. */
	void (*exit_error)(int status, const char *format, ...)
		__attribute__((noreturn, format(printf, 2, 3)));
};

extern struct zu_params *zu_params;

void zunder_register_match(struct zunder_match *record);
void zunder_register_matches(struct zunder_match *records, unsigned int count);
void zunder_register_target(struct zunder_target *record);
void zunder_register_targets(struct zunder_target *records, unsigned int count);

/*
 * Checks and converts call->arg by the row's type, sets value and
 * value_count, stores the value when the row has ZU_FLAG_STORE, and rejects
 * bad values and a "!" the row does not allow.  Errors go to exit_error.
 */
void zunder_option_parse(struct zu_option_call *call);

/*
 * Address-to-text helpers.  Each returns a static buffer that the next call
 * overwrites.  A mask's text is written straight after its address: "" for
 * a full mask, "/N" for a prefix, else "/" and the mask in address form.
 */
const char *zunder_ipaddr_to_numeric(const struct in_addr *addr);
const char *zunder_ipmask_to_numeric(const struct in_addr *mask);
const char *zunder_ip6addr_to_numeric(const struct in6_addr *addr);
const char *zunder_ip6mask_to_numeric(const struct in6_addr *mask);

#ifdef __cplusplus
}
#endif

#endif
