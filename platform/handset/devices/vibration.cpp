// The vibration motor of the platform API. The phone's default vibration runs until
// VibrateStop; each pulse is reported when it stops, stamped with the time it
// started. Note sequences and timed vibrations are not built into this motor:
// Vibrate refuses them with E_NOTIMPL.
#include <mutex>
#include <optional>

#include "platform/handset/core/clock.h"
#include "platform/handset/core/events.h"
#include "platform/handset/devices/devices.h"
#include "platform/handset/devices/services.h"
#include "platform/vibrate.h"

namespace handset {
namespace {

constexpr LONG kOk = 0;
constexpr LONG kNotImplemented = static_cast<LONG>(0x80004001);

class Motor {
public:
    // A start while running continues the same pulse.
    void start() {
        std::lock_guard lock(mu_);
        if (!started_) started_ = clock().now_ms();
    }

    void stop() {
        long long start;
        {
            std::lock_guard lock(mu_);
            if (!started_) return;
            start = *started_;
            started_.reset();
        }
        events().emit_at(start, "vibrate", {{"ms", clock().now_ms() - start}});
    }

    bool running() {
        std::lock_guard lock(mu_);
        return started_.has_value();
    }

private:
    std::mutex mu_;
    std::optional<long long> started_;
};

Motor& motor() {
    static Motor m;
    return m;
}

}  // namespace

bool vibrating() { return motor().running(); }
void vibration_stop() { motor().stop(); }

}  // namespace handset

LONG Vibrate(DWORD note_count, const VIBRATENOTE* notes, BOOL repeat, DWORD timeout_ms) {
    if (note_count != 0 || notes || timeout_ms != INFINITE) return handset::kNotImplemented;
    handset::motor().start();
    return handset::kOk;
}

LONG VibrateStop() {
    handset::motor().stop();
    return handset::kOk;
}
