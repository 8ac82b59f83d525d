#include "namesort.h"

#include <algorithm>
#include <cstring>

static_assert(sizeof(PinyinInitials) == PINYIN_INITIALS_SIZE + 1, "one initial per ideograph");

QByteArray FieldText(const char *field, size_t width)
{
    const void *end = memchr(field, 0, width);
    size_t n = end ? static_cast<size_t>(static_cast<const char *>(end) - field) : width;
    return QByteArray(field, static_cast<int>(n));
}

int Utf8DecodeChar(const unsigned char *text, uint32_t *code_point)
{
    unsigned char lead = text[0];
    int len;
    uint32_t cp;
    if (lead < 0x80) {
        *code_point = lead;
        return 1;
    }
    if (lead < 0xC0)
        return 0;
    if (lead < 0xE0) {
        len = 2;
        cp = lead & 0x1Fu;
    } else if (lead < 0xF0) {
        len = 3;
        cp = lead & 0x0Fu;
    } else if (lead < 0xF8) {
        len = 4;
        cp = lead & 0x07u;
    } else if (lead < 0xFC) {
        len = 5;
        cp = lead & 0x03u;
    } else {
        len = 6;
        cp = lead & 0x01u;
    }
    for (int i = 1; i < len; i++) {
        // A zero byte fails this test, so a cut sequence never reads past
        // the terminator.
        if ((text[i] & 0xC0u) != 0x80u)
            return 0;
        cp = (cp << 6) | (text[i] & 0x3Fu);
    }
    *code_point = cp;
    return len;
}

uint8_t MemberClass(const win_member_t &member)
{
    if (member.online != LIRKO_STATUS_ONLINE)
        return 4;
    return static_cast<int32_t>(member.ingroup) > 0 ? 2 : 3;
}

namespace
{

// Ideographs are recognised by the low 16 bits of the code point, as the
// page's ordering always has been.
bool IsIdeograph(uint32_t cp)
{
    uint32_t low = cp & 0xFFFFu;
    return low >= PINYIN_FIRST && low <= PINYIN_LAST;
}

char InitialByte(uint32_t cp)
{
    return static_cast<char>(PinyinInitials[(cp & 0xFFFFu) - PINYIN_FIRST] + 0x20);
}

char AsciiByte(uint32_t c)
{
    if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))
        return static_cast<char>(c - 0x2E);
    return 0x01;
}

// Counts the leading digit run of a name; the count replaces the blank of the
// prefix so that numbers order by their length first.
struct DigitRun {
    bool starts = false;
    bool open = false;
    uint8_t count = 0;

    explicit DigitRun(const QByteArray &name)
    {
        starts = !name.isEmpty() && name[0] >= '0' && name[0] <= '9';
        open = starts;
    }
    void ascii(uint32_t c)
    {
        if (c >= '0' && c <= '9') {
            if (open && count < 0xFF)
                count++;
        } else {
            open = false;
        }
    }
};

// The first reading of one ideograph, or nothing when the table has none.
QByteArray Reading(uint32_t cp, const ReadingTable &readings)
{
    if (readings.isEmpty())
        return {};
    char32_t c = cp;
    auto it = readings.constFind(QString::fromUcs4(&c, 1));
    if (it == readings.constEnd() || it->isEmpty())
        return {};
    return it->first().toUtf8();
}

// The part of a sort-by-weight key after its prefix. The walk stops at the
// first character that adds nothing to an empty key.
QByteArray WeightKeyBody(const QByteArray &name, DigitRun &run, const ReadingTable &readings)
{
    QByteArray body;
    const auto *p = reinterpret_cast<const unsigned char *>(name.constData());
    while (*p) {
        uint32_t cp = 0;
        int len = Utf8DecodeChar(p, &cp);
        if (len == 0)
            break;
        if (IsIdeograph(cp)) {
            body += Reading(cp, readings);
            run.open = false;
        } else if (len == 1) {
            body += AsciiByte(cp);
            run.ascii(cp);
        }
        if (body.isEmpty())
            break;
        p += len;
    }
    return body;
}

} // namespace

