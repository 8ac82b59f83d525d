// Saved settings in custom.ini: what each operation writes, what survives a
// reload from disk, and the change notice for application writes.
#include "core_fixture.h"
#include "lirko_events.h"
#include "lirko_settings.h"

#include <atomic>

namespace ptt::test
{

class SettingsTest : public EngineFixture
{
  protected:
    std::string file()
    {
        return read_file(cwd.file("custom.ini"));
    }
    std::string get(const char *(*getter)(lirko_t *))
    {
        std::string out;
        on_looper([&] {
            const char *v = getter(engine);
            out = v ? v : "(none)";
            return 0;
        });
        return out;
    }
};

TEST_F(SettingsTest, AccountRoundTripsThroughTheFile)
{
    EXPECT_EQ(on_looper([&] { return lirko_has_saved_account(engine); }), 0);
    EXPECT_EQ(on_looper([&] { return lirko_get_saved_role(engine); }), 0); // missing: 0
    EXPECT_EQ(on_looper([&] { return lirko_save_account(engine, "alice", "alice-pw", 3); }), 0);
    EXPECT_EQ(on_looper([&] { return lirko_save_context(engine, "fleet"); }), 0);
    // A negative role and NULL texts keep what is stored.
    EXPECT_EQ(on_looper([&] { return lirko_save_account(engine, NULL, NULL, -1); }), 0);
    EXPECT_EQ(on_looper([&] { return lirko_get_saved_role(engine); }), 3);
    EXPECT_EQ(on_looper([&] { return lirko_has_saved_account(engine); }), 1);

    // Another engine on the same directory reads the same values.
    lirko_destroy(&engine);
    engine = lirko_new(cwd.path().c_str());
    ASSERT_NE(engine, nullptr);
    EXPECT_EQ(get(lirko_get_saved_account), "alice");
    EXPECT_EQ(get(lirko_get_saved_password), "alice-pw");
    EXPECT_EQ(get(lirko_get_saved_context), "fleet");
    EXPECT_EQ(on_looper([&] { return lirko_get_saved_role(engine); }), 3);

    // Clearing the account keeps the section for its context.
    EXPECT_EQ(on_looper([&] { return lirko_clear_saved_account(engine); }), 0);
    EXPECT_EQ(get(lirko_get_saved_account), "(none)");
    EXPECT_EQ(get(lirko_get_saved_context), "fleet");
    EXPECT_NE(file().find("[account]"), std::string::npos);
    EXPECT_EQ(on_looper([&] { return lirko_clear_saved_context(engine); }), 0);
    EXPECT_EQ(file().find("[account]"), std::string::npos);
}

// A save that stores or writes nothing says so: a refused value leaves the
// store and the file as they were, and a folder that cannot be written
// fails the save.
TEST_F(SettingsTest, RefusedOrFailedSavesReturnMinusOne)
{
    ASSERT_EQ(on_looper([&] { return lirko_save_account(engine, "alice", "alice-pw", 3); }), 0);
    const std::string before = file();
    const std::string huge(4 << 20, 'p');
    EXPECT_EQ(on_looper([&] { return lirko_save_account(engine, "bob", huge.c_str(), 1); }), -1);
    EXPECT_EQ(on_looper([&] { return lirko_save_context(engine, huge.c_str()); }), -1);
    EXPECT_EQ(on_looper([&] { return lirko_write_ini(engine, "ui", "theme", huge.c_str()); }), -1);
    EXPECT_EQ(file(), before);
    EXPECT_EQ(get(lirko_get_saved_account), "alice");
    EXPECT_EQ(on_looper([&] { return lirko_get_saved_role(engine); }), 3);

    {
        UnwritableFolder ro(cwd.path());
        EXPECT_EQ(on_looper([&] { return lirko_save_account(engine, "bob", "bob-pw", 1); }), -1);
        EXPECT_EQ(on_looper([&] { return lirko_clear_saved_account(engine); }), -1);
    }
    EXPECT_EQ(file(), before);
}

TEST_F(SettingsTest, DnsAndCodecAreSaved)
{
    const std::string dns = "127.0.0.1:1," + server.dns_entry();
    EXPECT_EQ(on_looper([&] { return lirko_save_dns(engine, dns.c_str()); }), 0);
    EXPECT_EQ(on_looper([&] { return lirko_get_saved_record_code(engine); }), 0);
    EXPECT_EQ(on_looper([&] { return lirko_save_record_code(engine, "101"); }), 0);
    EXPECT_EQ(on_looper([&] { return lirko_get_saved_record_code(engine); }), 101);
    EXPECT_NE(file().find("dns = " + dns), std::string::npos);
    EXPECT_NE(file().find("codec = 101"), std::string::npos);
}

// Application writes reload the file first (so another program's change is
// kept), save, and only then announce the change.
TEST_F(SettingsTest, WriteIniReloadsSavesThenPosts)
{
    static std::atomic<int> seen{0};
    static std::string on_disk;
    seen = 0;
    hal_looper_processor_fn fn = [](hal_looper *, hal_looper_event *, void *arg,
                                    hal_looper_processor *) {
        on_disk = read_file(static_cast<TempCwd *>(arg)->file("custom.ini"));
        seen++;
    };
    hal_looper_processer_args args = {"hal.ini.changed", fn, &cwd};
    ASSERT_EQ(hal_looper_exec(engine->looper, hal_looper_routine_add_processer, &args), 0);

    write_file(cwd.file("custom.ini"), file() + "[prompt]\naudio = 1\n");
    EXPECT_EQ(on_looper([&] { return lirko_write_ini(engine, "ui", "theme", "dark"); }), 0);
    settle();
    EXPECT_EQ(seen.load(), 1);
    EXPECT_NE(on_disk.find("theme = dark"), std::string::npos);
    EXPECT_NE(on_disk.find("audio = 1"), std::string::npos);

    std::string read;
    write_file(cwd.file("custom.ini"), file() + "[ui]\nzoom = 2\n");
    on_looper([&] {
        const char *v = lirko_read_ini(engine, "ui", "zoom");
        read = v ? v : "(none)";
        return 0;
    });
    EXPECT_EQ(read, "2");
    EXPECT_EQ(on_looper([&] { return lirko_read_ini(engine, NULL, "zoom") ? 1 : 0; }), 0);
    hal_looper_exec(engine->looper, hal_looper_routine_remove_processer, &args);
}

} // namespace ptt::test
