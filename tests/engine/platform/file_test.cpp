#include "hal_file.h"
#include "test_support.h"

#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>

namespace
{

struct FileGuard {
    hal_file *f = hal_file_new();
    ~FileGuard()
    {
        hal_file_destroy(&f);
    }
};

} // namespace

TEST(HalFile, WriteSeekReadRoundTrip)
{
    ptt::test::TempCwd cwd;
    FileGuard g;
    ASSERT_NE(g.f, nullptr);
    ASSERT_EQ(hal_file_open(g.f, "data.bin", "w+b"), 0);
    EXPECT_STREQ(hal_file_path(g.f), "data.bin");
    EXPECT_EQ(hal_file_write(g.f, "hello world", 11), 11);
    EXPECT_EQ(hal_file_fprintf(g.f, "-%d", 42), 3);
    EXPECT_EQ(hal_file_cursor(g.f), 14);
    EXPECT_EQ(hal_file_flush(g.f), 0);
    EXPECT_GE(hal_file_get_handle(g.f), 0);

    EXPECT_EQ(hal_file_seek(g.f, -8, HAL_SEEK_END), 0);
    char buf[16] = {};
    EXPECT_EQ(hal_file_read(g.f, buf, sizeof(buf)), 8);
    EXPECT_STREQ(buf, "world-42");
    EXPECT_EQ(hal_file_seek(g.f, 0, HAL_SEEK_SET), 0);
    EXPECT_EQ(hal_file_read(g.f, buf, 5), 5);
    EXPECT_EQ(std::string(buf, 5), "hello");
    EXPECT_EQ(hal_file_seek(g.f, 1, HAL_SEEK_CUR), 0);
    EXPECT_EQ(hal_file_cursor(g.f), 6);
    EXPECT_EQ(hal_file_seek(g.f, 0, 7), -1);
}

TEST(HalFile, RefusesBadArgumentsAndSecondOpen)
{
    ptt::test::TempCwd cwd;
    FileGuard g;
    char buf[HAL_FILE_LINE_MAX];
    EXPECT_EQ(hal_file_open(g.f, nullptr, "r"), -1);
    EXPECT_EQ(hal_file_open(g.f, "x", nullptr), -1);
    EXPECT_EQ(hal_file_open(g.f, "missing/dir/x", "r"), -1);
    ASSERT_EQ(hal_file_open(g.f, "a.txt", "w"), 0);
    // A second open is refused and the first stream stays usable.
    EXPECT_EQ(hal_file_open(g.f, "b.txt", "w"), -1);
    EXPECT_STREQ(hal_file_path(g.f), "a.txt");
    EXPECT_EQ(hal_file_write(g.f, "abc", 3), 3);
    EXPECT_EQ(hal_file_write(g.f, "abc", 0), -1);
    EXPECT_EQ(hal_file_write(g.f, nullptr, 3), -1);
    EXPECT_EQ(hal_file_read(g.f, buf, 0), -1);
    EXPECT_EQ(hal_file_close(g.f), 0);
    EXPECT_EQ(ptt::test::read_file(cwd.file("a.txt")), "abc");

    // After close every operation but open and destroy fails with -1.
    EXPECT_EQ(hal_file_read(g.f, buf, 1), -1);
    EXPECT_EQ(hal_file_write(g.f, "x", 1), -1);
    EXPECT_EQ(hal_file_seek(g.f, 0, HAL_SEEK_SET), -1);
    EXPECT_EQ(hal_file_cursor(g.f), -1);
    EXPECT_EQ(hal_file_flush(g.f), -1);
    EXPECT_EQ(hal_file_get_handle(g.f), -1);
    EXPECT_EQ(hal_file_fprintf(g.f, "x"), -1);
    EXPECT_EQ(hal_file_gets(g.f, buf), -1);
    EXPECT_EQ(hal_file_path(g.f), nullptr);
    EXPECT_EQ(hal_file_open(g.f, "a.txt", "r"), 0);
}

