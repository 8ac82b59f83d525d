// The account side of the directory cache: the own user record (myself), its
// encryption key and configuration, the department tree, received worksheets
// (newsheets), the last group and the server-age test.
#include "broadcast.h"
#include "cache.h"
#include "cache_internal.h"
#include "focus_manager.h"
#include "hal_error.h"
#include "hal_ini.h"
#include "hal_log.h"
#include "lirko.h"
#include "lirko_events.h"
#include "lirko_records.h"
#include "list.h"
#include "map.h"
#include "ptt.pb-c.h"
#include "ptt_push.pb-c.h"
#include "ptt_rr.pb-c.h"
#include "sessionset.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define LOG(c, prio, ...) hal_log_output((c)->log, (prio), CACHE_TAG, __VA_ARGS__)

#define HANDLER_ARGS(type)                                                                         \
    (void)h;                                                                                       \
    cache *c = (cache *)arg;                                                                       \
    const type *msg = (const type *)message

// --- encryption and configuration ---------------------------------------------------

// Takes myself's encryption setting from a configuration: conf's own flag
// overrides the user record's; its key (at most 64 bytes) and method are
// kept terminated. The key bytes themselves are never logged.
static void take_encryption(cache *c, const Ptt__Configure *conf, const char *who)
{
    cache_user *me = c->myself;
    if (!conf) {
        me->encrypt_on = 0;
        me->has_encrypt = 0;
        return;
    }
    if (!conf->has_encrypt_enabled) {
        LOG(c, HAL_LOG_VERBOSE, "%s encrypt_on is %d", who, me->encrypt_on);
        me->encrypt_on = 0;
        me->has_encrypt = 0;
        return;
    }
    me->encrypt_on = (uint8_t)conf->encrypt_enabled;
    me->has_encrypt = 1;
    LOG(c, HAL_LOG_VERBOSE, "@1loginack encrypt_on is %d", me->encrypt_on);
    const Ptt__EncryptKey *k = conf->encrypt_key;
    if (!k)
        return;
    memset(me->key_method, 0, sizeof(me->key_method));
    cache_copy_fixed(me->key_method, sizeof(me->key_method), k->method);
    if (k->has_key && k->key.data) {
        memset(me->encrypt_key, 0, sizeof(me->encrypt_key));
        size_t n = k->key.len < CACHE_KEY_SIZE ? k->key.len : CACHE_KEY_SIZE;
        memcpy(me->encrypt_key, k->key.data, n);
        LOG(c, HAL_LOG_VERBOSE, "@2loginack encrypt_key length is %d", (int)n);
    }
    LOG(c, HAL_LOG_VERBOSE, "@2loginack encrypt_key method is %s", me->key_method);
}

// Replaces the sms_center list; -1 when the copy cannot be made (the old
// list is then gone and the configuration holds none).
static int take_sms_center(cache *c, const Ptt__Configure *conf)
{
    cache_free_sms_center(&c->config);
    if (!conf->n_sms_center)
        return 0;
    char **a = (char **)calloc(conf->n_sms_center, sizeof(*a));
    if (!a)
        return -1;
    for (size_t i = 0; i < conf->n_sms_center; i++) {
        a[i] = strdup(conf->sms_center[i] ? conf->sms_center[i] : "");
        if (!a[i]) {
            for (size_t k = 0; k < i; k++)
                free(a[k]);
            free(a);
            return -1;
        }
    }
    c->config.sms_center = a;
    c->config.n_sms_center = conf->n_sms_center;
    return 0;
}

static void take_default_watchgroups(cache *c, const Ptt__Configure *conf)
{
    cache_add_groups(c, conf->default_watchgroup, conf->n_default_watchgroup);
    for (size_t i = 0; i < conf->n_default_watchgroup; i++) {
        if (!conf->default_watchgroup[i])
            continue;
        uint32_t *id = (uint32_t *)malloc(sizeof(*id));
        if (!id)
            continue;
        *id = conf->default_watchgroup[i]->gid;
        if (list_push_back(c->watch_group_ids, id) != 0)
            free(id);
    }
    lirko_event_post(c->owner, "watch_group_update", 0, 0);
}

