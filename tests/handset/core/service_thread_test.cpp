// The services thread: each service runs for what ended the wait, and never once it has
// been removed; the thread ends with the last service.
#include <sys/eventfd.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core_fixture.h"
#include "platform/handset/core/kernel.h"
#include "platform/winbase.h"

namespace {

// Records each of its runs, and what it came for, with the handset time.
class Recorder final : public handset::Service {
public:
    Recorder(std::string name, std::vector<std::string>& log, HANDLE ran)
        : name_(std::move(name)), log_(log), ran_(ran) {}

    Waits waits() override { return {objects_, deadline, fd}; }
    void run(int woken) override {
        std::string what = woken == handset::kWaitTimeout     ? "deadline"
                           : woken == handset::kWaitHostInput ? "input"
                                                              : "object " + std::to_string(woken);
        log_.push_back(name_ + ": " + what + " at " + std::to_string(handset::clock().now_ms()));
        if (woken == handset::kWaitHostInput) {
            std::uint64_t count;
            [[maybe_unused]] ssize_t n = ::read(fd, &count, sizeof count);
        }
        {
            std::lock_guard lock(handset::kernel_lock());
            deadline = next_deadline;
            next_deadline = handset::kNoDeadline;
        }
        if (ran_) SetEvent(ran_);
    }

    std::shared_ptr<handset::EventObject> event = std::make_shared<handset::EventObject>(false, false);
    long long deadline = handset::kNoDeadline;  // kernel lock
    long long next_deadline = handset::kNoDeadline;
    int fd = -1;

private:
    std::string name_;
    std::vector<std::string>& log_;
    HANDLE ran_;
    handset::Waitable* const objects_[1] = {event.get()};
};

using ServiceThreadTest = CoreTest;

TEST_F(ServiceThreadTest, EachServiceRunsForWhatEndedTheWaitAndNotOnceRemoved) {
    handset::Participation self;
    std::vector<std::string> log;
    HANDLE ran = CreateEvent(nullptr, FALSE, FALSE, nullptr);
    Recorder timed("timed", log, nullptr);
    timed.deadline = 1000;
    timed.next_deadline = 2500;
    Recorder watching("watching", log, ran);
    watching.fd = ::eventfd(0, EFD_CLOEXEC);
    handset::add_service(timed);
    handset::add_service(watching);

    Sleep(1500);
    handset::remove_service(timed);  // its deadline at 2500 never comes to it
    Sleep(2000);
    const std::uint64_t one = 1;
    ASSERT_EQ(::write(watching.fd, &one, sizeof one), 8);
    ASSERT_EQ(WaitForSingleObject(ran, INFINITE), WAIT_OBJECT_0);
    {
        std::lock_guard lock(handset::kernel_lock());
        watching.event->set();
        handset::clock().wake_waiters();
    }
    ASSERT_EQ(WaitForSingleObject(ran, INFINITE), WAIT_OBJECT_0);
    handset::remove_service(watching);

    const std::vector<std::string> expected{"timed: deadline at 1000", "watching: input at 3500",
                                            "watching: object 0 at 3500"};
    EXPECT_EQ(log, expected);
    EXPECT_TRUE(handset::wait_for_thread_exits(std::chrono::seconds(10)));
    ::close(watching.fd);
    CloseHandle(ran);
}

}  // namespace
