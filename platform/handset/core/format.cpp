// The platform's printf-style formatter for UTF-16 texts.
#include "platform/handset/core/format.h"

namespace handset {
namespace {

void pad_and_append(std::u16string& out, const std::u16string& text, int width, bool left, char16_t fill) {
    const int pad = width - static_cast<int>(text.size());
    if (pad > 0 && !left) out.append(static_cast<std::size_t>(pad), fill);
    out += text;
    if (pad > 0 && left) out.append(static_cast<std::size_t>(pad), u' ');
}

std::u16string number(unsigned long long value, unsigned base, bool upper) {
    const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    std::u16string s;
    do {
        s.insert(s.begin(), static_cast<char16_t>(digits[value % base]));
        value /= base;
    } while (value);
    return s;
}

}  // namespace

std::u16string format_v(const char16_t* format, va_list args) {
    std::u16string out;
    if (!format) return out;
    for (const char16_t* p = format; *p; ++p) {
        if (*p != u'%') {
            out += *p;
            continue;
        }
        ++p;
        bool left = false;
        char16_t fill = u' ';
        for (; *p == u'-' || *p == u'0'; ++p) {
            if (*p == u'-') left = true;
            else fill = u'0';
        }
        int width = 0;
        for (; *p >= u'0' && *p <= u'9'; ++p) width = width * 10 + (*p - u'0');
        while (*p == u'l' || *p == u'h') ++p;
        switch (*p) {
            case u'%':
                out += u'%';
                break;
            case u's': {
                const char16_t* s = va_arg(args, const char16_t*);
                pad_and_append(out, s ? std::u16string(s) : std::u16string(u"(null)"), width, left, u' ');
                break;
            }
            case u'c':
                pad_and_append(out, std::u16string(1, static_cast<char16_t>(va_arg(args, int))), width, left, u' ');
                break;
            case u'd':
            case u'i': {
                const int v = va_arg(args, int);
                std::u16string digits = number(v < 0 ? 0ull - static_cast<unsigned long long>(v) : static_cast<unsigned long long>(v), 10, false);
                if (v < 0 && fill == u'0') {
                    out += u'-';
                    pad_and_append(out, digits, width - 1, left, fill);
                } else {
                    if (v < 0) digits.insert(digits.begin(), u'-');
                    pad_and_append(out, digits, width, left, fill);
                }
                break;
            }
            case u'u':
                pad_and_append(out, number(va_arg(args, unsigned), 10, false), width, left, fill);
                break;
            case u'x':
            case u'X':
                pad_and_append(out, number(va_arg(args, unsigned), 16, *p == u'X'), width, left, fill);
                break;
            case u'\0':
                return out;
            default:
                // An unknown conversion is copied as written.
                out += u'%';
                out += *p;
                break;
        }
    }
    return out;
}

}  // namespace handset
