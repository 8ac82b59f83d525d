// GetMemberList over 500 and 5,000 members with mixed Chinese and Latin
// names, the reading table loaded as the console loads it.
#include "jscontext.h"
#include "lirko_standin.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <cstdio>

namespace
{

void FillMembers(int n)
{
    static const char *const kNames[] = {"张伟", "王芳", "Li Na", "刘洋", "zhao",
                                         "陈静", "10队", "Yang",  "黄磊", "周杰"};
    standin::Reset();
    for (int i = 0; i < n; i++) {
        win_member_t m{};
        m.gid = 9;
        m.uid = static_cast<uid_t>(1000 + i);
        m.online = (i % 3) ? 3 : 1;
        m.ingroup = (i % 5) ? 1 : 0;
        m.sort_weight = i % 7;
        m.role = (i % 11) ? 0 : 3;
        snprintf(m.name, sizeof(m.name), "%s%d", kNames[i % 10], i);
        standin::S().members.push_back(m);
    }
}

void BM_GetMemberList(benchmark::State &state)
{
    FillMembers(static_cast<int>(state.range(0)));
    JsContext js;
    if (js.readingTable().isEmpty())
        state.SkipWithError("py.res not loaded");
    for (auto _ : state) {
        QString json = js.GetMemberList(9);
        benchmark::DoNotOptimize(json);
        standin::S().calls.clear();
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_GetMemberList)->Arg(500)->Arg(5000)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    // The per-call log lines would measure the terminal, not the getter.
    qputenv("QT_LOGGING_RULES", "*.debug=false");
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    QFile::copy(QStringLiteral(PTT_RUN_DIR "/py.res"), QStringLiteral("py.res"));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
