// The walk callback shared by list_foreach, hash_foreach and map_foreach.
#pragma once

#include "hal_error.h"

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// A walk callback returns HAL_CONTINUE (-5) to go on; any other value stops
// the walk and becomes its result. A walk over an empty container returns
// HAL_CONTINUE too.

// key: the entry's string key (hash), NULL for lists and maps.
// number: the node's index (list), bucket index (hash) or key (map).
typedef int (*foreach_fn)(const char *key, uint32_t number, void *data, void *arg);

#ifdef __cplusplus
}
#endif
