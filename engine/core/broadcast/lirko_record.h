// Recording of voice to files: whether received and own voice of the talk
// sessions is written to files, and the directory they go to. Looper thread
// only.
#ifndef LIRKO_RECORD_H
#define LIRKO_RECORD_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct lirko_t lirko_t;

// Longest record directory, without its terminator.
#define LIRKO_RECORD_PATH_MAX 128

// Enabling needs a directory (path, else the one stored before): it is
// created when missing; -1 when that fails. A path over 128 bytes gives -1
// and changes nothing. A given path is stored, then the flag set; 0.
int lirko_record_set_enabled(lirko_t *engine, uint8_t enable, const char *path);
uint8_t lirko_record_get_enabled(lirko_t *engine);
// The stored directory ("" when none); engine-owned.
const char *lirko_record_get_recordpath(lirko_t *engine);

#ifdef __cplusplus
}
#endif

#endif
