#include "hal_ini.h"

#include "hal_error.h"
#include "hal_file.h"
#include "hal_log.h"
#include "hash.h"

#include <atomic>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

const char kTag[] = "ini";
const char kFileName[] = "custom.ini";

struct ini_key {
    char *key; // the key of its section's table
    char *value;
};

struct ini_section {
    char *name; // the key of the sections table
    hash *keys;
    // Comments and lines the parser could not use, in file order: written
    // back after the section's keys so a save loses none of them.
    char **raw;
    size_t raw_n;
};

bool is_ws(unsigned char c)
{
    return c == ' ' || (c >= 9 && c <= 13);
}

bool has_line_break(const char *s)
{
    return strpbrk(s, "\r\n") != NULL;
}

void free_key(ini_key *k)
{
    if (!k)
        return;
    free(k->key);
    free(k->value);
    free(k);
}

void free_section(ini_section *s)
{
    if (!s)
        return;
    for (hash_node *n = hash_begin(s->keys); n; n = hash_next(n))
        free_key(static_cast<ini_key *>(hash_data_get(n)));
    hash_del(s->keys);
    for (size_t i = 0; i < s->raw_n; i++)
        free(s->raw[i]);
    free(s->raw);
    free(s->name);
    free(s);
}

void table_clear(hash *sections)
{
    for (hash_node *n = hash_begin(sections); n; n = hash_next(n))
        free_section(static_cast<ini_section *>(hash_data_get(n)));
    hash_erase(sections);
}

void table_free(hash *sections)
{
    if (!sections)
        return;
    table_clear(sections);
    hash_del(sections);
}

// The named section, made empty when missing (*created tells); NULL when
// memory runs out.
ini_section *section_get(hash *sections, const char *section, bool *created)
{
    *created = false;
    ini_section *sec = static_cast<ini_section *>(hash_access(sections, section));
    if (sec)
        return sec;
    sec = static_cast<ini_section *>(calloc(1, sizeof(ini_section)));
    if (sec) {
        sec->name = strdup(section);
        sec->keys = hash_new(NULL);
    }
    if (!sec || !sec->name || !sec->keys || hash_insert(sections, sec->name, sec) != HAL_OK) {
        free_section(sec);
        return NULL;
    }
    *created = true;
    return sec;
}

// Copies first, then swaps the record in, so value may alias the old value.
int table_replace(hash *sections, const char *section, const char *key, const char *value)
{
    ini_key *rec = static_cast<ini_key *>(calloc(1, sizeof(ini_key)));
    if (!rec)
        return HAL_ENOMEM;
    rec->key = strdup(key);
    rec->value = strdup(value);
    if (!rec->key || !rec->value) {
        free_key(rec);
        return HAL_ENOMEM;
    }
    bool created = false;
    ini_section *sec = section_get(sections, section, &created);
    if (!sec) {
        free_key(rec);
        return HAL_ENOMEM;
    }
    ini_key *old = static_cast<ini_key *>(hash_remove(sec->keys, key));
    if (hash_insert(sec->keys, rec->key, rec) != HAL_OK) {
        // Put the old record back: a failed replace changes nothing.
        if (old)
            hash_insert(sec->keys, old->key, old);
        free_key(rec);
        if (created) {
            hash_remove(sections, sec->name);
            free_section(sec);
        }
        return HAL_ENOMEM;
    }
    free_key(old);
    return HAL_OK;
}

// Keeps a line the store has no key for, to be written back by a save.
int table_add_raw(hash *sections, const char *section, const char *line)
{
    bool created = false;
    ini_section *sec = section_get(sections, section, &created);
    if (!sec)
        return HAL_ENOMEM;
    char *copy = strdup(line);
    char **grown =
        copy ? static_cast<char **>(realloc(sec->raw, (sec->raw_n + 1) * sizeof(char *))) : NULL;
    if (!grown) {
        free(copy);
        if (created) {
            hash_remove(sections, sec->name);
            free_section(sec);
        }
        return HAL_ENOMEM;
    }
    sec->raw = grown;
    sec->raw[sec->raw_n++] = copy;
    return HAL_OK;
}

// A value the file could carry and a reader could hold; logs a refusal
// (never the value itself, which may be a password).
bool value_fits(hal_log *log, const char *section, const char *key, const char *value)
{
    size_t n = strlen(value);
    if (n <= HAL_INI_VALUE_MAX)
        return true;
    hal_log_output(log, HAL_LOG_ERROR, kTag, "[%s] %s: a value of %zu bytes is refused", section,
                   key, n);
    return false;
}

void strip_trailing(char *s)
{
    size_t n = strlen(s);
    while (n > 0 && is_ws(static_cast<unsigned char>(s[n - 1])))
        s[--n] = '\0';
}

