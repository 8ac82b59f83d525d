// Name ordering for the directory lists: byte keys that put other ASCII
// characters first, then digits, upper-case and lower-case letters, then
// ideographs by their Mandarin reading; members grouped by presence, groups
// and members by the weight the server gives them.
#pragma once

#include "lirko_win.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <cstddef>
#include <cstdint>

// One upper-case initial per ideograph U+4E00..U+9FA5 (generated at build
// time from the Mandarin readings); the array holds one terminating zero more.
#define PINYIN_INITIALS_SIZE 20902
#define PINYIN_FIRST 0x4E00u
#define PINYIN_LAST 0x9FA5u
extern const char PinyinInitials[PINYIN_INITIALS_SIZE + 1];

// A directory record with its sort key. Keys are byte strings with their own
// length, compared as unsigned bytes: a weight byte of 0 or of 0x80 and above
// is part of the key like any other.
struct GroupSort {
    win_group_t *group = nullptr;
    QByteArray key;
};

struct MemberSort {
    win_member_t *member = nullptr;
    QByteArray key;
};

// A group met more than once in the department list (see getallgroupsdata).
struct RepeatGid {
    uint32_t gid = 0;
    uint32_t did = 0;
    int32_t index = 0;
    GroupSort *entry = nullptr;
};

// Ideograph -> its readings, as loaded from "py.res".
using ReadingTable = QMap<QString, QStringList>;

// The text of a fixed-width record field up to its first zero byte, never
// beyond the field.
QByteArray FieldText(const char *field, size_t width);

// Byte length (1 to 6) of the UTF-8 sequence at text and its code point; 0
// for an invalid sequence. Reads no further than the first byte that breaks
// the sequence, so a terminating zero stops it.
int Utf8DecodeChar(const unsigned char *text, uint32_t *code_point);

// Member presence class: 2 online and in the group, 3 online elsewhere,
// 4 otherwise.
uint8_t MemberClass(const win_member_t &member);

// Keys. name is UTF-8; the result is empty when cls is 0.
QByteArray MakePinyinSortKey(const QByteArray &name, uint8_t cls);
QByteArray MakeGroupSortKeyBySortId(const QByteArray &name, uint8_t cls, uint8_t second,
                                    const ReadingTable &readings);
QByteArray MakeMemberSortKeyBySortId(const QByteArray &name, uint8_t cls, uint8_t weight,
                                     uint8_t role, const ReadingTable &readings);

// The four sorts; they write each entry's key and order the list in place.
// The sort-by-weight group sort also rewrites a weight of 0 as 65535 in the
// record. Equal keys keep their list order.
void SortGroupListByName(QList<GroupSort *> &list);
void SortMemberListByName(QList<MemberSort *> &list);
void SortGroupListByWeight(QList<GroupSort *> &list, const ReadingTable &readings);
void SortMemberListByWeight(QList<MemberSort *> &list, const ReadingTable &readings);

// Loads a "py.res" text: per line, comma-separated readings, a blank, the key.
ReadingTable ParseReadingTable(const QByteArray &text);
