#include "lirko_record.h"

#include "hal_log.h"
#include "lirko.h"
#include "lirko_records.h"

#include <string.h>
#include <sys/stat.h>

static const char *TAG = "lirko";

static int ensure_directory(const char *path)
{
    struct stat st;
    if (stat(path, &st) == 0)
        return S_ISDIR(st.st_mode) ? 0 : -1;
    return mkdir(path, 0777) == 0 ? 0 : -1;
}

int lirko_record_set_enabled(lirko_t *engine, uint8_t enable, const char *path)
{
    if (!engine)
        return -1;
    if (path && strlen(path) > LIRKO_RECORD_PATH_MAX)
        return -1;
    const char *dir = path ? path : engine->record_path;
    if (enable && (!dir[0] || ensure_directory(dir) != 0)) {
        hal_log_output(engine->log, HAL_LOG_ERROR, TAG, "record dir %s can not be made", dir);
        return -1;
    }
    if (path)
        lirko_copy_text(engine->record_path, sizeof(engine->record_path), path);
    engine->record_enabled = enable ? 1 : 0;
    hal_log_output(engine->log, HAL_LOG_VERBOSE, TAG, "record enabled %d path %s",
                   engine->record_enabled, engine->record_path);
    return 0;
}

uint8_t lirko_record_get_enabled(lirko_t *engine)
{
    return engine ? engine->record_enabled : 0;
}

const char *lirko_record_get_recordpath(lirko_t *engine)
{
    return engine ? engine->record_path : "";
}
