#include "hal_ini.h"
#include "hal_log.h"
#include "test_support.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <tuple>
#include <vector>

namespace fs = std::filesystem;

namespace
{

using Triple = std::tuple<std::string, std::string, std::string>;

struct Store {
    hal_ini *ini;
    explicit Store(const char *dir = nullptr) : ini(hal_ini_new(nullptr, nullptr, dir)) {}
    ~Store()
    {
        hal_ini_destroy(&ini);
    }
    std::string get(const char *s, const char *k) const
    {
        const char *v = hal_ini_find(ini, s, k);
        return v ? v : "<missing>";
    }
};

// Every (section, key, value) of a saved file, sorted: order-free contents.
std::vector<Triple> saved_contents(const std::string &path)
{
    std::istringstream in(ptt::test::read_file(path));
    std::vector<Triple> out;
    std::string line, section;
    while (std::getline(in, line)) {
        if (line.empty() || line.front() == ';' || line.front() == '#')
            continue; // comments are kept, but hold no setting
        if (line.front() == '[') {
            EXPECT_EQ(line.back(), ']') << line;
            section = line.substr(1, line.size() - 2);
            continue;
        }
        size_t eq = line.find(" = ");
        EXPECT_NE(eq, std::string::npos) << line;
        out.emplace_back(section, line.substr(0, eq), line.substr(eq + 3));
    }
    std::sort(out.begin(), out.end());
    return out;
}

std::vector<std::string> dir_entries(const std::string &dir)
{
    std::vector<std::string> out;
    for (auto &e : fs::directory_iterator(dir))
        out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
}

} // namespace

TEST(HalIni, ParsesLinesAsTheFileFormatDefines)
{
    ptt::test::TempCwd cwd;
    const std::string text = "top = level\n" // before any header: section ""
                             "[main]\n"
                             "k1 = value ; note\n" // comment after whitespace
                             "k2 = value;note\n"   // kept: no whitespace before ;
                             "k3 = ;note\n"        // a ; at the start stays
                             "a: b\n"
                             "a:b=c\n" // "=" wins wherever it stands
                             "dup = first\n"
                             "dup = second\n"
                             "cont = old\n"
                             "   replaced text ; kept\n" // continuation, comments kept
                             "ind = x\n"
                             "  [notasection]\n" // indented [ after a key: continuation
                             "  ; indented comment\n"
                             "# hash comment\n"
                             "no separator here\n" // malformed: line 16
                             "[broken\n"           // malformed
                             "[ spaced ]\n"
                             "  first = 1\n" // indented but no key yet: ordinary pair
                             "[main]\n"      // a repeated header continues the section
                             "late = yes\n"
                             "\n"
                             "   \t \n";
    ASSERT_TRUE(ptt::test::write_file("custom.ini", text));
    Store s;
    EXPECT_EQ(hal_ini_load(s.ini, nullptr, nullptr), 16);
    EXPECT_EQ(s.get("", "top"), "level");
    EXPECT_EQ(s.get("main", "k1"), "value");
    EXPECT_EQ(s.get("main", "k2"), "value;note");
    EXPECT_EQ(s.get("main", "k3"), ";note");
    EXPECT_EQ(s.get("main", "a"), "b");
    EXPECT_EQ(s.get("main", "a:b"), "c");
    EXPECT_EQ(s.get("main", "dup"), "second");
    EXPECT_EQ(s.get("main", "cont"), "replaced text ; kept");
    EXPECT_EQ(s.get("main", "ind"), "[notasection]");
    EXPECT_EQ(s.get("notasection", "x"), "<missing>");
    EXPECT_EQ(s.get(" spaced ", "first"), "1");
    EXPECT_EQ(s.get("main", "late"), "yes");
    EXPECT_EQ(s.get("Main", "late"), "<missing>"); // case matters
    EXPECT_EQ(s.get("main", "no separator here"), "<missing>");
}

