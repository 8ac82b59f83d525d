// A group's member answer at scale: the time from a QueryMembersAck2 frame
// being handed to the loopback link to its members standing in the cache in
// display order and the application's member-list callback having run, for
// 500, 2,000 and 5,000 members. The engine logs errors only ("log:6"), so
// the results are not buried in its lines; with PTT_BENCH_ENGINE_LOG=1 each
// size also runs at the engine's default threshold, every line to standard
// output and kvptt.log ("log:2"), which measures what the log costs.
// Medians on the development machine (8 cores, heavily shared), before and
// after the cache's uid index over the member lists: 500 members 1.7 ->
// 1.6 ms, 2,000 members 42 -> 2.1 ms, 5,000 members 349 -> 14 ms.
// Run: build/bench/bench_core --benchmark_repetitions=5
//      --benchmark_report_aggregates_only=true   (read the medians)
#include "hal_log.h"
#include "hal_time.h"
#include "lirko.h"
#include "lirko_win.h"
#include "lirko_win_frame.h"
#include "ptt_rr.pb-c.h"
#include "ptt_server.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using ptt::test::PttServer;

namespace
{

constexpr uint32_t GID = 2001;

std::mutex g_m;
std::condition_variable g_cv;
int g_lists = 0;

void on_memberlist(gid_t gid)
{
    if (gid != GID)
        return;
    std::lock_guard<std::mutex> lock(g_m);
    g_lists++;
    g_cv.notify_all();
}

bool wait_lists(int n)
{
    std::unique_lock<std::mutex> lock(g_m);
    return g_cv.wait_for(lock, std::chrono::seconds(30), [&] { return g_lists >= n; });
}

std::string directory(uint32_t members)
{
    std::ostringstream d;
    d << "user 1000 dispatcher EFE0EF527057A704259299FD98908DFA 9 Dispatcher\n";
    d << "group " << GID << " 1 0 Patrol\n";
    d << "online";
    for (uint32_t u = 1; u <= members; u += 2)
        d << " " << 20000 + u;
    d << "\n";
    for (uint32_t u = 1; u <= members; u++) {
        d << "user " << 20000 + u << " u" << u << " 5F807E1813957BD22B735FDD1349A961 1 member " << u
          << "\n";
        d << "member " << GID << " " << 20000 + u << (u % 3 ? " in" : " out") << "\n";
    }
    return d.str();
}

// The member answer the server would send for the group, as one frame.
ptt::test::Bytes members_frame(const ptt::test::Directory &dir, bool broad)
{
    std::vector<Ptt__User> users;
    std::vector<Ptt__Member> members;
    for (const auto &m : dir.members_of(GID)) {
        const auto &u = dir.users.at(m.uid);
        Ptt__User r = PTT__USER__INIT;
        r.uid = u.uid;
        r.name = const_cast<char *>(u.name.c_str());
        r.has_role = 1;
        r.role = u.role;
        r.has_online = 1;
        r.online = dir.is_online(u.uid);
        users.push_back(r);
    }
    members.resize(users.size());
    std::vector<Ptt__Member *> mp;
    size_t i = 0;
    for (const auto &m : dir.members_of(GID)) {
        ptt__member__init(&members[i]);
        members[i].user = &users[i];
        members[i].has_ingroup = 1;
        members[i].ingroup = m.ingroup;
        mp.push_back(&members[i]);
        i++;
    }
    Ptt__GroupMembers2 gm = PTT__GROUP_MEMBERS2__INIT;
    gm.gid = GID;
    gm.n_members = mp.size();
    gm.members = mp.data();
    Ptt__GroupMembers2 *gms[] = {&gm};
    Ptt__Rr__QueryMembersAck2 ack = PTT__RR__QUERY_MEMBERS_ACK2__INIT;
    ack.n_members = 1;
    ack.members = gms;
    return ptt::test::pack_frame(ack.base, broad, true);
}

int set_log_priority(lirko_t *engine, void *arg)
{
    return hal_log_set_priority(engine->log, *(int *)arg);
}

void BM_MembersAnswerToCallback(benchmark::State &state)
{
    const uint32_t members = (uint32_t)state.range(0);
    const int log_priority = (int)state.range(1);
    fs::path dir = fs::temp_directory_path() / ("ptt-bench-" + std::to_string(getpid()));
    fs::create_directories(dir);
    fs::path old = fs::current_path();
    fs::current_path(dir);
    // The real name table lives in the build's run folder, beside bench/.
    fs::path pinyin =
        fs::read_symlink("/proc/self/exe").parent_path().parent_path() / "run" / "pinyin.code";
    if (fs::exists(pinyin))
        fs::copy_file(pinyin, dir / "pinyin.code", fs::copy_options::overwrite_existing);
    std::ofstream(dir / "directory.txt") << directory(members);

    PttServer::Options options;
    options.directory = (dir / "directory.txt").string();
    PttServer server(options);
    hal_clock_fake_enable(40'000'000);
    server.set_clock([] { return hal_time_now(); });
    std::string error;
    if (!server.start(&error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    std::ofstream(dir / "custom.ini") << "[network]\ndns = " << server.dns_entry() << "\n";
    lirko_win_on_load(dir.c_str());
    int priority = log_priority;
    lirko_win_run(set_log_priority, &priority, -1);
    lirko_win_set_memberlist_cb(on_memberlist);
    g_lists = 0;
    lirko_win_login("dispatcher", "dispatcher-pw", 0);
    for (int i = 0; i < 20 && lirko_win_getOnlineStatus() != LIRKO_STATUS_ONLINE; i++) {
        hal_clock_fake_advance(500);
        lirko_win_getOnlineStatus();
        server.sync();
        lirko_win_getOnlineStatus();
    }
    // The login's own member query loads the group once.
    if (!wait_lists(1)) {
        state.SkipWithError("no member list after login");
    }
    const ptt::test::Bytes frame = members_frame(server.directory(), false);
    for (auto _ : state) {
        int before;
        {
            std::lock_guard<std::mutex> lock(g_m);
            before = g_lists;
        }
        auto t0 = std::chrono::steady_clock::now();
        server.push_raw(frame);
        if (!wait_lists(before + 1)) {
            state.SkipWithError("member list callback did not come");
            break;
        }
        auto t1 = std::chrono::steady_clock::now();
        state.SetIterationTime(std::chrono::duration<double>(t1 - t0).count());
    }
    state.counters["members"] = members;
    lirko_win_on_unload();
    server.stop();
    hal_clock_fake_disable();
    fs::current_path(old);
    fs::remove_all(dir);
}

// Sizes, each with the engine log at errors only and, when asked for, at
// every line.
void members_and_log(benchmark::internal::Benchmark *b)
{
    const char *asked = getenv("PTT_BENCH_ENGINE_LOG");
    const bool every_line = asked && strcmp(asked, "1") == 0;
    for (int members : {500, 2000, 5000}) {
        b->Args({members, HAL_LOG_ERROR});
        if (every_line)
            b->Args({members, HAL_LOG_VERBOSE});
    }
}

} // namespace

BENCHMARK(BM_MembersAnswerToCallback)
    ->Apply(members_and_log)
    ->ArgNames({"members", "log"})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10);
