// lirko_cli as a user meets it: a refused login ends at once with the
// meaning of the code and a non-zero exit, a good session ends with a plain
// logout, a missing server is said once, and a wrong command line is
// refused with the reason.
#include "ptt_server.h"
#include "test_support.h"

#include <arpa/inet.h>
#include <fstream>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

using namespace ptt::test;

namespace
{

ProgramRun run_cli(const std::vector<std::string> &args)
{
    return run_program(run_path("lirko_cli"), args);
}

size_t count(const std::string &text, const std::string &what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        n++;
    return n;
}

void write_custom_ini(const std::string &dns)
{
    ASSERT_TRUE(write_file("custom.ini", "[network]\ndns = " + dns + "\n"));
}

TEST(LirkoCli, RefusedLoginEndsAtOnceWithTheMeaning)
{
    const struct {
        const char *account;
        const char *password;
        const char *line;
    } cases[] = {
        {"dispatcher", "wrong",
         "lirko_cli: error -2: the server refused the login: wrong password\n"},
        {"nobody", "x", "lirko_cli: error -4: the server refused the login: unknown account\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.account);
        TempCwd cwd;
        PttServer server;
        ASSERT_TRUE(server.start());
        write_custom_ini(server.dns_entry());
        // Far beyond the time limit of run_program: the driver must end on
        // the refusal, not on --seconds.
        ProgramRun r = run_cli({"--dir", cwd.path(), "--account", c.account, "--password",
                                c.password, "--seconds", "600"});
        EXPECT_EQ(r.exit_code, 1) << r.out << r.err;
        EXPECT_NE(r.out.find(c.line), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("lirko_cli: login refused"), std::string::npos) << r.out;
        EXPECT_EQ(r.out.find("status 3"), std::string::npos) << r.out;
    }
}

TEST(LirkoCli, OnlineSessionEndsWithAPlainLogout)
{
    TempCwd cwd;
    PttServer server;
    ASSERT_TRUE(server.start());
    write_custom_ini(server.dns_entry());
    ProgramRun r = run_cli({"--dir", cwd.path(), "--account", "dispatcher", "--password",
                            "dispatcher-pw", "--seconds", "10"});
    EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("lirko_cli: status 3 (online)\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("lirko_cli: logged out (code -12)\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("lirko_cli: error"), std::string::npos) << r.out;
    EXPECT_EQ(server.received("ptt.rr.Logout").size(), 1u);
}

TEST(LirkoCli, NoServerIsSaidOnceAndNeverOnlineFails)
{
    // A UDP port that takes the addressing queries and never answers.
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(a);
    ASSERT_EQ(bind(fd, (sockaddr *)&a, sizeof(a)), 0);
    ASSERT_EQ(getsockname(fd, (sockaddr *)&a, &len), 0);
    TempCwd cwd;
    write_custom_ini("127.0.0.1:" + std::to_string(ntohs(a.sin_port)));
    // Long enough for the first attempt to run out (the engine waits 5 s
    // before it, and as long again for an answer).
    ProgramRun r = run_cli({"--dir", cwd.path(), "--account", "dispatcher", "--password",
                            "dispatcher-pw", "--seconds", "14"});
    close(fd);
    EXPECT_EQ(r.exit_code, 1) << r.out << r.err;
    EXPECT_EQ(count(r.out, "lirko_cli: no server answers yet"), 1u) << r.out;
    EXPECT_NE(r.out.find("lirko_cli: never online within --seconds\n"), std::string::npos) << r.out;
}

TEST(LirkoCli, CommandLine)
{
    TempCwd cwd;
    ASSERT_TRUE(write_file("plain", "x"));
    const struct {
        std::vector<std::string> args;
        int exit_code;
        const char *expect; // in standard output for 0, in standard error otherwise
    } cases[] = {
        {{"--help"}, 0, "  --seconds N "},
        {{"--dir", "no-such-folder"}, 2, "lirko_cli: --dir no-such-folder: no such folder\n"},
        {{"--dir", "plain"}, 2, "lirko_cli: --dir plain: not a folder\n"},
        {{"--seconds", "soon"}, 2, "lirko_cli: --seconds soon: not a number of seconds\n"},
        {{"--seconds", "-1"}, 2, "not a number of seconds"},
        {{"--role", "2x"}, 2, "lirko_cli: --role 2x: not a role number\n"},
        {{"--account"}, 2, "lirko_cli: --account needs a value\n"},
        {{"--verbose"}, 2, "lirko_cli: unknown option --verbose\n"},
    };
    for (const auto &c : cases) {
        ProgramRun r = run_cli(c.args);
        SCOPED_TRACE(c.args[0]);
        EXPECT_EQ(r.exit_code, c.exit_code) << r.out << r.err;
        EXPECT_NE((c.exit_code == 0 ? r.out : r.err).find(c.expect), std::string::npos)
            << r.out << r.err;
        EXPECT_NE((c.exit_code == 0 ? r.out : r.err).find("usage: lirko_cli"), std::string::npos);
    }
    // --help gives every option a line of its own.
    ProgramRun help = run_cli({"--help"});
    for (const char *opt : {"--dir", "--account", "--password", "--role", "--seconds", "--help"})
        EXPECT_NE(help.out.find("\n  " + std::string(opt) + " "), std::string::npos) << opt;
    // Refused before the engine is loaded: nothing was written.
    EXPECT_FALSE(std::ifstream("kvptt.log").good());
}

} // namespace
