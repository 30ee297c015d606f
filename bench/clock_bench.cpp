// The handset clock: the cost of a virtual-time jump, and of a day of watch periods.
#include <benchmark/benchmark.h>

#include "platform/handset/core/clock.h"
#include "platform/handset/core/kernel.h"
#include "platform/winbase.h"

namespace {

// One participant sleeping: every Sleep is one jump of virtual time.
void BM_VirtualSleep(benchmark::State& state) {
    handset::clock().configure(handset::ClockKind::Virtual);
    handset::Participation self;
    for (auto _ : state) Sleep(3000);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_VirtualSleep);

// 24 hours of handset time in 3 s sleeps (28,800 jumps), as one iteration.
void BM_VirtualDayOfSleeps(benchmark::State& state) {
    handset::clock().configure(handset::ClockKind::Virtual);
    handset::Participation self;
    for (auto _ : state) {
        for (int i = 0; i < 28800; ++i) Sleep(3000);
    }
}
BENCHMARK(BM_VirtualDayOfSleeps)->Unit(benchmark::kMillisecond);

// Two threads handing an auto-reset event back and forth: the cost of a wake-up.
void BM_EventPingPong(benchmark::State& state) {
    handset::clock().configure(handset::ClockKind::Virtual);
    handset::Participation self;
    HANDLE ping = CreateEvent(nullptr, FALSE, FALSE, nullptr);
    HANDLE pong = CreateEvent(nullptr, FALSE, FALSE, nullptr);
    bool stop = false;
    auto peer = handset::start_thread([&] {
        while (WaitForSingleObject(ping, INFINITE) == WAIT_OBJECT_0 && !stop) SetEvent(pong);
        return 0u;
    });
    for (auto _ : state) {
        SetEvent(ping);
        WaitForSingleObject(pong, INFINITE);
    }
    stop = true;
    SetEvent(ping);
    HANDLE h = handset::make_handle(peer);
    WaitForSingleObject(h, INFINITE);
    CloseHandle(h);
    CloseHandle(ping);
    CloseHandle(pong);
}
BENCHMARK(BM_EventPingPong);

}  // namespace

BENCHMARK_MAIN();
