#include "crash_handler.h"

#include <QDir>
#include <QFile>
#include <atomic>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <sys/syscall.h>
#include <time.h>
#include <ucontext.h>
#include <unistd.h>

// Everything below the handler runs inside a signal handler: system calls,
// static buffers and our own formatting only (no Qt, no malloc, no locks).

namespace
{

const int k_signals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};

// Set once by init on the GUI thread before the handler is installed.
int g_dump_dir = -1;
char g_dump_path[4096];
// The thread id of the thread writing the dump; 0 while none does.
std::atomic<long> g_dumping_thread{0};

alignas(16) char g_alt_stack[128 * 1024];
// The memory map, read at crash time; large enough for a web engine process.
char g_maps[2 * 1024 * 1024];
size_t g_maps_len = 0;

struct Range {
    uintptr_t start, end;
    size_t path;     // offset of the mapped file's name in g_maps
    size_t path_len; // 0: anonymous
    bool exec, read;
};
Range g_ranges[16384];
size_t g_range_count = 0;

// Output through a small buffer so the dump costs few write calls.
struct Out {
    int fd;
    char buf[4096];
    size_t len;
};

void out_flush(Out *o)
{
    size_t done = 0;
    while (done < o->len) {
        ssize_t n = write(o->fd, o->buf + done, o->len - done);
        if (n <= 0)
            break;
        done += (size_t)n;
    }
    o->len = 0;
}

void out_bytes(Out *o, const char *p, size_t n)
{
    while (n > 0) {
        if (o->len == sizeof(o->buf))
            out_flush(o);
        size_t room = sizeof(o->buf) - o->len;
        size_t take = n < room ? n : room;
        memcpy(o->buf + o->len, p, take);
        o->len += take;
        p += take;
        n -= take;
    }
}

void out_str(Out *o, const char *s)
{
    out_bytes(o, s, strlen(s));
}

void out_hex(Out *o, uint64_t v)
{
    char t[18] = {'0', 'x'};
    for (int i = 0; i < 16; i++)
        t[2 + i] = "0123456789abcdef"[(v >> (60 - 4 * i)) & 0xf];
    out_bytes(o, t, sizeof(t));
}

void out_dec(Out *o, long long v)
{
    char t[24];
    int n = 0;
    bool neg = v < 0;
    unsigned long long u = neg ? 0ULL - (unsigned long long)v : (unsigned long long)v;
    do {
        t[n++] = (char)('0' + u % 10);
        u /= 10;
    } while (u != 0);
    if (neg)
        t[n++] = '-';
    char r[24];
    for (int i = 0; i < n; i++)
        r[i] = t[n - 1 - i];
    out_bytes(o, r, (size_t)n);
}

const char *signal_name(int sig)
{
    switch (sig) {
    case SIGSEGV:
        return "SIGSEGV";
    case SIGBUS:
        return "SIGBUS";
    case SIGILL:
        return "SIGILL";
    case SIGFPE:
        return "SIGFPE";
    case SIGABRT:
        return "SIGABRT";
    default:
        return "?";
    }
}

void make_uuid(char out[37])
{
    unsigned char b[16];
    long got = syscall(SYS_getrandom, b, sizeof(b), 1 /* GRND_NONBLOCK */);
    if (got != (long)sizeof(b)) {
        struct timespec ts;
        clock_gettime(CLOCK_REALTIME, &ts);
        uint64_t x = (uint64_t)ts.tv_nsec ^ ((uint64_t)ts.tv_sec << 20) ^ (uint64_t)getpid();
        for (int i = 0; i < 16; i++) {
            x ^= x << 13;
            x ^= x >> 7;
            x ^= x << 17;
            b[i] = (unsigned char)x;
        }
    }
    b[6] = (unsigned char)((b[6] & 0x0f) | 0x40); // version 4
    b[8] = (unsigned char)((b[8] & 0x3f) | 0x80); // RFC 4122 variant
    int n = 0;
    for (int i = 0; i < 16; i++) {
        if (i == 4 || i == 6 || i == 8 || i == 10)
            out[n++] = '-';
        out[n++] = "0123456789abcdef"[b[i] >> 4];
        out[n++] = "0123456789abcdef"[b[i] & 0xf];
    }
    out[n] = '\0';
}

uintptr_t parse_hex(const char *p, const char *end, const char **next)
{
    uintptr_t v = 0;
    while (p < end) {
        char c = *p;
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else
            break;
        v = (v << 4) | (uintptr_t)d;
        p++;
    }
    *next = p;
    return v;
}