TEST(HalIni, RoundTripWithBomCrlfCommentsAndLongValues)
{
    ptt::test::TempCwd cwd;
    // The engine writes long lists (dns) itself: values far beyond 255 bytes
    // must come back whole.
    std::string dns;
    for (int i = 0; i < 30; i++)
        dns += (i ? "," : "") + std::string("10.20.") + std::to_string(i) + ".200:4400" +
               std::to_string(i % 10);
    ASSERT_GT(dns.size(), 400u);
    const std::string long400(400, 'v');
    const std::vector<Triple> expected = {
        {"account", "user", "dispatcher01"},
        {"account", "password", "E10ADC3949BA59ABBE56E057F20F883E"},
        {"account", "role", "2"},
        {"account", "encrypted", "1"},
        {"account", "context", "std"},
        {"account", "last_group", "100234"},
        {"network", "broad", "0"},
        {"network", "dns", dns},
        {"prompt", "audio", "1"},
        {"broadcast", "playtts", "1"},
        {"broadcast", "broadcastprior", "20000"},
        {"cache", "newsheet", "3"},
        {"record", "codec", "103"},
        {"record", "dtx", "1"},
        {"record", "variable", "1"},
        {"record", "aec_delay", "90"},
        {"record", "probation", "140"},
        {"record", "quality", "6"},
        {"record", "agc_enable", "1"},
        {"record", "agc_level", "16000"},
        {"record", "fop", "5"},
        {"play", "agc_enable", "1"},
        {"play", "agc_level", "16000"},
        {"play", "packprobation", "2"},
        {"misc", "long", long400},
        {"misc", "utf8", "调度台 ✓"},
    };
    std::string text = "\xEF\xBB\xBF; written by hand\r\n";
    std::string section;
    for (auto &[s, k, v] : expected) {
        if (s != section) {
            text += "\r\n# section " + s + "\r\n[" + s + "]\r\n";
            section = s;
        }
        text += k + " = " + v + "\r\n";
    }
    ASSERT_TRUE(ptt::test::write_file("custom.ini", text));

    std::vector<Triple> seen;
    Store a;
    EXPECT_EQ(hal_ini_load(
                  a.ini,
                  [](void *arg, const char *s, const char *k, const char *v) {
                      static_cast<std::vector<Triple> *>(arg)->emplace_back(s, k, v);
                  },
                  &seen),
              0);
    EXPECT_EQ(seen, expected); // the callback sees every pair in file order
    for (auto &[s, k, v] : expected)
        EXPECT_EQ(a.get(s.c_str(), k.c_str()), v) << s << "/" << k;

    // Save and reload: identical contents.
    ASSERT_EQ(hal_ini_save(a.ini), 0);
    std::vector<Triple> sorted = expected;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(saved_contents("custom.ini"), sorted);
    Store b;
    EXPECT_EQ(hal_ini_load(b.ini, nullptr, nullptr), 0);
    for (auto &[s, k, v] : expected)
        EXPECT_EQ(b.get(s.c_str(), k.c_str()), v) << s << "/" << k;
    ASSERT_EQ(hal_ini_save(b.ini), 0);
    EXPECT_EQ(saved_contents("custom.ini"), sorted);
    EXPECT_EQ(dir_entries(cwd.path()), (std::vector<std::string>{"custom.ini"}));
}

// Lines the store has no key for stay in their section across a save: the
// order within the section may change, the lines may not go.
TEST(HalIni, SaveKeepsCommentsAndUnknownLinesInTheirSection)
{
    ptt::test::TempCwd cwd;
    ASSERT_TRUE(ptt::test::write_file("custom.ini", "; top note\n"
                                                    "[account]\n"
                                                    "# who logs in\n"
                                                    "user = alice\n"
                                                    "  ; indented note\n"
                                                    "no separator here\n"
                                                    "[half open\n"
                                                    "[record]\n"
                                                    "codec = 103 ; kept apart\n"
                                                    "; only a note\n"));
    Store s;
    ASSERT_EQ(hal_ini_load(s.ini, nullptr, nullptr), 6);
    EXPECT_EQ(s.get("account", "user"), "alice");
    EXPECT_EQ(s.get("record", "codec"), "103");
    ASSERT_EQ(hal_ini_replace(s.ini, "account", "role", "2"), 0);
    // Removing the section's only key keeps the section for its comment.
    ASSERT_EQ(hal_ini_remove(s.ini, "record", "codec"), 0);
    ASSERT_EQ(hal_ini_save(s.ini), 0);

    // Each section's lines as saved, sorted: order-free but section-bound.
    auto sections = [](const std::string &text) {
        std::map<std::string, std::vector<std::string>> out;
        std::istringstream in(text);
        std::string line, section = "<none>";
        while (std::getline(in, line)) {
            if (line.empty())
                continue;
            if (line.front() == '[' && line.back() == ']')
                section = line;
            else
                out[section].push_back(line);
        }
        for (auto &[name, lines] : out)
            std::sort(lines.begin(), lines.end());
        return out;
    };
    const std::map<std::string, std::vector<std::string>> expected = {
        {"[]", {"; top note"}},
        {"[account]",
         {"# who logs in", "; indented note", "[half open", "no separator here", "role = 2",
          "user = alice"}},
        {"[record]", {"; only a note"}},
    };
    const std::string saved = ptt::test::read_file("custom.ini");
    EXPECT_EQ(sections(saved), expected) << saved;

    // A second round trip changes nothing more.
    Store again;
    EXPECT_GT(hal_ini_load(again.ini, nullptr, nullptr), 0);
    EXPECT_EQ(again.get("account", "role"), "2");
    ASSERT_EQ(hal_ini_save(again.ini), 0);
    EXPECT_EQ(sections(ptt::test::read_file("custom.ini")), expected);
}

