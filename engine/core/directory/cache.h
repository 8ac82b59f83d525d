// The directory cache: the engine's local copy of what the server assigns to
// the logged-in account (its own user record, every user heard of, the
// groups, the members of each group, departments, contacts, pending contact
// requests, watched group ids, the account configuration, received
// worksheets and the server version). It is changed only by server messages,
// through the handlers it registers on the dispatcher, and posts a named
// engine event after each change. Looper thread only; no lock.
//
// Lookups hand out pointers into the cache that stay valid until the next
// change of that record on the looper. Department records are the exception
// callers on other threads rely on: a replaced department tree is retired,
// not freed, and lives until the tree after the next one arrives (or the
// cache is destroyed).
#ifndef CACHE_H
#define CACHE_H

#include "lirko_win.h"

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct lirko_t lirko_t;
typedef struct hal_log hal_log;
typedef struct hal_looper hal_looper;
typedef struct list list;
typedef struct map map;
typedef struct list_lgli list_lgli;

// Encryption keys are up to 64 bytes; the fields keep one more byte so the
// key is always a terminated string for the code that uses it as one.
#define CACHE_KEY_SIZE 64
#define CACHE_KEY_METHOD_SIZE 32
#define CACHE_SERVER_VERSION_SIZE 36
// A sorted segment holds at most this many records (groups, members,
// contacts).
#define CACHE_SEGMENT_MAX 5120

typedef struct cache_user {
    uint32_t uid;
    char *name; // never NULL for a stored user: "" when the server gave none
    uint32_t has_role;
    int32_t role;
    uint32_t online; // 0 not known, 1 offline, 3 online
    uint8_t audio_enabled;
    uint8_t has_gid;
    uint32_t gid; // the group through which the user was last listed
    uint8_t location_on;
    uint32_t location_period;
    int32_t prior;
    uint8_t encrypt_on;
    uint8_t has_encrypt;
    char encrypt_key[CACHE_KEY_SIZE + 1]; // myself only
    char key_method[CACHE_KEY_METHOD_SIZE];
    int32_t sort_weight;
} cache_user;

typedef struct cache_group {
    uint32_t type; // ptt.Group.GroupType
    uint32_t gid;
    char *name; // never NULL: "" when the server gave none
    int32_t prior;
    uint32_t ip;
    uint16_t port;
    char key[CACHE_KEY_SIZE + 1];
    uint8_t has_key;
    uint32_t is_encrypt;
    char key_method[CACHE_KEY_METHOD_SIZE];
    int32_t sort_weight;
    uint8_t full_duplex;
} cache_group;

// One element of a group's plain member list.
typedef struct member_item {
    uint32_t uid;
    uint8_t ingroup;
    uint8_t has_prior;
    uint32_t prior;
} member_item;

// One element of a group's sorted member list: segment 2 online and in the
// group, 1 online elsewhere, 0 the rest.
typedef struct member_entry {
    uint32_t uid;
    uint8_t ingroup;
    cache_user *user; // owned copy
} member_entry;

typedef struct newsheet {
    char *text;
    char *phone;
    uint8_t has_media;
    uint32_t mime;
    size_t mediadata_length;
    uint8_t *mediadata;
    char *media_name;
    uint32_t id;
} newsheet;

typedef struct request_contact {
    uint32_t uid;
    char *text;
    char *uname;
} request_contact;

typedef struct cache_config {
    uint32_t default_group;
    uint32_t location_report_period;
    uint32_t audio_enabled;
    uint32_t switch_location;
    int32_t tone_quality;
    int32_t location_mode;
    size_t n_sms_center;
    char **sms_center;
} cache_config;

// Payload of the members_changed event: four (uid array, count) pairs.
typedef struct member_change {
    uint32_t *updated;
    uint32_t n_updated;
    uint32_t *removed;
    uint32_t n_removed;
    uint32_t *joined;
    uint32_t n_joined;
    uint32_t *left;
    uint32_t n_left;
} member_change;

typedef struct cache {
    lirko_t *owner;
    hal_log *log;
    hal_looper *looper;
    map *member_lists; // gid -> list of member_item
    uint32_t last_changed_gid;
    map *users;       // uid -> cache_user
    map *departments; // did -> department_t
    cache_config config;
    list *newsheets;
    list *request_contacts;
    list *watch_group_ids; // heap uint32_t each
    cache_user *myself;
    uint32_t next_newsheet_id;
    char server_version[CACHE_SERVER_VERSION_SIZE];
    map *member_large_lists; // gid -> list_lgli (kind 1)
    list_lgli *contacts;     // kind 3
    list_lgli *groups;       // kind 2
    void *pinyin;            // pinyin holder, or NULL
    uint32_t current_did;
    // The department records of the tree before the current one.
    list *retired_departments;
    // gid -> the uid indexes of that group's two member lists (cache.cpp),
    // so a member answer of thousands finds each member at once.
    map *member_indexes;
} cache;

cache *cache_new(lirko_t *engine);
void cache_destroy(cache **c);
void cache_clear(cache *c);

cache_user *cache_get_myself(cache *c);
// The stored user of uid, or NULL; asks the server nothing.
cache_user *cache_find_user(cache *c, uint32_t uid);
// Unknown uid: sends ptt.rr.QueryUsers {uid} without waiting and gives NULL.
cache_user *cache_get_user_by_uid(cache *c, uint32_t uid);
cache_group *cache_get_group_by_gid(cache *c, uint32_t gid);
member_item *cache_get_group_entry(cache *c, uint32_t gid, uint32_t uid);
// Appends member entries of gid in display order to out: count -1 for all.
// -1 when the group has no sorted member list yet (a query is then sent).
int cache_get_memberlist(cache *c, uint32_t gid, int start, int count, list *out);
int cache_get_all_department(cache *c, win_group_t *out);
win_group_t *cache_get_department_group_by_gid(cache *c, uint32_t gid);
department_t *cache_get_department_by_did(cache *c, uint32_t did);
int cache_get_server_is_old(cache *c);
void cache_save_current_gid(cache *c, uint32_t gid);
void cache_clear_worksheets(cache *c);

// Number of groups in the sorted group list and the i-th in arrival order.
uint32_t cache_group_count(cache *c);
cache_group *cache_group_at(cache *c, uint32_t index);

#ifdef __cplusplus
}
#endif

#endif
