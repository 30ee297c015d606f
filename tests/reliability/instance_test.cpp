// Races between processes of one device: many phones at once, starts and ends in a
// row, and phones killed outright. Whatever happens, one phone holds the device and the
// others are refused, Quillon's single-instance rule decides a second start inside it,
// and nothing a dead or ended phone left in run/ stands in the way.
#include <gtest/gtest.h>
#include <sys/inotify.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <random>

#include "common/child_process.h"
#include "res/resources.h"

namespace reltest {
namespace {

using namespace qtest;

bool has_event(const std::string& line, const std::string& kind, const std::string& title) {
    const Json event = Json::parse(line, nullptr, false);
    return event.is_object() && event.value("ev", "") == kind && event.value("title", "") == title;
}

// Reads `child`'s events until one of `kind` for the main window.
bool main_window_event(Child& child, const std::string& kind) {
    while (const auto line = child.next_line())
        if (has_event(*line, kind, "QUILLON")) return true;
    return false;
}

// Waits until `count` of `children` have ended or `deadline` passes; the number ended.
std::size_t wait_for_ends(std::vector<std::unique_ptr<Child>>& children, std::size_t count,
                          Clock::time_point deadline) {
    for (;;) {
        std::vector<pollfd> fds;
        std::vector<Child*> running;
        for (auto& c : children) {
            if (c->ended()) continue;
            fds.push_back({c->pidfd(), POLLIN, 0});
            running.push_back(c.get());
        }
        const std::size_t ended = children.size() - running.size();
        if (ended >= count) return ended;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return ended;
        if (::poll(fds.data(), fds.size(), static_cast<int>(left)) < 0 && errno != EINTR) return ended;
        for (std::size_t i = 0; i < fds.size(); ++i)
            if (fds[i].revents) running[i]->wait_until(Clock::now());
    }
}

// How often a file named `name` was written in `dir` since the watch began.
class WriteCounter {
public:
    WriteCounter(const fs::path& dir, std::string name) : name_(std::move(name)) {
        fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (fd_ >= 0) ::inotify_add_watch(fd_, dir.c_str(), IN_CLOSE_WRITE | IN_MOVED_TO);
    }
    ~WriteCounter() {
        if (fd_ >= 0) ::close(fd_);
    }
    int count() {
        alignas(inotify_event) char buf[8192];
        for (ssize_t n; (n = ::read(fd_, buf, sizeof buf)) > 0;) {
            for (char* p = buf; p < buf + n;) {
                const auto* e = reinterpret_cast<const inotify_event*>(p);
                if (e->len && name_ == e->name) ++count_;
                p += sizeof(inotify_event) + e->len;
            }
        }
        return count_;
    }

private:
    int fd_ = -1;
    int count_ = 0;
    std::string name_;
};

// Every file below `dir` with its size.
std::map<std::string, std::uintmax_t> files_of(const fs::path& dir) {
    std::map<std::string, std::uintmax_t> out;
    for (const auto& e : fs::recursive_directory_iterator(dir))
        if (e.is_regular_file()) out[fs::relative(e.path(), dir).string()] = e.file_size();
    return out;
}

std::size_t entries_of(const fs::path& dir) {
    std::size_t n = 0;
    for (const auto& e : fs::recursive_directory_iterator(dir)) n += e.is_directory() ? 0 : 1;
    return n;
}

TEST(Instances, TwentyPhonesAtOnceOnANewDeviceLeaveOneResident) {
    TempDir dir;
    const std::string device = (dir / "device").string();
    const fs::path script = dir / "resident.txt";
    write_file(script, "wait 1h\n");
    // An empty folder is a new device too (one whose set-up never finished); it lets the
    // test watch how often the device is set up.
    fs::create_directories(device);
    WriteCounter setups(device, "device.model");

    std::vector<std::unique_ptr<Child>> children;
    const auto started = Clock::now();
    for (int i = 0; i < 20; ++i) {
        children.push_back(std::make_unique<Child>(
            std::vector<std::string>{"--headless", "--device", device, "--clock", "real", "--script", script.string()}));
        ASSERT_TRUE(children.back()->started());
    }
    // One phone holds the device; the others are refused as soon as they find it held.
    const std::size_t ended = wait_for_ends(children, 19, started + kSlowdown * std::chrono::seconds(12));
    ASSERT_EQ(ended, 19u);
    Child* resident = nullptr;
    for (auto& c : children) {
        if (!c->ended()) {
            resident = c.get();
            continue;
        }
        c->drain();
        EXPECT_NE(c->finish(), 0) << c->err();
        EXPECT_NE(c->err().find("is in use by the phone of process"), std::string::npos) << c->err();
        EXPECT_EQ(c->out().find("\"ev\":\"dialog.open\""), std::string::npos)
            << "a refused phone ran the program:\n" << c->out();
    }
    ASSERT_NE(resident, nullptr);
    ASSERT_TRUE(main_window_event(*resident, "window.show")) << resident->err();
    // The device was set up once, not over again under processes already using it, and
    // it holds what a device set up alone holds.
    EXPECT_EQ(setups.count(), 1);
    const fs::path alone = dir / "alone";
    ASSERT_EQ(run_quillon({"--headless", "--device", alone.string(), "--no-start", "--script", "/dev/null"}).status, 0);
    EXPECT_EQ(files_of(fs::path(device) / "fs"), files_of(alone / "fs"));

    // The resident is the one the control socket reaches, and a second start of Quillon
    // inside it meets the running program, which comes to the front.
    const Result controls = run_quillon({"ctl", "--device", device, "controls"});
    ASSERT_EQ(controls.status, 0) << controls.err;
    const auto objects = json_lines(controls.out);
    ASSERT_EQ(objects.size(), 1u) << controls.out;
    EXPECT_EQ(objects[0].value("dialog", 0), IDD_MAIN);

    ASSERT_EQ(run_quillon({"ctl", "--device", device, "press", "back"}).status, 0);
    ASSERT_TRUE(main_window_event(*resident, "window.hide"));
    ASSERT_EQ(run_quillon({"ctl", "--device", device, "start"}).status, 0);
    EXPECT_TRUE(main_window_event(*resident, "window.show"));
    EXPECT_FALSE(resident->ended());
}

// Starts of the test below: 100, or QUILLON_INSTANCE_STARTS. A sanitized build makes 20.
// Each start runs the same code on the virtual clock, so what a sanitizer would report
// of one it reports of the first few; the many starts are there to show leftovers that
// pile up slowly, which the optimised build's 100 show.
int start_count() {
    if (const char* text = std::getenv("QUILLON_INSTANCE_STARTS"); text && *text) return std::max(2, std::atoi(text));
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    return 20;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
    return 20;
#endif
#endif
    return 100;
}

TEST(Instances, ManyStartsAndEndsInARowEachStartAfresh) {
    TempDir dir;
    const std::string device = (dir / "device").string();
    const fs::path script = dir / "quit.txt";
    write_file(script, "quit\n");
    std::size_t leftovers = 0;
    const int starts = start_count();
    for (int run = 0; run < starts; ++run) {
        SCOPED_TRACE("run " + std::to_string(run + 1));
        const Result r = run_quillon({"--headless", "--device", device, "--script", script.string()});
        ASSERT_EQ(r.status, 0) << r.err;
        // A first start: the main window opens and the program ends by its menu command.
        ASSERT_NE(r.out.find("\"ev\":\"dialog.open\",\"id\":102"), std::string::npos) << r.out;
        ASSERT_NE(r.out.find("\"ev\":\"process.exit\""), std::string::npos) << r.out;
        // Ended instances leave no more behind them than the first did.
        if (run == 0) leftovers = entries_of(fs::path(device) / "run");
        else ASSERT_LE(entries_of(fs::path(device) / "run"), leftovers);
    }
}

TEST(Instances, KilledInstancesLeaveNothingThatBlocksTheNextStart) {
    TempDir dir;
    const std::string device = (dir / "device").string();
    std::mt19937 rng(std::random_device{}());
    for (int round = 0; round < 12; ++round) {
        SCOPED_TRACE("round " + std::to_string(round + 1));
        // Commands from stdin, which stays open: the instance runs until it is killed.
        Child phone({"--headless", "--device", device, "--clock", "real"});
        ASSERT_TRUE(phone.started());
        if (round % 2 == 0) {
            // Killed somewhere in its start-up (device set-up, mutexes, window table).
            const auto at = Clock::now() + std::chrono::milliseconds(rng() % 120);
            while (Clock::now() < at && phone.next_line(at)) {
            }
        } else {
            // Killed while it runs, with a hidden window in the table.
            ASSERT_TRUE(main_window_event(phone, "window.show")) << phone.err();
            phone.send("press back\n");
            ASSERT_TRUE(main_window_event(phone, "window.hide"));
        }
        phone.kill();

        // The next start is a first start, and at once (no waiting for a dead
        // instance's window).
        const auto begun = Clock::now();
        Child next({"--headless", "--device", device, "--clock", "real"});
        ASSERT_TRUE(main_window_event(next, "window.show")) << next.err();
        EXPECT_LT(Clock::now() - begun, kSlowdown * std::chrono::seconds(5));
        next.send("quit\n");
        EXPECT_EQ(next.finish(), 0) << next.err();
    }
}

}  // namespace
}  // namespace reltest
