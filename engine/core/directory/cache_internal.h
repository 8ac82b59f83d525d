// Shared by the directory cache's own sources (cache.cpp: users, groups,
// members, contacts; cache_account.cpp: account configuration, departments,
// newsheets). Not for other modules.
#ifndef CACHE_INTERNAL_H
#define CACHE_INTERNAL_H

#include "cache.h"
#include "dispatcher.h"

#include <protobuf-c/protobuf-c.h>

typedef struct Ptt__Group Ptt__Group;

#define CACHE_TAG "cache"

// Where a stored user record came from; decides which fields it takes.
enum cache_user_source {
    CACHE_FROM_QUERY_USERS,
    CACHE_FROM_USERS_CHANGED,
    CACHE_FROM_GROUP_MEMBERS, // GroupMembers and MembersChanged update_members
    CACHE_FROM_MEMBER2,       // GroupMembers2 (ptt.Member)
    CACHE_FROM_CONTACTS,
};

// Stores every group of the list (a record for a gid replaces the one
// before); records the sorted list cannot hold are freed.
void cache_add_groups(cache *c, Ptt__Group *const *groups, size_t count);
// Sends a request without waiting; the send result.
int cache_send(cache *c, const ProtobufCMessage *msg);
// Sends ptt.rr.QueryMembers for these groups (version 2).
int cache_query_members(cache *c, const uint32_t *gids, uint32_t count);
// Copies at most size - 1 bytes and terminates; "" for NULL.
void cache_copy_fixed(char *dst, size_t size, const char *src);
// Frees the retired department tree and retires the current one.
void cache_retire_departments(cache *c);
// Frees every department record held (current and retired).
void cache_free_departments(cache *c);
void cache_free_newsheet(newsheet *s);
// Empties the newsheet list.
void cache_free_newsheets(list *newsheets);
// Frees the configuration's sms_center strings and array.
void cache_free_sms_center(cache_config *config);

// Handlers told with the account configuration.
void cache_on_loginack(const ProtobufCMessage *msg, void *arg, dispatcher_handler *h);
void get_reconfigure_cb(const ProtobufCMessage *msg, void *arg, dispatcher_handler *h);
void request_configure_cb(const ProtobufCMessage *msg, void *arg, dispatcher_handler *h);
void cache_on_selfname(const ProtobufCMessage *msg, void *arg, dispatcher_handler *h);
void on_recv_querydepartmenttree_ack_message(const ProtobufCMessage *msg, void *arg,
                                             dispatcher_handler *h);
void newwork_sheet_cb(const ProtobufCMessage *msg, void *arg, dispatcher_handler *h);

// Refreshes a user's contact record and its entries in every group's sorted
// member list after the user record changed.
void cache_refresh_user_views(cache *c, const cache_user *user);

#endif
