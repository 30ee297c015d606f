// The event log and the UTF-8/UTF-16 conversions its fields need.
#include "platform/handset/core/events.h"

#include <algorithm>
#include <cassert>

#include "platform/handset/core/clock.h"

namespace handset {

int EventLog::add_sink(Sink sink) {
    std::lock_guard lock(mu_);
    sinks_.emplace_back(next_id_, std::move(sink));
    return next_id_++;
}

void EventLog::remove_sink(int id) {
    std::lock_guard lock(mu_);
    std::erase_if(sinks_, [id](const auto& s) { return s.first == id; });
}

void EventLog::emit(const char* kind, Json fields) { emit_at(clock().now_ms(), kind, std::move(fields)); }

void EventLog::emit_at(long long t_ms, const char* kind, Json fields) {
    Json event = Json::object();
    event["t"] = t_ms;
    event["ev"] = kind;
    for (auto& [k, v] : fields.items()) event[k] = std::move(v);
    // One lock around formatting and delivery keeps lines in emit order for every sink.
    std::lock_guard lock(mu_);
    if (sinks_.empty()) return;
    const std::string line = event.dump(-1, ' ', false, Json::error_handler_t::replace);
    for (auto& [id, sink] : sinks_) sink(line, event);
}

EventLog& events() {
    static EventLog log;
    return log;
}

char32_t next_code_point(std::u16string_view text, std::size_t& i) {
    assert(i < text.size());
    char32_t c = text[i++];
    if (c >= 0xD800 && c <= 0xDBFF && i < text.size() && text[i] >= 0xDC00 && text[i] <= 0xDFFF)
        return 0x10000 + ((c - 0xD800) << 10) + (text[i++] - 0xDC00);
    return c >= 0xD800 && c <= 0xDFFF ? 0xFFFD : c;
}

std::string to_utf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const char32_t c = next_code_point(text, i);
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::u16string to_utf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const auto b = static_cast<unsigned char>(text[i]);
        char32_t c = 0xFFFD;
        std::size_t len = 1;
        if (b < 0x80) {
            c = b;
        } else if ((b & 0xE0) == 0xC0) {
            len = 2;
        } else if ((b & 0xF0) == 0xE0) {
            len = 3;
        } else if ((b & 0xF8) == 0xF0) {
            len = 4;
        }
        if (len > 1) {
            if (i + len > text.size()) {
                len = 1;
            } else {
                c = b & (0x7F >> len);
                for (std::size_t k = 1; k < len; ++k) {
                    const auto cb = static_cast<unsigned char>(text[i + k]);
                    if ((cb & 0xC0) != 0x80) {
                        c = 0xFFFD;
                        len = k;
                        break;
                    }
                    c = (c << 6) | (cb & 0x3F);
                }
                static constexpr char32_t min_for_len[] = {0, 0, 0x80, 0x800, 0x10000};
                if (c != 0xFFFD && (c < min_for_len[len] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))) c = 0xFFFD;
            }
        }
        i += len;
        if (c >= 0x10000) {
            c -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (c >> 10));
            out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
    }
    return out;
}

}  // namespace handset
