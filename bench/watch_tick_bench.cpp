// The cost of one watch tick of the running program: OnWatchTick for timer 100, with
// its three steps, their registry reads and the mail client's window look-up, as the
// program's own thread runs it.
//
// Method: a phone is set up in-process on a temporary device folder under the virtual
// clock, and Quillon is started on it as the headless front end starts it. The
// benchmark's thread takes part in handset time and never waits in a handset wait, so
// handset time holds still: the watch timer never fires by itself and nothing else runs
// on the program's thread. To run code on that thread, the benchmark posts WM_TIMER
// with a timer procedure in lParam to the main window; the dialog's modal loop
// dispatches it to the procedure, as the platform does for every timer with a
// procedure. The procedure sends WM_TIMER with id 100 to the main window a batch of
// times (a send on the window's own thread is a direct call of the window procedure,
// the same dispatch the modal loop gives an expired timer) and times each call on the
// steady clock. Each benchmark iteration is one of those ticks (manual time), so the
// cross-thread hand-over is not counted; the counter median_ns is the median of all
// ticks timed in the run.
//
// States: "allowed" is the factory phone (3G allowed, so the mail-client step ends at
// its first test); "blocked" has the SKT phone-book entry in its blocked form
// (NoDevCfg/NoEntry), so every tick also looks for the mail client's window. Nothing
// is pending in either: no missed call, no unread SMS.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/main_app.h"
#include "platform/phone/program_host.h"
#include "platform/phone/session.h"
#include "platform/handset/core/clock.h"
#include "platform/handset/devices/devices.h"
#include "platform/windows.h"
#include "platform/winreg.h"
#include "res/resources.h"

// Links the program's image, as the quillon executable does.
void (*g_program_image)() = &InitProcessData;

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr UINT kWatchTimerId = 100;
constexpr int kBatch = 256;

// One batch of ticks, handed from the benchmark's thread to the program's thread.
struct TickBatch {
    HWND window = nullptr;
    std::vector<double> seconds;  // one per tick, filled on the program's thread
    std::mutex mu;
    std::condition_variable cv;
    bool done = false;
};

TickBatch g_batch;

// Runs on the program's thread, dispatched from the main dialog's modal loop.
void RunTickBatch(HWND, UINT, UINT, DWORD) {
    TickBatch& b = g_batch;
    for (double& s : b.seconds) {
        const auto start = SteadyClock::now();
        SendMessageW(b.window, WM_TIMER, kWatchTimerId, 0);
        s = std::chrono::duration<double>(SteadyClock::now() - start).count();
    }
    {
        std::lock_guard lock(b.mu);
        b.done = true;
    }
    b.cv.notify_one();
}

// Moves a phone-book value to another name, as the program's own 3G block does.
bool MoveValue(HKEY key, LPCWSTR from, LPCWSTR to) {
    BYTE data[2048];
    DWORD size = sizeof data;
    if (RegQueryValueExW(key, from, nullptr, nullptr, data, &size) != ERROR_SUCCESS) return false;
    return RegSetValueExW(key, to, 0, REG_BINARY, data, size) == ERROR_SUCCESS &&
           RegDeleteValueW(key, from) == ERROR_SUCCESS;
}

// The emulated phone with Quillon running on it, for the whole benchmark run.
class Phone {
public:
    enum class State { Allowed, Blocked };

    Phone() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "quillon-tickbench-XXXXXX").string();
        if (!mkdtemp(tmpl.data())) fail("cannot make a temporary folder");
        dir_ = tmpl;
        phone::SessionOptions options;
        options.device.folder = dir_ / "device";
        options.clock = handset::ClockKind::Virtual;
        session_ = std::make_unique<phone::Session>(options);
        participation_ = std::make_unique<handset::Participation>();
        handset::start_device_services();
        host_ = std::make_unique<phone::ProgramHost>();
        start();
    }

    ~Phone() {
        std::string error;
        if (host_->running()) host_->quit(error);
        host_.reset();
        handset::stop_device_services();
        participation_.reset();
        session_.reset();
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }

    // Brings the phone into `state`, restarting Quillon when its entry form changes
    // (the program reads the 3G state once, at start).
    void ensure(State state) {
        if (state == state_) return;
        std::string error;
        if (!host_->quit(error)) fail(error);
        HKEY entry = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, u"Comm\\RasBook\\SKT IE GPRS", 0, 0, &entry) != ERROR_SUCCESS)
            fail("the phone has no SKT phone-book entry");
        const bool block = state == State::Blocked;
        const bool moved = MoveValue(entry, block ? u"DevCfg" : u"NoDevCfg", block ? u"NoDevCfg" : u"DevCfg") &&
                           MoveValue(entry, block ? u"Entry" : u"NoEntry", block ? u"NoEntry" : u"Entry");
        RegCloseKey(entry);
        if (!moved) fail("cannot move the phone-book entry");
        start();
        state_ = state;
    }

    // Times `count` watch ticks on the program's thread.
    std::vector<double> ticks(int count) {
        g_batch.window = window_;
        g_batch.seconds.assign(static_cast<std::size_t>(count), 0.0);
        g_batch.done = false;
        if (!PostMessageW(window_, WM_TIMER, 0, reinterpret_cast<LPARAM>(&RunTickBatch)))
            fail("cannot post to the main window");
        std::unique_lock lock(g_batch.mu);
        g_batch.cv.wait(lock, [] { return g_batch.done; });
        return g_batch.seconds;
    }

private:
    [[noreturn]] static void fail(const std::string& why) {
        std::fprintf(stderr, "watch_tick_bench: %s\n", why.c_str());
        std::exit(1);
    }

    void start() {
        std::string error;
        if (!host_->start(std::nullopt, error)) fail("cannot start Quillon: " + error);
        window_ = FindWindowW(nullptr, kMainWindowTitle);
        if (!window_) fail("Quillon has no main window");
    }

    std::filesystem::path dir_;
    std::unique_ptr<phone::Session> session_;
    std::unique_ptr<handset::Participation> participation_;
    std::unique_ptr<phone::ProgramHost> host_;
    HWND window_ = nullptr;
    State state_ = State::Allowed;
};

Phone* g_phone = nullptr;

void BM_WatchTick(benchmark::State& state, Phone::State phone_state) {
    g_phone->ensure(phone_state);
    g_phone->ticks(kBatch);  // warm the caches and the registry's read cache
    std::vector<double> all;
    std::vector<double> batch;
    std::size_t next = 0;
    for (auto _ : state) {
        if (next == batch.size()) {
            batch = g_phone->ticks(kBatch);
            next = 0;
        }
        state.SetIterationTime(batch[next]);
        all.push_back(batch[next]);
        ++next;
    }
    if (!all.empty()) {
        std::nth_element(all.begin(), all.begin() + static_cast<long>(all.size() / 2), all.end());
        state.counters["median_ns"] = all[all.size() / 2] * 1e9;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK_CAPTURE(BM_WatchTick, allowed, Phone::State::Allowed)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_WatchTick, blocked, Phone::State::Blocked)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    {
        Phone phone;
        g_phone = &phone;
        benchmark::RunSpecifiedBenchmarks();
        g_phone = nullptr;
    }
    benchmark::Shutdown();
    return 0;
}
