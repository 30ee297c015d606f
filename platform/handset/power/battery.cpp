// The battery's level over handset time.
#include "platform/handset/power/battery.h"

#include <algorithm>
#include <cassert>

namespace handset {

BYTE battery_flag(int percent, bool charging) {
    const BYTE level = percent > 20 ? BatteryReading::kHigh : percent > 5 ? BatteryReading::kLow : BatteryReading::kCritical;
    return static_cast<BYTE>(level | (charging ? BatteryReading::kCharging : 0));
}

int Battery::percent_at(long long now_ms, long long* step_start) const {
    assert(now_ms >= since_ms_);
    const long long steps = (now_ms - since_ms_) / step_ms();
    if (step_start) *step_start = since_ms_ + steps * step_ms();
    const long long moved = charger_ ? percent_ + steps : percent_ - steps;
    return static_cast<int>(std::clamp<long long>(moved, 0, 100));
}

BatteryReading Battery::read(long long now_ms) const {
    const int percent = percent_at(now_ms);
    return {percent, charger_, battery_flag(percent, charger_ && percent < 100)};
}

void Battery::set_percent(int percent, long long now_ms) {
    assert(percent >= 0 && percent <= 100);
    percent_ = percent;
    since_ms_ = now_ms;
}

void Battery::set_charger(bool on, long long now_ms) {
    percent_ = percent_at(now_ms);
    since_ms_ = now_ms;
    charger_ = on;
}

long long Battery::next_change(long long now_ms) const {
    long long step_start = 0;
    const int percent = percent_at(now_ms, &step_start);
    if (charger_ ? percent >= 100 : percent <= 0) return -1;
    return step_start + step_ms();
}

}  // namespace handset
