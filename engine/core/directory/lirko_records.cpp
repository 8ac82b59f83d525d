#include "lirko_records.h"

#include "cache.h"

#include <string.h>

int lirko_copy_text(char *dst, size_t size, const char *src)
{
    if (!dst || !size || !src)
        return 0;
    size_t n = strnlen(src, size);
    int cut = n == size;
    if (cut)
        n = size - 1;
    memcpy(dst, src, n);
    dst[n] = '\0';
    return cut;
}

int32_t lirko_enum_value(const void *field)
{
    int32_t v = 0;
    if (field)
        memcpy(&v, field, sizeof(v));
    return v;
}

// The member and user records carry the same description of a user under
// the same field names.
template <typename Record> static void fill_user_fields(Record *out, const cache_user *u)
{
    out->role = u->role;
    out->online = u->online;
    out->has_role = u->has_role;
    out->audio_enabled = u->audio_enabled;
    out->location_on = u->location_on;
    out->location_period = u->location_period;
    lirko_copy_text(out->name, sizeof(out->name), u->name);
    out->encrypt_on = u->encrypt_on;
    out->sort_weight = u->sort_weight;
}

void lirko_fill_win_group(win_group_t *out, const cache_group *g)
{
    if (!out || !g)
        return;
    out->type = g->type;
    out->gid = g->gid;
    lirko_copy_text(out->name, sizeof(out->name), g->name);
    out->prior = g->prior;
    out->ip = g->ip;
    out->port = g->port;
    out->has_key = g->has_key;
    out->is_encryp = g->is_encrypt;
    out->sort_weight = g->sort_weight;
}

void lirko_fill_win_member(win_member_t *out, gid_t gid, const member_entry *e)
{
    if (!out || !e)
        return;
    out->gid = gid;
    out->uid = e->uid;
    out->ingroup = e->ingroup;
    out->has_gid = 1;
    if (e->user)
        fill_user_fields(out, e->user);
}

void lirko_fill_win_user(win_user_t *out, const cache_user *u)
{
    if (!out || !u)
        return;
    out->gid = u->gid;
    out->uid = u->uid;
    out->has_gid = u->has_gid;
    out->has_encrypt = u->has_encrypt;
    fill_user_fields(out, u);
}