static void empty_watch_ids(cache *c)
{
    void *p;
    while ((p = list_pop_front(c->watch_group_ids)))
        free(p);
}

// Asks a newer server to watch the default groups and to keep that choice.
static void send_watch_group_ex(cache *c, const Ptt__Configure *conf)
{
    uint32_t gids[1024];
    size_t n = 0;
    for (size_t i = 0; i < conf->n_default_watchgroup && n < 1024; i++)
        if (conf->default_watchgroup[i])
            gids[n++] = conf->default_watchgroup[i]->gid;
    uint32_t pt = lirko_voice_payload_type(c->owner);
    Ptt__Rr__WatchGroupEx req = PTT__RR__WATCH_GROUP_EX__INIT;
    req.n_gids = n;
    req.gids = gids;
    req.has_uid = 1;
    req.uid = c->myself->uid;
    req.has_expect_pt = 1;
    req.expect_pt = pt;
    req.n_accept_pt = 1;
    req.accept_pt = &pt;
    req.has_store = 1;
    req.store = 1;
    cache_send(c, &req.base);
}

void cache_on_loginack(const ProtobufCMessage *message, void *arg, dispatcher_handler *h)
{
    HANDLER_ARGS(Ptt__Rr__LoginAck);
    if (msg->result != 0) {
        LOG(c, HAL_LOG_DEBUG, "loginack result is %d", msg->result);
        return;
    }
    if (msg->version) {
        const Ptt__Version *v = msg->version;
        int major = v->has_major ? v->major : 0;
        int minor = v->has_minor ? v->minor : 0;
        int patch = v->has_patch ? v->patch : 0;
        snprintf(c->server_version, sizeof(c->server_version), "%d.%02d.%02d", major, minor, patch);
        LOG(c, HAL_LOG_VERBOSE, "server_version major %d minor %d patch %d server_version%s", major,
            minor, patch, c->server_version);
    }
    cache_user *me = c->myself;
    const Ptt__User *self = msg->self;
    if (self) {
        me->uid = self->uid;
        if (self->name) {
            char *name = strdup(self->name);
            if (name) {
                free(me->name);
                me->name = name;
            }
        }
        if (self->has_role) {
            me->has_role = 1;
            me->role = self->role;
        }
        if (self->has_online)
            me->online = self->online ? 3 : 1;
        if (self->has_audio_enabled)
            me->audio_enabled = (uint8_t)self->audio_enabled;
        if (self->has_sort_weight) {
            me->sort_weight = self->sort_weight;
            LOG(c, HAL_LOG_VERBOSE, "set_current_user_cb uid %d, sort_weight %d", (int)me->uid,
                me->sort_weight);
        }
        if (self->has_department)
            c->current_did = self->department;
        me->encrypt_on = self->has_encrypt_enabled ? (uint8_t)self->encrypt_enabled : 0;
        me->has_encrypt = self->has_encrypt_enabled ? 1 : 0;
        LOG(c, HAL_LOG_VERBOSE, "msg->self->encrypt_enabled %d msg->self->has_encrypt_enabled %d",
            (int)self->encrypt_enabled, (int)self->has_encrypt_enabled);
    }
    const Ptt__Configure *conf = msg->conf;
    take_encryption(c, conf, "@2loginack");
    LOG(c, HAL_LOG_VERBOSE, "loginack uid is %d did is %d encrypt_on %d has_encrypt %d",
        (int)me->uid, (int)c->current_did, me->encrypt_on, me->has_encrypt);
    if (!conf)
        return;
    if (conf->has_default_group) {
        c->config.default_group = conf->default_group;
        LOG(c, HAL_LOG_VERBOSE, "loginack default_group is %d", (int)conf->default_group);
    }
    if (conf->has_location_report_period)
        c->config.location_report_period = conf->location_report_period;
    if (conf->has_audio_enabled) {
        c->config.audio_enabled = conf->audio_enabled;
        lirko_event_post(c->owner, "audio_enable_changed", (int32_t)conf->audio_enabled, 0);
    }
    if (conf->has_switch_location) {
        c->config.switch_location = conf->switch_location;
        LOG(c, HAL_LOG_VERBOSE, "loginack has_switch_location");
    }
    if (conf->has_tone_quality)
        c->config.tone_quality = conf->tone_quality;
    if (take_sms_center(c, conf) != 0)
        return;
    if (conf->has_location_mode)
        c->config.location_mode = conf->location_mode;
    if (conf->default_group_info) {
        Ptt__Group *g = conf->default_group_info;
        cache_add_groups(c, &g, 1);
    }
    if (conf->n_default_watchgroup) {
        if (cache_get_server_is_old(c))
            take_default_watchgroups(c, conf);
        else
            send_watch_group_ex(c, conf);
    }
    lirko_event_post(c->owner, "reconfig", 1, 0);
}

