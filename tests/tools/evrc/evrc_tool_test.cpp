// evrc-tool on good and bad files: every bad input ends with a message on
// standard error and a non-zero exit, never a crash, a hang or output that
// looks like success.
#include "test_support.h"

#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace ptt::test;

namespace
{

// Runs evrc-tool with args in the current directory.
ProgramRun run_tool(const std::vector<std::string> &args)
{
    return run_program(run_path("evrc-tool"), args);
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
    ProgramRun enc = run_tool({"encode", synthetic("sine1k_m20dBFS.pcm"), "sine.pkt"});
    EXPECT_EQ(enc.exit_code, 0) << enc.err;
    std::string pkt = read_file("sine.pkt");
    ASSERT_EQ(pkt.size(), 50u * 24);
    for (size_t i = 0; i < pkt.size(); i += 24) {
        EXPECT_EQ(pkt[i], 3) << "record " << i / 24;
        EXPECT_EQ(pkt[i + 1], 0) << "record " << i / 24;
    }
    ProgramRun dec = run_tool({"decode", synthetic("sine1k_m20dBFS.h3n0.pkt"), "sine.pcm"});
    EXPECT_EQ(dec.exit_code, 0) << dec.err;
    EXPECT_EQ(read_file("sine.pcm"), read_file(synthetic("sine1k_m20dBFS.h3n0.p0.dec")));
}

TEST(EvrcTool, TrailingPartialPcmFrameIsLeftOutWithANotice)
{
    // Recorded speech rarely ends on a frame boundary: whole frames only.
    TempCwd cwd;
    write_file("in.pcm", std::string(2 * 320 + 100, '\x10'));
    ProgramRun r = run_tool({"encode", "in.pcm", "out.pkt"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.err.find("100 bytes"), std::string::npos) << r.err;
    EXPECT_EQ(read_file("out.pkt").size(), 2u * 24);
}

TEST(EvrcTool, ErasureBlankAndQuarterRateWordsDecode)
{
    // The frame-erasure vectors carry 14, 0 and 2; each decodes as an erasure.
    TempCwd cwd;
    write_file("in.pkt", record(3, 0x72bb) + record(14) + record(0) + record(2) + record(1));
    ProgramRun r = run_tool({"decode", "in.pkt", "out.pcm"});
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
        ProgramRun r = run_tool({c.command, c.in, c.out});
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
    ProgramRun r = run_tool({"decode", "in.pkt", "out.pcm"});
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

TEST(EvrcTool, OutputThatIsTheInputIsRefused)
{
    // The same file under the same name, another spelling, or a hard link:
    // opening the output would truncate the input before it is read.
    const std::string pkt = record(3, 0x72bb) + record(3, 0x1234);
    const std::string pcm(2 * 320, '\x10');
    const struct {
        const char *command;
        const std::string &data;
        const char *out;
    } cases[] = {
        {"decode", pkt, "x"},    {"encode", pcm, "x"},    {"decode", pkt, "./x"},
        {"encode", pcm, "link"}, {"decode", pkt, "link"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.command) + " x " + c.out);
        TempCwd cwd;
        write_file("x", c.data);
        ASSERT_EQ(link("x", "link"), 0);
        ProgramRun r = run_tool({c.command, "x", c.out});
        EXPECT_EQ(r.exit_code, 1) << r.err;
        EXPECT_NE(r.err.find("same file"), std::string::npos) << r.err;
        EXPECT_EQ(read_file("x"), c.data);
    }
}

TEST(EvrcTool, InputWithoutAFrameIsWarnedAbout)
{
    const struct {
        const char *command;
        std::string input;
    } cases[] = {
        {"decode", ""}, {"encode", ""}, {"encode", std::string(100, '\1')}, // less than one frame
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.command) + " of " + std::to_string(c.input.size()) + " bytes");
        TempCwd cwd;
        write_file("in", c.input);
        ProgramRun r = run_tool({c.command, "in", "out"});
        EXPECT_EQ(r.exit_code, 0) << r.err;
        EXPECT_NE(r.err.find("warning: in "), std::string::npos) << r.err;
        EXPECT_TRUE(exists("out"));
        EXPECT_EQ(read_file("out"), "");
    }
}

TEST(EvrcTool, UsageErrorsSayWhyAndExitWithTwo)
{
    TempCwd cwd;
    const struct {
        std::vector<std::string> args;
        const char *reason; // "" for none: the usage text alone
    } cases[] = {
        {{}, ""},
        {{"transcode", "a", "b"}, "unknown command transcode"},
        {{"decode", "a"}, "decode takes an input and an output file, not 1 file name\n"},
        {{"decode", "--fast", "a", "b"}, "unknown option --fast for decode"},
        {{"encode", "a", "b", "c"}, "not 3 file names"},
        {{"encode", "--min-rate", "2", "a", "b"}, "--min-rate 2: a rate is 1, 3 or 4"},
        {{"encode", "--max-rate", "1", "--min-rate", "3", "a", "b"},
         "--min-rate 3 is above --max-rate 1"},
        {{"encode", "--ns"}, "--ns needs a value"},
        {{"encode", "--ns", "2", "a", "b"}, "--ns 2: give 0 or 1"},
        {{"encode", "--legacy", "a", "b"}, "unknown option --legacy for encode"},
    };
    for (const auto &c : cases) {
        ProgramRun r = run_tool(c.args);
        SCOPED_TRACE(r.err);
        EXPECT_EQ(r.exit_code, 2);
        EXPECT_NE(r.err.find("usage"), std::string::npos);
        EXPECT_NE(r.err.find(c.reason), std::string::npos);
        EXPECT_FALSE(exists("b"));
    }
}

} // namespace
