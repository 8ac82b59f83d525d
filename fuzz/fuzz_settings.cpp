// Fuzzes the settings readers: the engine's INI store (custom.ini) loaded
// from a file, saved, and loaded again, and the console's reading table
// ("py.res") with the sort keys made from it.
//
// Input: a selector byte, then the file. Selector bit 0 clear: custom.ini;
// every pair the load reports must come back from the saved file with the
// same value, so a save never loses a setting it could have kept. Set:
// py.res, whose keys also serve as names to sort.
#include "hal_ini.h"
#include "namesort.h"

#include <QByteArray>
#include <QtGlobal>
#include <map>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string>
#include <unistd.h>
#include <utility>

// The ideographs' initials are generated at build time for the console;
// their values do not matter to the reader.
const char PinyinInitials[PINYIN_INITIALS_SIZE + 1] = {};

namespace
{

void check(bool ok)
{
    if (!ok)
        __builtin_trap();
}

using Pairs = std::map<std::pair<std::string, std::string>, std::string>;

void collect(void *arg, const char *section, const char *key, const char *value)
{
    (*static_cast<Pairs *>(arg))[{section, key}] = value;
}

char g_dir[4096];

void remove_scratch()
{
    (void)unlink((std::string(g_dir) + "/custom.ini").c_str());
    (void)rmdir(g_dir);
}

const char *scratch()
{
    if (!g_dir[0]) {
        const char *tmp = getenv("TMPDIR");
        snprintf(g_dir, sizeof(g_dir), "%s/ptt-fuzz-ini-XXXXXX", tmp && *tmp ? tmp : "/tmp");
        if (!mkdtemp(g_dir))
            abort();
        atexit(remove_scratch);
    }
    return g_dir;
}

void fuzz_ini(const uint8_t *data, size_t size)
{
    const std::string path = std::string(scratch()) + "/custom.ini";
    FILE *f = fopen(path.c_str(), "wb");
    if (!f)
        return;
    bool written = fwrite(data, 1, size, f) == size;
    if (fclose(f) != 0 || !written)
        return;
    hal_ini *ini = hal_ini_new(NULL, NULL, scratch());
    Pairs loaded;
    int r = hal_ini_load(ini, collect, &loaded);
    if (r >= 0) {
        // The last value reported for a key is the one stored.
        for (const auto &kv : loaded) {
            const char *v = hal_ini_find(ini, kv.first.first.c_str(), kv.first.second.c_str());
            check(v && kv.second == v);
        }
        if (hal_ini_save(ini) == 0) {
            hal_ini *again = hal_ini_new(NULL, NULL, scratch());
            check(hal_ini_load(again, NULL, NULL) >= 0);
            for (const auto &kv : loaded) {
                const char *v =
                    hal_ini_find(again, kv.first.first.c_str(), kv.first.second.c_str());
                check(v && kv.second == v);
            }
            hal_ini_destroy(&again);
        }
    }
    hal_ini_destroy(&ini);
}

void fuzz_readings(const uint8_t *data, size_t size)
{
    const QByteArray text(reinterpret_cast<const char *>(data), static_cast<int>(size));
    const ReadingTable table = ParseReadingTable(text);
    int n = 0;
    for (auto it = table.constBegin(); it != table.constEnd() && n < 16; ++it, ++n) {
        const QByteArray name = it.key().toUtf8() + it.value().join(QString()).toUtf8();
        (void)MakePinyinSortKey(name, 1);
        (void)MakeGroupSortKeyBySortId(name, 1, static_cast<uint8_t>(n), table);
        (void)MakeMemberSortKeyBySortId(name, 2, static_cast<uint8_t>(n), 1, table);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    if (data[0] & 1)
        fuzz_readings(data + 1, size - 1);
    else
        fuzz_ini(data + 1, size - 1);
    return 0;
}