// A value too long to hold is refused with a log line, by a replace and by
// a load, and a save then writes the file as it was.
TEST(HalIni, OverLongValuesAreRefusedAndTheFileKept)
{
    ptt::test::TempCwd cwd;
    const std::string huge(4 << 20, 'v');
    const std::string longest(HAL_INI_VALUE_MAX, 'w');
    const std::string original = "[account]\nuser = alice\nbig = " + huge + "\n  more " + huge +
                                 "\n[network]\ndns = 127.0.0.1:1\n";
    ASSERT_TRUE(ptt::test::write_file("custom.ini", original));
    hal_log *log = hal_log_new(nullptr);
    ASSERT_EQ(hal_log_set_file(log, "test.log"), 0);
    hal_ini *ini = hal_ini_new(nullptr, log, nullptr);
    std::vector<Triple> seen;
    ASSERT_EQ(hal_ini_load(
                  ini,
                  [](void *arg, const char *s, const char *k, const char *v) {
                      static_cast<std::vector<Triple> *>(arg)->emplace_back(s, k, v);
                  },
                  &seen),
              0);
    EXPECT_EQ(seen, (std::vector<Triple>{{"account", "user", "alice"},
                                         {"network", "dns", "127.0.0.1:1"}}));
    EXPECT_EQ(hal_ini_find(ini, "account", "big"), nullptr);

    EXPECT_EQ(hal_ini_replace(ini, "account", "user", (huge + "x").c_str()), -1);
    EXPECT_EQ(hal_ini_check(ini, "account", "user", (longest + "x").c_str()), -1);
    EXPECT_EQ(hal_ini_check(ini, "account", "user", longest.c_str()), 0);
    EXPECT_STREQ(hal_ini_find(ini, "account", "user"), "alice");
    ASSERT_EQ(hal_ini_save(ini), 0);
    hal_ini_destroy(&ini);
    hal_log_destroy(&log);

    // Same lines, same sections: the long ones written back unchanged.
    const std::string saved = ptt::test::read_file("custom.ini");
    EXPECT_NE(saved.find("\nbig = " + huge + "\n"), std::string::npos);
    EXPECT_NE(saved.find("\n  more " + huge + "\n"), std::string::npos);
    EXPECT_NE(saved.find("[account]\nuser = alice\nbig = "), std::string::npos);
    EXPECT_NE(saved.find("[network]\ndns = 127.0.0.1:1\n"), std::string::npos);
    EXPECT_EQ(saved.size(), original.size() + 2); // a blank line after each section
    std::string text = ptt::test::read_file("test.log");
    EXPECT_NE(text.find("\tini\t[account] big: a value of 4194304 bytes is refused\n"),
              std::string::npos);
    EXPECT_NE(text.find("\tini\t[account] user: a value of 4194305 bytes is refused\n"),
              std::string::npos);
    EXPECT_EQ(text.find("vvvv"), std::string::npos); // values never reach the log
}

