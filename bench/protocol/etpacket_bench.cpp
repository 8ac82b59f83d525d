// Frames packed and read per second, for the smallest message the engine
// sends all the time (Ping) and a large directory reply (5,000 members).
// Run: build/bench/bench_protocol --benchmark_repetitions=5
//      --benchmark_report_aggregates_only=true   (read the medians)
#include "etpacket.h"
#include "ptt_net.pb-c.h"
#include "ptt_rr.pb-c.h"

#include <benchmark/benchmark.h>
#include <stdio.h>
#include <stdlib.h>
#include <string>
#include <vector>

namespace
{

struct Fixture {
    etpacket *codec = etpacket_new(0, NULL);
    ~Fixture()
    {
        etpacket_destroy(codec);
        free(codec);
    }
};

// A QueryMembersAck for one group of n members, each with the fields a
// server fills for a directory entry.
struct MembersAck {
    std::vector<Ptt__User> users;
    std::vector<Ptt__User *> user_ptrs;
    std::vector<std::string> names;
    Ptt__GroupMembers group = PTT__GROUP_MEMBERS__INIT;
    Ptt__GroupMembers *groups[1] = {&group};
    Ptt__Rr__QueryMembersAck ack = PTT__RR__QUERY_MEMBERS_ACK__INIT;

    explicit MembersAck(size_t n) : users(n), user_ptrs(n), names(n)
    {
        for (size_t i = 0; i < n; i++) {
            char name[32];
            snprintf(name, sizeof(name), "Dispatcher %05zu", i);
            names[i] = name;
            Ptt__User u = PTT__USER__INIT;
            u.uid = 100000 + (uint32_t)i;
            u.has_timestamp = 1;
            u.timestamp = 1700000000u;
            u.name = (char *)names[i].c_str();
            u.has_online = 1;
            u.online = i % 3 == 0;
            u.has_role = 1;
            u.role = 1;
            u.has_department = 1;
            u.department = 10 + (uint32_t)(i % 50);
            users[i] = u;
            user_ptrs[i] = &users[i];
        }
        group.gid = 42;
        group.n_members = n;
        group.members = user_ptrs.data();
        ack.result = 0;
        ack.n_members = 1;
        ack.members = groups;
    }
};

void run_pack(benchmark::State &state, const ProtobufCMessage *msg)
{
    Fixture f;
    int64_t bytes = 0;
    for (auto _ : state) {
        uint8_t *frame = NULL;
        int32_t n = etpacket_pack(f.codec, &frame, msg, 1);
        if (n <= 0) {
            state.SkipWithError("pack failed");
            break;
        }
        bytes += n;
        benchmark::DoNotOptimize(frame);
        free(frame);
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(bytes);
}

void run_unpack(benchmark::State &state, const ProtobufCMessage *msg)
{
    Fixture f;
    uint8_t *frame = NULL;
    int32_t n = etpacket_pack(f.codec, &frame, msg, 1);
    if (n <= 0) {
        state.SkipWithError("pack failed");
        return;
    }
    for (auto _ : state) {
        ProtobufCMessage *m = NULL;
        if (etpacket_unpack(f.codec, frame, (size_t)n, &m) != (uint32_t)n || !m) {
            state.SkipWithError("unpack failed");
            break;
        }
        benchmark::DoNotOptimize(m);
        protobuf_c_message_free_unpacked(m, NULL);
    }
    free(frame);
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * n);
}

Ptt__Net__Ping make_ping()
{
    Ptt__Net__Ping p = PTT__NET__PING__INIT;
    p.has_timestamp = 1;
    p.timestamp = 123456789;
    p.has_gid = 1;
    p.gid = 42;
    p.has_uid = 1;
    p.uid = 100001;
    p.has_seq = 1;
    p.seq = 7;
    return p;
}

void BM_PackPing(benchmark::State &state)
{
    Ptt__Net__Ping p = make_ping();
    run_pack(state, &p.base);
}

void BM_UnpackPing(benchmark::State &state)
{
    Ptt__Net__Ping p = make_ping();
    run_unpack(state, &p.base);
}

void BM_PackQueryMembersAck5000(benchmark::State &state)
{
    MembersAck a(5000);
    run_pack(state, &a.ack.base);
}

void BM_UnpackQueryMembersAck5000(benchmark::State &state)
{
    MembersAck a(5000);
    run_unpack(state, &a.ack.base);
}

} // namespace

BENCHMARK(BM_PackPing);
BENCHMARK(BM_UnpackPing);
BENCHMARK(BM_PackQueryMembersAck5000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_UnpackQueryMembersAck5000)->Unit(benchmark::kMicrosecond);
