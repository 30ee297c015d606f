// A temporary device, the virtual clock with the test's thread taking part, Quillon's
// resources, a record of the events, and helpers to run a UI thread and wait for it.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "common/event_recorder.h"
#include "common/scratch_device.h"
#include "platform/afxwin.h"
#include "platform/handset/core/clock.h"
#include "platform/handset/core/device.h"
#include "platform/handset/core/json.h"
#include "platform/handset/core/faults.h"
#include "platform/handset/core/kernel.h"
#include "platform/handset/core/process.h"
#include "platform/handset/display/screen.h"
#include "platform/handset/window/automation.h"
#include "platform/handset/window/wm.h"
#include "platform/windows.h"
#include "platform/handset/window/resource.h"
#include "res/resources.h"

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        scratch_.emplace("quillon-window");
        root_ = scratch_->root();
        handset::set_resources(&quillon_resources());
        handset::register_window_table();
        recorder_.emplace();
        participation_.emplace();
    }

    void TearDown() override {
        participation_.reset();
        recorder_.reset();
        handset::clear_faults();
        scratch_.reset();
    }

    // Starts a participating thread of this host's process running `body`.
    std::shared_ptr<handset::ThreadObject> start_ui(std::function<void()> body) {
        return handset::start_thread([body = std::move(body)]() -> DWORD {
            body();
            return 0;
        });
    }

    // Waits until the UI thread of this host waits for the user.
    void wait_idle() { ASSERT_TRUE(handset::wait_for_input_idle(handset::host_process()->pid)); }

    static void join(const std::shared_ptr<handset::ThreadObject>& thread) {
        std::unique_lock lock(handset::kernel_lock());
        handset::Waitable* objects[] = {thread.get()};
        handset::clock().wait(lock, objects, false, handset::kNoDeadline);
    }

    // A key press as the keypad makes it: down and up, then handled.
    static void press(BYTE vk) {
        handset::deliver_key(vk, false);
        handset::deliver_key(vk, true);
        handset::settle_input();
    }

    static long long now() { return handset::clock().now_ms(); }
    static void sleep(long long ms) { handset::clock().sleep_ms(ms); }

    std::vector<handset::Json> events(const std::string& kind) { return recorder_->of(kind); }

    static handset::Json controls() { return handset::Json::parse(handset::controls_json()); }

    // The entry of control `id` in the foreground window's controls.
    static handset::Json control(int id) {
        const handset::Json all = controls();
        for (const auto& c : all["controls"])
            if (c["id"] == id) return c;
        return nullptr;
    }

    std::filesystem::path root_;
    std::optional<qtest::ScratchDevice> scratch_;
    std::optional<qtest::EventRecorder> recorder_;
    std::optional<handset::Participation> participation_;
};