TEST(HalIni, SaveWritesTablesInIterationOrder)
{
    ptt::test::TempCwd cwd;
    Store s;
    EXPECT_EQ(hal_ini_replace(s.ini, "", "orphan", "1"), 0);
    ASSERT_EQ(hal_ini_save(s.ini), 0);
    EXPECT_EQ(ptt::test::read_file("custom.ini"), "[]\norphan = 1\n\n");

    // Names "a" and "e" hash to 1649 and 1717, both bucket 1 of 4: sections
    // and keys alike come out newest first.
    hal_ini_remove(s.ini, "", "orphan");
    hal_ini_replace(s.ini, "a", "x", "1");
    hal_ini_replace(s.ini, "e", "a", "2");
    hal_ini_replace(s.ini, "e", "e", "3");
    ASSERT_EQ(hal_ini_save(s.ini), 0);
    EXPECT_EQ(ptt::test::read_file("custom.ini"), "[e]\ne = 3\na = 2\n\n[a]\nx = 1\n\n");

    // An empty store truncates the file to nothing.
    hal_ini_clear(s.ini);
    ASSERT_EQ(hal_ini_save(s.ini), 0);
    EXPECT_EQ(ptt::test::read_file("custom.ini"), "");
}

TEST(HalIni, FailedLoadKeepsTheStore)
{
    ptt::test::TempCwd cwd;
    ASSERT_TRUE(ptt::test::write_file("custom.ini", "[account]\nuser = alice\n"));
    Store s;
    ASSERT_EQ(hal_ini_load(s.ini, nullptr, nullptr), 0);
    ASSERT_TRUE(fs::remove("custom.ini"));
    EXPECT_EQ(hal_ini_load(s.ini, nullptr, nullptr), -1);
    EXPECT_EQ(s.get("account", "user"), "alice");
    fs::create_directory("custom.ini"); // opens, but cannot be read as a file
    EXPECT_EQ(hal_ini_load(s.ini, nullptr, nullptr), -1);
    EXPECT_EQ(s.get("account", "user"), "alice");
    fs::remove("custom.ini");
    // A save after the failed loads writes the account back.
    ASSERT_EQ(hal_ini_save(s.ini), 0);
    EXPECT_EQ(ptt::test::read_file("custom.ini"), "[account]\nuser = alice\n\n");

    // A successful load replaces the old contents entirely.
    ASSERT_TRUE(ptt::test::write_file("custom.ini", "[network]\nbroad = 1\n"));
    EXPECT_EQ(hal_ini_load(s.ini, nullptr, nullptr), 0);
    EXPECT_EQ(s.get("account", "user"), "<missing>");
    EXPECT_EQ(s.get("network", "broad"), "1");
}

TEST(HalIni, FailedSaveLeavesFileAndStoreIntact)
{
    ptt::test::TempCwd cwd;
    {
        Store s("no/such/dir");
        EXPECT_STREQ(hal_ini_path(s.ini), "no/such/dir/custom.ini");
        hal_ini_replace(s.ini, "a", "b", "c");
        EXPECT_EQ(hal_ini_save(s.ini), -1);
        EXPECT_EQ(s.get("a", "b"), "c");
    }
    // custom.ini as a directory: the rename fails, the temp file is removed,
    // and the failure is logged.
    fs::create_directory("work");
    fs::create_directory("work/custom.ini");
    hal_log *log = hal_log_new(nullptr);
    ASSERT_EQ(hal_log_set_file(log, "test.log"), 0);
    hal_ini *ini = hal_ini_new(nullptr, log, "work");
    EXPECT_STREQ(hal_ini_path(ini), "work/custom.ini");
    hal_ini_replace(ini, "a", "b", "c");
    EXPECT_EQ(hal_ini_save(ini), -1);
    EXPECT_EQ(dir_entries(cwd.file("work")), (std::vector<std::string>{"custom.ini"}));
    EXPECT_TRUE(fs::is_directory("work/custom.ini"));
    hal_ini_destroy(&ini);
    hal_log_destroy(&log);
    std::string text = ptt::test::read_file("test.log");
    EXPECT_NE(text.find("\tini\tfile_path work/custom.ini @2\n"), std::string::npos) << text;
    EXPECT_NE(text.find("[ERROR] "), std::string::npos) << text;
    EXPECT_NE(text.find("\tini\tsave ini file error\n"), std::string::npos) << text;
}

