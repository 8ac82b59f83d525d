// The engine's settings store over custom.ini: sections of string keys with
// string values, loaded when the platform context is made and rewritten whole
// on every change. The store owns every name, key and value text; names are
// compared exactly. A key stored before any section header belongs to the
// section with the empty name. Looper thread only (no lock).
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

typedef struct hal_ctx hal_ctx;
typedef struct hal_log hal_log;
typedef struct hal_ini hal_ini;

// Longest value, in bytes, the store holds. A longer one is refused with a
// log line: by a replace (-1), and by a load, which keeps its line as it was
// read so the next save writes it back unchanged.
#define HAL_INI_VALUE_MAX 16384

// Called for every pair (and continuation line) as it is read.
typedef void (*hal_ini_load_fn)(void *arg, const char *section, const char *key, const char *value);

// An empty store over "<directory>/custom.ini" ("./custom.ini" without a
// directory); NULL when memory runs out. ctx is the owner; log is the
// context's log (either may be NULL), passed in like the looper's so the store
// does not depend on the context's layout.
hal_ini *hal_ini_new(hal_ctx *ctx, hal_log *log, const char *directory);
// Frees every section and key, then the store; nothing is saved. NULL ignored.
void hal_ini_destroy(hal_ini **ini);
hal_ctx *hal_ini_context(hal_ini *ini);
const char *hal_ini_path(hal_ini *ini);

// Reads the file into a fresh table and, only when that succeeds, replaces
// the store's contents with it. Lines may be of any length; a UTF-8 BOM and
// CRLF line ends are accepted. Comment lines and lines that are neither a
// header nor a pair are kept with their section and written back, after its
// keys, by every save. Returns the number of the first malformed
// line, 0 when there is none; -1 when the store is NULL, a load is running,
// the file cannot be opened or memory runs out (the store is then unchanged).
int hal_ini_load(hal_ini *ini, hal_ini_load_fn fn, void *arg);
// The stored value, valid until that key is replaced or removed, or the store
// is cleared or reloaded; NULL when an argument is NULL or nothing is stored.
const char *hal_ini_find(hal_ini *ini, const char *section, const char *key);
// Stores a copy of value under section/key, creating the section when
// missing. 0; -1 for a NULL argument, a text holding CR or LF (which the
// file could not carry) or a value over HAL_INI_VALUE_MAX (logged); -4 out
// of memory. value may be a pointer that hal_ini_find returned for the same
// key.
int hal_ini_replace(hal_ini *ini, const char *section, const char *key, const char *value);
// 0 when hal_ini_replace would take these arguments (memory aside), -1 when
// it would refuse them, logging as it would: lets a caller that stores
// several values refuse them all before changing any.
int hal_ini_check(hal_ini *ini, const char *section, const char *key, const char *value);
// 0 (also when nothing was stored); -1 for a NULL argument. A section left
// without keys goes too, unless it still holds comment lines.
int hal_ini_remove(hal_ini *ini, const char *section, const char *key);
// Writes the whole store to a temporary file beside custom.ini, syncs it and
// renames it over custom.ini, so a failed save never leaves a truncated file.
// 0; -1 when the store is NULL, a load is running, or writing fails.
int hal_ini_save(hal_ini *ini);
// Drops every section and key.
void hal_ini_clear(hal_ini *ini);

#ifdef __cplusplus
}
#endif
