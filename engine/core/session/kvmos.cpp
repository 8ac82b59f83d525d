#include "kvmos.h"

#include "hal_log.h"
#include "hal_time.h"
#include "lirko.h"
#include "list.h"
#include "ptt_net.pb-c.h"

#include <math.h>
#include <stdlib.h>

static const char *TAG = "kvmos";

static hal_log *log_of(const kvmos *k)
{
    return k && k->engine ? k->engine->log : NULL;
}

static void free_samples(list *samples)
{
    void *s;
    while ((s = list_pop_front(samples)) != NULL)
        free(s);
}

static void free_factor_list(kvmos_factor_list *f)
{
    if (!f)
        return;
    if (f->samples) {
        free_samples(f->samples);
        list_del(f->samples);
    }
    free(f);
}

kvmos *kvmos_new(lirko_t *engine)
{
    kvmos *k = (kvmos *)calloc(1, sizeof(*k));
    if (!k)
        return NULL;
    k->engine = engine;
    k->factor_lists = list_new();
    if (!k->factor_lists) {
        free(k);
        return NULL;
    }
    return k;
}

void kvmos_destroy(kvmos **pk)
{
    if (!pk || !*pk)
        return;
    kvmos *k = *pk;
    kvmos_factor_list *f;
    while ((f = (kvmos_factor_list *)list_pop_front(k->factor_lists)) != NULL)
        free_factor_list(f);
    list_del(k->factor_lists);
    free(k);
    *pk = NULL;
}

kvmos_factor_list *kvmos_construct(kvmos *k)
{
    hal_log_output(log_of(k), HAL_LOG_DEBUG, TAG, "%s", "kvmos_construct");
    if (!k)
        return NULL;
    if (k->capacity == 0)
        k->capacity = KVMOS_DEFAULT_CAPACITY;
    kvmos_factor_list *f = (kvmos_factor_list *)calloc(1, sizeof(*f));
    if (!f)
        return NULL;
    f->samples = list_new();
    if (!f->samples || list_push_back(k->factor_lists, f) != 0) {
        free_factor_list(f);
        return NULL;
    }
    k->mos_count += 1;
    return f;
}

void kvmos_deconstruct(kvmos *k, kvmos_factor_list *f)
{
    hal_log_output(log_of(k), HAL_LOG_DEBUG, TAG, "%s", "kvmos_deconstruct");
    if (!k || !f)
        return;
    for (list_node *n = list_begin(k->factor_lists); n; n = list_next(n)) {
        if (list_data_get(n) == f) {
            list_remove_at(k->factor_lists, n);
            k->removed_sum += f->mos;
            k->removed_count += 1;
            k->mos_count -= 1;
            free_factor_list(f);
            break;
        }
    }
    if (list_count(k->factor_lists) == 0)
        k->base_seq = 0;
}

uint32_t kvmos_make_seq(kvmos *k, kvmos_factor_list *f)
{
    if (!k || !f)
        return 0;
    if (f->seq == 0) {
        if (k->base_seq == 0)
            k->base_seq = ((uint32_t)hal_time_now() % 256) + 400;
        f->seq = k->base_seq;
    } else {
        f->seq += 1;
    }
    hal_log_output(log_of(k), HAL_LOG_DEBUG, TAG, "%s seq:%d", "kvmos_make_seq", (int)f->seq);
    return f->seq;
}

void kvmos_set_factors(kvmos *k, kvmos_factor_list *f, const Ptt__Net__Pong *pong)
{
    if (!k || !f || !pong)
        return;
    int32_t latency = 0;
    if (pong->has_timestamp) {
        uint32_t now_ms = (uint32_t)(uint64_t)(hal_time_now() * 1000.0);
        latency = (int32_t)(now_ms - pong->timestamp);
        hal_log_output(log_of(k), HAL_LOG_DEBUG, TAG, "session gid:%d,Ping in %u ms",
                       (int)pong->gid, (unsigned)latency);
    }
    kvmos_sample *s = (kvmos_sample *)malloc(sizeof(*s));
    if (!s)
        return;
    s->latency = latency & 0xFFFF;
    s->seq = (int32_t)pong->seq;
    hal_log_output(log_of(k), HAL_LOG_DEBUG, TAG, "%s latency:%d seq:%d", "kvmos_set_factors",
                   s->latency, s->seq);
    hal_log_output(log_of(k), HAL_LOG_DEBUG, TAG, "%s factor_list count:%d", "kvmos_set_factors",
                   (int)list_count(f->samples));
    if (list_count(f->samples) >= k->capacity) {
        f->mos = kvmos_process(k, f);
        free(list_pop_front(f->samples));
    }
    if (list_push_back(f->samples, s) != 0)
        free(s);
}

