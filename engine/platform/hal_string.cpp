#include "hal_string.h"

#include <limits.h>
#include <math.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

namespace
{

// Length of the well-formed UTF-8 sequence at s (1..4), or 0 when it is not
// one: overlong forms, surrogates and code points above U+10FFFF are refused,
// as a strict UTF-16 conversion would refuse them.
int utf8_sequence(const unsigned char *s)
{
    unsigned char c = s[0];
    if (c < 0x80)
        return 1;
    int n;
    uint32_t cp;
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
        cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        cp = c & 0x07;
    } else {
        return 0;
    }
    for (int i = 1; i < n; i++) {
        // A terminator here fails the test, so nothing past it is read.
        if ((s[i] & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (s[i] & 0x3F);
    }
    static const uint32_t min_cp[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < min_cp[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return n;
}

int validating_copy(const char *src, char *dst, int dst_size)
{
    if (!src)
        return 0;
    const unsigned char *p = reinterpret_cast<const unsigned char *>(src);
    size_t i = 0;
    while (p[i]) {
        int n = utf8_sequence(p + i);
        if (n == 0)
            return 0;
        i += (size_t)n;
    }
    if (i + 1 > (size_t)INT_MAX)
        return 0;
    int need = (int)(i + 1);
    if (!dst)
        return need;
    if (dst_size < need)
        return 0;
    memcpy(dst, src, (size_t)need);
    return need;
}

// Bytes taken by the character whose lead byte is c: 1, 2, 3, or 0 for a
// byte that is skipped.
size_t lead_width(unsigned char c)
{
    if (c < 0x80)
        return 1;
    if ((c & 0xE0) == 0xC0)
        return 2;
    if ((c & 0xF0) == 0xE0)
        return 3;
    return 0;
}

bool continuations_ok(const unsigned char *s, size_t width)
{
    for (size_t k = 1; k < width; k++) {
        if ((s[k] & 0xC0) != 0x80)
            return false;
    }
    return true;
}

} // namespace

void *hal_malloc(size_t size)
{
    return malloc(size);
}

void hal_free(void *p)
{
    free(p);
}

void *hal_realloc(void *p, size_t size)
{
    return realloc(p, size);
}

void *hal_calloc(size_t n, size_t size)
{
    return calloc(n, size);
}

void *hal_memset(void *dst, int c, size_t n)
{
    return memset(dst, c, n);
}

void *hal_memcpy(void *dst, const void *src, size_t n)
{
    return memcpy(dst, src, n);
}

void *hal_memmove(void *dst, const void *src, size_t n)
{
    return memmove(dst, src, n);
}

int hal_memcmp(const void *a, const void *b, size_t n)
{
    return memcmp(a, b, n);
}

char *hal_strcpy(char *dst, const char *src)
{
    return static_cast<char *>(memcpy(dst, src, strlen(src) + 1));
}

char *hal_strncpy(char *dst, const char *src, size_t n)
{
    return strncpy(dst, src, n);
}

char *hal_strchr(const char *s, int c)
{
    return const_cast<char *>(strchr(s, c));
}

int hal_strncmp(const char *a, const char *b, size_t n)
{
    return strncmp(a, b, n);
}

char *hal_strstr(const char *haystack, const char *needle)
{
    return const_cast<char *>(strstr(haystack, needle));
}

size_t hal_strlen(const char *s)
{
    return strlen(s);
}

int hal_strcmp(const char *a, const char *b)
{
    int r = strcmp(a, b);
    return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

int hal_strcasecmp(const char *a, const char *b)
{
    return strcasecmp(a, b);
}

int hal_strncasecmp(const char *a, const char *b, size_t n)
{
    return strncasecmp(a, b, n);
}

char *hal_strdup(const char *s)
{
    return s ? strdup(s) : nullptr;
}

char *hal_strcat(char *dst, const char *src)
{
    if (!dst || !src)
        return nullptr;
    size_t used = strlen(dst);
    memcpy(dst + used, src, strlen(src) + 1);
    return dst;
}

int UTF8ToGBK(const char *src, char *dst, int dst_size)
{
    return validating_copy(src, dst, dst_size);
}

int GBKToUTF8(const char *src, char *dst, int dst_size)
{
    return validating_copy(src, dst, dst_size);
}

void hal_utf8towstr(const char *src, size_t len, uint16_t *out, size_t out_units)
{
    if (!src || !out)
        return;
    const unsigned char *s = reinterpret_cast<const unsigned char *>(src);
    // First pass: how many units the text gives, reading only inside the span.
    size_t count = 0;
    for (size_t i = 0; i < len && s[i];) {
        size_t w = lead_width(s[i]);
        if (w == 0 || i + w > len || !continuations_ok(s + i, w)) {
            i++;
            continue;
        }
        count++;
        i += w;
    }
    if (count + 1 > out_units)
        return;
    size_t o = 0;
    for (size_t i = 0; i < len && s[i];) {
        size_t w = lead_width(s[i]);
        if (w == 0 || i + w > len || !continuations_ok(s + i, w)) {
            i++;
            continue;
        }
        uint16_t u;
        if (w == 1)
            u = s[i];
        else if (w == 2)
            u = (uint16_t)(((s[i] & 0x1F) << 6) | (s[i + 1] & 0x3F));
        else
            u = (uint16_t)(((s[i] & 0x0F) << 12) | ((s[i + 1] & 0x3F) << 6) | (s[i + 2] & 0x3F));
        out[o++] = u;
        i += w;
    }
    out[o] = 0;
}

int hal_sprintf(char *buf, const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    int n = vsnprintf(buf, (size_t)INT_MAX, fmt, ap);
    va_end(ap);
    return n < 0 ? -1 : n;
}

int hal_snprintf(char *buf, size_t size, const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    int n = vsnprintf(buf, size, fmt, ap);
    va_end(ap);
    return n < 0 ? -1 : n;
}

int hal_atof(const char *s)
{
    double d = atof(s);
    if (!(d > (double)INT_MIN - 1.0 && d < (double)INT_MAX + 1.0))
        return d > 0 ? INT_MAX : INT_MIN;
    return (int)d;
}

int hal_atoi(const char *s)
{
    return atoi(s);
}

long hal_atol(const char *s)
{
    return atol(s);
}

double hal_round(double x)
{
    return x > 0 ? floor(x + 0.5) : ceil(x - 0.5);
}

double hal_floor(double x)
{
    return floor(x);
}