TEST(HalIni, SaveReplacesTheFileAtomicallyKeepingItsMode)
{
    ptt::test::TempCwd cwd;
    ASSERT_TRUE(ptt::test::write_file("custom.ini", "[account]\nuser = bob\n"));
    ASSERT_EQ(chmod("custom.ini", 0640), 0);
    struct stat before;
    ASSERT_EQ(stat("custom.ini", &before), 0);
    Store s(cwd.path().c_str());
    ASSERT_EQ(hal_ini_load(s.ini, nullptr, nullptr), 0);
    hal_ini_replace(s.ini, "account", "role", "x"); // no password in the file
    ASSERT_EQ(hal_ini_save(s.ini), 0);
    struct stat after;
    ASSERT_EQ(stat("custom.ini", &after), 0);
    EXPECT_NE(before.st_ino, after.st_ino); // a new file was renamed into place
    EXPECT_EQ(after.st_mode & 07777, 0640u);
    EXPECT_EQ(dir_entries(cwd.path()), (std::vector<std::string>{"custom.ini"}));
}

// A file holding a password ends readable by its owner only, whether it is
// new or was readable by others; without one the mode is what it was (or
// what the umask gives a new file).
TEST(HalIni, SaveKeepsAPasswordFromOtherUsers)
{
    struct Case {
        int before; // -1: no file yet
        const char *key, *value;
        unsigned after;
        bool logged;
    } cases[] = {
        {0644, "password", "secret", 0600, true},  {0664, "Old_Password", "secret", 0600, true},
        {-1, "password", "secret", 0600, false},   {0600, "password", "secret", 0600, false},
        {0400, "password", "secret", 0400, false}, {0644, "password", "", 0644, false},
        {0644, "user", "bob", 0644, false},        {-1, "user", "bob", 0644, false},
    };
    const mode_t old_mask = umask(022);
    for (const Case &c : cases) {
        char trace[64];
        snprintf(trace, sizeof(trace), "%s, before %03o", c.key, c.before);
        SCOPED_TRACE(trace);
        ptt::test::TempCwd cwd;
        if (c.before >= 0) {
            ASSERT_TRUE(ptt::test::write_file("custom.ini", "[network]\ndns = x\n"));
            ASSERT_EQ(chmod("custom.ini", static_cast<mode_t>(c.before)), 0);
        }
        hal_log *log = hal_log_new(nullptr);
        ASSERT_EQ(hal_log_set_file(log, "test.log"), 0);
        hal_ini *ini = hal_ini_new(nullptr, log, ".");
        hal_ini_replace(ini, "account", c.key, c.value);
        EXPECT_EQ(hal_ini_save(ini), 0);
        hal_ini_destroy(&ini);
        hal_log_destroy(&log);
        struct stat after;
        ASSERT_EQ(stat("custom.ini", &after), 0);
        EXPECT_EQ(after.st_mode & 07777, c.after);
        const std::string text = ptt::test::read_file("test.log");
        char line[80];
        snprintf(line, sizeof(line), "custom.ini holds a password: mode %03o narrowed to 600",
                 c.before);
        EXPECT_EQ(text.find(line) != std::string::npos, c.logged) << text;
        EXPECT_EQ(text.find("secret"), std::string::npos) << text;
    }
    umask(old_mask);
}

TEST(HalIni, ReplaceCopiesBeforeDroppingTheOldValue)
{
    Store s;
    ASSERT_EQ(hal_ini_replace(s.ini, "account", "context", "dispatch-context"), 0);
    // Writing back the very pointer find returned must not read freed memory.
    const char *v = hal_ini_find(s.ini, "account", "context");
    ASSERT_EQ(hal_ini_replace(s.ini, "account", "context", v), 0);
    EXPECT_EQ(s.get("account", "context"), "dispatch-context");
}

