// Portable memory, string, text-conversion, formatting and number helpers
// exported beside the platform context. No shared state: any thread.
#ifndef HAL_STRING_H
#define HAL_STRING_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

void *hal_malloc(size_t size);
void hal_free(void *p);
void *hal_realloc(void *p, size_t size);
void *hal_calloc(size_t n, size_t size);
void *hal_memset(void *dst, int c, size_t n);
void *hal_memcpy(void *dst, const void *src, size_t n);
void *hal_memmove(void *dst, const void *src, size_t n);
int hal_memcmp(const void *a, const void *b, size_t n);

// Copies src with its terminator; dst must have room (prefer a bounded copy).
char *hal_strcpy(char *dst, const char *src);
char *hal_strncpy(char *dst, const char *src, size_t n);
char *hal_strchr(const char *s, int c);
int hal_strncmp(const char *a, const char *b, size_t n);
char *hal_strstr(const char *haystack, const char *needle);
size_t hal_strlen(const char *s);
// Bytes compared as unsigned; exactly -1, 0 or 1.
int hal_strcmp(const char *a, const char *b);
int hal_strcasecmp(const char *a, const char *b);
int hal_strncasecmp(const char *a, const char *b, size_t n);
// Heap copy; NULL in, NULL out.
char *hal_strdup(const char *s);
// Appends src to dst (dst must have room) and returns dst; NULL if either is
// NULL.
char *hal_strcat(char *dst, const char *src);

// The engine's text is UTF-8 and so is the system code page on Linux: both
// conversions are validating copies. Result: bytes of the converted text
// including its terminator (the size needed when dst is NULL); 0 when src is
// NULL or not valid UTF-8, or when dst_size is too small (dst untouched).
int UTF8ToGBK(const char *src, char *dst, int dst_size);
int GBKToUTF8(const char *src, char *dst, int dst_size);

// Decodes len bytes of UTF-8 into UTF-16 units (1- to 3-byte characters;
// other bytes are skipped). Writes nothing unless out holds every unit plus a
// terminating zero unit; never reads past src[len - 1]; stops at a 0 byte.
void hal_utf8towstr(const char *src, size_t len, uint16_t *out, size_t out_units);

// Unbounded: the caller guarantees room. Characters written, or -1.
int hal_sprintf(char *buf, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
// The length the whole output needs (output cut to size - 1 and terminated),
// or -1 on a formatting error.
int hal_snprintf(char *buf, size_t size, const char *fmt, ...)
    __attribute__((format(printf, 3, 4)));

// Decimal text to a number truncated toward zero ("3.9" gives 3).
int hal_atof(const char *s);
int hal_atoi(const char *s);
long hal_atol(const char *s);
// Half away from zero.
double hal_round(double x);
double hal_floor(double x);

#ifdef __cplusplus
}
#endif

#endif
