// Name ordering: UTF-8 decoding, the initials table, the three key builders
// and the four sorts, and the generated reading file.
#include "namesort.h"

#include <QFile>
#include <QRegularExpression>
#include <QtTest>
#include <cstring>
#include <memory>
#include <vector>

namespace
{

QByteArray U(const char *utf8)
{
    return QByteArray(utf8);
}

win_group_t Group(const char *name, int32_t weight = 0, gid_t gid = 1)
{
    win_group_t g{};
    g.gid = gid;
    strncpy(g.name, name, sizeof(g.name) - 1);
    g.sort_weight = weight;
    return g;
}

win_member_t Member(const char *name, uint32_t online, uint32_t ingroup, int32_t weight = 0,
                    int32_t role = 0)
{
    win_member_t m{};
    strncpy(m.name, name, sizeof(m.name) - 1);
    m.online = online;
    m.ingroup = ingroup;
    m.sort_weight = weight;
    m.role = role;
    return m;
}

QStringList GroupOrder(std::vector<win_group_t> &groups, bool by_weight,
                       const ReadingTable &readings = {})
{
    std::vector<GroupSort> e(groups.size());
    QList<GroupSort *> list;
    for (size_t i = 0; i < groups.size(); i++) {
        e[i].group = &groups[i];
        list << &e[i];
    }
    if (by_weight)
        SortGroupListByWeight(list, readings);
    else
        SortGroupListByName(list);
    QStringList names;
    for (GroupSort *g : list)
        names << QString::fromUtf8(g->group->name);
    return names;
}

QStringList MemberOrder(std::vector<win_member_t> &members, bool by_weight,
                        const ReadingTable &readings = {})
{
    std::vector<MemberSort> e(members.size());
    QList<MemberSort *> list;
    for (size_t i = 0; i < members.size(); i++) {
        e[i].member = &members[i];
        list << &e[i];
    }
    if (by_weight)
        SortMemberListByWeight(list, readings);
    else
        SortMemberListByName(list);
    QStringList names;
    for (MemberSort *m : list)
        names << QString::fromUtf8(m->member->name);
    return names;
}

ReadingTable Readings()
{
    return ParseReadingTable(U("yi 一\nding 丁\nzhang,chang 长\nhao 好\n"));
}

} // namespace

class NameSortTest : public QObject
{
    Q_OBJECT

