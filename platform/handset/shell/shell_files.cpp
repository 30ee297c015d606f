// The shell's files: SHCreateShortcut.
//
// A shortcut file of this platform is one line of text without a line end: the
// target's length in characters, in decimal, a '#', and the target (a path, quoted
// when it holds spaces, perhaps followed by arguments). The text is stored as UTF-8.
// As the platform documents it, the call makes new shortcuts only: one that exists
// already is left as it is and the call fails, and a target longer than 256
// characters is refused.
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "platform/handset/core/device.h"
#include "platform/handset/core/events.h"
#include "platform/handset/core/faults.h"
#include "platform/shellapi.h"
#include "platform/winbase.h"

namespace fs = std::filesystem;
using namespace handset;

namespace {

// Writes `text` to `path` through a temporary file beside it, so that a reader never
// sees half a shortcut. ERROR_SUCCESS, or the platform's error when the folder does not
// take it: ERROR_DISK_FULL when the storage has no room left.
LONG write_whole(const fs::path& path, const std::string& text) {
    fs::path temporary = path;
    temporary += ".tmp";
    const auto failure = [&] {
        const LONG error = errno == ENOSPC ? ERROR_DISK_FULL : ERROR_ACCESS_DENIED;
        std::error_code ec;
        fs::remove(temporary, ec);
        return error;
    };
    errno = 0;
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out) return failure();
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
        out.close();
        if (!out) return failure();
    }
    std::error_code ec;
    fs::rename(temporary, path, ec);
    if (ec) {
        errno = ec.value();
        return failure();
    }
    return ERROR_SUCCESS;
}

}  // namespace

namespace {
constexpr std::size_t kMaxShortcutTarget = 256;
}

BOOL SHCreateShortcut(LPCWSTR path, LPCWSTR target) {
    if (!path || !target || !*path || std::u16string_view(target).size() > kMaxShortcutTarget) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (fault_active(Fault::ShellShortcut)) {
        SetLastError(ERROR_CANNOT_MAKE);
        return FALSE;
    }
    if (fault_active(Fault::StorageFull)) {
        SetLastError(ERROR_DISK_FULL);
        return FALSE;
    }
    const std::u16string target_text(target);
    const auto host = has_device() ? device().host_path(path) : std::nullopt;
    std::error_code ec;
    if (!host || !fs::is_directory(host->parent_path(), ec)) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    if (fs::is_directory(*host, ec)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (fs::exists(*host, ec)) {
        SetLastError(ERROR_ALREADY_EXISTS);
        return FALSE;
    }
    const std::string text = std::to_string(target_text.size()) + "#" + to_utf8(target_text);
    if (const LONG error = write_whole(*host, text)) {
        SetLastError(error);
        return FALSE;
    }
    events().emit("shortcut.create", {{"path", to_utf8(path)}, {"target", to_utf8(target_text)}});
    return TRUE;
}
