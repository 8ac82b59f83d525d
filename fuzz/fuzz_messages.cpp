// Fuzzes the engine's server-message handlers: decoded messages of any type
// of the schema handed to the connection's dispatcher, as the connection
// hands each frame it reads, so every handler registered there (login,
// directory, contacts, watch, invitations, alarms, the talk sessions' floor
// messages) meets arbitrary field values, lengths and repeated fields, in
// any order. The platform is the deterministic stage (stage.h). Each input
// starts from a logged-out engine.
//
// Input: operations. A byte t: 255 moves time by the next byte times 100 ms;
// otherwise a message of schema type t (modulo the number of types) whose
// encoded bytes follow behind a 16-bit big-endian length. Bytes that do not
// decode as that type are skipped, as the connection skips them.
#include "connection.h"
#include "dispatcher.h"
#include "etpacket_registry.h"
#include "lirko.h"
#include "lirko_login.h"
#include "stage.h"

#include <protobuf-c/protobuf-c.h>
#include <stdint.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    lirko_t *engine = stage_engine();
    dispatcher_t *d = connection_get_dispatcher(engine->connection);
    size_t pos = 0;
    while (pos < size) {
        uint8_t t = data[pos++];
        if (t == 255) {
            if (pos < size)
                stage_advance(engine->looper, (uint64_t)data[pos++] * 100);
            continue;
        }
        if (size - pos < 2)
            break;
        size_t len = (size_t)data[pos] << 8 | data[pos + 1];
        pos += 2;
        if (len > size - pos)
            len = size - pos;
        const ProtobufCMessageDescriptor *desc =
            etpacket_schema_messages[t % etpacket_schema_message_count];
        ProtobufCMessage *m = protobuf_c_message_unpack(desc, NULL, len, data + pos);
        pos += len;
        if (!m)
            continue;
        (void)dispatcher_deliver(d, m);
        protobuf_c_message_free_unpacked(m, NULL);
        stage_cycle(engine->looper);
    }
    stage_advance(engine->looper, 100);
    // The next input meets a fresh, logged-out engine.
    lirko_logout(engine);
    stage_advance(engine->looper, 100);
    return 0;
}
