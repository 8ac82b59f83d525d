// The "ptt" schema as compiled and the registry built from it. The counts
// are taken from the schema's tables, so a slip in the .proto files (a lost
// field, a missing default, a wrong label) shows here.
#include "etpacket.h"
#include "etpacket_registry.h"
#include "ptt.pb-c.h"
#include "ptt_rr.pb-c.h"

#include <gtest/gtest.h>
#include <map>
#include <stdlib.h>
#include <string>

namespace
{

struct PackageCounts {
    int messages = 0;
    int fields = 0;
    int defaults = 0;
};

TEST(Schema, MessageFieldAndDefaultCountsPerPackage)
{
    std::map<std::string, PackageCounts> got;
    int required = 0, repeated = 0, packed = 0, total_fields = 0, total_defaults = 0;
    for (size_t i = 0; i < etpacket_schema_message_count; i++) {
        const ProtobufCMessageDescriptor *d = etpacket_schema_messages[i];
        ASSERT_EQ(d->magic, PROTOBUF_C__MESSAGE_DESCRIPTOR_MAGIC);
        PackageCounts &p = got[d->package_name];
        p.messages++;
        for (unsigned f = 0; f < d->n_fields; f++) {
            const ProtobufCFieldDescriptor &fd = d->fields[f];
            p.fields++;
            total_fields++;
            if (fd.default_value) {
                p.defaults++;
                total_defaults++;
            }
            required += fd.label == PROTOBUF_C_LABEL_REQUIRED;
            repeated += fd.label == PROTOBUF_C_LABEL_REPEATED;
            packed += (fd.flags & PROTOBUF_C_FIELD_FLAG_PACKED) != 0;
            EXPECT_EQ(fd.flags & PROTOBUF_C_FIELD_FLAG_ONEOF, 0u) << d->name << "." << fd.name;
        }
    }
    const std::map<std::string, std::tuple<int, int, int>> want = {
        {"ptt", {23, 134, 19}},    {"ptt.net", {3, 13, 3}},  {"ptt.rr", {99, 275, 62}},
        {"ptt.push", {18, 55, 3}}, {"ptt.serv", {6, 11, 0}}, {"sos", {12, 34, 0}},
    };
    ASSERT_EQ(got.size(), want.size());
    for (const auto &[pkg, w] : want) {
        EXPECT_EQ(got[pkg].messages, std::get<0>(w)) << pkg;
        EXPECT_EQ(got[pkg].fields, std::get<1>(w)) << pkg;
        EXPECT_EQ(got[pkg].defaults, std::get<2>(w)) << pkg;
    }
    EXPECT_EQ(etpacket_schema_message_count, 161u);
    EXPECT_EQ(total_fields, 522);
    EXPECT_EQ(total_defaults, 87);
    EXPECT_EQ(required, 96);
    EXPECT_EQ(repeated, 84);
    EXPECT_EQ(packed, 9);
}

TEST(Schema, EnumCounts)
{
    EXPECT_EQ(etpacket_schema_enum_count, 15u);
    unsigned values = 0;
    for (size_t i = 0; i < etpacket_schema_enum_count; i++) {
        EXPECT_EQ(etpacket_schema_enums[i]->magic, PROTOBUF_C__ENUM_DESCRIPTOR_MAGIC);
        values += etpacket_schema_enums[i]->n_values;
    }
    EXPECT_EQ(values, 57u);
}

TEST(Schema, RequiredFieldsWithDefaultsDeclareThem)
{
    struct Case {
        const ProtobufCMessageDescriptor *d;
        const char *field;
    } cases[] = {
        {&ptt__rr__single_call__descriptor, "uid"},
        {&ptt__rr__change_user_roles__descriptor, "roles"},
    };
    for (const Case &c : cases) {
        const ProtobufCFieldDescriptor *f =
            protobuf_c_message_descriptor_get_field_by_name(c.d, c.field);
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(f->label, PROTOBUF_C_LABEL_REQUIRED);
        ASSERT_NE(f->default_value, nullptr);
        EXPECT_EQ(*(const uint32_t *)f->default_value, 0u);
    }
}

TEST(Schema, MobileCardOperatorKeepsNumberAndType)
{
    const ProtobufCFieldDescriptor *f =
        protobuf_c_message_descriptor_get_field(&ptt__mobile_card_info__descriptor, 1);
    ASSERT_NE(f, nullptr);
    EXPECT_STREQ(f->name, "operator_name");
    EXPECT_EQ(f->type, PROTOBUF_C_TYPE_STRING);
    EXPECT_EQ(f->label, PROTOBUF_C_LABEL_OPTIONAL);
}

struct CodecDeleter {
    void operator()(etpacket *c) const
    {
        etpacket_destroy(c);
        free(c);
    }
};

TEST(Registry, HoldsEveryMessageAndPiece)
{
    std::unique_ptr<etpacket, CodecDeleter> codec(etpacket_new(0, NULL));
    ASSERT_TRUE(codec && codec->registry);
    EXPECT_EQ(etpacket_descriptor_count(codec->registry), 161u);
    // 158 messages with fields x 3 tables, 87 defaults, 15 enums x 4 pieces.
    EXPECT_EQ(etpacket_symbol_count(codec->registry), 621u);
    for (size_t i = 0; i < etpacket_schema_message_count; i++) {
        const ProtobufCMessageDescriptor *d = etpacket_schema_messages[i];
        EXPECT_EQ(etpacket_descriptor_get(codec->registry, d->name), d) << d->name;
    }
}

TEST(Registry, LookupByFullNameOnly)
{
    std::unique_ptr<etpacket, CodecDeleter> codec(etpacket_new(0, NULL));
    ASSERT_TRUE(codec);
    const etpacket_registry *r = codec->registry;
    const ProtobufCMessageDescriptor *login = etpacket_descriptor_get(r, "ptt.rr.Login");
    ASSERT_EQ(login, &ptt__rr__login__descriptor);
    ASSERT_EQ(login->n_fields, 17u);
    ASSERT_EQ(login->n_field_ranges, 2u);
    EXPECT_EQ(login->field_ranges[0].start_value, 1);
    EXPECT_EQ(login->field_ranges[0].orig_index, 0u);
    EXPECT_EQ(login->field_ranges[1].start_value, 100);
    EXPECT_EQ(login->field_ranges[1].orig_index, 14u);
    EXPECT_EQ(login->field_ranges[2].start_value, 0);
    EXPECT_EQ(login->field_ranges[2].orig_index, 17u);

    const ProtobufCMessageDescriptor *logout = etpacket_descriptor_get(r, "ptt.rr.Logout");
    ASSERT_NE(logout, nullptr);
    EXPECT_EQ(logout->n_fields, 0u);
    for (const char *bad : {"Login", "Ptt__Rr__Login", "ptt.rr.login", "", "ptt.rr.Login "})
        EXPECT_EQ(etpacket_descriptor_get(r, bad), nullptr) << bad;
    EXPECT_EQ(etpacket_descriptor_get(r, NULL), nullptr);
    EXPECT_EQ(etpacket_descriptor_get(NULL, "ptt.rr.Login"), nullptr);
}

TEST(Registry, SymbolKeysFollowGeneratedIdentifiers)
{
    std::unique_ptr<etpacket, CodecDeleter> codec(etpacket_new(0, NULL));
    ASSERT_TRUE(codec);
    const etpacket_registry *r = codec->registry;
    EXPECT_EQ(etpacket_symbol_get(r, "ptt__rr__query_server_ack__field_descriptors"),
              ptt__rr__query_server_ack__descriptor.fields);
    EXPECT_EQ(etpacket_symbol_get(r, "ptt__rr__login__number_ranges"),
              ptt__rr__login__descriptor.field_ranges);
    EXPECT_EQ(etpacket_symbol_get(r, "ptt__socket_address__type__descriptor"),
              &ptt__socket_address__type__descriptor);
    EXPECT_EQ(etpacket_symbol_get(r, "ptt__rr__custom_broadcast__target__method__descriptor"),
              &ptt__rr__custom_broadcast__target__method__descriptor);
    const void *def = etpacket_symbol_get(r, "ptt__user__audio_enabled__default_value");
    ASSERT_NE(def, nullptr);
    EXPECT_EQ(*(const protobuf_c_boolean *)def, 1);
    // Messages without fields have no tables.
    EXPECT_EQ(etpacket_symbol_get(r, "ptt__rr__logout__field_descriptors"), nullptr);
    EXPECT_EQ(etpacket_symbol_get(r, "ptt.rr.Login"), nullptr);
}

TEST(Registry, LowerNameRule)
{
    struct Case {
        const char *in;
        const char *want;
    } cases[] = {
        {"ptt.rr.QueryServerAck", "ptt__rr__query_server_ack"},
        {"ptt.SocketAddress.Type", "ptt__socket_address__type"},
        {"ptt.rr.CustomBroadcast.TARGET_METHOD", "ptt__rr__custom_broadcast__target__method"},
        {"ptt.GroupMembers2", "ptt__group_members2"},
        {"sos.Alarm", "sos__alarm"},
    };
    for (const Case &c : cases) {
        char out[80];
        EXPECT_EQ(etpacket_lower_name(c.in, out, sizeof(out)), strlen(c.want));
        EXPECT_STREQ(out, c.want);
    }
    char small[8];
    EXPECT_EQ(etpacket_lower_name("ptt.rr.Login", small, sizeof(small)), 14u);
    EXPECT_STREQ(small, "ptt__rr");
}

TEST(Registry, DestroyTwiceIsHarmless)
{
    etpacket *codec = etpacket_new(1, NULL);
    ASSERT_NE(codec, nullptr);
    EXPECT_EQ(codec->broad, 1);
    etpacket_destroy(codec);
    EXPECT_EQ(codec->registry, nullptr);
    etpacket_destroy(codec);
    etpacket_destroy(NULL);
    free(codec);
}

} // namespace
