// Files and directories: a thin layer over stdio streams and POSIX directory
// calls. One hal_filemanager belongs to each platform context; hal_file
// objects are owned by whoever makes them.
#pragma once

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct hal_ctx hal_ctx;
typedef struct hal_filemanager hal_filemanager;
typedef struct hal_file hal_file;

// Origins for hal_file_seek.
enum { HAL_SEEK_SET = 0, HAL_SEEK_CUR = 1, HAL_SEEK_END = 2 };

// Line buffer size hal_file_gets needs: 255 bytes of text plus the terminator.
enum { HAL_FILE_LINE_MAX = 256 };

hal_filemanager *hal_filemanager_new(hal_ctx *ctx);
void hal_filemanager_destroy(hal_filemanager **fm);
hal_ctx *hal_filemanager_get_context(hal_filemanager *fm);
// 0, or -1 (also without trying when the path is null or anything exists there).
int hal_filemanager_mkdir(hal_filemanager *fm, const char *path);
int hal_filemanager_rmdir(hal_filemanager *fm, const char *path);

hal_file *hal_file_new(void);
// Closes the stream when open; accepts NULL and a handle holding NULL.
void hal_file_destroy(hal_file **file);
// 0; -1 for a null path or mode, a file that is already open, or a failed open.
int hal_file_open(hal_file *file, const char *path, const char *mode);
int hal_file_close(hal_file *file);
// Bytes transferred; -1 for a null buffer, a count of 0 or a closed file.
int hal_file_read(hal_file *file, void *buf, size_t count);
int hal_file_write(hal_file *file, const void *buf, size_t count);
int hal_file_seek(hal_file *file, int32_t offset, int origin);
long hal_file_cursor(hal_file *file);
int hal_file_flush(hal_file *file);
// The OS file descriptor of the stream; -1 for a closed file.
int hal_file_get_handle(hal_file *file);
// The path the file was opened with; NULL when closed.
const char *hal_file_path(hal_file *file);
int hal_file_fprintf(hal_file *file, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
// Reads one line of at most 255 bytes (newline included) into buf, which holds
// at least HAL_FILE_LINE_MAX bytes; a longer line comes back in 255-byte
// pieces. 0 when something was read; -1 at end of file, on error or when closed.
int hal_file_gets(hal_file *file, char *buf);
// Reads one whole line of any length into *line (grown with realloc as
// needed, *cap its size; free it with free()). Returns the line's length
// including its newline, or -1 at end of file, on error or when closed.
long hal_file_getline(hal_file *file, char **line, size_t *cap);
// Non-zero when a read or write of the stream failed (as opposed to reaching
// the end of the file); -1 for a closed file.
int hal_file_error(hal_file *file);

#ifdef __cplusplus
}
#endif
