#include "test_support.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace fs = std::filesystem;

TEST(TempCwd, MovesIntoFreshDirectoryAndCleansUp)
{
    std::string before = fs::current_path().string();
    std::string inside;
    {
        ptt::test::TempCwd cwd;
        inside = fs::current_path().string();
        EXPECT_EQ(inside, cwd.path());
        EXPECT_NE(inside, before);
        ASSERT_TRUE(ptt::test::write_file("a.txt", "hello"));
        EXPECT_EQ(ptt::test::read_file(cwd.file("a.txt")), "hello");
    }
    EXPECT_EQ(fs::current_path().string(), before);
    EXPECT_FALSE(fs::exists(inside));
}

TEST(WaitUntil, GivesUpAfterTimeout)
{
    int calls = 0;
    EXPECT_FALSE(ptt::test::wait_until(
        [&] {
            ++calls;
            return false;
        },
        std::chrono::milliseconds(20)));
    EXPECT_GT(calls, 1);
    EXPECT_TRUE(ptt::test::wait_until([] { return true; }));
}