// "start-end perms offset dev inode   path"
void read_maps()
{
    g_maps_len = 0;
    g_range_count = 0;
    int fd = open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return;
    while (g_maps_len < sizeof(g_maps)) {
        ssize_t n = read(fd, g_maps + g_maps_len, sizeof(g_maps) - g_maps_len);
        if (n <= 0)
            break;
        g_maps_len += (size_t)n;
    }
    close(fd);
    const char *p = g_maps;
    const char *end = g_maps + g_maps_len;
    while (p < end && g_range_count < sizeof(g_ranges) / sizeof(g_ranges[0])) {
        const char *eol = (const char *)memchr(p, '\n', (size_t)(end - p));
        if (eol == nullptr)
            eol = end;
        Range r = {};
        const char *q;
        r.start = parse_hex(p, eol, &q);
        if (q < eol && *q == '-') {
            r.end = parse_hex(q + 1, eol, &q);
            if (eol - q >= 5) {
                r.read = q[1] == 'r';
                r.exec = q[3] == 'x';
            }
            // The path starts at the first '/' or '[' after the five fields.
            int fields = 0;
            while (q < eol && fields < 5) {
                while (q < eol && *q == ' ')
                    q++;
                while (q < eol && *q != ' ')
                    q++;
                fields++;
            }
            while (q < eol && *q == ' ')
                q++;
            r.path = (size_t)(q - g_maps);
            r.path_len = (size_t)(eol - q);
            g_ranges[g_range_count++] = r;
        }
        p = eol + 1;
    }
}

const Range *range_of(uintptr_t a)
{
    for (size_t i = 0; i < g_range_count; i++)
        if (a >= g_ranges[i].start && a < g_ranges[i].end)
            return &g_ranges[i];
    return nullptr;
}

void out_frame(Out *o, int index, uintptr_t a)
{
    out_str(o, "frame ");
    out_dec(o, index);
    out_str(o, " ");
    out_hex(o, a);
    const Range *r = range_of(a);
    if (r != nullptr && r->path_len > 0) {
        out_str(o, " ");
        out_bytes(o, g_maps + r->path, r->path_len);
        out_str(o, " +");
        out_hex(o, a - r->start);
    }
    out_str(o, "\n");
}

void write_dump(int fd, int sig, siginfo_t *info, void *uctx)
{
    static Out o;
    o.fd = fd;
    o.len = 0;
    read_maps();
    out_str(&o, "Tarvex crash dump\nsignal ");
    out_dec(&o, sig);
    out_str(&o, " ");
    out_str(&o, signal_name(sig));
    out_str(&o, "\ncode ");
    out_dec(&o, info != nullptr ? info->si_code : 0);
    out_str(&o, "\naddress ");
    out_hex(&o, info != nullptr ? (uint64_t)(uintptr_t)info->si_addr : 0);
    out_str(&o, "\npid ");
    out_dec(&o, getpid());
    out_str(&o, "\nthread ");
    out_dec(&o, syscall(SYS_gettid));
    out_str(&o, "\n");

    uintptr_t sp = (uintptr_t)&o; // a fallback: somewhere on our own stack
    uintptr_t pc = 0;
#if defined(__x86_64__)
    if (uctx != nullptr) {
        const auto *uc = static_cast<const ucontext_t *>(uctx);
        static const struct {
            const char *name;
            int reg;
        } regs[] = {{"rax", REG_RAX}, {"rbx", REG_RBX},   {"rcx", REG_RCX}, {"rdx", REG_RDX},
                    {"rsi", REG_RSI}, {"rdi", REG_RDI},   {"rbp", REG_RBP}, {"rsp", REG_RSP},
                    {"r8", REG_R8},   {"r9", REG_R9},     {"r10", REG_R10}, {"r11", REG_R11},
                    {"r12", REG_R12}, {"r13", REG_R13},   {"r14", REG_R14}, {"r15", REG_R15},
                    {"rip", REG_RIP}, {"eflags", REG_EFL}};
        out_str(&o, "registers\n");
        for (const auto &r : regs) {
            out_str(&o, r.name);
            out_str(&o, " ");
            out_hex(&o, (uint64_t)uc->uc_mcontext.gregs[r.reg]);
            out_str(&o, "\n");
        }
        sp = (uintptr_t)uc->uc_mcontext.gregs[REG_RSP];
        pc = (uintptr_t)uc->uc_mcontext.gregs[REG_RIP];
    }
#else
    (void)uctx;
#endif

    // The faulting instruction, then every word on the crashed thread's stack
    // that points into executable code: the return addresses of the frames
    // (with some stale ones, as any stack scan finds).
    out_str(&o, "frames\n");
    int index = 0;
    if (pc != 0)
        out_frame(&o, index++, pc);
    const Range *stack = range_of(sp);
    if (stack != nullptr && stack->read) {
        uintptr_t limit = stack->end;
        if (limit - sp > 256 * 1024)
            limit = sp + 256 * 1024;
        for (uintptr_t a = sp & ~(uintptr_t)7; a + 8 <= limit && index < 128; a += 8) {
            uintptr_t word;
            memcpy(&word, (const void *)a, sizeof(word));
            const Range *r = range_of(word);
            if (r != nullptr && r->exec)
                out_frame(&o, index++, word);
        }
    }
    out_str(&o, "maps\n");
    out_bytes(&o, g_maps, g_maps_len);
    out_flush(&o);
}