float kvmos_process(kvmos *k, kvmos_factor_list *f)
{
    hal_log *log = log_of(k);
    uint32_t n = f ? (uint32_t)list_count(f->samples) : 0;
    hal_log_output(log, HAL_LOG_DEBUG, TAG, "%s factor_list count:%d", "kvmos_process", (int)n);
    int64_t latencies = 0, jitters = 0;
    const kvmos_sample *first = NULL, *prev = NULL;
    for (list_node *node = f ? list_begin(f->samples) : NULL; node; node = list_next(node)) {
        const kvmos_sample *s = (const kvmos_sample *)list_data_get(node);
        latencies += s->latency;
        if (prev)
            jitters += llabs((long long)s->latency - prev->latency);
        else
            first = s;
        prev = s;
    }
    hal_log_output(log, HAL_LOG_DEBUG, TAG, "%s count:%d, jitters:%d, latencys:%d", "kvmos_process",
                   (int)n, (int)jitters, (int)latencies);
    // No sample at all scores as a path with no delay and no loss.
    double average_latency = n > 0 ? (double)latencies / n : 0.0;
    double average_jitter = 0.0, packet_loss = 0.0;
    if (n > 1) {
        average_jitter = (double)jitters / (n - 1);
        uint32_t span = (uint32_t)prev->seq - (uint32_t)first->seq + 1;
        uint32_t expected = span > n ? span : n;
        packet_loss = (double)(expected - n) / expected;
        hal_log_output(log, HAL_LOG_DEBUG, TAG,
                       "%s count:%d, begin_seq:%d,last_seq:%d, packet_send:%d", "kvmos_process",
                       (int)n, first->seq, prev->seq, (int)expected);
    }
    hal_log_output(log, HAL_LOG_DEBUG, TAG,
                   "%s average_jitter:%f, average_latency:%f,packet_loss:%f", "kvmos_process",
                   average_jitter, average_latency, packet_loss);
    double el = average_jitter + average_latency + 10.0;
    double impairment = el >= 160.0 ? (el - 120.0) / 10.0 : el / 40.0;
    double r = 93.2 - impairment - packet_loss * 2.5;
    double mos;
    if (r <= 0)
        mos = 1.0;
    else if (r >= 100.0)
        mos = 4.5;
    else
        mos = 1.0 + 0.035 * r + 0.000007 * r * (r - 60.0) * (100.0 - r);
    hal_log_output(log, HAL_LOG_DEBUG, TAG, "%s mos:%f", "kvmos_process", mos);
    return (float)mos;
}

int kvmos_get_mos_value(kvmos *k)
{
    if (!k)
        return 0;
    double total = k->removed_sum;
    int32_t count = k->removed_count;
    for (list_node *n = list_begin(k->factor_lists); n; n = list_next(n)) {
        kvmos_factor_list *f = (kvmos_factor_list *)list_data_get(n);
        if (list_count(f->samples) < k->capacity)
            f->mos = kvmos_process(k, f);
        total += f->mos;
        count += 1;
    }
    hal_log_output(log_of(k), HAL_LOG_DEBUG, TAG, "%s total:%f, mos_count:%d",
                   "kvmos_get_mos_value", total, (int)count);
    double m = count > 0 ? total / count : total;
    int type;
    if (m < 1.0)
        type = 0;
    else if (m < 2.0)
        type = 1;
    else if (m < 3.0)
        type = 2;
    else if (m < 4.0)
        type = 3;
    else if (m < 5.0)
        type = 4;
    else
        type = 5;
    hal_log_output(log_of(k), HAL_LOG_DEBUG, TAG, "%s mos ret:%f, type:%d", "kvmos_get_mos_value",
                   m, type);
    k->removed_sum = 0;
    k->removed_count = 0;
    return type;
}