TEST(HalFile, GetsSplitsLongLinesAt255Bytes)
{
    ptt::test::TempCwd cwd;
    std::string longline(300, 'x');
    ASSERT_TRUE(ptt::test::write_file("lines.txt", longline + "\nshort\nlast"));
    FileGuard g;
    ASSERT_EQ(hal_file_open(g.f, "lines.txt", "r"), 0);
    char buf[HAL_FILE_LINE_MAX];
    ASSERT_EQ(hal_file_gets(g.f, buf), 0);
    EXPECT_EQ(std::string(buf), std::string(255, 'x'));
    ASSERT_EQ(hal_file_gets(g.f, buf), 0);
    EXPECT_EQ(std::string(buf), std::string(45, 'x') + "\n");
    ASSERT_EQ(hal_file_gets(g.f, buf), 0);
    EXPECT_STREQ(buf, "short\n");
    ASSERT_EQ(hal_file_gets(g.f, buf), 0);
    EXPECT_STREQ(buf, "last");
    EXPECT_EQ(hal_file_gets(g.f, buf), -1);
}

TEST(HalFile, GetlineReadsWholeLines)
{
    ptt::test::TempCwd cwd;
    std::string longline(5000, 'y');
    ASSERT_TRUE(ptt::test::write_file("lines.txt", longline + "\n\nend"));
    FileGuard g;
    ASSERT_EQ(hal_file_open(g.f, "lines.txt", "r"), 0);
    char *line = nullptr;
    size_t cap = 0;
    EXPECT_EQ(hal_file_getline(g.f, &line, &cap), 5001);
    EXPECT_EQ(std::string(line), longline + "\n");
    EXPECT_EQ(hal_file_getline(g.f, &line, &cap), 1);
    EXPECT_EQ(hal_file_getline(g.f, &line, &cap), 3);
    EXPECT_STREQ(line, "end");
    EXPECT_EQ(hal_file_getline(g.f, &line, &cap), -1);
    EXPECT_EQ(hal_file_error(g.f), 0); // the end of the file is no error
    hal_file_close(g.f);
    EXPECT_EQ(hal_file_error(g.f), -1);

    // A directory opens for reading on Linux but every read fails.
    ASSERT_EQ(hal_file_open(g.f, ".", "r"), 0);
    EXPECT_EQ(hal_file_getline(g.f, &line, &cap), -1);
    EXPECT_EQ(hal_file_error(g.f), 1);
    free(line);
}

TEST(HalFile, DestroyAcceptsNullAndClearsHandle)
{
    hal_file_destroy(nullptr);
    hal_file *f = nullptr;
    hal_file_destroy(&f);
    f = hal_file_new();
    hal_file_destroy(&f);
    EXPECT_EQ(f, nullptr);
}

TEST(HalFileManager, MkdirRefusesExistingPathsWithoutTrying)
{
    ptt::test::TempCwd cwd;
    int owner = 0;
    hal_filemanager *fm = hal_filemanager_new(reinterpret_cast<hal_ctx *>(&owner));
    ASSERT_NE(fm, nullptr);
    EXPECT_EQ(hal_filemanager_get_context(fm), reinterpret_cast<hal_ctx *>(&owner));
    EXPECT_EQ(hal_filemanager_mkdir(fm, nullptr), -1);
    EXPECT_EQ(hal_filemanager_mkdir(fm, "rec"), 0);
    struct stat st;
    ASSERT_EQ(stat("rec", &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(hal_filemanager_mkdir(fm, "rec"), -1);
    ASSERT_TRUE(ptt::test::write_file("plain", "x"));
    EXPECT_EQ(hal_filemanager_mkdir(fm, "plain"), -1);
    EXPECT_EQ(hal_filemanager_mkdir(fm, "no/such/parent"), -1);
    EXPECT_EQ(hal_filemanager_rmdir(fm, nullptr), -1);
    EXPECT_EQ(hal_filemanager_rmdir(fm, "rec"), 0);
    EXPECT_EQ(hal_filemanager_rmdir(fm, "rec"), -1);
    hal_filemanager_destroy(&fm);
    EXPECT_EQ(fm, nullptr);
    hal_filemanager_destroy(&fm);
}