void get_reconfigure_cb(const ProtobufCMessage *message, void *arg, dispatcher_handler *h)
{
    HANDLER_ARGS(Ptt__Push__Reconfigured);
    const Ptt__Configure *conf = msg->conf;
    if (!conf) {
        LOG(c, HAL_LOG_ERROR, "get_reconfigure_cb msg->self is null");
        return;
    }
    take_encryption(c, conf, "get_reconfigure_cb");
    if (conf->has_default_group)
        c->config.default_group = conf->default_group;
    if (conf->has_location_report_period)
        c->config.location_report_period = conf->location_report_period;
    if (conf->has_audio_enabled && c->config.audio_enabled != (uint32_t)conf->audio_enabled) {
        lirko_event_post(c->owner, "audio_enable_changed", (int32_t)conf->audio_enabled, 0);
        c->config.audio_enabled = conf->audio_enabled;
    }
    if (conf->has_switch_location)
        c->config.switch_location = conf->switch_location;
    if (conf->has_tone_quality)
        c->config.tone_quality = conf->tone_quality;
    take_sms_center(c, conf);
    if (conf->has_location_mode)
        c->config.location_mode = conf->location_mode;
    if (conf->default_group_info) {
        Ptt__Group *g = conf->default_group_info;
        cache_add_groups(c, &g, 1);
    }
    if (conf->n_default_watchgroup) {
        empty_watch_ids(c);
        take_default_watchgroups(c, conf);
    }
    lirko_event_post(c->owner, "reconfig", 1, 0);
}

void request_configure_cb(const ProtobufCMessage *message, void *arg, dispatcher_handler *h)
{
    HANDLER_ARGS(Ptt__Rr__RequestConfigureAck);
    const Ptt__Configure *conf = msg->conf;
    if (!conf) {
        LOG(c, HAL_LOG_ERROR, "request_configure_cb msg->self is null");
        return;
    }
    if (msg->result != 0) {
        LOG(c, HAL_LOG_ERROR, "request_configure_cb result != 0 or msg->conf is null");
        return;
    }
    take_encryption(c, conf, "request_configure_cb");
    if (conf->has_default_group)
        c->config.default_group = conf->default_group;
    if (conf->has_location_report_period)
        c->config.location_report_period = conf->location_report_period;
    if (conf->has_audio_enabled)
        c->config.audio_enabled = conf->audio_enabled;
    take_sms_center(c, conf);
    if (conf->has_location_mode)
        c->config.location_mode = conf->location_mode;
    lirko_event_post(c->owner, "reconfig", 1, 0);
}

