// The engine's platform context: one per engine, created first and destroyed
// last. It owns the log, the looper, the file manager, the INI store
// (custom.ini), the network object and the sound queue, and remembers the
// engine's directory. Fields never change after creation, so the accessors
// may be called from any thread.
#ifndef HAL_CTX_H
#define HAL_CTX_H

#ifdef __cplusplus
extern "C" {
#endif

typedef struct hal_ctx hal_ctx;
typedef struct hal_log hal_log;
typedef struct hal_looper hal_looper;
typedef struct hal_filemanager hal_filemanager;
typedef struct hal_ini hal_ini;
typedef struct hal_network hal_network;
typedef struct hal_sound hal_sound;

// Opens "kvptt.log" in the current directory (truncated), starts the looper
// thread, makes the file manager and network object, and loads custom.ini
// from directory, or from the directory of the engine library itself when
// directory is NULL. NULL when the looper or memory cannot be had.
hal_ctx *hal_ctx_new(const char *directory);
// Stops everything in reverse order and clears the handle. Refused (nothing
// happens) on the looper thread, which cannot join itself.
void hal_ctx_destroy(hal_ctx **ctx);

hal_log *hal_ctx_get_log(hal_ctx *ctx);
hal_looper *hal_ctx_get_looper(hal_ctx *ctx);
hal_filemanager *hal_ctx_get_filemanager(hal_ctx *ctx);
hal_ini *hal_ctx_get_ini(hal_ctx *ctx);
hal_network *hal_ctx_get_network(hal_ctx *ctx);
hal_sound *hal_ctx_get_sound(hal_ctx *ctx);
void *hal_ctx_get_device(hal_ctx *ctx);
const char *hal_ctx_get_path(hal_ctx *ctx);
// Always 0.
int hal_ctx_get_location(void);

#ifdef __cplusplus
}
#endif

#endif
