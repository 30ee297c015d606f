// Files of the device's file system, and the module and process path functions.
//
// Share modes are honoured between the handles of this host: a file held open
// without sharing cannot be opened again until that handle is closed.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <list>

#include "platform/handset/core/device.h"
#include "platform/handset/core/events.h"
#include "platform/handset/core/kernel.h"
#include "platform/handset/core/process.h"
#include "platform/winbase.h"

using namespace handset;
namespace fs = std::filesystem;

namespace {

class FileObject : public KernelObject {
public:
    ~FileObject() override;
    fs::path path;
    DWORD access = 0;
    DWORD share = 0;
    int fd = -1;
};

std::mutex g_open_mu;
std::list<FileObject*> g_open;  // every open file of this host

FileObject::~FileObject() {
    if (fd >= 0) close(fd);
    std::lock_guard lock(g_open_mu);
    g_open.remove(this);
}

bool same_file(const fs::path& a, const fs::path& b) {
    std::error_code ec;
    return fs::equivalent(a, b, ec);
}

// Would an open with `access` and `share` conflict with a handle already open?
bool share_conflict(const fs::path& path, DWORD access, DWORD share) {
    std::lock_guard lock(g_open_mu);
    for (const FileObject* f : g_open) {
        if (!same_file(f->path, path)) continue;
        if ((access & GENERIC_READ) && !(f->share & FILE_SHARE_READ)) return true;
        if ((access & GENERIC_WRITE) && !(f->share & FILE_SHARE_WRITE)) return true;
        if ((f->access & GENERIC_READ) && !(share & FILE_SHARE_READ)) return true;
        if ((f->access & GENERIC_WRITE) && !(share & FILE_SHARE_WRITE)) return true;
    }
    return false;
}

bool delete_conflict(const fs::path& path) {
    std::lock_guard lock(g_open_mu);
    return std::any_of(g_open.begin(), g_open.end(),
                       [&](const FileObject* f) { return same_file(f->path, path) && !(f->share & FILE_SHARE_DELETE); });
}

// A process handle for a process of another host, known only by its id.
class RemoteProcessObject : public RunnableObject {
public:
    DWORD pid = 0;
};

// The platform tells a missing file in an existing folder from a missing folder.
DWORD missing_path_error(const fs::path& host) {
    std::error_code ec;
    return fs::is_directory(host.parent_path(), ec) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
}

std::optional<fs::path> resolve(LPCWSTR path) {
    if (!path || !has_device()) return std::nullopt;
    return device().host_path(path);
}

// The host path of `path` when something is there, with its status in `status`; else
// nothing, the last error set as the platform sets it for a missing file or folder.
std::optional<fs::path> existing(LPCWSTR path, fs::file_status& status) {
    auto host = resolve(path);
    if (!host) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return std::nullopt;
    }
    std::error_code ec;
    status = fs::status(*host, ec);
    if (!fs::exists(status)) {
        SetLastError(missing_path_error(*host));
        return std::nullopt;
    }
    return host;
}

}  // namespace

HANDLE CreateFileW(LPCWSTR path, DWORD access, DWORD share, void*, DWORD disposition, DWORD, HANDLE) {
    const auto host = resolve(path);
    if (!host) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    std::error_code ec;
    const bool exists = fs::is_regular_file(*host, ec);
    int flags = O_CLOEXEC;
    flags |= (access & GENERIC_WRITE) ? ((access & GENERIC_READ) ? O_RDWR : O_WRONLY) : O_RDONLY;
    switch (disposition) {
        case OPEN_EXISTING:
            if (!exists) {
                SetLastError(missing_path_error(*host));
                return INVALID_HANDLE_VALUE;
            }
            break;
        case CREATE_NEW:
            if (exists) {
                SetLastError(ERROR_FILE_EXISTS);
                return INVALID_HANDLE_VALUE;
            }
            flags |= O_CREAT | O_EXCL;
            break;
        case CREATE_ALWAYS:
            flags |= O_CREAT | O_TRUNC;
            break;
        case OPEN_ALWAYS:
            flags |= O_CREAT;
            break;
        default:
            SetLastError(ERROR_INVALID_PARAMETER);
            return INVALID_HANDLE_VALUE;
    }
    if (exists && share_conflict(*host, access, share)) {
        SetLastError(ERROR_SHARING_VIOLATION);
        return INVALID_HANDLE_VALUE;
    }
    const int fd = open(host->c_str(), flags, 0644);
    if (fd < 0) {
        SetLastError(errno == EACCES || errno == EROFS ? ERROR_ACCESS_DENIED : missing_path_error(*host));
        return INVALID_HANDLE_VALUE;
    }
    auto file = std::make_shared<FileObject>();
    file->path = *host;
    file->access = access;
    file->share = share;
    file->fd = fd;
    {
        std::lock_guard lock(g_open_mu);
        g_open.push_back(file.get());
    }
    SetLastError(exists && (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS) ? ERROR_ALREADY_EXISTS
                                                                                       : ERROR_SUCCESS);
    return make_handle(std::move(file));
}

BOOL DeleteFileW(LPCWSTR path) {
    fs::file_status status;
    const auto host = existing(path, status);
    if (!host) return FALSE;
    if (fs::is_directory(status)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (!fs::is_regular_file(status)) {
        SetLastError(missing_path_error(*host));
        return FALSE;
    }
    if (delete_conflict(*host)) {
        SetLastError(ERROR_SHARING_VIOLATION);
        return FALSE;
    }
    std::error_code ec;
    if (!fs::remove(*host, ec)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    events().emit("file.delete", {{"path", to_utf8(path)}});
    return TRUE;
}

DWORD GetFileAttributesW(LPCWSTR path) {
    fs::file_status status;
    if (!existing(path, status)) return INVALID_FILE_ATTRIBUTES;
    return fs::is_directory(status) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
}

HANDLE OpenProcess(DWORD, BOOL, DWORD process_id) {
    if (auto local = find_local_process(process_id)) return make_handle(local);
    if (process_exe_path(process_id).empty()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto remote = std::make_shared<RemoteProcessObject>();
    remote->pid = process_id;
    return make_handle(std::move(remote));
}

DWORD GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size) {
    std::u16string path;
    if (!module) {
        path = current_process()->exe_path;
    } else {
        auto object = object_of(reinterpret_cast<HANDLE>(module));
        if (auto local = std::dynamic_pointer_cast<ProcessObject>(object)) {
            path = process_exe_path(local->pid);
        } else if (auto remote = std::dynamic_pointer_cast<RemoteProcessObject>(object)) {
            path = process_exe_path(remote->pid);
        } else {
            SetLastError(ERROR_INVALID_HANDLE);
            return 0;
        }
        if (path.empty()) {
            SetLastError(ERROR_INVALID_HANDLE);
            return 0;
        }
    }
    if (!buffer || size == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    // Like the platform: a path that does not fit is cut and terminated, and the
    // full buffer size is returned.
    if (path.size() >= size) {
        std::copy_n(path.begin(), size - 1, buffer);
        buffer[size - 1] = u'\0';
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return size;
    }
    std::copy(path.begin(), path.end(), buffer);
    buffer[path.size()] = u'\0';
    return static_cast<DWORD>(path.size());
}
