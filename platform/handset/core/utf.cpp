// UTF-16 and UTF-8 conversions (see utf.h).
#include "platform/handset/core/utf.h"

#include <algorithm>
#include <cassert>

namespace handset {
namespace {

bool high_surrogate(char32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool low_surrogate(char32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

template <class Char>
std::basic_string<Char> lowered(std::basic_string_view<Char> text) {
    std::basic_string<Char> out(text);
    for (Char& c : out) c = ascii_lower(c);
    return out;
}

template <class Char>
bool same_but_case(std::basic_string_view<Char> a, std::basic_string_view<Char> b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](Char x, Char y) { return ascii_lower(x) == ascii_lower(y); });
}

}  // namespace

char32_t next_code_point(std::u16string_view text, std::size_t& i) {
    assert(i < text.size());
    char32_t c = text[i++];
    if (high_surrogate(c) && i < text.size() && low_surrogate(text[i]))
        return 0x10000 + ((c - 0xD800) << 10) + (text[i++] - 0xDC00);
    return c >= 0xD800 && c <= 0xDFFF ? 0xFFFD : c;
}

void append_utf16(std::u16string& out, char32_t c) {
    if (c >= 0x10000) {
        c -= 0x10000;
        out += static_cast<char16_t>(0xD800 + (c >> 10));
        out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
        out += static_cast<char16_t>(c);
    }
}

std::string to_utf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) append_utf8(out, next_code_point(text, i));
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
                // Over-long forms, values past U+10FFFF and encoded surrogates are not text.
                static constexpr char32_t min_for_len[] = {0, 0, 0x80, 0x800, 0x10000};
                if (c != 0xFFFD && (c < min_for_len[len] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))) c = 0xFFFD;
            }
        }
        i += len;
        append_utf16(out, c);
    }
    return out;
}

bool well_formed_utf16(std::u16string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (low_surrogate(text[i])) return false;
        if (high_surrogate(text[i]) && (++i == text.size() || !low_surrogate(text[i]))) return false;
    }
    return true;
}

std::string ascii_lower(std::string_view text) { return lowered(text); }
std::u16string ascii_lower(std::u16string_view text) { return lowered(text); }
bool ascii_iequals(std::string_view a, std::string_view b) { return same_but_case(a, b); }
bool ascii_iequals(std::u16string_view a, std::u16string_view b) { return same_but_case(a, b); }

}  // namespace handset
