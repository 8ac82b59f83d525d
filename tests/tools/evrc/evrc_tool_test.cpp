// evrc-tool on good and bad files: every bad input ends with a message on
// standard error and a non-zero exit, never a crash, a hang or output that
// looks like success.
#include "test_support.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace ptt::test;

namespace
{

struct ToolRun {
    int exit_code; // -1: the tool did not exit normally (a crash)
    std::string err;
};

// Runs evrc-tool with args in the current directory, standard error to a file.
ToolRun run_tool(const std::vector<std::string> &args)
{
    std::string tool = run_path("evrc-tool");
    pid_t pid = fork();
    if (pid == 0) {
        int fd = open("tool.err", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd >= 0) {
            dup2(fd, 2);
            close(fd);
        }
        std::vector<char *> argv;
        argv.push_back(const_cast<char *>(tool.c_str()));
        for (const std::string &a : args)
            argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        execv(tool.c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ToolRun r;
    r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.err = read_file("tool.err");
    return r;
}

// One packet-file record: the rate word and 11 data words, little-endian.
std::string record(uint16_t rate, uint16_t first_word = 0)
{
    std::string r(24, '\0');
    r[0] = (char)(rate & 0xff);
    r[1] = (char)(rate >> 8);
    r[2] = (char)(first_word & 0xff);
    r[3] = (char)(first_word >> 8);
    return r;
}

bool exists(const std::string &path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

std::string synthetic(const char *name)
{
    return shared_data(std::string("evrc/vectors/synthetic/") + name);
}

TEST(EvrcTool, EncodesAndDecodesWholeFiles)
{
    TempCwd cwd;
    ToolRun enc = run_tool({"encode", synthetic("sine1k_m20dBFS.pcm"), "sine.pkt"});
    EXPECT_EQ(enc.exit_code, 0) << enc.err;
    std::string pkt = read_file("sine.pkt");
    ASSERT_EQ(pkt.size(), 50u * 24);
    for (size_t i = 0; i < pkt.size(); i += 24) {
        EXPECT_EQ(pkt[i], 3) << "record " << i / 24;
        EXPECT_EQ(pkt[i + 1], 0) << "record " << i / 24;
    }
    ToolRun dec = run_tool({"decode", synthetic("sine1k_m20dBFS.h3n0.pkt"), "sine.pcm"});
    EXPECT_EQ(dec.exit_code, 0) << dec.err;
    EXPECT_EQ(read_file("sine.pcm"), read_file(synthetic("sine1k_m20dBFS.h3n0.p0.dec")));
}

TEST(EvrcTool, TrailingPartialPcmFrameIsLeftOutWithANotice)
{
    // Recorded speech rarely ends on a frame boundary: whole frames only.
    TempCwd cwd;
    write_file("in.pcm", std::string(2 * 320 + 100, '\x10'));
    ToolRun r = run_tool({"encode", "in.pcm", "out.pkt"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.err.find("100 bytes"), std::string::npos) << r.err;
    EXPECT_EQ(read_file("out.pkt").size(), 2u * 24);
}

TEST(EvrcTool, ErasureBlankAndQuarterRateWordsDecode)
{
    // The frame-erasure vectors carry 14, 0 and 2; each decodes as an erasure.
    TempCwd cwd;
    write_file("in.pkt", record(3, 0x72bb) + record(14) + record(0) + record(2) + record(1));
    ToolRun r = run_tool({"decode", "in.pkt", "out.pcm"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(read_file("out.pcm").size(), 5u * 320);
}

TEST(EvrcTool, BadInputFailsWithAMessage)
{
    const std::string good_pkt = record(3, 0x72bb) + record(3, 0x1234);
    const struct {
        const char *name;
        const char *command;
        std::string input;  // written to "in" unless empty
        const char *in;     // input path
        const char *out;    // output path
        const char *expect; // in the message
    } cases[] = {
        {"missing input", "decode", "", "nothing.pkt", "out", "cannot open"},
        {"input is a folder", "decode", "", ".", "out", "cannot read"},
        {"input is a folder (encode)", "encode", "", ".", "out", "cannot read"},
        {"output folder missing", "decode", good_pkt, "in", "no/such/out", "cannot create"},
        {"output device full", "decode", good_pkt, "in", "/dev/full", "write"},
        {"output device full (encode)", "encode", std::string(320, '\1'), "in", "/dev/full",
         "write"},
        {"truncated record", "decode", good_pkt + record(3).substr(0, 10), "in", "out",
         "truncated"},
        {"odd-length pcm", "encode", std::string(2 * 320 + 1, '\1'), "in", "out", "odd"},
        {"rate word 7", "decode", good_pkt + record(7), "in", "out", "record 3 has rate 7"},
        {"rate word byte-swapped", "decode", record(0x0300, 0x72bb), "in", "out", "rate 768"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        TempCwd cwd;
        if (!c.input.empty())
            write_file("in", c.input);
        ToolRun r = run_tool({c.command, c.in, c.out});
        EXPECT_EQ(r.exit_code, 1) << r.err;
        EXPECT_NE(r.err.find(c.expect), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("frames\n"), std::string::npos) << "reported as done: " << r.err;
    }
}

TEST(EvrcTool, RefusedInputLeavesAnExistingOutputAlone)
{
    TempCwd cwd;
    write_file("in.pkt", record(3, 0x72bb) + "short");
    write_file("out.pcm", "earlier result");
    ToolRun r = run_tool({"decode", "in.pkt", "out.pcm"});
    EXPECT_EQ(r.exit_code, 1) << r.err;
    EXPECT_EQ(read_file("out.pcm"), "earlier result");
    write_file("in.pkt", record(3, 0x72bb) + record(3) + record(9));
    r = run_tool({"decode", "in.pkt", "out.pcm"});
    EXPECT_EQ(r.exit_code, 1) << r.err;
    EXPECT_EQ(read_file("out.pcm"), "earlier result");
    write_file("odd.pcm", std::string(321, '\0'));
    r = run_tool({"encode", "odd.pcm", "never.pkt"});
    EXPECT_EQ(r.exit_code, 1) << r.err;
    EXPECT_FALSE(exists("never.pkt"));
}

TEST(EvrcTool, UsageErrorsExitWithTwo)
{
    TempCwd cwd;
    for (const std::vector<std::string> &args : std::vector<std::vector<std::string>>{
             {},
             {"transcode", "a", "b"},
             {"decode", "a"},
             {"encode", "--min-rate", "2", "a", "b"},
             {"encode", "--max-rate", "1", "--min-rate", "3", "a", "b"},
             {"encode", "--ns"},
         }) {
        ToolRun r = run_tool(args);
        EXPECT_EQ(r.exit_code, 2) << r.err;
        EXPECT_NE(r.err.find("usage"), std::string::npos) << r.err;
    }
}

} // namespace
