// The phone's shell on the desktop: the soft-key bar as a menu bar, shortcuts as real
// .lnk files, device paths mapped onto the desktop's folders, and the file and launch
// calls that take device paths.
#include "platform/win32/windows.h"

#include <commctrl.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <cstddef>
#include <cwctype>

#include "platform/resource.h"
#include "platform/win32/dialog_template.h"

// This file gives the device-path forms their meaning, so it calls the desktop's own.
#undef CreateFileW
#undef DeleteFileW
#undef GetFileAttributesW
#undef ShellExecuteEx
#undef GetModuleFileNameW

namespace {

// True when `path` starts with the device folder `prefix` (case-insensitive), followed
// by its end or a backslash; `rest` is then what follows the prefix.
bool under(WStringView path, WStringView prefix, WStringView& rest) {
    if (path.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (std::towlower(path[i]) != std::towlower(prefix[i])) return false;
    rest = path.substr(prefix.size());
    return rest.empty() || rest.front() == L'\\';
}

WString known_folder(REFKNOWNFOLDERID id) {
    PWSTR folder = nullptr;
    WString result;
    if (SUCCEEDED(SHGetKnownFolderPath(id, 0, nullptr, &folder))) result = folder;
    CoTaskMemFree(folder);
    return result;
}

WString executable_folder() {
    WCHAR path[MAX_PATH]{};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    WString folder(path, length < MAX_PATH ? length : 0);
    folder.resize(folder.find_last_of(L'\\') == WString::npos ? 0 : folder.find_last_of(L'\\'));
    return folder;
}

// A shortcut target as the phone writes it, in double quotes, without them.
WString unquoted(LPCWSTR target) {
    WString t(target != nullptr ? target : L"");
    if (t.size() >= 2 && t.front() == L'"' && t.back() == L'"') t = t.substr(1, t.size() - 2);
    return t;
}

// COM for the calling thread, for as long as the object lives.
class ComScope {
public:
    ComScope() : result_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ~ComScope() {
        if (SUCCEEDED(result_)) CoUninitialize();
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;
    // S_FALSE and a thread already in another apartment still let us make objects.
    bool usable() const { return SUCCEEDED(result_) || result_ == RPC_E_CHANGED_MODE; }

private:
    HRESULT result_;
};

}  // namespace

WString PhoneDevicePath(LPCWSTR path) {
    if (path == nullptr) return {};
    const WStringView p(path);
    // Only a path from the device's root has a device meaning: "C:\..." and "\\server"
    // are the desktop's own.
    if (p.empty() || p.front() != L'\\' || (p.size() > 1 && p[1] == L'\\')) return WString(p);
    WStringView rest;
    if (under(p, L"\\Windows\\StartUp", rest)) return known_folder(FOLDERID_Startup) + WString(rest);
    if (under(p, L"\\Program Files\\Quillon", rest)) return executable_folder() + WString(rest);
    if (under(p, L"\\Windows", rest)) return known_folder(FOLDERID_Windows) + WString(rest);
    return WString(p);
}

HANDLE PhoneCreateFileW(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                        DWORD disposition, DWORD attributes, HANDLE template_file) {
    const WString desktop = PhoneDevicePath(path);
    return CreateFileW(path != nullptr ? desktop.c_str() : nullptr, access, share, security, disposition,
                       attributes, template_file);
}

BOOL PhoneDeleteFileW(LPCWSTR path) {
    const WString desktop = PhoneDevicePath(path);
    return DeleteFileW(path != nullptr ? desktop.c_str() : nullptr);
}

DWORD PhoneGetFileAttributesW(LPCWSTR path) {
    const WString desktop = PhoneDevicePath(path);
    return GetFileAttributesW(path != nullptr ? desktop.c_str() : nullptr);
}

BOOL PhoneShellExecuteEx(SHELLEXECUTEINFOW* info) {
    if (info == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    SHELLEXECUTEINFOW desktop = *info;
    desktop.cbSize = sizeof(desktop);
    const WString file = PhoneDevicePath(info->lpFile);
    const WString directory = PhoneDevicePath(info->lpDirectory);
    if (info->lpFile != nullptr) desktop.lpFile = file.c_str();
    if (info->lpDirectory != nullptr) desktop.lpDirectory = directory.c_str();
    // A relative file is looked for in the directory, as the phone's shell does.
    WString joined;
    if (info->lpFile != nullptr && info->lpDirectory != nullptr && file.find(L'\\') == WString::npos) {
        joined = directory + L"\\" + file;
        desktop.lpFile = joined.c_str();
    }
    const BOOL ok = ShellExecuteExW(&desktop);
    info->hInstApp = desktop.hInstApp;
    info->hProcess = desktop.hProcess;
    return ok;
}

// Makes new shortcuts only, as the phone's call does: an existing one is left as it is
// and the call fails, and a target longer than 256 characters is refused.
BOOL SHCreateShortcut(LPCWSTR path, LPCWSTR target) {
    if (path == nullptr || target == nullptr || lstrlenW(target) > 256) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (GetFileAttributesW(PhoneDevicePath(path).c_str()) != INVALID_FILE_ATTRIBUTES) {
        SetLastError(ERROR_ALREADY_EXISTS);
        return FALSE;
    }
    ComScope com;
    if (!com.usable()) return FALSE;
    IShellLinkW* link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(&link))))
        return FALSE;
    const WString file = PhoneDevicePath(target != nullptr ? unquoted(target).c_str() : nullptr);
    bool saved = false;
    IPersistFile* persist = nullptr;
    if (SUCCEEDED(link->SetPath(file.c_str())) &&
        SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&persist)))) {
        const WString where = PhoneDevicePath(path);
        saved = SUCCEEDED(persist->Save(where.c_str(), TRUE));
        persist->Release();
    }
    link->Release();
    if (!saved) SetLastError(ERROR_CANNOT_MAKE);
    return saved ? TRUE : FALSE;
}

