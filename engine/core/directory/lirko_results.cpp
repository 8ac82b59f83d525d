#include "lirko_results.h"

#include "list.h"

#include <stdlib.h>
#include <string.h>

static char *dup_or_null(const char *s)
{
    return s ? strdup(s) : NULL;
}

cache_user *lirko_copy_user(const cache_user *src)
{
    if (!src)
        return NULL;
    cache_user *u = (cache_user *)calloc(1, sizeof(*u));
    if (!u)
        return NULL;
    u->uid = src->uid;
    u->role = src->role;
    u->online = src->online;
    if (src->name && !(u->name = strdup(src->name))) {
        free(u);
        return NULL;
    }
    u->audio_enabled = src->audio_enabled;
    u->has_gid = src->has_gid;
    u->gid = src->gid;
    u->location_on = src->location_on;
    u->location_period = src->location_period;
    u->prior = src->prior;
    u->encrypt_on = src->encrypt_on;
    u->sort_weight = src->sort_weight;
    return u;
}

void lirko_free_user_copy(cache_user **user)
{
    if (!user || !*user)
        return;
    free((*user)->name);
    free(*user);
    *user = NULL;
}

void lirko_fill_user(cache_user *dst, const cache_user *src)
{
    if (!dst || !src)
        return;
    dst->uid = src->uid;
    dst->role = src->role;
    dst->online = src->online;
    dst->name = dup_or_null(src->name);
    dst->audio_enabled = src->audio_enabled;
    dst->has_gid = src->has_gid;
    dst->gid = src->gid;
    dst->location_on = src->location_on;
    dst->location_period = src->location_period;
    dst->prior = src->prior;
}

uint32_t lirko_make_member_array(list *entries, member_entry **out)
{
    if (out)
        *out = NULL;
    if (!entries || !out)
        return 0;
    uint32_t count = (uint32_t)list_count(entries);
    if (!count)
        return 0;
    member_entry *array = (member_entry *)calloc(count, sizeof(*array));
    if (!array)
        return 0;
    uint32_t i = 0;
    for (list_node *n = list_begin(entries); n && i < count; n = list_next(n), i++) {
        const member_entry *e = (const member_entry *)list_data_get(n);
        if (!e)
            continue;
        array[i].uid = e->uid;
        array[i].ingroup = e->ingroup;
        array[i].user = lirko_copy_user(e->user);
    }
    *out = array;
    return count;
}

void lirko_free_member_array(member_entry **array, uint32_t count)
{
    if (!array || !*array)
        return;
    for (uint32_t i = 0; i < count; i++)
        lirko_free_user_copy(&(*array)[i].user);
    free(*array);
    *array = NULL;
}

uint32_t lirko_make_newsheet_array(list *newsheets, newsheet **out)
{
    if (out)
        *out = NULL;
    if (!newsheets || !out)
        return 0;
    uint32_t count = (uint32_t)list_count(newsheets);
    if (!count)
        return 0;
    newsheet *array = (newsheet *)calloc(count, sizeof(*array));
    if (!array)
        return 0;
    uint32_t i = 0;
    for (list_node *n = list_begin(newsheets); n && i < count; n = list_next(n), i++) {
        const newsheet *s = (const newsheet *)list_data_get(n);
        if (!s)
            continue;
        newsheet *d = &array[i];
        d->text = dup_or_null(s->text);
        d->phone = dup_or_null(s->phone);
        d->has_media = s->has_media;
        d->id = s->id;
        if (!s->has_media)
            continue;
        d->media_name = dup_or_null(s->media_name);
        d->mime = s->mime;
        if (s->mediadata && s->mediadata_length) {
            d->mediadata = (uint8_t *)malloc(s->mediadata_length);
            if (d->mediadata) {
                memcpy(d->mediadata, s->mediadata, s->mediadata_length);
                d->mediadata_length = s->mediadata_length;
            }
        }
    }
    *out = array;
    return count;
}

void lirko_free_newsheet_array(newsheet **array, uint32_t count)
{
    if (!array || !*array)
        return;
    for (uint32_t i = 0; i < count; i++) {
        newsheet *s = &(*array)[i];
        free(s->text);
        free(s->phone);
        free(s->media_name);
        free(s->mediadata);
    }
    free(*array);
    *array = NULL;
}

void lirko_free_user_array(cache_user **holder, int count)
{
    if (!holder || !*holder || count == 0)
        return;
    if (count > 0) {
        for (int i = 0; i < count; i++)
            free((*holder)[i].name);
    }
    free(*holder);
    *holder = NULL;
}
