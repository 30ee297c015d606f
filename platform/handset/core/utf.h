// UTF-16 and UTF-8, the platform's one home for converting between them: the
// program's texts are UTF-16, while event fields, logs, host file names and the
// terminal are UTF-8. Also the case of ASCII letters, in either form.
//
// Nothing here fails: what cannot be decoded becomes U+FFFD, so a text with a lone
// surrogate still reaches the log and the screen, marked where it was broken.
#pragma once

#include <string>
#include <string_view>

namespace handset {

// The code point of `text` at `i`, which moves past it (past both halves of a
// surrogate pair); an unpaired surrogate is U+FFFD. `i` must be inside `text`.
char32_t next_code_point(std::u16string_view text, std::size_t& i);
// Appends code point `c` as UTF-8 (one to four bytes). Inline, so that code built
// without the handset's sources (the conformance cases on Win32) shares it.
inline void append_utf8(std::string& out, char32_t c) {
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

// Appends code point `c` as UTF-16: a surrogate pair from U+10000 on.
void append_utf16(std::u16string& out, char32_t c);

// UTF-16 to UTF-8; unpaired surrogates become U+FFFD.
std::string to_utf8(std::u16string_view text);
// UTF-8 to UTF-16; invalid sequences become U+FFFD.
std::u16string to_utf16(std::string_view text);

// Whether every surrogate of `text` is half of a pair, so that the text survives a trip
// through UTF-8 unchanged.
bool well_formed_utf16(std::u16string_view text);

// ASCII letters in lower case, every other character as it is: for names that compare
// regardless of case with no locale and no folding of other scripts (key roots, verbs,
// commands, options, file names in the event log).
constexpr char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
constexpr char16_t ascii_lower(char16_t c) {
    return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c;
}
std::string ascii_lower(std::string_view text);
std::u16string ascii_lower(std::u16string_view text);
// Whether `a` and `b` differ at most in the case of ASCII letters.
bool ascii_iequals(std::string_view a, std::string_view b);
bool ascii_iequals(std::u16string_view a, std::u16string_view b);

}  // namespace handset
