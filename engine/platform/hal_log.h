// The engine's one log: lines go to the log file (kvptt.log, opened by the
// platform context) and to standard output under one mutex, so a line is
// never torn and both outputs show the same order. Any thread may log.
#ifndef HAL_LOG_H
#define HAL_LOG_H

#ifdef __cplusplus
extern "C" {
#endif

typedef struct hal_ctx hal_ctx;
typedef struct hal_log hal_log;

// Priorities; 1 and 2 print as "VERBOSE".
enum {
    // Lines of the 20 ms voice path (one per frame, hundreds a second while
    // talking): below every threshold that can be set, so they never cost a
    // write; a developer tracing audio raises them by hand.
    HAL_LOG_FRAME = 1,
    HAL_LOG_VERBOSE = 2,
    HAL_LOG_DEBUG = 3,
    HAL_LOG_INFO = 4,
    HAL_LOG_WARN = 5,
    HAL_LOG_ERROR = 6,
    HAL_LOG_FATAL = 7,
};

// A log with threshold 2 and no file; NULL when memory runs out.
hal_log *hal_log_new(hal_ctx *ctx);
// Closes the file, frees the log and clears the handle; NULL is ignored.
void hal_log_destroy(hal_log **log);
// Opens (truncating) the log file; -1 when one is open already or the open
// fails.
int hal_log_set_file(hal_log *log, const char *path);
// Sets the lowest priority written, 2..8 (8 silences the log); -1 otherwise.
int hal_log_set_priority(hal_log *log, int priority);
int hal_log_get_priority(const hal_log *log);
// 0 when written or dropped below the threshold; -1 on a null log, tag or
// format, or a priority outside 1..7 that reaches the threshold.
int hal_log_output(hal_log *log, int priority, const char *tag, const char *fmt, ...)
    __attribute__((format(printf, 4, 5)));

#ifdef __cplusplus
}
#endif

#endif