char *skip_leading(char *s)
{
    while (is_ws(static_cast<unsigned char>(*s)))
        s++;
    return s;
}

// Looks for c from p on; a ";" that follows whitespace starts a comment and
// ends the search.
char *scan_for(char *p, char c)
{
    for (char *q = p; *q; q++) {
        if (*q == c)
            return q;
        if (*q == ';' && q > p && is_ws(static_cast<unsigned char>(q[-1])))
            return NULL;
    }
    return NULL;
}

char *dup_range(const char *p, size_t n)
{
    char *s = static_cast<char *>(malloc(n + 1));
    if (s) {
        memcpy(s, p, n);
        s[n] = '\0';
    }
    return s;
}

struct Parser {
    hal_log *log;
    hash *sections;
    hal_ini_load_fn fn;
    void *arg;
    char *section; // current section name
    char *key;     // last key read since the section header, or NULL
    int malformed; // first malformed line number
    bool failed;   // out of memory
};

bool set_text(char **slot, const char *p, size_t n)
{
    char *s = dup_range(p, n);
    if (!s)
        return false;
    free(*slot);
    *slot = s;
    return true;
}

void keep_raw(Parser *ps, const char *line)
{
    if (table_add_raw(ps->sections, ps->section, line) != HAL_OK)
        ps->failed = true;
}

// An over-long value is not stored: its whole line (raw) is kept instead, so
// the next save writes it back as it was.
void store(Parser *ps, const char *key, const char *value, const char *raw)
{
    if (!value_fits(ps->log, ps->section, key, value)) {
        keep_raw(ps, raw);
        return;
    }
    if (table_replace(ps->sections, ps->section, key, value) != HAL_OK) {
        ps->failed = true;
        return;
    }
    if (ps->fn)
        ps->fn(ps->arg, ps->section, key, value);
}

void parse_line(Parser *ps, char *line, int lineno)
{
    if (lineno == 1 && strncmp(line, "\xEF\xBB\xBF", 3) == 0)
        line += 3;
    strip_trailing(line);
    char *p = skip_leading(line);
    bool indented = p != line;
    if (*p == ';' || *p == '#') {
        keep_raw(ps, p);
        return;
    }
    // An indented line after a key continues that key's value (an indented
    // "[x]" included), comments and all. Kept raw, it keeps its indent so it
    // stays a continuation when written back.
    if (ps->key && *p && indented) {
        store(ps, ps->key, p, line);
        return;
    }
    if (*p == '[') {
        char *close = scan_for(p + 1, ']');
        if (!close) {
            if (!ps->malformed)
                ps->malformed = lineno;
            keep_raw(ps, p);
            return;
        }
        if (!set_text(&ps->section, p + 1, static_cast<size_t>(close - (p + 1))))
            ps->failed = true;
        free(ps->key);
        ps->key = NULL;
        return;
    }
    if (!*p)
        return;
    char *sep = scan_for(p, '=');
    if (!sep)
        sep = scan_for(p, ':');
    if (!sep) {
        if (!ps->malformed)
            ps->malformed = lineno;
        keep_raw(ps, p);
        return;
    }
    // Only a line longer than the longest value can hold one; the pair is
    // cut up below, so its text is kept first.
    char *whole = strlen(p) > HAL_INI_VALUE_MAX ? strdup(p) : NULL;
    if (strlen(p) > HAL_INI_VALUE_MAX && !whole) {
        ps->failed = true;
        return;
    }
    *sep = '\0';
    strip_trailing(p);
    char *value = skip_leading(sep + 1);
    for (char *q = value + 1; *value && *q; q++) {
        if (*q == ';' && is_ws(static_cast<unsigned char>(q[-1]))) {
            *q = '\0';
            break;
        }
    }
    strip_trailing(value);
    if (!set_text(&ps->key, p, strlen(p)))
        ps->failed = true;
    else
        store(ps, p, value, whole);
    free(whole);
}

std::atomic<unsigned> g_tmp_counter{0}; // unique temp names within the process

} // namespace

struct hal_ini {
    hal_ctx *ctx;
    hal_log *log;
    hash *sections;
    uint32_t loading;
    char *path;
};

