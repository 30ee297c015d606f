// The phone's own state, its clock and the screen-cell helpers of its text screens.
#include "platform/handset/shell/phone_state.h"

#include <charconv>
#include <ctime>

#include "platform/handset/core/clock.h"
#include "platform/handset/core/events.h"
#include "platform/handset/core/utf.h"
#include "platform/handset/devices/devices.h"
#include "platform/handset/registry/state_values.h"
#include "platform/handset/registry/store.h"
#include "platform/handset/display/screen.h"
#include "res/program_facts.h"

namespace handset::shell {

std::string speed_text(double factor) {
    char text[32];
    const auto [end, ec] = std::to_chars(text, text + sizeof text, factor);
    return ec == std::errc() ? std::string(text, end) : "?";
}

namespace {

std::optional<RegValue> read_value(const StateValue& state) {
    auto store = current_registry();
    if (!store) return std::nullopt;
    RegValue value;
    if (store->get_value(state.key_path(), state.name, value) != RegStatus::Ok) return std::nullopt;
    return value;
}

// The carrier's phone-book entry: which one exists and in which form its values are.
void read_entry(PhoneState& state) {
    state.entry_form = "none";
    auto store = current_registry();
    if (!store) return;
    for (const CarrierEntry& c : kCarrierEntries) {
        KeyId id = 0;
        if (store->find_key(RegKeyPath{RegRoot::CurrentUser, c.key}, id) != RegStatus::Ok) continue;
        state.model = c.handset;
        state.entry_name = c.entry;
        RegValue v;
        const auto has_both = [&](const char16_t* first, const char16_t* second) {
            return store->get_value(id, first, v) == RegStatus::Ok && store->get_value(id, second, v) == RegStatus::Ok;
        };
        const bool allowed = has_both(kEntryValueNames[0], kEntryValueNames[1]);
        // The blocked form is the one Quillon gives the entry.
        const bool blocked = has_both(kBlockedEntryForm.dev_cfg, kBlockedEntryForm.entry);
        state.entry_form = allowed && !blocked ? "allowed" : blocked && !allowed ? "blocked" : "mixed";
        return;
    }
}

std::tm broken_down(std::chrono::system_clock::time_point t, bool utc) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(t);
    std::tm tm{};
    if (utc) gmtime_r(&seconds, &tm);
    else localtime_r(&seconds, &tm);
    return tm;
}

}  // namespace

PhoneState read_phone_state() {
    PhoneState s;
    s.handset_ms = clock().now_ms();
    s.power = power_state();
    const BatteryReading battery = battery_reading();
    s.battery_percent = battery.percent;
    s.charger = battery.ac_line;
    s.charging = battery.charging();
    s.keypad_locked = keypad_locked();
    s.missed_calls = read_dword(kMissedCallCount);
    s.unread_sms = read_dword(unread_sms_count());
    s.active_calls = read_dword(kActiveCallCount);
    s.clock_speed = clock().speed();
    if (auto profile = read_value(kActiveProfile))
        sz_text(profile->data, s.profile);
    read_entry(s);
    s.mail_running = mail_running();
    s.vibrating = vibrating();
    s.sound = sound_playing();
    return s;
}

PhoneTime::PhoneTime()
    : origin_(std::chrono::system_clock::now() - std::chrono::milliseconds(clock().now_ms())) {}

