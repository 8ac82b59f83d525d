// One talk_driver process (tests/tools/talk_driver): an engine in a process
// of its own, in its own working directory, with its own sound device
// (LIRKO_AUDIO). Commands go to its standard input; the events it prints are
// collected and can be awaited.
#pragma once

#include "test_support.h"

#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace ptt::test
{

class DriverProcess
{
  public:
    DriverProcess(const std::string &dir, const std::string &audio)
    {
        int in[2], out[2];
        if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0)
            return;
        std::string program = run_path("talk_driver");
        // The parent's environment (sanitizer options and the like) with the
        // sound device of this process.
        std::vector<std::string> env;
        for (char **e = environ; *e; e++) {
            if (strncmp(*e, "LIRKO_AUDIO=", 12) != 0)
                env.push_back(*e);
        }
        env.push_back("LIRKO_AUDIO=" + audio);
        std::vector<char *> envp;
        for (std::string &e : env)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        pid_ = fork();
        if (pid_ == 0) {
            // Only async-signal-safe calls between fork and exec.
            dup2(in[0], 0);
            dup2(out[1], 1);
            if (chdir(dir.c_str()) != 0)
                _exit(126);
            char *argv[] = {const_cast<char *>(program.c_str()), nullptr};
            execve(program.c_str(), argv, envp.data());
            _exit(127);
        }
        close(in[0]);
        close(out[1]);
        in_ = in[1];
        out_ = out[0];
        fcntl(out_, F_SETFL, O_NONBLOCK);
    }
    ~DriverProcess()
    {
        if (pid_ > 0) {
            send("quit");
            if (!wait_exit(std::chrono::seconds(10))) {
                kill(pid_, SIGKILL);
                waitpid(pid_, nullptr, 0);
            }
        }
        if (in_ >= 0)
            close(in_);
        if (out_ >= 0)
            close(out_);
    }
    DriverProcess(const DriverProcess &) = delete;
    DriverProcess &operator=(const DriverProcess &) = delete;

    bool running() const
    {
        return pid_ > 0;
    }
    void send(const std::string &command)
    {
        std::string line = command + "\n";
        if (in_ >= 0 && write(in_, line.data(), line.size()) != (ssize_t)line.size()) {
            close(in_);
            in_ = -1;
        }
    }
    // Waits for an event line (exactly this text) printed since the start.
    bool wait_event(const std::string &event,
                    std::chrono::milliseconds timeout = std::chrono::seconds(10))
    {
        auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            for (const std::string &e : events_) {
                if (e == event)
                    return true;
            }
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0 || !read_some((int)left.count()))
                return false;
        }
    }
    // Sends a command and returns its result value (-1000 when none came).
    int command(const std::string &command)
    {
        std::string name = command.substr(0, command.find(' '));
        size_t seen = results(name).size();
        send(command);
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (results(name).size() <= seen) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0 || !read_some((int)left.count()))
                return -1000;
        }
        return std::stoi(results(name)[seen]);
    }
    // Collects what was printed so far.
    std::vector<std::string> events()
    {
        read_some(0);
        return events_;
    }
    // Waits for the process to end after quit; its exit status or -1.
    bool wait_exit(std::chrono::milliseconds timeout)
    {
        auto deadline = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < deadline) {
            read_some(10);
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                exit_status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
                return true;
            }
        }
        return false;
    }
    int exit_status() const
    {
        return exit_status_;
    }

  private:
    std::vector<std::string> results(const std::string &name)
    {
        std::vector<std::string> out;
        std::string prefix = "result " + name + " ";
        for (const std::string &e : events_) {
            if (e.rfind(prefix, 0) == 0)
                out.push_back(e.substr(prefix.size()));
        }
        return out;
    }
    // Reads what is there (waiting up to timeout_ms for it); false when
    // nothing came.
    bool read_some(int timeout_ms)
    {
        if (out_ < 0)
            return false;
        pollfd p = {out_, POLLIN, 0};
        if (poll(&p, 1, timeout_ms) != 1)
            return false;
        char buf[4096];
        ssize_t n = read(out_, buf, sizeof(buf));
        if (n <= 0)
            return false;
        partial_.append(buf, (size_t)n);
        size_t nl;
        while ((nl = partial_.find('\n')) != std::string::npos) {
            events_.push_back(partial_.substr(0, nl));
            partial_.erase(0, nl + 1);
        }
        return true;
    }

    pid_t pid_ = -1;
    int in_ = -1;
    int out_ = -1;
    int exit_status_ = -1;
    std::string partial_;
    std::vector<std::string> events_;
};

} // namespace ptt::test
