#include "hal_ctx.h"

#include "hal_file.h"
#include "hal_ini.h"
#include "hal_log.h"
#include "hal_looper.h"
#include "hal_sock.h"

#include <dlfcn.h>
#include <limits.h>
#include <link.h>
#include <stdlib.h>
#include <string.h>

// The sound queue belongs to the media layer (hal_sound.h), which builds on
// this one; the context only makes and frees it.
extern "C" hal_sound *hal_sound_new(hal_ctx *ctx);
extern "C" void hal_sound_destroy(hal_sound **sound);

struct hal_ctx {
    hal_log *log;
    hal_looper *looper;
    hal_filemanager *filemanager;
    hal_ini *ini;
    hal_network *network;
    hal_sound *sound;
    void *device;
    char *path;
};

namespace
{

// The directory of the file this code was loaded from (liblirko.so, or the
// program when the platform is linked into it), absolute and without a
// trailing slash. dladdr names the main program by its argv[0], which may be
// relative to a directory the process has left since, so the program's own
// file is taken from /proc instead.
char *own_directory()
{
    Dl_info info;
    struct link_map *map = nullptr;
    if (dladdr1((void *)&hal_ctx_new, &info, (void **)&map, RTLD_DL_LINKMAP) == 0 || !map)
        return nullptr;
    char *file = nullptr;
    if (!map->l_name || map->l_name[0] == '\0')
        file = realpath("/proc/self/exe", nullptr);
    else
        file = realpath(map->l_name, nullptr);
    if (!file)
        return nullptr;
    char *slash = strrchr(file, '/');
    if (slash == file)
        slash[1] = '\0';
    else if (slash)
        *slash = '\0';
    return file;
}

// The sound queue (media layer) is created last and destroyed first.
void sound_start(hal_ctx *ctx)
{
    ctx->sound = hal_sound_new(ctx);
}

void sound_stop(hal_ctx *ctx)
{
    hal_sound_destroy(&ctx->sound);
}

} // namespace

hal_ctx *hal_ctx_new(const char *directory)
{
    hal_ctx *ctx = static_cast<hal_ctx *>(calloc(1, sizeof(hal_ctx)));
    if (!ctx)
        return nullptr;
    ctx->log = hal_log_new(ctx);
    if (!ctx->log)
        goto fail;
    // Without a log file the lines still reach standard output.
    (void)hal_log_set_file(ctx->log, "kvptt.log");
    ctx->looper = hal_looper_new(ctx, ctx->log);
    if (!ctx->looper)
        goto fail;
    ctx->filemanager = hal_filemanager_new(ctx);
    ctx->network = hal_network_new(ctx);
    ctx->path = directory ? strdup(directory) : own_directory();
    if (!ctx->filemanager || !ctx->network || !ctx->path)
        goto fail;
    ctx->ini = hal_ini_new(ctx, ctx->log, ctx->path);
    if (!ctx->ini)
        goto fail;
    // A missing custom.ini leaves the store empty: every reader has defaults.
    (void)hal_ini_load(ctx->ini, nullptr, nullptr);
    sound_start(ctx);
    return ctx;
fail:
    hal_ctx_destroy(&ctx);
    return nullptr;
}

void hal_ctx_destroy(hal_ctx **pctx)
{
    if (!pctx || !*pctx)
        return;
    hal_ctx *ctx = *pctx;
    if (hal_looper_is_current(ctx->looper)) {
        hal_log_output(ctx->log, 6, "hal", "hal_ctx_destroy refused on the looper thread");
        return;
    }
    sound_stop(ctx);
    free(ctx->path);
    ctx->path = nullptr;
    hal_network_destroy(&ctx->network);
    hal_ini_destroy(&ctx->ini);
    hal_filemanager_destroy(&ctx->filemanager);
    hal_looper_destroy(&ctx->looper);
    hal_log_destroy(&ctx->log);
    free(ctx);
    *pctx = nullptr;
}

hal_log *hal_ctx_get_log(hal_ctx *ctx)
{
    return ctx ? ctx->log : nullptr;
}

hal_looper *hal_ctx_get_looper(hal_ctx *ctx)
{
    return ctx ? ctx->looper : nullptr;
}

hal_filemanager *hal_ctx_get_filemanager(hal_ctx *ctx)
{
    return ctx ? ctx->filemanager : nullptr;
}

hal_ini *hal_ctx_get_ini(hal_ctx *ctx)
{
    return ctx ? ctx->ini : nullptr;
}

hal_network *hal_ctx_get_network(hal_ctx *ctx)
{
    return ctx ? ctx->network : nullptr;
}

hal_sound *hal_ctx_get_sound(hal_ctx *ctx)
{
    return ctx ? ctx->sound : nullptr;
}

void *hal_ctx_get_device(hal_ctx *ctx)
{
    return ctx ? ctx->device : nullptr;
}

const char *hal_ctx_get_path(hal_ctx *ctx)
{
    return ctx ? ctx->path : nullptr;
}

int hal_ctx_get_location(void)
{
    return 0;
}