PhoneTime PhoneTime::fixed() {
    PhoneTime time;
    time.origin_ = std::chrono::system_clock::from_time_t(1'146'474'000);  // 2006-05-01 09:00:00 UTC
    time.utc_ = true;
    return time;
}

std::chrono::system_clock::time_point PhoneTime::at(long long handset_ms) const {
    return origin_ + std::chrono::milliseconds(handset_ms);
}

std::string PhoneTime::clock_text(long long handset_ms) const {
    const std::tm tm = broken_down(at(handset_ms), utc_);
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d:%02d", tm.tm_hour, tm.tm_min);
    return buf;
}

std::string PhoneTime::date_text(long long handset_ms) const {
    static const char* weekdays[] = {"일", "월", "화", "수", "목", "금", "토"};
    const std::tm tm = broken_down(at(handset_ms), utc_);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d (%s)", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                  weekdays[tm.tm_wday % 7]);
    return buf;
}

std::string fit_cells(std::u16string_view text, int cells) {
    std::u16string out;
    int used = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        // A surrogate pair is one character on the screen.
        const std::size_t len = (text[i] >= 0xD800 && text[i] <= 0xDBFF && i + 1 < text.size()) ? 2 : 1;
        const std::u16string_view ch = text.substr(i, len);
        const int width = text_cells(ch);
        if (used + width > cells) break;
        out.append(ch);
        used += width;
        i += len - 1;
    }
    out.append(static_cast<std::size_t>(cells - used), u' ');
    return to_utf8(out);
}

std::vector<std::string> wrap_cells(std::u16string_view text, int cells) {
    std::vector<std::string> lines;
    std::u16string line;
    int used = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const std::size_t len = (text[i] >= 0xD800 && text[i] <= 0xDBFF && i + 1 < text.size()) ? 2 : 1;
        const std::u16string_view ch = text.substr(i, len);
        const int width = text_cells(ch);
        if (used + width > cells && used > 0) {
            lines.push_back(fit_cells(line, cells));
            line.clear();
            used = 0;
        }
        line.append(ch);
        used += width;
        i += len - 1;
    }
    if (!line.empty() || lines.empty()) lines.push_back(fit_cells(line, cells));
    return lines;
}

std::vector<std::string> wrap_words(std::u16string_view text, int cells) {
    // Pieces that stay together, each with the spaces that came before it.
    const auto split = [](std::u16string_view t, std::u16string_view sep) {
        std::vector<std::u16string_view> parts;
        std::size_t start = 0;
        for (std::size_t at; (at = t.find(sep, start)) != std::u16string_view::npos; start = at + sep.size())
            parts.push_back(t.substr(start, at - start));
        parts.push_back(t.substr(start));
        return parts;
    };
    std::vector<std::u16string> lines{u""};
    const auto place = [&](std::u16string_view piece, std::u16string_view sep) {
        std::u16string& line = lines.back();
        if (line.empty()) line = piece;
        else if (text_cells(line) + text_cells(sep) + text_cells(piece) <= cells) (line += sep) += piece;
        else lines.emplace_back(piece);
    };
    for (std::u16string_view group : split(text, u"  ")) {
        if (text_cells(group) <= cells) {
            place(group, u"  ");
            continue;
        }
        bool first = true;
        for (std::u16string_view word : split(group, u" ")) {
            place(word, first ? u"  " : u" ");
            first = false;
        }
    }
    std::vector<std::string> out;
    for (const std::u16string& line : lines)
        for (std::string& piece : wrap_cells(line, cells)) out.push_back(std::move(piece));
    return out;
}

std::string shorten_cells(std::u16string_view text, int cells) {
    if (text_cells(text) <= cells || cells < 1) return fit_cells(text, cells);
    std::u16string cut = to_utf16(fit_cells(text, cells - 1));
    while (!cut.empty() && cut.back() == u' ') cut.pop_back();
    cut += u'…';
    return fit_cells(cut, cells);
}

std::string spread_cells(std::u16string_view left, std::u16string_view right, int cells) {
    const int right_cells = std::min(text_cells(right), cells);
    const int left_cells = cells - right_cells;
    return fit_cells(left, left_cells) + fit_cells(right, right_cells);
}

std::string center_cells(std::u16string_view text, int cells) {
    const int width = std::min(text_cells(text), cells);
    const int before = (cells - width) / 2;
    return std::string(static_cast<std::size_t>(before), ' ') + fit_cells(text, cells - before);
}

}  // namespace handset::shell