void restore_and_raise(int sig)
{
    struct sigaction dfl;
    memset(&dfl, 0, sizeof(dfl));
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    sigaction(sig, &dfl, nullptr);
    // Pending until the handler returns; a fault also recurs on return.
    raise(sig);
}

void crash_signal(int sig, siginfo_t *info, void *uctx)
{
    const long self = syscall(SYS_gettid);
    long expected = 0;
    if (!g_dumping_thread.compare_exchange_strong(expected, self)) {
        if (expected == self) {
            // A fault inside the dump itself: end by this signal at once.
            restore_and_raise(sig);
            return;
        }
        // Another thread is writing the dump and then ends the process.
        for (;;) {
            struct timespec ts = {1, 0};
            nanosleep(&ts, nullptr);
        }
    }
    char id[37];
    make_uuid(id);
    char name[48];
    memcpy(name, id, 36);
    memcpy(name + 36, ".dmp", 5);
    bool ok = false;
    if (g_dump_dir >= 0) {
        int fd = openat(g_dump_dir, name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0) {
            write_dump(fd, sig, info, uctx);
            ok = true;
            close(fd);
        }
    }
    CrashHandler::dumpCallback(g_dump_path, id, nullptr, info, nullptr, ok);
    restore_and_raise(sig);
}

} // namespace

CrashHandler *CrashHandler::instance()
{
    static CrashHandler handler; // thread-safe one-time initialisation
    return &handler;
}

bool CrashHandler::init(const QString &dumpPath)
{
    if (m_initialised)
        return installed();
    m_initialised = true;
    const QByteArray path = QFile::encodeName(QDir(dumpPath).absolutePath());
    const size_t n = (size_t)path.size() < sizeof(g_dump_path) - 1 ? (size_t)path.size()
                                                                   : sizeof(g_dump_path) - 1;
    memcpy(g_dump_path, path.constData(), n);
    g_dump_path[n] = '\0';
    g_dump_dir = open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);

    // A stack overflow leaves no stack to run on: the GUI thread's handler
    // runs on a stack of its own.
    stack_t ss;
    memset(&ss, 0, sizeof(ss));
    ss.ss_sp = g_alt_stack;
    ss.ss_size = sizeof(g_alt_stack);
    (void)sigaltstack(&ss, nullptr);

    struct sigaction sa;
    memset(&sa, 0, sizeof(sa));
    sa.sa_sigaction = crash_signal;
    sa.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&sa.sa_mask);
    for (int sig : k_signals)
        sigaddset(&sa.sa_mask, sig);
    bool all = true;
    for (int sig : k_signals)
        all = sigaction(sig, &sa, nullptr) == 0 && all;
    return all && g_dump_dir >= 0;
}

bool CrashHandler::installed()
{
    for (int sig : k_signals) {
        struct sigaction now;
        if (sigaction(sig, nullptr, &now) != 0 || !(now.sa_flags & SA_SIGINFO) ||
            now.sa_sigaction != crash_signal)
            return false;
    }
    return true;
}

bool CrashHandler::dumpCallback(const char *dumpPath, const char *minidumpId, void *context,
                                void *exceptionInfo, void *assertion, bool succeeded)
{
    (void)dumpPath;
    (void)minidumpId;
    (void)context;
    (void)exceptionInfo;
    (void)assertion;
    (void)succeeded;
    static const char text[] = "BreakpadQt crash\n";
    ssize_t n = write(STDERR_FILENO, text, sizeof(text) - 1);
    (void)n;
    return true;
}
