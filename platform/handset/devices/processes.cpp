// Program launch of the platform API: ShellExecuteEx.
//
// A program is named by lpFile, a device path; a relative name is looked for in
// lpDirectory, or in \Windows when no folder is given, as the phone's shell does. The
// device's file system ignores case. Only the device programs that the emulator
// carries can run (the carrier's mail client); another existing file fails with
// ERROR_NOT_SUPPORTED, a missing one with ERROR_FILE_NOT_FOUND. Quillon itself is
// started by the front ends, never through here.
#include <filesystem>

#include "platform/handset/core/device.h"
#include "platform/handset/core/faults.h"
#include "platform/handset/core/kernel.h"
#include "platform/handset/core/utf.h"
#include "platform/handset/devices/programs.h"
#include "platform/shellapi.h"
#include "platform/winbase.h"

namespace handset {
namespace {

// Any value above 32 tells the caller the launch succeeded.
const HINSTANCE kLaunched = reinterpret_cast<HINSTANCE>(static_cast<std::uintptr_t>(42));

std::u16string_view unquoted(std::u16string_view text) {
    if (text.size() >= 2 && text.front() == u'"' && text.back() == u'"') return text.substr(1, text.size() - 2);
    return text;
}

std::u16string program_path(std::u16string_view file, LPCWSTR directory) {
    file = unquoted(file);
    if (!file.empty() && (file.front() == u'\\' || file.front() == u'/')) return std::u16string(file);
    std::u16string path = directory && *directory ? std::u16string(unquoted(directory)) : u"\\Windows";
    if (path.empty() || (path.back() != u'\\' && path.back() != u'/')) path += u'\\';
    return path + std::u16string(file);
}

bool is_open_verb(LPCWSTR verb) { return !verb || !*verb || ascii_iequals(std::u16string_view(verb), u"open"); }

}  // namespace

ProgramStart start_device_program(std::u16string_view device_path) {
    if (!has_device()) return {nullptr, static_cast<DWORD>(ERROR_FILE_NOT_FOUND)};
    const auto host = device().host_path(device_path);
    std::error_code ec;
    if (!host || !std::filesystem::is_regular_file(*host, ec)) return {nullptr, static_cast<DWORD>(ERROR_FILE_NOT_FOUND)};
    // host_path() resolves case, so equal host paths name the same program.
    if (*host != device().host_path(kMailClientPath)) return {nullptr, static_cast<DWORD>(ERROR_NOT_SUPPORTED)};
    auto process = start_mail_client();
    if (!process) return {nullptr, static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY)};
    return {std::move(process), 0};
}

}  // namespace handset

using namespace handset;

BOOL ShellExecuteEx(SHELLEXECUTEINFO* info) {
    if (!info || info->cbSize != sizeof(SHELLEXECUTEINFO)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    info->hProcess = nullptr;
    if (!info->lpFile || !*info->lpFile) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    if (!is_open_verb(info->lpVerb)) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    if (fault_active(Fault::ProcessStart)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    ProgramStart started = start_device_program(program_path(info->lpFile, info->lpDirectory));
    if (!started.process) {
        SetLastError(started.error);
        return FALSE;
    }
    info->hInstApp = kLaunched;
    if (info->fMask & SEE_MASK_NOCLOSEPROCESS) info->hProcess = make_handle(std::move(started.process));
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}
