// The platform's debug output: the device's debug.log and the `debug` event.
#include <algorithm>
#include <cstdarg>
#include <fstream>
#include <mutex>

#include "platform/handset/core/device.h"
#include "platform/handset/core/events.h"
#include "platform/handset/core/format.h"
#include "platform/winbase.h"

using namespace handset;

namespace {
std::mutex g_log_mu;

constexpr std::size_t kFormatLimit = 1024;  // wsprintfW's buffer, terminator included
}  // namespace

void OutputDebugStringW(LPCWSTR text) {
    if (!text) return;
    const std::string line = to_utf8(text);
    if (has_device()) {
        std::lock_guard lock(g_log_mu);
        std::ofstream(device().debug_log_path(), std::ios::app) << line;
    }
    events().emit("debug", {{"text", line}});
}

void NKDbgPrintfW(LPCWSTR format, ...) {
    va_list args;
    va_start(args, format);
    const std::u16string text = format_v(format, args);
    va_end(args);
    OutputDebugStringW(text.c_str());
}

int wsprintfW(LPWSTR buffer, LPCWSTR format, ...) {
    if (!buffer) return 0;
    va_list args;
    va_start(args, format);
    std::u16string text = format_v(format, args);
    va_end(args);
    if (text.size() >= kFormatLimit) text.resize(kFormatLimit - 1);
    std::copy(text.begin(), text.end(), buffer);
    buffer[text.size()] = u'\0';
    return static_cast<int>(text.size());
}
