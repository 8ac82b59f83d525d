#include "etpacket_registry.h"

#include "hal_error.h"
#include "hash.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

struct etpacket_registry {
    // Piece identifier -> descriptor piece; keys are owned_keys below.
    hash *symbol_hash;
    // Full message name -> message descriptor; keys are the descriptors' own
    // static names.
    hash *descriptor_hash;
    // Keys of symbol_hash, made here and freed with the registry.
    char **owned_keys;
    size_t n_owned_keys;
    size_t cap_owned_keys;
};

size_t etpacket_lower_name(const char *full_name, char *out, size_t size)
{
    size_t n = 0;
    bool was_upper = true;
    auto put = [&](char c) {
        if (out && n + 1 < size)
            out[n] = c;
        n++;
    };
    for (const char *p = full_name; p && *p; p++) {
        char c = *p;
        if (c == '.') {
            put('_');
            put('_');
            was_upper = true;
            continue;
        }
        bool is_upper = c >= 'A' && c <= 'Z';
        if (is_upper) {
            if (!was_upper)
                put('_');
            put((char)(c - 'A' + 'a'));
        } else {
            put(c);
        }
        was_upper = is_upper;
    }
    if (out && size > 0)
        out[n < size ? n : size - 1] = '\0';
    return n;
}

etpacket_registry *etpacket_registry_new(void)
{
    etpacket_registry *r = (etpacket_registry *)calloc(1, sizeof(*r));
    if (!r)
        return NULL;
    r->symbol_hash = hash_new(NULL);
    r->descriptor_hash = hash_new(NULL);
    if (!r->symbol_hash || !r->descriptor_hash) {
        etpacket_registry_destroy(&r);
        return NULL;
    }
    return r;
}

void etpacket_registry_destroy(etpacket_registry **registry)
{
    if (!registry || !*registry)
        return;
    etpacket_registry *r = *registry;
    if (r->symbol_hash)
        hash_del(r->symbol_hash);
    if (r->descriptor_hash)
        hash_del(r->descriptor_hash);
    for (size_t i = 0; i < r->n_owned_keys; i++)
        free(r->owned_keys[i]);
    free(r->owned_keys);
    free(r);
    *registry = NULL;
}

const ProtobufCMessageDescriptor *etpacket_descriptor_get(const etpacket_registry *registry,
                                                          const char *full_name)
{
    if (!registry || !full_name)
        return NULL;
    return (const ProtobufCMessageDescriptor *)hash_access(registry->descriptor_hash, full_name);
}

int etpacket_descriptor_put(etpacket_registry *registry, const char *full_name,
                            const ProtobufCMessageDescriptor *descriptor)
{
    if (!registry || !full_name || !descriptor)
        return HAL_ERR;
    return hash_insert(registry->descriptor_hash, full_name, (void *)descriptor);
}

size_t etpacket_descriptor_count(const etpacket_registry *registry)
{
    return registry ? (size_t)hash_count(registry->descriptor_hash) : 0;
}

const void *etpacket_symbol_get(const etpacket_registry *registry, const char *key)
{
    if (!registry || !key)
        return NULL;
    return hash_access(registry->symbol_hash, key);
}

int etpacket_symbol_put(etpacket_registry *registry, const char *key, const void *piece)
{
    if (!registry || !key || !piece)
        return HAL_ERR;
    if (hash_access(registry->symbol_hash, key))
        return HAL_EEXIST;
    if (registry->n_owned_keys == registry->cap_owned_keys) {
        size_t cap = registry->cap_owned_keys ? registry->cap_owned_keys * 2 : 64;
        char **keys = (char **)realloc(registry->owned_keys, cap * sizeof(*keys));
        if (!keys)
            return HAL_ENOMEM;
        registry->owned_keys = keys;
        registry->cap_owned_keys = cap;
    }
    size_t len = strlen(key);
    char *copy = (char *)malloc(len + 1);
    if (!copy)
        return HAL_ENOMEM;
    memcpy(copy, key, len + 1);
    int rc = hash_insert(registry->symbol_hash, copy, (void *)piece);
    if (rc != 0) {
        free(copy);
        return rc;
    }
    registry->owned_keys[registry->n_owned_keys++] = copy;
    return 0;
}

size_t etpacket_symbol_count(const etpacket_registry *registry)
{
    return registry ? (size_t)hash_count(registry->symbol_hash) : 0;
}

namespace
{

// Files prefix + suffix -> piece.
int put_piece(etpacket_registry *r, const char *lower, const char *suffix, const void *piece)
{
    char key[256];
    int n = snprintf(key, sizeof(key), "%s%s", lower, suffix);
    if (n < 0 || (size_t)n >= sizeof(key))
        return HAL_ERR;
    return etpacket_symbol_put(r, key, piece);
}

int file_enum(etpacket_registry *r, const ProtobufCEnumDescriptor *e)
{
    char lower[200];
    if (etpacket_lower_name(e->name, lower, sizeof(lower)) >= sizeof(lower))
        return HAL_ERR;
    int rc = put_piece(r, lower, "__enum_values_by_number", e->values);
    if (rc == 0)
        rc = put_piece(r, lower, "__enum_values_by_name", e->values_by_name);
    if (rc == 0)
        rc = put_piece(r, lower, "__value_ranges", e->value_ranges);
    if (rc == 0)
        rc = put_piece(r, lower, "__descriptor", e);
    return rc;
}

int file_message(etpacket_registry *r, const ProtobufCMessageDescriptor *d)
{
    int rc = etpacket_descriptor_put(r, d->name, d);
    if (rc != 0 || d->n_fields == 0)
        return rc;
    char lower[200];
    if (etpacket_lower_name(d->name, lower, sizeof(lower)) >= sizeof(lower))
        return HAL_ERR;
    for (unsigned i = 0; i < d->n_fields && rc == 0; i++) {
        const ProtobufCFieldDescriptor *f = &d->fields[i];
        if (!f->default_value)
            continue;
        char suffix[160];
        int n = snprintf(suffix, sizeof(suffix), "__%s__default_value", f->name);
        if (n < 0 || (size_t)n >= sizeof(suffix))
            return HAL_ERR;
        rc = put_piece(r, lower, suffix, f->default_value);
    }
    if (rc == 0)
        rc = put_piece(r, lower, "__field_descriptors", d->fields);
    if (rc == 0)
        rc = put_piece(r, lower, "__field_indices_by_name", d->fields_sorted_by_name);
    if (rc == 0)
        rc = put_piece(r, lower, "__number_ranges", d->field_ranges);
    return rc;
}

} // namespace

int etpacket_registry_build(etpacket_registry *registry)
{
    if (!registry)
        return HAL_ERR;
    for (size_t i = 0; i < etpacket_schema_enum_count; i++) {
        int rc = file_enum(registry, etpacket_schema_enums[i]);
        if (rc != 0)
            return rc;
    }
    for (size_t i = 0; i < etpacket_schema_message_count; i++) {
        int rc = file_message(registry, etpacket_schema_messages[i]);
        if (rc != 0)
            return rc;
    }
    return 0;
}
