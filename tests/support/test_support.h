// Helpers shared by every test binary: a private working directory per test,
// paths to reference data and build outputs, and bounded waiting.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace ptt::test
{

// Moves the process into a fresh temporary directory for the lifetime of the
// object and removes it afterwards. Files the engine writes into its working
// directory (logs, dumps, settings) then never collide between parallel tests.
class TempCwd
{
  public:
    TempCwd();
    ~TempCwd();
    TempCwd(const TempCwd &) = delete;
    TempCwd &operator=(const TempCwd &) = delete;

    const std::string &path() const
    {
        return dir_;
    }
    // Absolute path of a file inside the directory.
    std::string file(const std::string &name) const;

  private:
    std::string old_;
    std::string dir_;
};

// Makes a folder impossible to write into for the object's lifetime: its
// mode becomes 0555, and, for root (whom modes do not stop), the folder is
// moved aside and a plain file takes its name, so nothing can be created
// under that path. The folder comes back as it was.
class UnwritableFolder
{
  public:
    explicit UnwritableFolder(std::string dir);
    ~UnwritableFolder();
    UnwritableFolder(const UnwritableFolder &) = delete;
    UnwritableFolder &operator=(const UnwritableFolder &) = delete;

  private:
    std::string dir_;
    unsigned mode_;
    bool moved_ = false;
};

// How many of the process's open descriptors refer to the file at path.
int open_fds_to(const std::string &path);

// Absolute path under the shared reference data folder (../shared/data); a
// test fails with the path named when the folder or the file is missing.
std::string shared_data(const std::string &relative);
// Absolute path under the source tree, e.g. "tests/fixtures/x.wav".
std::string source_path(const std::string &relative);
// Absolute path under the build's run directory (binaries, pinyin.code).
std::string run_path(const std::string &relative);

// Copies a file; returns false when it cannot be read or written.
bool copy_file(const std::string &from, const std::string &to);
std::string read_file(const std::string &path);
bool write_file(const std::string &path, const std::string &data);

// How a program run by run_program ended, with what it wrote.
struct ProgramRun {
    int exit_code; // -1: ended by a signal (a crash); -2: killed at the time limit
    std::string out;
    std::string err;
};

// Runs the program at path with args in the current directory, standard
// output and error into "program.out" and "program.err" there, and waits at
// most timeout for it to end (then kills it).
ProgramRun run_program(const std::string &path, const std::vector<std::string> &args,
                       std::chrono::milliseconds timeout = std::chrono::seconds(60));

// Polls pred every millisecond until it holds or the timeout passes.
bool wait_until(const std::function<bool()> &pred,
                std::chrono::milliseconds timeout = std::chrono::seconds(5));

} // namespace ptt::test
