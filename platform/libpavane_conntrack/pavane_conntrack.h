// SPDX-License-Identifier: GPL-2.0-or-later
/*
 * libpavane_conntrack: the connection-label map.
 *
 * Connection labels are bits 0 to 127 of a connection's label set.  A label
 * file gives some of them names, one a line:
 *
 *     # comment
 *     5   blocked
 *
 * Leading blanks are skipped; empty lines, blank lines and lines whose first
 * non-blank character is '#' are ignored.  Otherwise a line is a decimal bit
 * number from 0 to 127 (digits only, leading zeros allowed), one or more
 * blanks (space, tab, CR, VT, FF), a name, and nothing but blanks after it.
 * A name is one word of at most MOKT_LABEL_NAME_MAX bytes of valid UTF-8;
 * its bytes are printable (above space, not DEL) and none of  " \ $ ` !
 * so that a saved rule quoting the name in double quotes reads back the
 * same through a shell, also typed into an interactive bash (history
 * expansion, a line editor in a UTF-8 locale).  Any other line does not
 * fit and is skipped, and so is a line that
 * names a bit already named, gives a name already given to another bit, or
 * uses as its name a bit number in its plain form ("0" to "127"), which
 * would hide that bit.  Lines may be of any length.
 *
 * Usable from C and C++.
 */
#ifndef PAVANE_CONNTRACK_H
#define PAVANE_CONNTRACK_H

#ifdef __cplusplus
extern "C" {
#endif

#define MOKT_LABEL_BITS 128
#define MOKT_LABEL_NAME_MAX 255

struct mokt_labelmap;

/*
 * Reads a label file.  A null path selects the default file: the one named
 * by the environment variable PAVANE_CONNLABEL_CONF when it is set and not
 * empty (an empty one counts as unset; an empty path argument does not), else a
 * connlabel.conf beside this library (the build tree keeps its sample file
 * there), else connlabel.conf in the configuration folder of the installation
 * this library belongs to (found relative to the library under the install
 * prefix, /etc for the /usr prefix).
 * Returns null
 * with errno set when the file cannot be read (ENOENT, EACCES, EISDIR for a
 * folder, EINVAL for any other file that is not a regular file such as a
 * FIFO or a device, ENOMEM, ...); it never waits on a FIFO.  A file without any fitting line gives an empty
 * map.
 */
struct mokt_labelmap *mokt_labelmap_new(const char *path);

/* Releases a map and the names it handed out.  A null map is ignored. */
void mokt_labelmap_free(struct mokt_labelmap *map);

/*
 * The bit number of a label name, compared exactly (no trimming, no case
 * folding).  A name the file does not define, written as a bit number in
 * its plain form (decimal, no sign, no leading zeros, 0 to 127), stands for
 * that bit, so that an unnamed bit written as its number reads back.
 * Returns -1 for any other name.
 */
int mokt_labelmap_get_bit(const struct mokt_labelmap *map, const char *name);

/*
 * The name of a bit, or null when the bit has no name or is out of range.
 * The text belongs to the map and lives as long as the map.
 */
const char *mokt_labelmap_get_name(const struct mokt_labelmap *map, unsigned int bit);

#ifdef __cplusplus
}
#endif

#endif
