// The registry of the "ptt" schema: every message descriptor under its full
// type name ("ptt.rr.Login"), the name carried in every frame and used by the
// dispatcher. The descriptors themselves are protoc-c's static ones; the
// registry indexes them once when the codec is made and is read-only after.
//
// Beside it the symbol table files every descriptor piece (field tables, name
// order, number ranges, declared defaults, enum tables) under the identifier
// protoc-c gives it, e.g. "ptt__rr__login__field_descriptors".
#ifndef ETPACKET_REGISTRY_H
#define ETPACKET_REGISTRY_H

#include <protobuf-c/protobuf-c.h>
#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct etpacket_registry etpacket_registry;

// Every message and enum descriptor of the schema (generated index).
extern const ProtobufCMessageDescriptor *const etpacket_schema_messages[];
extern const size_t etpacket_schema_message_count;
extern const ProtobufCEnumDescriptor *const etpacket_schema_enums[];
extern const size_t etpacket_schema_enum_count;

// An empty registry with both tables; NULL when memory runs out.
etpacket_registry *etpacket_registry_new(void);
// Files every schema descriptor and its pieces; 0, or a negative code when
// memory runs out (the registry then holds what was filed so far).
int etpacket_registry_build(etpacket_registry *registry);
// Frees both tables and the keys the registry made; the descriptors are
// static and stay. Clears the handle; NULL is ignored.
void etpacket_registry_destroy(etpacket_registry **registry);

// Message descriptor by full type name; NULL when unknown.
const ProtobufCMessageDescriptor *etpacket_descriptor_get(const etpacket_registry *registry,
                                                          const char *full_name);
// Files a descriptor under full_name, which must stay valid while the
// registry lives. 0, -7 when the name is taken, -1 for a NULL argument.
int etpacket_descriptor_put(etpacket_registry *registry, const char *full_name,
                            const ProtobufCMessageDescriptor *descriptor);
size_t etpacket_descriptor_count(const etpacket_registry *registry);

// Descriptor piece by its generated identifier; NULL when unknown.
const void *etpacket_symbol_get(const etpacket_registry *registry, const char *key);
// Files a piece under a copy of key. 0, -7 when the key is taken, -1 for a
// NULL argument, -4 when memory runs out.
int etpacket_symbol_put(etpacket_registry *registry, const char *key, const void *piece);
size_t etpacket_symbol_count(const etpacket_registry *registry);

// The lower-case identifier protoc-c forms from a full name: each part in
// lower case with '_' before an upper-case letter that follows a non-upper
// one, parts joined by "__" ("ptt.rr.QueryServerAck" ->
// "ptt__rr__query_server_ack"). Writes at most size bytes including the NUL;
// returns the length it needed (excluding the NUL), so a result >= size means
// the text was cut.
size_t etpacket_lower_name(const char *full_name, char *out, size_t size);

#ifdef __cplusplus
}
#endif

#endif
