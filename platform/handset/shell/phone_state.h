// What the phone shows about itself outside any program: its state as the terminal's
// side panel lists it, the time on its clock, and text fitted to the screen's cells.
// The home screen drawn from them is in home_screen.h.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "platform/handset/registry/state_values.h"
#include "platform/handset/display/screen_snapshot.h"
#include "platform/wintypes.h"

namespace handset::shell {

struct PhoneState {
    long long handset_ms = 0;
    std::u16string power;
    int battery_percent = 0;
    bool charger = false;   // on the AC line
    bool charging = false;  // the battery takes charge (not yet full)
    bool keypad_locked = false;
    std::optional<DWORD> missed_calls;  // nothing: the value is missing or not a DWORD
    std::optional<DWORD> unread_sms;
    std::optional<DWORD> active_calls;
    std::u16string profile;
    std::string model;        // "SCH-M620", "SPH-M6200", or empty without a carrier entry
    std::string entry_name;   // "SKT IE GPRS", "KTF IE GPRS" or empty
    std::string entry_form;   // "allowed", "blocked", "mixed" or "none"
    bool mail_running = false;
    double clock_speed = 1.0;  // the real clock's pace
    bool vibrating = false;
    std::optional<std::u16string> sound;
};

// Reads the state from the registry and the device services. Thread-safe; emits nothing.
PhoneState read_phone_state();
// A speed factor as the panel and `speed` show it: "1", "10", "0.5".
std::string speed_text(double factor);

// The wall-clock time the phone shows: the host's local time at the emulator's start
// plus the handset time since then (so a fast or virtual clock moves the phone's time too).
class PhoneTime {
public:
    PhoneTime();
    // A phone whose clock starts at a fixed moment (2006-05-01 09:00:00, shown as is in
    // every time zone), so that headless runs print the same home screen every time.
    static PhoneTime fixed();
    std::chrono::system_clock::time_point at(long long handset_ms) const;
    // "HH:MM" and "YYYY-MM-DD" in local time.
    std::string clock_text(long long handset_ms) const;
    std::string date_text(long long handset_ms) const;

private:
    std::chrono::system_clock::time_point origin_;
    bool utc_ = false;
};

// `text` cut or padded with spaces to exactly `cells` screen cells (wide characters
// take two; one that does not fit whole is replaced by a space).
std::string fit_cells(std::u16string_view text, int cells);
// A line of `cells` cells with `left` at its start and `right` at its end.
std::string spread_cells(std::u16string_view left, std::u16string_view right, int cells);
std::string center_cells(std::u16string_view text, int cells);
// `text` broken into lines of at most `cells` cells (at least one line), each padded.
std::vector<std::string> wrap_cells(std::u16string_view text, int cells);
// The same, broken between words: first where two spaces part groups of words, then at
// a single space, and inside a word only when the word alone is wider than a line.
std::vector<std::string> wrap_words(std::u16string_view text, int cells);
// `text` fitted to `cells` cells like fit_cells, but a text that does not fit ends in
// "…", so that a cut line shows that it was cut.
std::string shorten_cells(std::u16string_view text, int cells);

}  // namespace handset::shell
