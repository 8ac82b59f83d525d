// Sorted large list: directory records (group members, groups or contacts) in
// display order without re-sorting. All records sit in one list; up to three
// segments (such as online members in the group, other online members,
// offline members) each keep an array of their list nodes sorted by name.
// The list holds segment 2's records first, then segment 1's, then segment
// 0's, each contiguous and in sorted order. The caller owns the records; the
// large list owns its nodes. Looper thread only.
#pragma once

#include "hal_error.h"
#include "hal_log.h"
#include "list.h"

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

enum { LGLI_SEGMENTS = 3, LGLI_SEGMENT_MAX = 5120 };

// What the records are; decides where their name and id are found.
enum { LGLI_KIND_MEMBER = 1, LGLI_KIND_GROUP = 2, LGLI_KIND_CONTACT = 3 };

// lgli_insert: the segment already holds LGLI_SEGMENT_MAX records, so the
// record was NOT stored and still belongs to the caller, who must free it.
// (-1, a failed sorted insertion, also leaves the record with the caller.)
#define LGLI_NOT_STORED HAL_EAGAIN

// The leading fields the large list reads from each kind of record; the
// directory cache's records begin with exactly these fields, in this order.
// A record whose name is NULL sorts as the empty name.
typedef struct lgli_user_head { // kind 3, and the user of a member entry
    uint32_t uid;
    char *name;
} lgli_user_head;

typedef struct lgli_member_head { // kind 1: ordered by the user's name
    uint32_t uid;
    uint8_t ingroup;
    lgli_user_head *user;
} lgli_member_head;

typedef struct lgli_group_head { // kind 2
    uint32_t type;
    uint32_t gid;
    char *name;
} lgli_group_head;

// The pinyin table: one byte per ideograph U+4E00..U+9FA5, compared as signed
// bytes; a higher byte sorts later. NULL holder: no table.
enum { PINYIN_FIRST = 0x4E00, PINYIN_LAST = 0x9FA5, PINYIN_CODE_SIZE = 20902 };
typedef struct pinyin_code {
    int8_t *codes;
} pinyin_code;

typedef struct list_lgli {
    list *list;
    list_node *slots[LGLI_SEGMENTS][LGLI_SEGMENT_MAX]; // unused slots are NULL
    uint32_t counts[LGLI_SEGMENTS];
    uint32_t kind;
    hal_log *log;
} list_lgli;

// Releases one record; called just before its node is unlinked.
typedef void (*lgli_free_fn)(void *record, uint32_t id, uint32_t count, list_node **slots);

// An empty large list of the given kind; NULL when memory runs out.
list_lgli *lgli_new(uint32_t kind, hal_log *log);
// Unlinks every record, calling free_fn (when given) for each; counts 0.
void lgli_clear(list_lgli *lgli, lgli_free_fn free_fn);
// lgli_clear, then frees the large list and clears the handle; NULL ignored.
void lgli_destroy(list_lgli **lgli, lgli_free_fn free_fn);

// Inserts record into segment 0..2 in name order. 0 stored; LGLI_NOT_STORED
// when the segment is full; -1 when the sorted insertion failed or an
// argument is bad. On any non-zero result the record stays the caller's.
int lgli_insert(list_lgli *lgli, void *record, int segment, const pinyin_code *pinyin);
// Binary-search insertion into a segment of count (1..5119) records; the new
// node, or NULL on failure. The caller raises the count.
list_node *half_insert_by_con(list_lgli *lgli, void *record, uint32_t count, list_node **slots,
                              const pinyin_code *pinyin);
// Removes the record with that id from a segment (the caller lowers the
// count). 0 removed, -1 not found.
int lgli_remove(list_lgli *lgli, uint32_t id, uint32_t count, list_node **slots,
                lgli_free_fn free_fn);
// segment 0..2: that segment; any other value: segments 0, 1, 2 in turn
// until one removes the record. The segment's count drops on removal.
void lgli_remove_by_id(list_lgli *lgli, uint32_t id, int segment, lgli_free_fn free_fn);
// First record with that id in list order, or NULL.
void *lgli_find_by_id(list_lgli *lgli, uint32_t id);
// Appends up to n records of a segment from slot start on, in sorted order,
// to out; the number appended (0 when start lies past the segment's end);
// -1 for a bad argument.
int lgli_get_range(list_lgli *lgli, int segment, uint32_t start, int n, list *out);
// -2 when a name is NULL; else 1 (a after b), -1 (a before b) or 0. Order:
// names starting with a letter or digit, then with other (non-ASCII)
// characters, ordered by the pinyin weight of a leading ideograph, then with
// symbols; within a class a natural order where digit runs compare as numbers.
int lgli_compare_name(const char *a, const char *b, const pinyin_code *pinyin);
// Removes slot index by moving the later slots down one; the last used slot
// becomes NULL.
void lgli_remove_slot(list_node **slots, uint32_t count, uint32_t index);

// Loads "./pinyin.code" from the working directory; NULL when it is missing
// or not exactly PINYIN_CODE_SIZE bytes.
pinyin_code *pinyin_load(hal_log *log);
void pinyin_destroy(pinyin_code **pinyin);

#ifdef __cplusplus
}
#endif
