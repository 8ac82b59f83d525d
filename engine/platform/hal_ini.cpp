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
    ini_section *sec = static_cast<ini_section *>(hash_access(sections, section));
    bool created = false;
    if (!sec) {
        sec = static_cast<ini_section *>(calloc(1, sizeof(ini_section)));
        if (sec) {
            sec->name = strdup(section);
            sec->keys = hash_new(NULL);
        }
        if (!sec || !sec->name || !sec->keys || hash_insert(sections, sec->name, sec) != HAL_OK) {
            free_section(sec);
            free_key(rec);
            return HAL_ENOMEM;
        }
        created = true;
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

void store(Parser *ps, const char *key, const char *value)
{
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
    if (*p == ';' || *p == '#')
        return;
    // An indented line after a key continues that key's value (an indented
    // "[x]" included), comments and all.
    if (ps->key && *p && indented) {
        store(ps, ps->key, p);
        return;
    }
    if (*p == '[') {
        char *close = scan_for(p + 1, ']');
        if (!close) {
            if (!ps->malformed)
                ps->malformed = lineno;
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
    if (!set_text(&ps->key, p, strlen(p))) {
        ps->failed = true;
        return;
    }
    store(ps, p, value);
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
    Parser ps = {hash_new(NULL), fn, arg, strdup(""), NULL, 0, false};
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

int hal_ini_replace(hal_ini *ini, const char *section, const char *key, const char *value)
{
    if (!ini || !section || !key || !value)
        return HAL_ERR;
    if (has_line_break(section) || has_line_break(key) || has_line_break(value))
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
    if (hash_count(sec->keys) == 0) {
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
        if (hal_file_fprintf(file, "\n") < 0)
            return false;
    }
    return true;
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
    if (tmp && file) {
        snprintf(tmp, n, "%s.%ld.%u.tmp", ini->path, static_cast<long>(getpid()),
                 g_tmp_counter.fetch_add(1));
        created = hal_file_open(file, tmp, "wx") == 0;
    }
    if (created) {
        int fd = hal_file_get_handle(file);
        // Keep the permissions of the file being replaced.
        struct stat st;
        if (stat(ini->path, &st) == 0)
            (void)fchmod(fd, st.st_mode & 07777);
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