void cache_on_selfname(const ProtobufCMessage *message, void *arg, dispatcher_handler *h)
{
    HANDLER_ARGS(Ptt__Rr__ChangeNameAck);
    if (msg->result != 0) {
        LOG(c, HAL_LOG_ERROR, "selfname message result is %d", msg->result);
        return;
    }
    if (!msg->name) {
        LOG(c, HAL_LOG_VERBOSE, "selfname message msg->name is null");
        return;
    }
    char *name = strdup(msg->name);
    if (!name)
        return;
    free(c->myself->name);
    c->myself->name = name;
    // The directory's record of myself feeds the contact and member views.
    cache_user *u = cache_find_user(c, c->myself->uid);
    if (u) {
        char *copy = strdup(name);
        if (copy) {
            free(u->name);
            u->name = copy;
        }
        cache_refresh_user_views(c, u);
    }
    lirko_event_post(c->owner, "name_changed", 1, 0);
}

// --- departments -------------------------------------------------------------------

static void free_department(department_t *d)
{
    if (!d)
        return;
    free(d->groups);
    free(d->subdid);
    free(d);
}

static int retire_cb(const char *, uint32_t, void *data, void *arg)
{
    if (list_push_back((list *)arg, data) != 0)
        free_department((department_t *)data);
    return HAL_CONTINUE;
}

static void free_retired(cache *c)
{
    department_t *d;
    while ((d = (department_t *)list_pop_front(c->retired_departments)))
        free_department(d);
}

// A pointer handed out by the department lookup stays valid until the tree
// after the next one arrives: the tree being replaced is kept aside for one
// more generation instead of being freed at once.
void cache_retire_departments(cache *c)
{
    LOG(c, HAL_LOG_DEBUG, "cache_clear_departmentmap@1");
    free_retired(c);
    map_foreach(c->departments, retire_cb, c->retired_departments);
    map_erase(c->departments);
    LOG(c, HAL_LOG_DEBUG, "cache_clear_departmentmap");
}

static int free_department_cb(const char *, uint32_t, void *data, void *)
{
    free_department((department_t *)data);
    return HAL_CONTINUE;
}

void cache_free_departments(cache *c)
{
    free_retired(c);
    map_foreach(c->departments, free_department_cb, NULL);
    map_erase(c->departments);
}

static void get_department_info(cache *c, const Ptt__Department *pd)
{
    if (!pd)
        return;
    department_t *d = (department_t *)calloc(1, sizeof(*d));
    if (!d)
        return;
    d->did = pd->did;
    d->has_timestamp = pd->has_timestamp;
    d->timestamp = pd->timestamp;
    cache_copy_fixed(d->name, sizeof(d->name), pd->name);
    int ok = 1;
    if (pd->n_chat_groups) {
        d->groups = (win_group_t *)calloc(pd->n_chat_groups, sizeof(*d->groups));
        ok = d->groups != NULL;
        d->n_groups = ok ? pd->n_chat_groups : 0;
    }
    for (size_t i = 0; i < d->n_groups; i++) {
        const Ptt__Group *pg = pd->chat_groups[i];
        if (!pg)
            continue;
        win_group_t *g = &d->groups[i];
        g->type = pg->has_type ? (uint32_t)lirko_enum_value(&pg->type) : 0;
        g->gid = pg->gid;
        lirko_copy_text(g->name, sizeof(g->name), pg->name);
        g->prior = pg->prior;
        g->ip = pg->ip;
        g->port = (uint16_t)pg->port;
        g->is_encryp = 0;
        g->sort_weight = pg->sort_weight;
        LOG(c, HAL_LOG_VERBOSE, "ack->chat_groups[i]->gid %d sort_weight %d", (int)pg->gid,
            pg->sort_weight);
    }
    d->has_super = pd->has_super;
    d->super = pd->super;
    if (ok && pd->n_sub_departments) {
        d->subdid = (uint32_t *)calloc(pd->n_sub_departments, sizeof(*d->subdid));
        ok = d->subdid != NULL;
        for (size_t i = 0; ok && i < pd->n_sub_departments; i++)
            d->subdid[i] = pd->sub_departments[i] ? pd->sub_departments[i]->did : 0;
        d->n_subdid = ok ? pd->n_sub_departments : 0;
    }
    LOG(c, HAL_LOG_VERBOSE, "get_department_info did %d", (int)d->did);
    LOG(c, HAL_LOG_VERBOSE, "get_department_info department->n_subdid %d n_chat_groups %d",
        (int)d->n_subdid, (int)d->n_groups);
    int rc = ok ? map_insert(c->departments, d->did, d) : -1;
    if (rc != 0) {
        // A repeated did keeps the record stored first.
        LOG(c, HAL_LOG_WARN, "department did %d %s, record dropped", (int)d->did,
            rc == -7 ? "repeated" : "not stored");
        free_department(d);
    }
    for (size_t i = 0; i < pd->n_sub_departments; i++)
        get_department_info(c, pd->sub_departments[i]);
}

