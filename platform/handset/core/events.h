// The event log: every observable act of the phone as one JSON object per line.
//
// Services call emit() with an event kind and its fields; the log stamps it with the
// handset time ("t", milliseconds since the emulator started) and hands the line to
// every sink. Sinks are the front end's output (stdout or --log), the terminal's panel
// and, in tests, a recorder. emit() may be called from any thread; lines keep the
// order in which emit() was called.
//
// Fields are flat: text, whole numbers, yes/no and null, written here as JSON text. The
// JSON library stays out of this header, which nearly every service includes; the
// code that reads events as JSON values includes platform/handset/core/json.h.
#pragma once

#include <concepts>
#include <cstddef>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Event fields are UTF-8 while the phone's texts are UTF-16: whoever emits one needs
// the other.
#include "platform/handset/core/utf.h"

namespace handset {

// One field's value. Text must be UTF-8; what is not is written with U+FFFD in place of
// each broken sequence, as the line's readers expect.
class FieldValue {
public:
    enum class Kind { Null, Boolean, Integer, Unsigned, Text, Json };

    FieldValue() = default;
    FieldValue(std::nullptr_t) {}
    FieldValue(bool b) : kind_(Kind::Boolean), int_(b) {}
    template <std::integral T>
        requires(!std::same_as<T, bool>)
    FieldValue(T n) {
        if constexpr (std::is_signed_v<T>) {
            kind_ = Kind::Integer;
            int_ = n;
        } else {
            kind_ = Kind::Unsigned;
            unsigned_ = n;
        }
    }
    FieldValue(const char* text) : kind_(Kind::Text), text_(text) {}
    FieldValue(std::string_view text) : kind_(Kind::Text), text_(text) {}
    FieldValue(std::string text) : kind_(Kind::Text), text_(std::move(text)) {}
    // A value already written as JSON (an event relayed from another log), taken as is.
    static FieldValue json_text(std::string json);

    Kind kind() const { return kind_; }
    bool boolean() const { return int_ != 0; }
    long long integer() const { return int_; }
    unsigned long long unsigned_integer() const { return unsigned_; }
    // The text of a Text value, or the JSON of a Json value.
    const std::string& text() const { return text_; }

    // Appends the value as JSON.
    void write_json(std::string& out) const;

private:
    Kind kind_ = Kind::Null;
    long long int_ = 0;
    unsigned long long unsigned_ = 0;
    std::string text_;
};

struct Field {
    std::string name;
    FieldValue value;
};

// An event's fields in the order they are written. Names are unique, and neither "t"
// nor "ev", which the log puts in front of them.
class Fields {
public:
    Fields() = default;
    Fields(std::initializer_list<Field> fields) : fields_(fields) {}

    // Sets `name`: in its place when it is there already, else after the others.
    Fields& set(std::string_view name, FieldValue value);
    // The value of `name`, or null when there is none.
    const FieldValue* find(std::string_view name) const;

    bool empty() const { return fields_.empty(); }
    std::size_t size() const { return fields_.size(); }
    std::vector<Field>::const_iterator begin() const { return fields_.begin(); }
    std::vector<Field>::const_iterator end() const { return fields_.end(); }

private:
    std::vector<Field> fields_;
};

// Appends `text` as a JSON string, quoted and escaped.
void write_json_string(std::string& out, std::string_view text);

// An event as the sinks see it, beside its line.
struct Event {
    long long t = 0;
    const char* kind = "";
    const Fields& fields;
};

class EventLog {
public:
    using Sink = std::function<void(const std::string& line, const Event& event)>;

    // Registers a sink; returns an id for remove_sink().
    int add_sink(Sink sink);
    void remove_sink(int id);

    // Stamps `fields` with "t" and "ev" (in front of the other fields) and delivers it.
    void emit(const char* kind, Fields fields = {});
    // Same, with an explicit time stamp (a vibration is reported when it stops, with
    // the time it started).
    void emit_at(long long t_ms, const char* kind, Fields fields = {});

private:
    std::mutex mu_;
    std::vector<std::pair<int, Sink>> sinks_;
    int next_id_ = 1;
};

// The process's event log.
EventLog& events();

}  // namespace handset
