#include "test_support.h"

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace ptt::test
{

TempCwd::TempCwd() : old_(fs::current_path().string())
{
    std::string templ = (fs::temp_directory_path() / "ptt-test-XXXXXX").string();
    if (!mkdtemp(templ.data()))
        throw std::runtime_error("mkdtemp failed");
    dir_ = templ;
    fs::current_path(dir_);
}

int open_fds_to(const std::string &path)
{
    std::error_code ec;
    const fs::path target = fs::weakly_canonical(fs::absolute(path), ec);
    int n = 0;
    for (const auto &entry : fs::directory_iterator("/proc/self/fd", ec)) {
        std::error_code link_ec;
        if (fs::read_symlink(entry.path(), link_ec) == target)
            n++;
    }
    return n;
}

UnwritableFolder::UnwritableFolder(std::string dir)
    : dir_(std::move(dir)), mode_(static_cast<unsigned>(fs::status(dir_).permissions()))
{
    fs::permissions(dir_, fs::perms(0555));
    if (geteuid() != 0)
        return;
    std::error_code ec;
    fs::rename(dir_, dir_ + ".aside", ec);
    moved_ = !ec;
    EXPECT_FALSE(ec) << dir_ << ": " << ec.message();
    if (moved_) {
        EXPECT_TRUE(write_file(dir_, "")) << dir_;
    }
}

UnwritableFolder::~UnwritableFolder()
{
    std::error_code ec;
    if (moved_) {
        fs::remove(dir_, ec);
        fs::rename(dir_ + ".aside", dir_, ec);
        EXPECT_FALSE(ec) << dir_ << ": " << ec.message();
    }
    fs::permissions(dir_, fs::perms(mode_), ec);
}

TempCwd::~TempCwd()
{
    std::error_code ec;
    fs::current_path(old_, ec);
    fs::remove_all(dir_, ec);
}

std::string TempCwd::file(const std::string &name) const
{
    return (fs::path(dir_) / name).string();
}

std::string shared_data(const std::string &relative)
{
    fs::path path = fs::path(PTT_SHARED_DATA_DIR) / relative;
    // A missing file would read as empty and fail far from the cause.
    if (!fs::is_directory(PTT_SHARED_DATA_DIR))
        ADD_FAILURE() << "the reference data folder " << PTT_SHARED_DATA_DIR
                      << " is missing; shared/ sits beside the checkout (see README.md)";
    else if (!fs::exists(path))
        ADD_FAILURE() << "the reference file " << path.string() << " is missing";
    return path.string();
}

std::string source_path(const std::string &relative)
{
    return (fs::path(PTT_SOURCE_DIR) / relative).string();
}

std::string run_path(const std::string &relative)
{
    return (fs::path(PTT_RUN_DIR) / relative).string();
}

bool copy_file(const std::string &from, const std::string &to)
{
    std::error_code ec;
    fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec);
    return !ec;
}

std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

bool write_file(const std::string &path, const std::string &data)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
    return static_cast<bool>(out);
}

bool wait_until(const std::function<bool()> &pred, std::chrono::milliseconds timeout)
{
    auto end = std::chrono::steady_clock::now() + timeout;
    while (!pred()) {
        if (std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

ProgramRun run_program(const std::string &path, const std::vector<std::string> &args,
                       std::chrono::milliseconds timeout)
{
    std::vector<char *> argv;
    argv.push_back(const_cast<char *>(path.c_str()));
    for (const std::string &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        int out = open("program.out", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = open("program.err", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0)
            _exit(126);
        execv(path.c_str(), argv.data());
        _exit(127);
    }
    ProgramRun r{-2, "", ""};
    if (pid < 0)
        return r;
    int status = 0;
    bool ended = wait_until([&] { return waitpid(pid, &status, WNOHANG) == pid; }, timeout);
    if (!ended) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    } else {
        r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    r.out = read_file("program.out");
    r.err = read_file("program.err");
    return r;
}

} // namespace ptt::test