TEST(HalIni, RefusesNullArgumentsAndLineBreaks)
{
    Store s;
    ASSERT_EQ(hal_ini_replace(s.ini, "sec", "key", "old"), 0);
    const struct {
        const char *section, *key, *value;
    } bad[] = {
        {nullptr, "key", "v"},    {"sec", nullptr, "v"}, {"sec", "key", nullptr},
        {"sec", "key", "a\nb"},   {"sec", "key", "a\r"}, {"sec", "k\ney", "v"},
        {"sec\r\nx", "key", "v"}, {"new\n", "key", "v"},
    };
    for (auto &b : bad)
        EXPECT_EQ(hal_ini_replace(s.ini, b.section, b.key, b.value), -1);
    EXPECT_EQ(hal_ini_replace(nullptr, "a", "b", "c"), -1);
    EXPECT_EQ(s.get("sec", "key"), "old");
    EXPECT_EQ(s.get("new\n", "key"), "<missing>");

    EXPECT_EQ(hal_ini_find(s.ini, nullptr, "key"), nullptr);
    EXPECT_EQ(hal_ini_find(s.ini, "sec", nullptr), nullptr);
    EXPECT_EQ(hal_ini_find(nullptr, "sec", "key"), nullptr);
    EXPECT_EQ(hal_ini_remove(s.ini, nullptr, "key"), -1);
    EXPECT_EQ(hal_ini_remove(s.ini, "sec", nullptr), -1);
    EXPECT_EQ(hal_ini_load(nullptr, nullptr, nullptr), -1);
    EXPECT_EQ(hal_ini_save(nullptr), -1);
    EXPECT_EQ(hal_ini_context(nullptr), nullptr);
    hal_ini_destroy(nullptr);
    hal_ini *none = nullptr;
    hal_ini_destroy(&none);
}

TEST(HalIni, RemoveDropsEmptySections)
{
    ptt::test::TempCwd cwd;
    Store s;
    hal_ini_replace(s.ini, "a", "k1", "1");
    hal_ini_replace(s.ini, "a", "k2", "2");
    EXPECT_EQ(hal_ini_remove(s.ini, "missing", "k1"), 0);
    EXPECT_EQ(hal_ini_remove(s.ini, "a", "missing"), 0);
    EXPECT_EQ(hal_ini_remove(s.ini, "a", "k1"), 0);
    EXPECT_EQ(s.get("a", "k2"), "2");
    EXPECT_EQ(hal_ini_remove(s.ini, "a", "k2"), 0);
    ASSERT_EQ(hal_ini_save(s.ini), 0);
    EXPECT_EQ(ptt::test::read_file("custom.ini"), ""); // the section went too
}

TEST(HalIni, LoadCallbackCannotSaveOrReload)
{
    ptt::test::TempCwd cwd;
    ASSERT_TRUE(ptt::test::write_file("custom.ini", "[s]\nk = v\n"));
    Store s;
    struct Probe {
        hal_ini *ini;
        int save = 0, load = 0, calls = 0;
    } probe{s.ini};
    EXPECT_EQ(hal_ini_load(
                  s.ini,
                  [](void *arg, const char *, const char *, const char *) {
                      auto *p = static_cast<Probe *>(arg);
                      p->calls++;
                      p->save = hal_ini_save(p->ini);
                      p->load = hal_ini_load(p->ini, nullptr, nullptr);
                  },
                  &probe),
              0);
    EXPECT_EQ(probe.calls, 1);
    EXPECT_EQ(probe.save, -1);
    EXPECT_EQ(probe.load, -1);
    EXPECT_EQ(hal_ini_save(s.ini), 0); // allowed again once the load is over
}

// Pairs the format can only carry in a particular shape: an empty key must
// not be written indented, and a value that holds a comment mark (possible
// only from a continuation line) must go on a continuation line again.
TEST(HalIni, SaveKeepsEmptyKeysAndValuesWithCommentMarks)
{
    ptt::test::TempCwd cwd;
    ASSERT_TRUE(ptt::test::write_file("custom.ini", "[s]\n"
                                                    "= empty key\n"
                                                    "plain = 1\n"
                                                    "cont = first\n"
                                                    "\tsecond ; kept\n"
                                                    "[t]\n"
                                                    ":\n"
                                                    "\t:: ;:\n"));
    Store a;
    ASSERT_EQ(hal_ini_load(a.ini, nullptr, nullptr), 0);
    const std::vector<Triple> expected = {
        {"s", "", "empty key"},
        {"s", "plain", "1"},
        {"s", "cont", "second ; kept"},
        {"t", "", ":: ;:"},
    };
    for (auto &[s, k, v] : expected)
        ASSERT_EQ(a.get(s.c_str(), k.c_str()), v) << s << "/" << k;
    ASSERT_EQ(hal_ini_save(a.ini), 0);
    Store b;
    ASSERT_EQ(hal_ini_load(b.ini, nullptr, nullptr), 0);
    for (auto &[s, k, v] : expected)
        EXPECT_EQ(b.get(s.c_str(), k.c_str()), v) << s << "/" << k;
}
