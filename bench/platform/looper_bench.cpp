// Looper entry costs: the round trip of a synchronous call from another
// thread, and how many events per second posting threads get through.
#include "hal_looper.h"

#include <atomic>
#include <benchmark/benchmark.h>

namespace
{

int add_one(hal_looper *, void *arg)
{
    return *static_cast<int *>(arg) + 1;
}

// The looper is shared by every benchmark thread; made by thread 0.
hal_looper *g_looper = nullptr;
std::atomic<long> g_delivered{0};

void count_event(hal_looper *, hal_looper_event *, void *, hal_looper_processor *)
{
    g_delivered.fetch_add(1, std::memory_order_relaxed);
}

int drain_marker(hal_looper *, void *)
{
    return 0;
}

void BM_ExecRoundTrip(benchmark::State &state)
{
    hal_looper *lp = hal_looper_new(nullptr, nullptr);
    int v = 41;
    for (auto _ : state) {
        int r = hal_looper_exec(lp, add_one, &v);
        benchmark::DoNotOptimize(r);
    }
    hal_looper_destroy(&lp);
}
BENCHMARK(BM_ExecRoundTrip)->UseRealTime();

// Each iteration posts a batch of events from every benchmark thread and
// waits until the looper has delivered them, so the rate counts delivered
// events, not just queued ones.
constexpr int kBatch = 1000;

void BM_PostThroughput(benchmark::State &state)
{
    if (state.thread_index() == 0) {
        g_looper = hal_looper_new(nullptr, nullptr);
        hal_looper_processer_args sub{"bench", count_event, nullptr};
        hal_looper_exec(g_looper, hal_looper_routine_add_processer, &sub);
    }
    hal_looper_event ev{};
    ev.name = const_cast<char *>("bench");
    for (auto _ : state) {
        for (int i = 0; i < kBatch; i++)
            hal_looper_post_event(g_looper, &ev, nullptr);
        // The second call is served in a later cycle than the first, after
        // the events step that delivered this thread's batch.
        hal_looper_exec(g_looper, drain_marker, nullptr);
        hal_looper_exec(g_looper, drain_marker, nullptr);
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
    if (state.thread_index() == 0)
        hal_looper_destroy(&g_looper);
}
BENCHMARK(BM_PostThroughput)->Threads(1)->Threads(4)->UseRealTime();

} // namespace
