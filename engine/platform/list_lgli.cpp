#include "list_lgli.h"

#include "hal_file.h"

#include <stdlib.h>
#include <string.h>

namespace
{

const char kTag[] = "large_list";

struct Key {
    const char *name;
    uint32_t id;  // lookup id
    uint32_t tie; // tie-break between equal names
};

// The lookup id of a record by kind (a member entry's own uid needs no user).
bool record_id(const list_lgli *lgli, const void *record, uint32_t *id)
{
    switch (lgli->kind) {
    case LGLI_KIND_MEMBER:
        *id = static_cast<const lgli_member_head *>(record)->uid;
        return true;
    case LGLI_KIND_GROUP:
        *id = static_cast<const lgli_group_head *>(record)->gid;
        return true;
    case LGLI_KIND_CONTACT:
        *id = static_cast<const lgli_user_head *>(record)->uid;
        return true;
    default:
        return false;
    }
}

// Name and ids of a record by kind; false when the kind is unknown or a
// member entry has no user.
bool record_key(const list_lgli *lgli, const void *record, Key *key)
{
    switch (lgli->kind) {
    case LGLI_KIND_MEMBER: {
        const lgli_member_head *m = static_cast<const lgli_member_head *>(record);
        if (!m->user)
            return false;
        *key = {m->user->name, m->uid, m->user->uid};
        break;
    }
    case LGLI_KIND_GROUP: {
        const lgli_group_head *g = static_cast<const lgli_group_head *>(record);
        *key = {g->name, g->gid, g->gid};
        break;
    }
    case LGLI_KIND_CONTACT: {
        const lgli_user_head *u = static_cast<const lgli_user_head *>(record);
        *key = {u->name, u->uid, u->uid};
        break;
    }
    default:
        return false;
    }
    // A nameless record sorts as the empty name; comparing NULL would fail
    // and then block every later insertion into its segment.
    if (!key->name)
        key->name = "";
    return true;
}

bool is_digit(unsigned char c)
{
    return c >= '0' && c <= '9';
}

bool is_alnum(unsigned char c)
{
    return is_digit(c) || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool is_symbol(unsigned char c)
{
    return c < 0x80 && !is_alnum(c); // the terminator counts as a symbol
}

bool is_cont(unsigned char c)
{
    return (c & 0xC0) == 0x80;
}

// Pinyin weight of the first character: the table byte for U+4E00..U+9FA5,
// 0 for any other character and for bytes that start no one- to three-byte
// UTF-8 sequence. Never reads past the terminator.
int weight(const unsigned char *s, const pinyin_code *pinyin)
{
    uint32_t c;
    if (s[0] < 0x80) {
        c = s[0];
    } else if ((s[0] & 0xE0) == 0xC0) {
        if (!is_cont(s[1]))
            return 0;
        c = (uint32_t{s[0] & 0x1Fu} << 6) | (s[1] & 0x3Fu);
    } else if ((s[0] & 0xF0) == 0xE0) {
        if (!is_cont(s[1]) || !is_cont(s[2]))
            return 0;
        c = (uint32_t{s[0] & 0x0Fu} << 12) | (uint32_t{s[1] & 0x3Fu} << 6) | (s[2] & 0x3Fu);
    } else {
        return 0;
    }
    if (c < PINYIN_FIRST || c > PINYIN_LAST)
        return 0;
    return pinyin->codes[c - PINYIN_FIRST];
}

// Byte order in which runs of digits compare as numbers.
int natural(const unsigned char *a, const unsigned char *b)
{
    for (;;) {
        if (is_digit(*a) && is_digit(*b)) {
            size_t la = 0, lb = 0;
            while (is_digit(a[la]))
                la++;
            while (is_digit(b[lb]))
                lb++;
            if (la != lb)
                return la > lb ? 1 : -1;
            int c = memcmp(a, b, la);
            if (c != 0)
                return c > 0 ? 1 : -1;
            a += la;
            b += lb;
            continue;
        }
        if (*a != *b)
            return *a < *b ? -1 : 1;
        if (*a == 0)
            return 0;
        a++;
        b++;
    }
}

bool valid_segment(int segment)
{
    return segment >= 0 && segment < LGLI_SEGMENTS;
}

uint32_t clamp_count(uint32_t count)
{
    return count > uint32_t{LGLI_SEGMENT_MAX} ? uint32_t{LGLI_SEGMENT_MAX} : count;
}

} // namespace

int lgli_compare_name(const char *a, const char *b, const pinyin_code *pinyin)
{
    if (!a || !b)
        return -2;
    const unsigned char *ua = reinterpret_cast<const unsigned char *>(a);
    const unsigned char *ub = reinterpret_cast<const unsigned char *>(b);
    if (is_symbol(ub[0]))
        return -1;
    if (is_symbol(ua[0]))
        return 1;
    bool high_a = ua[0] >= 0x80, high_b = ub[0] >= 0x80;
    if (high_a && !high_b)
        return 1;
    if (!high_a && high_b)
        return -1;
    if (high_a && high_b && pinyin && pinyin->codes) {
        int wa = weight(ua, pinyin), wb = weight(ub, pinyin);
        if (wa != wb)
            return wa > wb ? 1 : -1;
    }
    return natural(ua, ub);
}

list_lgli *lgli_new(uint32_t kind, hal_log *log)
{
    list_lgli *lgli = static_cast<list_lgli *>(calloc(1, sizeof(list_lgli)));
    if (!lgli)
        return NULL;
    lgli->list = list_new();
    if (!lgli->list) {
        free(lgli);
        return NULL;
    }
    lgli->kind = kind;
    lgli->log = log;
    return lgli;
}

void lgli_clear(list_lgli *lgli, lgli_free_fn free_fn)
{
    if (!lgli)
        return;
    if (free_fn) {
        for (int s = 0; s < LGLI_SEGMENTS; s++) {
            for (uint32_t i = 0; i < lgli->counts[s]; i++) {
                void *record = list_data_get(lgli->slots[s][i]);
                uint32_t id = 0;
                (void)record_id(lgli, record, &id);
                free_fn(record, id, lgli->counts[s], lgli->slots[s]);
            }
        }
    }
    list_erase(lgli->list);
    memset(lgli->slots, 0, sizeof(lgli->slots));
    memset(lgli->counts, 0, sizeof(lgli->counts));
}

void lgli_destroy(list_lgli **lgli, lgli_free_fn free_fn)
{
    if (!lgli || !*lgli)
        return;
    lgli_clear(*lgli, free_fn);
    list_del((*lgli)->list);
    free(*lgli);
    *lgli = NULL;
}

static list_node *insert_failed(list_lgli *lgli, const char *why)
{
    hal_log_output(lgli ? lgli->log : NULL, HAL_LOG_ERROR, kTag, "%s", why);
    hal_log_output(lgli ? lgli->log : NULL, HAL_LOG_ERROR, kTag, "lgli_do_insert rst==-100");
    return NULL;
}

list_node *half_insert_by_con(list_lgli *lgli, void *record, uint32_t count, list_node **slots,
                              const pinyin_code *pinyin)
{
    if (!lgli || !record || !slots)
        return insert_failed(lgli, "half_insert_by_con lgli == NULL || data == NULL");
    if (count < 1)
        return insert_failed(lgli, "half_insert_by_con size < 1");
    // The slot array has no room to shift into.
    if (count >= LGLI_SEGMENT_MAX)
        return insert_failed(lgli, "half_insert_by_con size >= 5120");
    Key key;
    if (!record_key(lgli, record, &key))
        return insert_failed(lgli, "half_insert_by_con rst == -1");
    if (!slots[0] || !list_data_get(slots[0]))
        return insert_failed(lgli, "half_insert_by_con 22 rst == -1");

    int64_t low = 0, high = static_cast<int64_t>(count) - 1;
    int64_t middle = 0;
    bool after = false;
    while (low <= high) {
        middle = (low + high) / 2;
        void *existing = slots[middle] ? list_data_get(slots[middle]) : NULL;
        Key mk;
        if (!existing || !record_key(lgli, existing, &mk))
            return insert_failed(lgli, "half_insert_by_con 33 rst == -1");
        int r = lgli_compare_name(mk.name, key.name, pinyin);
        if (r == -2)
            return insert_failed(lgli, "half_insert_by_con compare rst == -2");
        if (r == 0) {
            after = !(key.tie < mk.tie);
            break;
        }
        if (r < 0) {
            low = middle + 1;
            after = true;
        } else {
            high = middle - 1;
            after = false;
        }
    }

    list_node *anchor = slots[middle];
    int rc = after ? list_insert_after(lgli->list, anchor, record)
                   : list_insert_before(lgli->list, anchor, record);
    if (rc != HAL_OK)
        return insert_failed(lgli, "half_insert_by_con list insert failed");
    list_node *node = after ? list_next(anchor) : list_prev(anchor);
    uint32_t pos = static_cast<uint32_t>(after ? middle + 1 : middle);
    memmove(&slots[pos + 1], &slots[pos], (count - pos) * sizeof(list_node *));
    slots[pos] = node;
    return node;
}

// Places the first record of an empty segment so that the list keeps the
// segments in the order 2, 1, 0.
static int insert_first(list_lgli *lgli, void *record, int segment)
{
    list *l = lgli->list;
    int rc;
    list_node *node;
    if (segment == 2) {
        rc = list_push_front(l, record);
        node = list_begin(l);
    } else if (segment == 1 && lgli->counts[2] > 0) {
        list_node *last2 = lgli->slots[2][lgli->counts[2] - 1];
        rc = list_insert_after(l, last2, record);
        node = list_next(last2);
    } else if (segment == 1 && lgli->counts[0] > 0) {
        list_node *first0 = lgli->slots[0][0];
        rc = list_insert_before(l, first0, record);
        node = list_prev(first0);
    } else {
        rc = list_push_back(l, record);
        node = list_end(l);
    }
    if (rc != HAL_OK)
        return HAL_ERR;
    lgli->slots[segment][0] = node;
    lgli->counts[segment] = 1;
    return HAL_OK;
}

int lgli_insert(list_lgli *lgli, void *record, int segment, const pinyin_code *pinyin)
{
    if (!lgli || !record || !valid_segment(segment))
        return HAL_ERR;
    if (!lgli->list) {
        hal_log_output(lgli->log, HAL_LOG_FATAL, "cache", "(list_lgli->list == NULL");
        return HAL_ERR;
    }
    uint32_t count = lgli->counts[segment];
    if (count == 0)
        return insert_first(lgli, record, segment);
    if (count >= LGLI_SEGMENT_MAX)
        return LGLI_NOT_STORED;
    if (!half_insert_by_con(lgli, record, count, lgli->slots[segment], pinyin))
        return HAL_ERR;
    lgli->counts[segment] = count + 1;
    return HAL_OK;
}

void lgli_remove_slot(list_node **slots, uint32_t count, uint32_t index)
{
    count = clamp_count(count);
    if (!slots || index >= count)
        return;
    memmove(&slots[index], &slots[index + 1], (count - index - 1) * sizeof(list_node *));
    slots[count - 1] = NULL;
}

int lgli_remove(list_lgli *lgli, uint32_t id, uint32_t count, list_node **slots,
                lgli_free_fn free_fn)
{
    if (!lgli || !slots)
        return HAL_ERR;
    if (!lgli->list) {
        hal_log_output(lgli->log, HAL_LOG_FATAL, "cache", "(list_lgli->list == NULL");
        return HAL_ERR;
    }
    count = clamp_count(count);
    for (uint32_t i = 0; i < count && slots[i]; i++) {
        list_node *node = slots[i];
        void *record = list_data_get(node);
        uint32_t rid;
        if (!record || !record_id(lgli, record, &rid) || rid != id)
            continue;
        if (free_fn)
            free_fn(record, id, count, slots);
        lgli_remove_slot(slots, count, i);
        list_remove_at(lgli->list, node);
        return HAL_OK;
    }
    return HAL_ERR;
}

void lgli_remove_by_id(list_lgli *lgli, uint32_t id, int segment, lgli_free_fn free_fn)
{
    if (!lgli)
        return;
    int first = valid_segment(segment) ? segment : 0;
    int last = valid_segment(segment) ? segment : LGLI_SEGMENTS - 1;
    for (int s = first; s <= last; s++) {
        if (lgli->counts[s] == 0)
            continue;
        if (lgli_remove(lgli, id, lgli->counts[s], lgli->slots[s], free_fn) == HAL_OK) {
            lgli->counts[s]--;
            return;
        }
    }
}

void *lgli_find_by_id(list_lgli *lgli, uint32_t id)
{
    if (!lgli)
        return NULL;
    for (list_node *n = list_begin(lgli->list); n; n = list_next(n)) {
        void *record = list_data_get(n);
        uint32_t rid;
        if (record && record_id(lgli, record, &rid) && rid == id)
            return record;
    }
    return NULL;
}

int lgli_get_range(list_lgli *lgli, int segment, uint32_t start, int n, list *out)
{
    if (!lgli || !out || !valid_segment(segment))
        return HAL_ERR;
    int appended = 0;
    // Bounded by the slot array: a full segment has no empty slot to stop at.
    for (uint32_t i = start; i < LGLI_SEGMENT_MAX && appended < n; i++) {
        list_node *node = lgli->slots[segment][i];
        if (!node)
            break;
        if (list_push_back(out, list_data_get(node)) != HAL_OK)
            break;
        appended++;
    }
    return appended;
}

pinyin_code *pinyin_load(hal_log *log)
{
    const char path[] = "./pinyin.code";
    hal_log_output(log, HAL_LOG_VERBOSE, "pinyin", "pinyin file_path_name %s @2", path);
    hal_file *file = hal_file_new();
    if (!file)
        return NULL;
    pinyin_code *pinyin = NULL;
    int8_t *codes = NULL;
    if (hal_file_open(file, path, "rb") != 0) {
        hal_log_output(log, HAL_LOG_VERBOSE, "pinyin", "open :%s error", path);
        goto out;
    }
    if (hal_file_seek(file, 0, HAL_SEEK_END) != 0 || hal_file_cursor(file) != PINYIN_CODE_SIZE ||
        hal_file_seek(file, 0, HAL_SEEK_SET) != 0)
        goto out;
    codes = static_cast<int8_t *>(malloc(PINYIN_CODE_SIZE));
    pinyin = static_cast<pinyin_code *>(malloc(sizeof(pinyin_code)));
    if (!codes || !pinyin || hal_file_read(file, codes, PINYIN_CODE_SIZE) != PINYIN_CODE_SIZE) {
        free(pinyin);
        pinyin = NULL;
        goto out;
    }
    pinyin->codes = codes;
    codes = NULL;
out:
    free(codes);
    hal_file_destroy(&file);
    return pinyin;
}

void pinyin_destroy(pinyin_code **pinyin)
{
    if (!pinyin || !*pinyin)
        return;
    free((*pinyin)->codes);
    free(*pinyin);
    *pinyin = NULL;
}