// As on the phone: cbSize is the record's size (or its size without clrBk), and a menu
// has at most two top-level items, one per soft key, and no images.
BOOL SHCreateMenuBar(SHMENUBARINFO* info) {
    if (info == nullptr || (info->cbSize != sizeof(SHMENUBARINFO) && info->cbSize != offsetof(SHMENUBARINFO, clrBk)) ||
        info->hwndParent == nullptr || !IsWindow(info->hwndParent)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    HMENU menu = nullptr;
    if ((info->dwFlags & SHCMBF_EMPTYBAR) == 0) {
        // With SHCMBF_HMENU the id names a menu; without it, a soft-key bar definition.
        const int id = static_cast<int>(info->nToolBarId);
        const resource::MenuTemplate* t = nullptr;
        resource::MenuItem button{};
        resource::MenuTemplate bar{};
        if ((info->dwFlags & SHCMBF_HMENU) != 0) {
            t = resource::find_menu(id);
        } else if (const resource::SoftKeyBarResource* def = resource::find_softkey_bar(id)) {
            button = resource::MenuItem{def->command, resource::find_string(def->label_string)};
            bar = resource::MenuTemplate{def->id, {&button, 1}};
            t = &bar;
        }
        if (t == nullptr) {
            SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
            return FALSE;
        }
        if (t->items.size() > 2 || info->cBmpImages != 0) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        menu = win32::build_menu_bar(*t);
        if (menu == nullptr) return FALSE;
    }
    if (menu != nullptr && !win32::set_menu_bar(info->hwndParent, menu)) return FALSE;
    info->hwndMB = info->hwndParent;
    return TRUE;
}

BOOL SHInitExtraControls() {
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof(controls);
    controls.dwICC = ICC_STANDARD_CLASSES;
    return InitCommonControlsEx(&controls);
}
