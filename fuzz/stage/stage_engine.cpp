#include "hal_log.h"
#include "hal_time.h"
#include "lirko.h"
#include "stage.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string>
#include <unistd.h>

namespace
{

std::string g_dir;

void remove_dir()
{
    // Only what the engine leaves there: its log and settings.
    for (const char *name : {"kvptt.log", "custom.ini"})
        (void)unlink((g_dir + "/" + name).c_str());
    (void)rmdir(g_dir.c_str());
}

} // namespace

lirko_t *stage_engine(void)
{
    static lirko_t *engine = [] {
        const char *tmp = getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/ptt-fuzz-XXXXXX";
        char *back = getcwd(nullptr, 0);
        // The engine opens its log in the working directory, and libFuzzer
        // reads the corpus relative to it: the scratch folder is the working
        // directory only while the engine is made.
        if (!back || !mkdtemp(pattern.data()) || chdir(pattern.c_str()) != 0) {
            perror("fuzz scratch folder");
            abort();
        }
        g_dir = pattern;
        atexit(remove_dir);
        hal_clock_fake_enable(1'000'000);
        // What the engine logs while it starts goes to its log file only.
        fflush(stdout);
        int out = dup(1);
        int null = open("/dev/null", O_WRONLY);
        if (out >= 0 && null >= 0)
            dup2(null, 1);
        lirko_t *e = lirko_new(g_dir.c_str());
        fflush(stdout);
        if (out >= 0 && null >= 0)
            dup2(out, 1);
        if (out >= 0)
            close(out);
        if (null >= 0)
            close(null);
        if (!e || chdir(back) != 0) {
            fprintf(stderr, "lirko_new failed\n");
            abort();
        }
        free(back);
        // Millions of runs would fill the disk and spend their time writing.
        hal_log_set_priority(e->log, 8);
        return e;
    }();
    return engine;
}