hal_ini *hal_ini_new(hal_ctx *ctx, hal_log *log, const char *directory)
{
    hal_ini *ini = static_cast<hal_ini *>(calloc(1, sizeof(hal_ini)));
    if (!ini)
        return NULL;
    ini->ctx = ctx;
    ini->log = log;
    ini->sections = hash_new(NULL);
    const char *dir = directory ? directory : ".";
    size_t n = strlen(dir) + 1 + sizeof(kFileName);
    ini->path = static_cast<char *>(malloc(n));
    if (!ini->sections || !ini->path) {
        hal_log_output(log, HAL_LOG_VERBOSE, kTag, "malloc :%s error", kFileName);
        hash_del(ini->sections);
        free(ini->path);
        free(ini);
        return NULL;
    }
    snprintf(ini->path, n, "%s/%s", dir, kFileName);
    if (directory)
        hal_log_output(log, HAL_LOG_VERBOSE, kTag, "file_path %s @2", ini->path);
    return ini;
}

void hal_ini_clear(hal_ini *ini)
{
    if (ini)
        table_clear(ini->sections);
}

void hal_ini_destroy(hal_ini **ini)
{
    if (!ini || !*ini)
        return;
    table_free((*ini)->sections);
    free((*ini)->path);
    free(*ini);
    *ini = NULL;
}

hal_ctx *hal_ini_context(hal_ini *ini)
{
    return ini ? ini->ctx : NULL;
}

const char *hal_ini_path(hal_ini *ini)
{
    return ini ? ini->path : NULL;
}

int hal_ini_load(hal_ini *ini, hal_ini_load_fn fn, void *arg)
{
    if (!ini || ini->loading)
        return HAL_ERR;
    hal_log_output(ini->log, HAL_LOG_ERROR, kTag, "hal_ini_load over, name %s", ini->path);
    hal_log_output(ini->log, HAL_LOG_ERROR, kTag, "@1hal_ini_load self %p", (void *)ini);
    hal_log_output(ini->log, HAL_LOG_ERROR, kTag, "@2hal_ini_load self %p", (void *)ini);
    ini->loading = 1;
    hal_log_output(ini->log, HAL_LOG_ERROR, kTag, "@3hal_ini_load self %p", (void *)ini);

    int result = HAL_ERR;
    hal_file *file = hal_file_new();
    // The old contents stay until the new file is fully read: a file that
    // cannot be read must not wipe the settings a later save would write.
    Parser ps = {ini->log, hash_new(NULL), fn, arg, strdup(""), NULL, 0, false};
    if (file && ps.sections && ps.section && hal_file_open(file, ini->path, "rb") == 0) {
        char *line = NULL;
        size_t cap = 0;
        int lineno = 0;
        while (!ps.failed && hal_file_getline(file, &line, &cap) >= 0)
            parse_line(&ps, line, ++lineno);
        free(line);
        // A read error (such as a directory in the file's place) is no end
        // of file: keep the old contents.
        if (hal_file_error(file))
            ps.failed = true;
        if (!ps.failed) {
            table_free(ini->sections);
            ini->sections = ps.sections;
            ps.sections = NULL;
            result = ps.malformed;
        }
    }
    table_free(ps.sections);
    free(ps.section);
    free(ps.key);
    hal_file_destroy(&file);

    hal_log_output(ini->log, HAL_LOG_ERROR, kTag, "@4hal_ini_load self %p", (void *)ini);
    ini->loading = 0;
    hal_log_output(ini->log, HAL_LOG_ERROR, kTag, "@5hal_ini_load self %p", (void *)ini);
    hal_log_output(ini->log, HAL_LOG_ERROR, kTag, "load ini file %s over", ini->path);
    return result;
}

const char *hal_ini_find(hal_ini *ini, const char *section, const char *key)
{
    if (!ini || !section || !key)
        return NULL;
    ini_section *sec = static_cast<ini_section *>(hash_access(ini->sections, section));
    ini_key *rec = sec ? static_cast<ini_key *>(hash_access(sec->keys, key)) : NULL;
    return rec ? rec->value : NULL;
}

int hal_ini_check(hal_ini *ini, const char *section, const char *key, const char *value)
{
    if (!ini || !section || !key || !value)
        return HAL_ERR;
    if (has_line_break(section) || has_line_break(key) || has_line_break(value))
        return HAL_ERR;
    return value_fits(ini->log, section, key, value) ? HAL_OK : HAL_ERR;
}

int hal_ini_replace(hal_ini *ini, const char *section, const char *key, const char *value)
{
    if (hal_ini_check(ini, section, key, value) != HAL_OK)
        return HAL_ERR;
    return table_replace(ini->sections, section, key, value);
}

int hal_ini_remove(hal_ini *ini, const char *section, const char *key)
{
    if (!ini || !section || !key)
        return HAL_ERR;
    ini_section *sec = static_cast<ini_section *>(hash_access(ini->sections, section));
    if (!sec)
        return HAL_OK;
    free_key(static_cast<ini_key *>(hash_remove(sec->keys, key)));
    // A section that still holds comments stays, so they are not lost.
    if (hash_count(sec->keys) == 0 && sec->raw_n == 0) {
        hash_remove(ini->sections, sec->name);
        free_section(sec);
    }
    return HAL_OK;
}

