// The event log: stamping, formatting and delivery of event lines.
#include "platform/handset/core/events.h"

#include <algorithm>
#include <charconv>
#include <cstdint>

#include "platform/handset/core/clock.h"

namespace handset {

namespace {

template <typename T>
void append_number(std::string& out, T n) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, n).ptr;
    out.append(digits, end);
}

// How many bytes follow a UTF-8 lead byte, and the range the first of them must lie in
// (which rules out overlong forms, surrogates and code points past U+10FFFF); 0 for a
// byte that cannot lead.
struct Lead {
    int follow;
    unsigned char low, high;
};
Lead lead_of(unsigned char b) {
    if (b >= 0xC2 && b <= 0xDF) return {1, 0x80, 0xBF};
    if (b == 0xE0) return {2, 0xA0, 0xBF};
    if (b == 0xED) return {2, 0x80, 0x9F};
    if (b >= 0xE1 && b <= 0xEF) return {2, 0x80, 0xBF};
    if (b == 0xF0) return {3, 0x90, 0xBF};
    if (b >= 0xF1 && b <= 0xF3) return {3, 0x80, 0xBF};
    if (b == 0xF4) return {3, 0x80, 0x8F};
    return {0, 0, 0};
}

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

}  // namespace

// Broken UTF-8 is replaced as the JSON library's writer replaces it, so that a line
// reads back the same whichever wrote it: one U+FFFD for the bytes of a sequence up to
// the byte that breaks it, and that byte read again as the start of the next one
// unless it was itself a lead that cannot lead.
void write_json_string(std::string& out, std::string_view text) {
    out += '"';
    std::size_t i = 0;
    while (i < text.size()) {
        const auto b = static_cast<unsigned char>(text[i]);
        if (b < 0x80) {
            switch (b) {
                case '"': out += "\\\""; break;
                case '\\': out += "\\\\"; break;
                case '\b': out += "\\b"; break;
                case '\f': out += "\\f"; break;
                case '\n': out += "\\n"; break;
                case '\r': out += "\\r"; break;
                case '\t': out += "\\t"; break;
                default:
                    if (b < 0x20) {
                        static constexpr char hex[] = "0123456789abcdef";
                        out += "\\u00";
                        out += hex[b >> 4];
                        out += hex[b & 0xF];
                    } else {
                        out += static_cast<char>(b);
                    }
            }
            ++i;
            continue;
        }
        const Lead lead = lead_of(b);
        if (lead.follow == 0) {
            out += kReplacement;
            ++i;
            continue;
        }
        std::size_t n = 1;
        bool broken = false;
        for (; n <= static_cast<std::size_t>(lead.follow); ++n) {
            if (i + n >= text.size()) break;  // cut short at the end
            const auto c = static_cast<unsigned char>(text[i + n]);
            const bool fits = n == 1 ? c >= lead.low && c <= lead.high : c >= 0x80 && c <= 0xBF;
            if (!fits) {
                broken = true;
                break;
            }
        }
        if (!broken && n == static_cast<std::size_t>(lead.follow) + 1) {
            out.append(text.substr(i, n));
            i += n;
        } else {
            // The byte that broke the sequence starts the next one; a sequence cut short
            // by the end of the text is one replacement too.
            out += kReplacement;
            i += n;
        }
    }
    out += '"';
}

FieldValue FieldValue::json_text(std::string json) {
    FieldValue v;
    v.kind_ = Kind::Json;
    v.text_ = std::move(json);
    return v;
}

void FieldValue::write_json(std::string& out) const {
    switch (kind_) {
        case Kind::Null: out += "null"; break;
        case Kind::Boolean: out += int_ ? "true" : "false"; break;
        case Kind::Integer: append_number(out, int_); break;
        case Kind::Unsigned: append_number(out, unsigned_); break;
        case Kind::Text: write_json_string(out, text_); break;
        case Kind::Json: out += text_; break;
    }
}

Fields& Fields::set(std::string_view name, FieldValue value) {
    for (Field& f : fields_) {
        if (f.name == name) {
            f.value = std::move(value);
            return *this;
        }
    }
    fields_.push_back({std::string(name), std::move(value)});
    return *this;
}

const FieldValue* Fields::find(std::string_view name) const {
    for (const Field& f : fields_)
        if (f.name == name) return &f.value;
    return nullptr;
}

int EventLog::add_sink(Sink sink) {
    std::lock_guard lock(mu_);
    sinks_.emplace_back(next_id_, std::move(sink));
    return next_id_++;
}

void EventLog::remove_sink(int id) {
    std::lock_guard lock(mu_);
    std::erase_if(sinks_, [id](const auto& s) { return s.first == id; });
}

void EventLog::emit(const char* kind, Fields fields) { emit_at(clock().now_ms(), kind, std::move(fields)); }

void EventLog::emit_at(long long t_ms, const char* kind, Fields fields) {
    // One lock around formatting and delivery keeps lines in emit order for every sink.
    std::lock_guard lock(mu_);
    if (sinks_.empty()) return;
    std::string line = "{\"t\":";
    append_number(line, t_ms);
    line += ",\"ev\":";
    write_json_string(line, kind);
    for (const Field& f : fields) {
        line += ',';
        write_json_string(line, f.name);
        line += ':';
        f.value.write_json(line);
    }
    line += '}';
    const Event event{t_ms, kind, fields};
    for (auto& [id, sink] : sinks_) sink(line, event);
}

EventLog& events() {
    static EventLog log;
    return log;
}

}  // namespace handset
