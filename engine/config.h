// The store's plain-text configuration file: sections of "name = value" entries.
#pragma once

#include <stddef.h>

#include "fs.h"

// Called for every entry in file order with its full name ("section.name" or
// "section.subsection.name") and its value, or NULL for a bare entry. A negative
// return stops the parse with an error.
typedef int (*config_fn)(const char *name, const char *value, void *data);

// 0, -1 (invalid key) or -2 (no section or name). On 0, *normalised is a new string the
// caller frees and *baselen the length before the last ".".
int config_parse_key(const char *key, char **normalised, size_t *baselen);
int config_from_file(config_fn fn, const char *path, void *data);
// path NULL: the mounted store's configuration file.
int config_set_in_file(const char *path, const char *key, const char *value, int replace_all);
int config_string(char **dest, const char *name, const char *value);
