// The handset's battery: a level that drains on battery power and fills on the charger
// at the rates of a handset of its time, a charger (the AC line) and a charging flag.
// The power manager reads it every BatteryPoll seconds and tells the registered queues
// when what it reads has changed.
//
// The battery is a function of handset time, not a thread: the level moves one whole
// percent per step of a fixed length, so the battery can say exactly when its reading
// will next change, and the power manager sleeps until then instead of polling.
#pragma once

#include "platform/wintypes.h"

namespace handset {

// What a poll of the battery gives: the whole percent, the AC line, and the platform's
// battery flag (BATTERY_FLAG_HIGH 1, LOW 2, CRITICAL 4, CHARGING 8).
struct BatteryReading {
    int percent = 0;
    bool ac_line = false;
    BYTE flag = 0;

    static constexpr BYTE kHigh = 0x01;
    static constexpr BYTE kLow = 0x02;
    static constexpr BYTE kCritical = 0x04;
    static constexpr BYTE kCharging = 0x08;

    bool charging() const { return (flag & kCharging) != 0; }
    bool operator==(const BatteryReading&) const = default;
};

class Battery {
public:
    // A 1,300 mAh handset on standby lasts about 11 days: one percent every 2.64 hours.
    static constexpr long long kDrainStepMs = 11LL * 24 * 3600 * 1000 / 100;
    // On the charger it fills from empty in two and a half hours: one percent every 90 s.
    static constexpr long long kFillStepMs = 150LL * 60 * 1000 / 100;
    static constexpr int kFactoryPercent = 80;

    explicit Battery(int percent = kFactoryPercent, long long now_ms = 0) : percent_(percent), since_ms_(now_ms) {}

    BatteryReading read(long long now_ms) const;

    // Sets the level (0 to 100), or plugs the charger in or out, from `now_ms` on; the
    // step under way starts again.
    void set_percent(int percent, long long now_ms);
    void set_charger(bool on, long long now_ms);
    bool charger() const { return charger_; }

    // The first handset time after `now_ms` at which read() gives something else, or -1
    // when the reading stays as it is (full on the charger, empty on battery power).
    long long next_change(long long now_ms) const;

private:
    // The whole percent at `now_ms`, and when the step under way began.
    int percent_at(long long now_ms, long long* step_start = nullptr) const;
    long long step_ms() const { return charger_ ? kFillStepMs : kDrainStepMs; }

    int percent_;         // at since_ms_
    long long since_ms_;  // the start of the step under way
    bool charger_ = false;
};

// The battery flag of `percent` with or without charging: high above 20 %, low down to
// 6 %, critical at 5 % and below.
BYTE battery_flag(int percent, bool charging);

}  // namespace handset