QByteArray MakePinyinSortKey(const QByteArray &name, uint8_t cls)
{
    if (cls == 0)
        return {};
    QByteArray key;
    key += static_cast<char>(cls);
    key += ' ';
    DigitRun run(name);
    const auto *p = reinterpret_cast<const unsigned char *>(name.constData());
    bool have_prev = false;
    char prev = 0;
    while (*p) {
        uint32_t cp = 0;
        int len = Utf8DecodeChar(p, &cp);
        if (len == 0)
            break;
        char b;
        if (IsIdeograph(cp)) {
            b = InitialByte(cp);
            run.open = false;
        } else if (len == 1) {
            b = AsciiByte(cp);
            run.ascii(cp);
        } else {
            // Other characters repeat the byte before them; first in the
            // name, they end it.
            if (!have_prev)
                break;
            b = prev;
        }
        key += b;
        prev = b;
        have_prev = true;
        p += len;
    }
    if (run.starts)
        key[1] = static_cast<char>(run.count);
    return key;
}

QByteArray MakeGroupSortKeyBySortId(const QByteArray &name, uint8_t cls, uint8_t second,
                                    const ReadingTable &readings)
{
    if (cls == 0)
        return {};
    QByteArray key;
    key += static_cast<char>(cls);
    key += static_cast<char>(second);
    key += ' ';
    DigitRun run(name);
    key += WeightKeyBody(name, run, readings);
    if (run.starts)
        key[2] = static_cast<char>(run.count);
    return key;
}

QByteArray MakeMemberSortKeyBySortId(const QByteArray &name, uint8_t cls, uint8_t weight,
                                     uint8_t role, const ReadingTable &readings)
{
    if (cls == 0)
        return {};
    QByteArray key;
    key += static_cast<char>(cls);
    key += static_cast<char>(weight);
    key += static_cast<char>(role);
    key += ' ';
    DigitRun run(name);
    key += WeightKeyBody(name, run, readings);
    if (run.starts)
        key[3] = static_cast<char>(run.count);
    return key;
}

namespace
{

template <typename Entry> void SortByKey(QList<Entry *> &list)
{
    std::stable_sort(list.begin(), list.end(),
                     [](const Entry *a, const Entry *b) { return a->key < b->key; });
}

// Role byte of a member key: dispatchers (role 3) first, ordinary members
// (role 0) next, any other role after both.
uint8_t RoleByte(int32_t role)
{
    if (role == 3)
        return 1;
    if (role == 0)
        return 2;
    return 3;
}

} // namespace

void SortGroupListByName(QList<GroupSort *> &list)
{
    for (GroupSort *e : list)
        e->key = MakePinyinSortKey(FieldText(e->group->name, sizeof(e->group->name)), 1);
    SortByKey(list);
}

void SortMemberListByName(QList<MemberSort *> &list)
{
    for (MemberSort *e : list)
        e->key = MakePinyinSortKey(FieldText(e->member->name, sizeof(e->member->name)),
                                   MemberClass(*e->member));
    SortByKey(list);
}

void SortGroupListByWeight(QList<GroupSort *> &list, const ReadingTable &readings)
{
    for (GroupSort *e : list) {
        e->key = MakeGroupSortKeyBySortId(FieldText(e->group->name, sizeof(e->group->name)), 1, 1,
                                          readings);
        if (e->group->sort_weight == 0)
            e->group->sort_weight = 65535;
    }
    std::stable_sort(list.begin(), list.end(), [](const GroupSort *a, const GroupSort *b) {
        if (a->group->sort_weight != b->group->sort_weight)
            return a->group->sort_weight < b->group->sort_weight;
        return a->key < b->key;
    });
}

void SortMemberListByWeight(QList<MemberSort *> &list, const ReadingTable &readings)
{
    for (MemberSort *e : list) {
        const win_member_t &m = *e->member;
        uint8_t weight = m.sort_weight == 0 ? 30 : static_cast<uint8_t>(m.sort_weight & 0xFF);
        e->key = MakeMemberSortKeyBySortId(FieldText(m.name, sizeof(m.name)), MemberClass(m),
                                           weight, RoleByte(m.role), readings);
    }
    SortByKey(list);
}

ReadingTable ParseReadingTable(const QByteArray &text)
{
    ReadingTable table;
    const QList<QByteArray> lines = text.split('\n');
    for (int i = 0; i < lines.size(); i++) {
        const QByteArray &raw = lines[i];
        // The split leaves one empty piece after a final line end.
        if (raw.isEmpty() && i == lines.size() - 1)
            break;
        QString line = QString::fromUtf8(raw);
        QStringList parts = line.split(QLatin1Char(' '));
        QStringList value = parts.first().split(QLatin1Char(','));
        QString key = parts.last().trimmed();
        table.insert(key, value);
    }
    return table;
}