void on_recv_querydepartmenttree_ack_message(const ProtobufCMessage *message, void *arg,
                                             dispatcher_handler *h)
{
    HANDLER_ARGS(Ptt__Rr__QueryDepartmentTreeAck);
    if (msg->department) {
        LOG(c, HAL_LOG_VERBOSE, "on_recv_querydepartmenttree_ack_message ret %d", msg->result);
        cache_retire_departments(c);
        get_department_info(c, msg->department);
    }
    lirko_event_post(c->owner, "department_message", 0, 0);
}

department_t *cache_get_department_by_did(cache *c, uint32_t did)
{
    if (!c)
        return NULL;
    LOG(c, HAL_LOG_DEBUG, "cache_get_department_by_did did %d", (int)did);
    return (department_t *)map_access(c->departments, did);
}

struct all_dept_arg {
    cache *c;
    win_group_t *out;
    size_t n;
};

static int all_department_cb(const char *, uint32_t, void *data, void *arg)
{
    all_dept_arg *a = (all_dept_arg *)arg;
    const department_t *d = (const department_t *)data;
    LOG(a->c, HAL_LOG_VERBOSE, "cache_get_all_department did %d", (int)d->did);
    for (size_t i = 0; i < d->n_groups; i++) {
        win_group_t *o = &a->out[a->n++];
        const win_group_t *g = &d->groups[i];
        o->gid = g->gid;
        o->type = g->type;
        memcpy(o->name, g->name, sizeof(o->name));
        o->prior = g->prior;
        o->ip = g->ip;
        o->port = g->port;
        o->did = d->did;
        o->has_key = g->has_key;
        o->is_encryp = g->is_encryp;
        o->sort_weight = g->sort_weight;
    }
    return HAL_CONTINUE;
}

int cache_get_all_department(cache *c, win_group_t *out)
{
    if (!c)
        return -1;
    LOG(c, HAL_LOG_DEBUG, "cache_get_all_department");
    if (!out)
        return 0;
    all_dept_arg a = {c, out, 0};
    map_foreach(c->departments, all_department_cb, &a);
    return 0;
}

struct find_group_arg {
    cache *c;
    uint32_t gid;
    win_group_t *found;
};

static int find_group_cb(const char *, uint32_t, void *data, void *arg)
{
    find_group_arg *a = (find_group_arg *)arg;
    department_t *d = (department_t *)data;
    for (size_t i = 0; i < d->n_groups; i++) {
        if (d->groups[i].gid == a->gid) {
            a->found = &d->groups[i];
            LOG(a->c, HAL_LOG_VERBOSE, "cache_get_all_department did %d gid %d", (int)d->did,
                (int)a->gid);
            return 0;
        }
    }
    return HAL_CONTINUE;
}

