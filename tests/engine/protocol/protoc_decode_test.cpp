// Independent check: the bodies of our frames read with protoc (the reference
// protobuf implementation) against the same .proto sources.
#include "etpacket.h"
#include "protocol_fixture.h"
#include "ptt_push.pb-c.h"
#include "ptt_rr.pb-c.h"
#include "test_support.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <string>
#include <sys/wait.h>

namespace
{

using namespace ptt::test;

// Runs protoc --decode on body; returns its text output, or "<failed>".
std::string protoc_decode(const TempCwd &cwd, const std::string &type, const std::string &file,
                          const Bytes &body)
{
    std::string in = cwd.file("body.bin");
    std::string out = cwd.file("decoded.txt");
    if (!write_file(in, std::string(body.begin(), body.end())))
        return "<failed>";
    std::string cmd = std::string("'") + PTT_PROTOC + "' --decode=" + type + " -I'" +
                      PTT_PROTO_DIR + "' " + file + " < '" + in + "' > '" + out + "'";
    int rc = system(cmd.c_str());
    if (rc == -1 || !WIFEXITED(rc) || WEXITSTATUS(rc) != 0)
        return "<failed>";
    return read_file(out);
}

class ProtocDecode : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        if (std::string(PTT_PROTOC).find("NOTFOUND") != std::string::npos)
            GTEST_FAIL() << "protoc (Debian protobuf-compiler) is needed for this test";
        codec_ = make_codec(0);
        ASSERT_TRUE(codec_);
    }
    Bytes body(const ProtobufCMessage *m)
    {
        return body_of(pack_frame(codec_.get(), m, 1));
    }
    TempCwd cwd_;
    Codec codec_;
};

TEST_F(ProtocDecode, Login)
{
    Ptt__SystemInfo sys = PTT__SYSTEM_INFO__INIT;
    sys.os = (char *)"";
    sys.context = (char *)"std";
    uint32_t payloads[] = {103};
    Ptt__Rr__Login login = PTT__RR__LOGIN__INIT;
    login.account = (char *)"alice";
    login.password = (char *)"900150983CD24FB0D6963F7D28E17F72";
    login.has_roles = 1;
    login.roles = 2;
    login.has_version = 1;
    login.version = 3413;
    login.device = (char *)"PC_CS_QRMVL";
    login.has_expect_payload = 1;
    login.expect_payload = 103;
    login.n_accept_payloads = 1;
    login.accept_payloads = payloads;
    login.system = &sys;
    login.has_support_inviting = 1;
    login.support_inviting = 1;
    EXPECT_EQ(protoc_decode(cwd_, "ptt.rr.Login", "ptt_rr.proto", body(&login.base)),
              "account: \"alice\"\n"
              "password: \"900150983CD24FB0D6963F7D28E17F72\"\n"
              "roles: 2\n"
              "version: 3413\n"
              "device: \"PC_CS_QRMVL\"\n"
              "expect_payload: 103\n"
              "accept_payloads: 103\n"
              "system {\n"
              "  os: \"\"\n"
              "  context: \"std\"\n"
              "}\n"
              "support_inviting: true\n");
}

TEST_F(ProtocDecode, QueryMembers)
{
    uint32_t gids[] = {1, 300, 0xFFFFFFFFu};
    Ptt__Rr__QueryMembers q = PTT__RR__QUERY_MEMBERS__INIT;
    q.n_gids = 3;
    q.gids = gids;
    q.has_version2 = 1;
    q.version2 = 1;
    EXPECT_EQ(protoc_decode(cwd_, "ptt.rr.QueryMembers", "ptt_rr.proto", body(&q.base)),
              "gids: 1\n"
              "gids: 300\n"
              "gids: 4294967295\n"
              "version2: true\n");
}

TEST_F(ProtocDecode, MembersChangedPush)
{
    Ptt__User user = PTT__USER__INIT;
    user.uid = 42;
    user.name = (char *)"Zoë";
    user.has_online = 1;
    user.online = 1;
    Ptt__User *users[] = {&user};
    uint32_t joined[] = {42, 43};
    Ptt__Push__MembersChanged__MemberChanged change =
        PTT__PUSH__MEMBERS_CHANGED__MEMBER_CHANGED__INIT;
    change.gid = 7;
    change.n_joined_members = 2;
    change.joined_members = joined;
    change.n_update_members = 1;
    change.update_members = users;
    Ptt__Push__MembersChanged__MemberChanged *changes[] = {&change};
    Ptt__Push__MembersChanged push = PTT__PUSH__MEMBERS_CHANGED__INIT;
    push.n_changes = 1;
    push.changes = changes;
    EXPECT_EQ(protoc_decode(cwd_, "ptt.push.MembersChanged", "ptt_push.proto", body(&push.base)),
              "changes {\n"
              "  gid: 7\n"
              "  joined_members: 42\n"
              "  joined_members: 43\n"
              "  update_members {\n"
              "    uid: 42\n"
              "    name: \"Zo\\303\\253\"\n"
              "    online: true\n"
              "  }\n"
              "}\n");
}

} // namespace