  private slots:
    void decode_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("length");
        QTest::addColumn<uint>("code");
        QTest::newRow("ascii") << QByteArray("A") << 1 << 0x41u;
        QTest::newRow("two") << QByteArray("\xC3\xA9") << 2 << 0xE9u;
        QTest::newRow("ideograph") << QByteArray("\xE4\xB8\x80") << 3 << 0x4E00u;
        QTest::newRow("four") << QByteArray("\xF0\x9F\x98\x80") << 4 << 0x1F600u;
        QTest::newRow("five") << QByteArray("\xF8\x88\x80\x80\x80") << 5 << 0x200000u;
        QTest::newRow("six") << QByteArray("\xFC\x84\x80\x80\x80\x80") << 6 << 0x4000000u;
        QTest::newRow("continuation lead") << QByteArray("\x80") << 0 << 0u;
        QTest::newRow("cut by the end") << QByteArray("\xE4\xB8") << 0 << 0u;
        QTest::newRow("bad continuation") << QByteArray("\xE4\xB8\x41") << 0 << 0u;
    }

    void decode()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, length);
        QFETCH(uint, code);
        uint32_t cp = 0;
        int n = Utf8DecodeChar(reinterpret_cast<const unsigned char *>(bytes.constData()), &cp);
        QCOMPARE(n, length);
        if (length)
            QCOMPARE(cp, code);
    }

    void initialsTable()
    {
        QCOMPARE(QByteArray(PinyinInitials, 12), QByteArray("YDKQSXMWZSSX"));
        for (int i = 0; i < PINYIN_INITIALS_SIZE; i++)
            QVERIFY2(PinyinInitials[i] >= 'A' && PinyinInitials[i] <= 'Z',
                     qPrintable(QString::number(i)));
        QCOMPARE(PinyinInitials[PINYIN_INITIALS_SIZE], '\0');
        // U+9FA5, the last one, and U+597D (hao).
        QCOMPARE(PinyinInitials[0x597D - 0x4E00], 'H');
    }

    void pinyinKeys_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<int>("cls");
        QTest::addColumn<QByteArray>("key");
        QTest::newRow("digit led") << U("9a") << 1 << QByteArray("\x01\x01\x0B\x33", 4);
        QTest::newRow("number led") << U("10a") << 1 << QByteArray("\x01\x02\x03\x02\x33", 5);
        QTest::newRow("upper") << U("Wo") << 1 << QByteArray("\x01\x20\x29\x41", 4);
        QTest::newRow("other ascii") << U("-") << 2 << QByteArray("\x02\x20\x01", 3);
        QTest::newRow("ideographs") << U("一丁") << 1 << QByteArray("\x01\x20yd", 4);
        QTest::newRow("other char repeats")
            << U("a\xC3\xA9") << 1 << QByteArray("\x01\x20\x33\x33", 4);
        QTest::newRow("other char first") << U("\xC3\xA9"
                                               "a")
                                          << 1 << QByteArray("\x01\x20", 2);
        QTest::newRow("empty") << U("") << 3 << QByteArray("\x03\x20", 2);
        QTest::newRow("class 0") << U("a") << 0 << QByteArray();
    }

    void pinyinKeys()
    {
        QFETCH(QByteArray, name);
        QFETCH(int, cls);
        QFETCH(QByteArray, key);
        QCOMPARE(MakePinyinSortKey(name, static_cast<uint8_t>(cls)).toHex(), key.toHex());
    }

    void weightKeysUseReadingsPerIdeograph_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QByteArray>("key");
        QTest::newRow("readings") << U("一x丁")
                                  << QByteArray("\x01\x01\x20yi\x4A"
                                                "ding");
        QTest::newRow("first reading only") << U("长") << QByteArray("\x01\x01\x20zhang");
        // An ideograph without a reading adds nothing, never another's.
        QTest::newRow("no reading inside") << U("一丂好") << QByteArray("\x01\x01\x20yihao");
        QTest::newRow("no reading first") << U("丂一") << QByteArray("\x01\x01\x20");
        QTest::newRow("other char first") << U("\xC3\xA9"
                                               "a")
                                          << QByteArray("\x01\x01\x20");
        QTest::newRow("other char inside") << U("a\xC3\xA9"
                                                "b")
                                           << QByteArray("\x01\x01\x20\x33\x34");
        QTest::newRow("digits") << U("12a") << QByteArray("\x01\x01\x02\x03\x04\x33");
    }

    void weightKeysUseReadingsPerIdeograph()
    {
        QFETCH(QByteArray, name);
        QFETCH(QByteArray, key);
        QCOMPARE(MakeGroupSortKeyBySortId(name, 1, 1, Readings()).toHex(), key.toHex());
    }

    void withoutReadingsIdeographsAddNothing()
    {
        const ReadingTable none;
        QCOMPARE(MakeGroupSortKeyBySortId(U("一a"), 1, 1, none), QByteArray("\x01\x01\x20"));
        QCOMPARE(MakeMemberSortKeyBySortId(U("a一b"), 2, 30, 1, none),
                 QByteArray("\x02\x1E\x01\x20\x33\x34"));
    }

    void memberKeyKeepsAZeroWeightByte()
    {
        // A weight of 256 has a zero low byte; the rest of the key still counts.
        QByteArray a = MakeMemberSortKeyBySortId(U("a"), 2, 0, 2, {});
        QByteArray b = MakeMemberSortKeyBySortId(U("b"), 2, 0, 2, {});
        QCOMPARE(a.size(), 5);
        QVERIFY(a < b);
    }

    void groupsByName()
    {
        std::vector<win_group_t> g = {Group("word"), Group("10word"), Group("好"), Group("Word"),
                                      Group("9word")};
        QCOMPARE(GroupOrder(g, false),
                 (QStringList{"9word", "10word", "Word", "word", QString::fromUtf8("好")}));
    }

    void membersByClassThenName()
    {
        std::vector<win_member_t> m = {Member("a-off", 1, 1), Member("b-elsewhere", 3, 0),
                                       Member("c-here", 3, 2), Member("a-elsewhere", 3, 0),
                                       Member("a-unknown", 0, 1)};
        QStringList order = MemberOrder(m, false);
        QCOMPARE(order,
                 (QStringList{"c-here", "a-elsewhere", "b-elsewhere", "a-off", "a-unknown"}));
    }

    void groupsByWeight()
    {
        std::vector<win_group_t> g = {Group("a", 0), Group("z", 5), Group("b", 0), Group("y", 7)};
        QCOMPARE(GroupOrder(g, true), (QStringList{"z", "y", "a", "b"}));
        // The zero weight is rewritten in the record, as the getters then see it.
        QCOMPARE(g[0].sort_weight, 65535);
        QCOMPARE(g[1].sort_weight, 5);
    }

    void groupsByWeightReadIdeographs()
    {
        std::vector<win_group_t> g = {Group("好", 1), Group("一", 1), Group("b", 1)};
        QCOMPARE(GroupOrder(g, true, Readings()),
                 (QStringList{"b", QString::fromUtf8("好"), QString::fromUtf8("一")}));
    }

    void membersByWeight()
    {
        // Same class: weights below 30 before a zero weight (byte 30), above
        // after it; 256 (byte 0) first of all.
        std::vector<win_member_t> m = {Member("zero", 3, 1, 0),    Member("w31", 3, 1, 31),
                                       Member("w29", 3, 1, 29),    Member("w1", 3, 1, 1),
                                       Member("w256b", 3, 1, 256), Member("w256a", 3, 1, 256),
                                       Member("off", 1, 1, 1)};
        QCOMPARE(MemberOrder(m, true),
                 (QStringList{"w256a", "w256b", "w1", "w29", "zero", "w31", "off"}));
    }

    void membersByRole()
    {
        std::vector<win_member_t> m = {Member("a-other", 3, 1, 5, 7), Member("b-plain", 3, 1, 5, 0),
                                       Member("c-dispatcher", 3, 1, 5, 3)};
        QCOMPARE(MemberOrder(m, true), (QStringList{"c-dispatcher", "b-plain", "a-other"}));
    }

    void fullWidthNamesStayInTheirField()
    {
        // 21 ideographs fill 63 bytes; the field's last byte is no terminator.
        win_member_t m{};
        QByteArray name;
        for (int i = 0; i < 21; i++)
            name += "长";
        memcpy(m.name, name.constData(), 63);
        m.name[63] = 'x';
        QCOMPARE(FieldText(m.name, sizeof(m.name)).size(), 64);
        std::vector<win_member_t> list = {m, Member("a", 3, 1)};
        QStringList order = MemberOrder(list, true, Readings());
        QCOMPARE(order.last().left(21), QString::fromUtf8(name));
        QByteArray key =
            MakeMemberSortKeyBySortId(FieldText(m.name, sizeof(m.name)), 2, 30, 2, Readings());
        QCOMPARE(key.size(), 4 + 21 * 5 + 1);
    }

    void readingFileParse()
    {
        ReadingTable t = ParseReadingTable(U("a,b K\nc K2\nd,e K\nlonely\n"));
        QCOMPARE(t.value(QStringLiteral("K")), (QStringList{"d", "e"}));
        QCOMPARE(t.value(QStringLiteral("K2")), QStringList{"c"});
        QCOMPARE(t.value(QStringLiteral("lonely")), QStringList{"lonely"});
    }

    void generatedReadingFile()
    {
        QFile f(QStringLiteral(PTT_RUN_DIR "/py.res"));
        QVERIFY2(f.open(QIODevice::ReadOnly), PTT_RUN_DIR "/py.res");
        const QByteArray text = f.readAll();
        ReadingTable t = ParseReadingTable(text);
        QVERIFY(t.size() > 20000);
        QCOMPARE(t.value(QString::fromUtf8("一")), QStringList{"yi"});
        QCOMPARE(t.value(QString::fromUtf8("万")), (QStringList{"wan", "mo"}));
        QCOMPARE(t.value(QString::fromUtf8("女")), QStringList{"nv"});
        const QRegularExpression line(QStringLiteral("^[a-z]+(,[a-z]+)* .$"));
        for (const QByteArray &l : text.split('\n')) {
            if (!l.isEmpty())
                QVERIFY2(line.match(QString::fromUtf8(l)).hasMatch(), l.constData());
        }
    }
};

QTEST_GUILESS_MAIN(NameSortTest)
#include "namesort_test.moc"