win_group_t *cache_get_department_group_by_gid(cache *c, uint32_t gid)
{
    if (!c)
        return NULL;
    LOG(c, HAL_LOG_VERBOSE, "cache_get_department_group_by_gid gid %d", (int)gid);
    find_group_arg a = {c, gid, NULL};
    map_foreach(c->departments, find_group_cb, &a);
    return a.found;
}

// --- newsheets ----------------------------------------------------------------------

static newsheet *make_newsheet(cache *c, const Ptt__Worksheet *w, int *media_failed)
{
    newsheet *s = (newsheet *)calloc(1, sizeof(*s));
    if (!s)
        return NULL;
    if (w->current_address && w->current_address[0]) {
        s->text = strdup(w->current_address);
        s->phone = w->phone ? strdup(w->phone) : NULL;
    }
    s->id = c->next_newsheet_id++;
    const Ptt__MediaFile *m = w->media_file;
    if (m && m->has_data && m->data.len) {
        s->has_media = 1;
        s->media_name = m->name ? strdup(m->name) : NULL;
        s->mime = m->mime;
        s->mediadata = (uint8_t *)malloc(m->data.len);
        if (!s->mediadata) {
            LOG(c, HAL_LOG_ERROR, "%s malloc newsheet->mediadata failed!", "newwork_sheet_cb");
            *media_failed = 1;
            return s;
        }
        memcpy(s->mediadata, m->data.data, m->data.len);
        s->mediadata_length = m->data.len;
    }
    return s;
}

void newwork_sheet_cb(const ProtobufCMessage *message, void *arg, dispatcher_handler *h)
{
    HANDLER_ARGS(Ptt__Push__NewWorksheet);
    if (!msg->n_worksheets)
        return;
    const char *v = hal_ini_find(c->owner->ini, "cache", "newsheet");
    uint32_t max = v ? (uint32_t)atoi(v) : 0;
    if (!max)
        max = 3;
    uint32_t first_id = c->next_newsheet_id;
    for (size_t i = 0; i < msg->n_worksheets; i++) {
        const Ptt__Worksheet *w = msg->worksheets[i];
        if (!w)
            continue;
        while (list_count(c->newsheets) >= max) {
            if (broadcast_pending_count(c->owner->broadcast) >= max) {
                LOG(c, HAL_LOG_ERROR, "newwork sheetlist overflow!");
                return;
            }
            cache_free_newsheet((newsheet *)list_pop_front(c->newsheets));
        }
        int media_failed = 0;
        newsheet *s = make_newsheet(c, w, &media_failed);
        if (media_failed) {
            // Without its media the entry is not worth keeping.
            cache_free_newsheet(s);
            break;
        }
        if (s && list_push_back(c->newsheets, s) != 0)
            cache_free_newsheet(s);
    }
    lirko_event_post(c->owner, "broadcast_update", (int32_t)first_id, (int32_t)msg->n_worksheets);
}

// --- last group and server age --------------------------------------------------------

void cache_save_current_gid(cache *c, uint32_t gid)
{
    if (!c)
        return;
    char value[16];
    snprintf(value, sizeof(value), "%d", (int)gid);
    LOG(c, HAL_LOG_VERBOSE, "%s gid:%d value %s", "cache_save_current_gid", (int)gid, value);
    hal_ini *ini = c->owner->ini;
    if (!ini)
        return;
    hal_ini_replace(ini, "account", "last_group", value);
    hal_ini_save(ini);
}

int cache_get_server_is_old(cache *c)
{
    if (!c)
        return 1;
    static const char oldest_new[8] = "1.08.07";
    int result = 1;
    if (c->server_version[0]) {
        for (int i = 0; i < 8; i++) {
            unsigned char a = (unsigned char)c->server_version[i];
            unsigned char b = (unsigned char)oldest_new[i];
            if (a != b) {
                result = a < b;
                break;
            }
        }
    }
    LOG(c, HAL_LOG_VERBOSE, "cache_get_server_is_old: server_version %s, result %d",
        c->server_version, result);
    return result;
}
