#include "hal_ctx.h"
#include "hal_ini.h"
#include "hal_log.h"
#include "hal_looper.h"
#include "looper_fixture.h"
#include "test_support.h"

#include <dlfcn.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

using ptt::test::read_file;
using ptt::test::TempCwd;

namespace
{

TEST(Context, CreatesEveryServiceAndFreesThemAgain)
{
    TempCwd cwd;
    ASSERT_TRUE(ptt::test::write_file(cwd.file("kvptt.log"), "previous run\n"));
    ASSERT_TRUE(ptt::test::write_file(cwd.file("custom.ini"), "[account]\nuser = bob\n"));
    hal_ctx *ctx = hal_ctx_new(cwd.path().c_str());
    ASSERT_NE(nullptr, ctx);
    EXPECT_NE(nullptr, hal_ctx_get_log(ctx));
    EXPECT_NE(nullptr, hal_ctx_get_looper(ctx));
    EXPECT_NE(nullptr, hal_ctx_get_filemanager(ctx));
    EXPECT_NE(nullptr, hal_ctx_get_network(ctx));
    EXPECT_EQ(nullptr, hal_ctx_get_device(ctx));
    EXPECT_EQ(0, hal_ctx_get_location());
    EXPECT_EQ(cwd.path(), hal_ctx_get_path(ctx));
    EXPECT_EQ(ctx, hal_looper_context(hal_ctx_get_looper(ctx)));
    // The INI store was loaded from the given directory.
    EXPECT_STREQ("bob", hal_ini_find(hal_ctx_get_ini(ctx), "account", "user"));
    // kvptt.log in the working directory, truncated, with the start-up lines.
    std::string log = read_file(cwd.file("kvptt.log"));
    EXPECT_EQ(std::string::npos, log.find("previous run"));
    EXPECT_NE(std::string::npos, log.find("\tloop\thal_looper_new\n"));
    EXPECT_NE(std::string::npos, log.find("\tlooper\tmain thread: "));
    EXPECT_NE(std::string::npos, log.find("hal_looper_routine_on_start222"));
    EXPECT_EQ(7, ptt::test::run_on(hal_ctx_get_looper(ctx), [] { return 7; }));
    hal_ctx_destroy(&ctx);
    EXPECT_EQ(nullptr, ctx);
    hal_ctx_destroy(&ctx);
    hal_ctx_destroy(nullptr);
}

TEST(Context, WithoutDirectoryUsesTheDirectoryOfItsOwnBinary)
{
    TempCwd cwd;
    hal_ctx *ctx = hal_ctx_new(nullptr);
    ASSERT_NE(nullptr, ctx);
    // The platform is linked into this test program, so that is its file.
    std::string exe = std::filesystem::read_symlink("/proc/self/exe").parent_path().string();
    EXPECT_EQ(exe, hal_ctx_get_path(ctx));
    EXPECT_EQ(exe + "/custom.ini", hal_ini_path(hal_ctx_get_ini(ctx)));
    hal_ctx_destroy(&ctx);
}

TEST(Context, SharedLibraryFindsItsOwnDirectory)
{
    TempCwd cwd;
    std::string lib = ptt::test::run_path("liblirko.so");
    void *h = dlopen(lib.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(nullptr, h) << dlerror();
    auto ctx_new = reinterpret_cast<hal_ctx *(*)(const char *)>(dlsym(h, "hal_ctx_new"));
    auto ctx_destroy = reinterpret_cast<void (*)(hal_ctx **)>(dlsym(h, "hal_ctx_destroy"));
    auto ctx_path = reinterpret_cast<const char *(*)(hal_ctx *)>(dlsym(h, "hal_ctx_get_path"));
    ASSERT_TRUE(ctx_new && ctx_destroy && ctx_path);
    hal_ctx *ctx = ctx_new(nullptr);
    ASSERT_NE(nullptr, ctx);
    EXPECT_EQ(std::filesystem::path(lib).parent_path().string(), ctx_path(ctx));
    ctx_destroy(&ctx);
    EXPECT_EQ(nullptr, ctx);
    dlclose(h);
}

TEST(Context, DestroyOnTheLooperThreadIsRefused)
{
    TempCwd cwd;
    hal_ctx *ctx = hal_ctx_new(cwd.path().c_str());
    ASSERT_NE(nullptr, ctx);
    hal_ctx *copy = ctx;
    int r = ptt::test::run_on(hal_ctx_get_looper(ctx), [&] {
        hal_ctx_destroy(&copy); // would join its own thread
        return copy == ctx ? 1 : 0;
    });
    EXPECT_EQ(1, r);
    EXPECT_NE(
        std::string::npos,
        read_file(cwd.file("kvptt.log")).find("hal_ctx_destroy refused on the looper thread"));
    hal_ctx_destroy(&ctx);
    EXPECT_EQ(nullptr, ctx);
}

} // namespace