// Whether a value read from a "key = value" line would lose its end to a
// ";" that follows whitespace, as parse_line cuts it.
static bool comment_inside(const char *value)
{
    for (const char *q = value + (*value ? 1 : 0); *q; q++) {
        if (*q == ';' && is_ws(static_cast<unsigned char>(q[-1])))
            return true;
    }
    return false;
}

static bool write_table(hal_file *file, hash *sections)
{
    for (hash_node *s = hash_begin(sections); s; s = hash_next(s)) {
        ini_section *sec = static_cast<ini_section *>(hash_data_get(s));
        if (hal_file_fprintf(file, "[%s]\n", sec->name) < 0)
            return false;
        for (hash_node *k = hash_begin(sec->keys); k; k = hash_next(k)) {
            ini_key *rec = static_cast<ini_key *>(hash_data_get(k));
            // An empty key written as " = value" would start with a blank and
            // read back as a continuation of the key before it.
            const char *sep = rec->key[0] ? " = " : "= ";
            // A value holding a comment mark (read from a continuation line)
            // goes on a continuation line again, where it is not cut.
            const char *gap = comment_inside(rec->value) ? "\n\t" : "";
            if (hal_file_fprintf(file, "%s%s%s%s\n", rec->key, sep, gap, rec->value) < 0)
                return false;
        }
        for (size_t i = 0; i < sec->raw_n; i++) {
            if (hal_file_fprintf(file, "%s\n", sec->raw[i]) < 0)
                return false;
        }
        if (hal_file_fprintf(file, "\n") < 0)
            return false;
    }
    return true;
}

// A non-empty value under a key whose name holds "password" (any letter
// case): such a file is for its owner's eyes only.
static bool holds_password(hash *sections)
{
    for (hash_node *s = hash_begin(sections); s; s = hash_next(s)) {
        ini_section *sec = static_cast<ini_section *>(hash_data_get(s));
        for (hash_node *k = hash_begin(sec->keys); k; k = hash_next(k)) {
            ini_key *rec = static_cast<ini_key *>(hash_data_get(k));
            if (rec->value[0] != '\0' && strcasestr(rec->key, "password"))
                return true;
        }
    }
    return false;
}

// Makes the rename itself durable.
static void sync_directory(const char *path)
{
    const char *slash = strrchr(path, '/');
    char *dir = slash ? dup_range(path, static_cast<size_t>(slash - path) + 1) : strdup(".");
    if (!dir)
        return;
    int fd = open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        (void)fsync(fd);
        close(fd);
    }
    free(dir);
}

int hal_ini_save(hal_ini *ini)
{
    if (!ini || ini->loading)
        return HAL_ERR;
    size_t n = strlen(ini->path) + 48;
    char *tmp = static_cast<char *>(malloc(n));
    hal_file *file = hal_file_new();
    bool ok = false;
    bool created = false;
    const bool secret = holds_password(ini->sections);
    if (tmp && file) {
        snprintf(tmp, n, "%s.%ld.%u.tmp", ini->path, static_cast<long>(getpid()),
                 g_tmp_counter.fetch_add(1));
        // A password's file is created owner-only before a byte is in it.
        const int made = open(tmp, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, secret ? 0600 : 0666);
        if (made >= 0) {
            close(made);
            created = hal_file_open(file, tmp, "r+") == 0;
            if (!created)
                unlink(tmp);
        }
    }
    if (created) {
        int fd = hal_file_get_handle(file);
        // Keep the permissions of the file being replaced, except that a
        // password is never left readable by its group or others.
        struct stat st;
        if (stat(ini->path, &st) == 0) {
            mode_t mode = st.st_mode & 07777;
            if (secret && (mode & 077) != 0) {
                hal_log_output(ini->log, HAL_LOG_WARN, kTag,
                               "%s holds a password: mode %03o narrowed to 600", ini->path,
                               static_cast<unsigned>(mode));
                mode = 0600;
            }
            (void)fchmod(fd, mode);
        }
        ok = write_table(file, ini->sections) && hal_file_flush(file) == 0 && fsync(fd) == 0;
        hal_file_close(file);
        if (ok)
            ok = rename(tmp, ini->path) == 0;
        if (ok)
            sync_directory(ini->path);
        else
            unlink(tmp);
    }
    hal_file_destroy(&file);
    free(tmp);
    if (!ok) {
        hal_log_output(ini->log, HAL_LOG_ERROR, kTag, "save ini file error");
        return HAL_ERR;
    }
    return HAL_OK;
}
