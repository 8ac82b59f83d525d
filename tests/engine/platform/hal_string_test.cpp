#include "hal_string.h"

#include <gtest/gtest.h>
#include <string.h>
#include <string>
#include <vector>

namespace
{

struct Conv {
    const char *name;
    int (*fn)(const char *, char *, int);
};
const Conv kConversions[] = {{"UTF8ToGBK", UTF8ToGBK}, {"GBKToUTF8", GBKToUTF8}};

TEST(CodePage, SizeQueryExactFitAndOneByteShort)
{
    const char *text = "grp \xE4\xB8\xAD\xE6\x96\x87 \xF0\x9F\x98\x80"; // CJK and an emoji
    const int need = (int)strlen(text) + 1;
    for (const Conv &c : kConversions) {
        EXPECT_EQ(need, c.fn(text, nullptr, 0)) << c.name;
        std::vector<char> out(need + 4, 'Z');
        EXPECT_EQ(0, c.fn(text, out.data(), need - 1)) << c.name;
        EXPECT_EQ(std::string(need + 4, 'Z'), std::string(out.begin(), out.end())) << c.name;
        EXPECT_EQ(need, c.fn(text, out.data(), need)) << c.name;
        EXPECT_STREQ(text, out.data()) << c.name;
        EXPECT_EQ('Z', out[need]) << c.name;
        EXPECT_EQ(1, c.fn("", out.data(), 1)) << c.name;
        EXPECT_EQ(0, c.fn(nullptr, out.data(), 100)) << c.name;
    }
}

TEST(CodePage, InvalidTextIsRefusedAndDestinationUntouched)
{
    const char *bad[] = {
        "\xC0\x80",         // overlong NUL
        "a\x80",            // lone continuation byte
        "\xE4\xB8",         // sequence cut by the terminator
        "\xED\xA0\x80",     // UTF-16 surrogate
        "\xF4\x90\x80\x80", // above U+10FFFF
        "\xF5\x80\x80\x80", // invalid lead byte
        "\xFF",
    };
    for (const Conv &c : kConversions) {
        for (const char *b : bad) {
            char out[16];
            memset(out, 'Z', sizeof out);
            EXPECT_EQ(0, c.fn(b, out, sizeof out)) << c.name;
            EXPECT_EQ(0, c.fn(b, nullptr, 0)) << c.name;
            EXPECT_EQ('Z', out[0]) << c.name;
        }
    }
}

std::vector<uint16_t> decode(const std::string &bytes, size_t cap)
{
    // Exactly the span on the heap, no terminator: reading past it is an
    // ASan error.
    std::vector<char> span(bytes.begin(), bytes.end());
    std::vector<uint16_t> out(cap, 0xFFFF);
    hal_utf8towstr(span.data(), span.size(), out.data(), out.size());
    return out;
}

TEST(Utf8ToWide, DecodesWholeUnitsAndTerminates)
{
    std::vector<uint16_t> want = {0x41, 0xE9, 0x4E2D, 0, 0xFFFF};
    EXPECT_EQ(want, decode("A\xC3\xA9\xE4\xB8\xAD", 5));
}

TEST(Utf8ToWide, TooSmallOutputGetsNothing)
{
    // Three units plus the terminator do not fit in three.
    EXPECT_EQ(std::vector<uint16_t>(3, 0xFFFF), decode("A\xC3\xA9\xE4\xB8\xAD", 3));
}

TEST(Utf8ToWide, FourByteSequencesAndStrayBytesAreSkipped)
{
    std::vector<uint16_t> want = {0x61, 0x62, 0, 0xFFFF};
    EXPECT_EQ(want, decode("a\xF0\x9F\x98\x80\xFF"
                           "b",
                           4));
}

TEST(Utf8ToWide, SequenceCutByTheEndOfTheSpanIsNotRead)
{
    std::vector<uint16_t> want = {0x78, 0, 0xFFFF};
    EXPECT_EQ(want, decode("x\xE4\xB8", 3));
    std::vector<uint16_t> stops = {0x61, 0, 0xFFFF, 0xFFFF};
    EXPECT_EQ(stops, decode(std::string("a\0b", 3), 4)); // a 0 byte ends the text
}

TEST(Utf8ToWide, NullArgumentsDoNothing)
{
    uint16_t out[2] = {0xFFFF, 0xFFFF};
    hal_utf8towstr(nullptr, 3, out, 2);
    hal_utf8towstr("ab", 2, nullptr, 2);
    EXPECT_EQ(0xFFFF, out[0]);
}

TEST(Numbers, RoundingAndTruncation)
{
    struct {
        double in, round;
    } rounds[] = {{2.5, 3.0}, {-2.5, -3.0}, {0.49, 0.0}, {-0.49, 0.0}, {1.5, 2.0}, {0.0, 0.0}};
    for (auto &r : rounds)
        EXPECT_EQ(r.round, hal_round(r.in)) << r.in;
    struct {
        const char *text;
        int value;
    } atofs[] = {{"2.75", 2}, {"3.9", 3}, {"-3.9", -3}, {"abc", 0}, {"1e20", 2147483647}};
    for (auto &a : atofs)
        EXPECT_EQ(a.value, hal_atof(a.text)) << a.text;
    EXPECT_EQ(-3.0, hal_floor(-2.5));
    EXPECT_EQ(42, hal_atoi("42x"));
    EXPECT_EQ(-7L, hal_atol("-7"));
}

TEST(Strings, ComparisonsAndCopies)
{
    EXPECT_EQ(-1, hal_strcmp("a", "b"));
    EXPECT_EQ(1, hal_strcmp("z", "a"));
    EXPECT_EQ(0, hal_strcmp("same", "same"));
    EXPECT_EQ(1, hal_strcmp("\xFF", "a")); // bytes compare as unsigned
    EXPECT_EQ(0, hal_strcasecmp("GrOuP", "group"));
    EXPECT_EQ(0, hal_strncasecmp("ABCx", "abcy", 3));
    EXPECT_EQ(nullptr, hal_strdup(nullptr));
    char *d = hal_strdup("copy");
    EXPECT_STREQ("copy", d);
    hal_free(d);
    char buf[16] = "ab";
    EXPECT_EQ(nullptr, hal_strcat(buf, nullptr));
    EXPECT_EQ(nullptr, hal_strcat(nullptr, "x"));
    EXPECT_EQ(buf, hal_strcat(buf, "cd"));
    EXPECT_STREQ("abcd", buf);
    EXPECT_EQ(buf, hal_strcpy(buf, "xyz"));
    EXPECT_STREQ("xyz", buf);
    EXPECT_EQ(3u, hal_strlen(buf));
}

TEST(Strings, Formatting)
{
    char buf[8];
    memset(buf, 'Z', sizeof buf);
    EXPECT_EQ(11, hal_snprintf(buf, 5, "%s-%d", "hello", 12345));
    EXPECT_STREQ("hell", buf);
    EXPECT_EQ('Z', buf[5]);
    char big[32];
    EXPECT_EQ(9, hal_sprintf(big, "%d:%s", 1234, "abcd"));
    EXPECT_STREQ("1234:abcd", big);
}

} // namespace
