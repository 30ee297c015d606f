// printf-style formatting of UTF-16 texts, as the platform's wsprintfW and
// NKDbgPrintfW do it: %s (UTF-16 text), %d, %i, %u, %x, %X, %c and %%, with flags
// '-' and '0', a width, and an ignored 'l' or 'h' size.
#pragma once

#include <cstdarg>
#include <string>

namespace handset {

std::u16string format_v(const char16_t* format, va_list args);

}  // namespace handset
