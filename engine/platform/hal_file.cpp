#include "hal_file.h"

#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

struct hal_filemanager {
    hal_ctx *ctx;
};

struct hal_file {
    FILE *stream;
    char *path;
};

hal_filemanager *hal_filemanager_new(hal_ctx *ctx)
{
    hal_filemanager *fm = static_cast<hal_filemanager *>(calloc(1, sizeof(*fm)));
    if (fm)
        fm->ctx = ctx;
    return fm;
}

void hal_filemanager_destroy(hal_filemanager **fm)
{
    if (!fm || !*fm)
        return;
    free(*fm);
    *fm = NULL;
}

hal_ctx *hal_filemanager_get_context(hal_filemanager *fm)
{
    return fm ? fm->ctx : NULL;
}

int hal_filemanager_mkdir(hal_filemanager *fm, const char *path)
{
    (void)fm;
    struct stat st;
    if (!path || lstat(path, &st) == 0)
        return -1;
    return mkdir(path, 0777) == 0 ? 0 : -1;
}

int hal_filemanager_rmdir(hal_filemanager *fm, const char *path)
{
    (void)fm;
    if (!path)
        return -1;
    return rmdir(path) == 0 ? 0 : -1;
}

hal_file *hal_file_new(void)
{
    return static_cast<hal_file *>(calloc(1, sizeof(hal_file)));
}

void hal_file_destroy(hal_file **file)
{
    if (!file || !*file)
        return;
    hal_file_close(*file);
    free(*file);
    *file = NULL;
}

int hal_file_open(hal_file *file, const char *path, const char *mode)
{
    if (!file || !path || !mode || file->stream)
        return -1;
    char *copy = strdup(path);
    if (!copy)
        return -1;
    FILE *stream = fopen(path, mode);
    if (!stream) {
        free(copy);
        return -1;
    }
    file->stream = stream;
    file->path = copy;
    return 0;
}

int hal_file_close(hal_file *file)
{
    if (!file)
        return -1;
    if (file->stream) {
        fclose(file->stream);
        file->stream = NULL;
    }
    free(file->path);
    file->path = NULL;
    return 0;
}

int hal_file_read(hal_file *file, void *buf, size_t count)
{
    if (!file || !file->stream || !buf || count == 0)
        return -1;
    return static_cast<int>(fread(buf, 1, count, file->stream));
}

int hal_file_write(hal_file *file, const void *buf, size_t count)
{
    if (!file || !file->stream || !buf || count == 0)
        return -1;
    return static_cast<int>(fwrite(buf, 1, count, file->stream));
}

int hal_file_seek(hal_file *file, int32_t offset, int origin)
{
    if (!file || !file->stream)
        return -1;
    int whence;
    switch (origin) {
    case HAL_SEEK_SET:
        whence = SEEK_SET;
        break;
    case HAL_SEEK_CUR:
        whence = SEEK_CUR;
        break;
    case HAL_SEEK_END:
        whence = SEEK_END;
        break;
    default:
        return -1;
    }
    return fseek(file->stream, offset, whence);
}

long hal_file_cursor(hal_file *file)
{
    if (!file || !file->stream)
        return -1;
    return ftell(file->stream);
}

int hal_file_flush(hal_file *file)
{
    if (!file || !file->stream)
        return -1;
    return fflush(file->stream);
}

int hal_file_get_handle(hal_file *file)
{
    if (!file || !file->stream)
        return -1;
    return fileno(file->stream);
}

const char *hal_file_path(hal_file *file)
{
    return file ? file->path : NULL;
}

int hal_file_fprintf(hal_file *file, const char *fmt, ...)
{
    if (!file || !fmt || !file->stream)
        return -1;
    va_list ap;
    va_start(ap, fmt);
    int n = vfprintf(file->stream, fmt, ap);
    va_end(ap);
    return n;
}

int hal_file_gets(hal_file *file, char *buf)
{
    if (!file || !file->stream || !buf)
        return -1;
    return fgets(buf, HAL_FILE_LINE_MAX, file->stream) ? 0 : -1;
}

long hal_file_getline(hal_file *file, char **line, size_t *cap)
{
    if (!file || !file->stream || !line || !cap)
        return -1;
    ssize_t n = getline(line, cap, file->stream);
    return n < 0 ? -1 : static_cast<long>(n);
}

int hal_file_error(hal_file *file)
{
    if (!file || !file->stream)
        return -1;
    return ferror(file->stream) ? 1 : 0;
}
