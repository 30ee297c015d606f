// The device folder: creation in factory state, device paths, and the current device.
#include "platform/handset/core/device.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/syscall.h>
#include <unistd.h>
#ifdef SYS_openat2
#include <linux/openat2.h>
#endif

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <vector>

#include "platform/handset/core/host_io.h"
#include "platform/handset/core/utf.h"

namespace fs = std::filesystem;

namespace handset {
namespace {

Device* g_device = nullptr;
std::atomic<std::uint64_t> g_device_generation{0};
std::mutex g_hooks_mu;
std::vector<FactoryHook> g_hooks;

constexpr const char* kMarker = "device.model";
// Held while a process makes the folder, so that processes starting together on a new
// device make it once: the others wait, then find the marker.
constexpr const char* kSetUpLock = ".setup.lock";

// The marker's second line, on a device that keeps the unread-SMS count under HKLM.
constexpr const char* kSmsInMachine = "sms-root HKLM";

void create_factory_folder(const fs::path& folder, const Device& device) {
    fs::create_directories(folder / "fs" / "Windows" / "StartUp");
    fs::create_directories(folder / "run");
    fs::permissions(folder / "run", fs::perms::owner_all, fs::perm_options::replace);
    run_factory_hooks(device);
    // The marker is written last, and whole (renamed into place): a folder without it
    // was not finished and is made again at the next start.
    const fs::path part = folder / (std::string(kMarker) + ".part");
    {
        std::ofstream marker(part);
        marker << device.model() << "\n";
        if (device.unread_sms_in_hklm()) marker << kSmsInMachine << "\n";
    }
    fs::rename(part, folder / kMarker);
}

// The names a device folder holds: its marker and set-up lock, the registry and its
// journal files, the file system, the run folder and the debug output.
bool is_device_entry(const std::string& name) {
    return name == kMarker || name == kSetUpLock || name == "fs" || name == "run" || name == "debug.log" ||
           name.starts_with("registry.db") || name.starts_with(std::string(kMarker) + ".");
}

}  // namespace

fs::path Device::default_folder() {
    if (const char* state = std::getenv("XDG_STATE_HOME"); state && *state)
        return fs::path(state) / "quillon" / "device";
    if (const char* home = std::getenv("HOME"); home && *home)
        return fs::path(home) / ".local" / "state" / "quillon" / "device";
    return fs::path(".quillon-device");
}

bool Device::exists(const fs::path& folder) {
    std::error_code ec;
    return fs::is_regular_file(folder / kMarker, ec);
}

Device::Device(DeviceOptions options)
    : model_(options.model), exe_path_(std::move(options.exe_path)), unread_sms_in_hklm_(options.unread_sms_in_hklm) {
    if (model_ != "skt" && model_ != "ktf" && model_ != "none")
        throw std::runtime_error("unknown model '" + model_ + "' (skt, ktf or none)");
    folder_ = options.folder.empty() ? default_folder() : options.folder;
    std::error_code ec;
    folder_ = fs::absolute(folder_, ec);
    if (options.reset && fs::exists(folder_)) {
        // --reset wipes the folder: only one that holds nothing but a device's own files,
        // never a folder named by mistake.
        for (const auto& entry : fs::directory_iterator(folder_, ec)) {
            const std::string name = entry.path().filename().string();
            if (!is_device_entry(name))
                throw std::runtime_error("will not reset " + folder_.string() + ": it holds " + name +
                                         ", which is no part of a device");
        }
        fs::remove_all(folder_, ec);
        if (ec) throw std::runtime_error("cannot reset device folder " + folder_.string() + ": " + ec.message());
    }
    if (options.must_exist && !exists(folder_))
        throw std::runtime_error("no device at " + folder_.string() + " (a phone makes one at its first start: quillon --device " +
                                 folder_.string() + ")");
    // A finished folder is told by its marker, opened at once to be read.
    const auto open_marker = [this] { return UniqueFd(::open((folder_ / kMarker).c_str(), O_RDONLY | O_CLOEXEC)); };
    UniqueFd marker = open_marker();
    UniqueFd setup_file;  // open only while this process may have to make the folder
    if (!marker) {
        fs::create_directories(folder_, ec);
        if (ec) throw std::runtime_error("cannot create device folder " + folder_.string() + ": " + ec.message());
        setup_file = open_lock_file(folder_ / kSetUpLock);
    }
    const FileLock setting_up(setup_file.get(), LOCK_EX);
    // Checked again under the lock: another process may have made the folder meanwhile.
    if (!marker) marker = open_marker();
    if (!marker) {
        // A folder left half-made by a crash is completed, not trusted.
        try {
            create_factory_folder(folder_, *this);
        } catch (const fs::filesystem_error& e) {
            throw std::runtime_error("cannot create device folder " + folder_.string() + ": " + e.what());
        }
    } else {
        // The model on the first line, the firmware's quirks on the second.
        FileBytes file;
        std::string_view lines = file.read(marker.get()) ? file.text() : std::string_view();
        const auto next_line = [&lines] {
            const std::size_t end = std::min(lines.find('\n'), lines.size());
            const std::string_view line = lines.substr(0, end);
            lines.remove_prefix(std::min(end + 1, lines.size()));
            return line;
        };
        if (const std::string_view model = next_line(); !model.empty()) model_ = std::string(model);
        unread_sms_in_hklm_ = next_line() == kSmsInMachine;
        fs::create_directories(folder_ / "run", ec);
    }
}

namespace {

// Calls `part(name)` for each name of an absolute device path, in order. False, having
// called it for none or some, when the path is not absolute or a name is "." or "..",
// holds a NUL or a colon; also when `part` returns false.
template <class Part>
bool each_name(std::u16string_view device_path, Part&& part) {
    if (device_path.empty() || (device_path[0] != u'\\' && device_path[0] != u'/')) return false;
    std::size_t i = 0;
    while (i < device_path.size()) {
        while (i < device_path.size() && (device_path[i] == u'\\' || device_path[i] == u'/')) ++i;
        std::size_t j = i;
        while (j < device_path.size() && device_path[j] != u'\\' && device_path[j] != u'/') ++j;
        if (j == i) break;
        const std::u16string_view name = device_path.substr(i, j - i);
        if (name == u"." || name == u"..") return false;
        if (name.find(u'\0') != std::u16string_view::npos || name.find(u':') != std::u16string_view::npos) return false;
        if (!part(name)) return false;
        i = j;
    }
    return true;
}

// openat2(2) with `how`; -1 with errno ENOSYS where the C library or the kernel lacks it.
int open_beneath(int dir, const char* relative, int flags) {
#ifdef SYS_openat2
    open_how how{};
    how.flags = static_cast<std::uint64_t>(flags);
    // No step may leave `dir` (through "..", an absolute link or a link that leads out),
    // and no /proc link may jump anywhere.
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
    return static_cast<int>(::syscall(SYS_openat2, dir, relative, &how, sizeof how));
#else
    (void)dir, (void)relative, (void)flags;
    errno = ENOSYS;
    return -1;
#endif
}

}  // namespace

std::optional<fs::path> Device::host_path(std::u16string_view device_path) const {
    fs::path result = fs_root();
    // Without a link below fs/ (and each_name() refuses "." and ".."), the path is fs/
    // and names under it, which cannot leave it: only a link calls for the check below,
    // whose resolution reads every folder from the host's root up.
    bool through_link = false;
    const bool named = each_name(device_path, [&](std::u16string_view part) {
        const std::string name = to_utf8(part);
        // The device's file system ignores case: use the existing entry's spelling.
        fs::path next = result / name;
        std::error_code ec;
        const fs::file_status own = fs::symlink_status(next, ec);
        if (ec && own.type() != fs::file_type::not_found) through_link = true;  // unknown: check
        bool found = fs::exists(own);
        if (fs::is_symlink(own)) {
            through_link = true;
            found = fs::exists(next, ec);
        }
        if (!found && fs::is_directory(result, ec)) {
            for (const auto& entry : fs::directory_iterator(result, ec)) {
                if (ascii_iequals(entry.path().filename().string(), name)) {
                    next = entry.path();
                    if (entry.is_symlink(ec) || ec) through_link = true;
                    break;
                }
            }
        }
        result = std::move(next);
        return true;
    });
    if (!named) return std::nullopt;
    if (!through_link) return result;
    // Links inside fs/ could point out of it; the resolved path must stay below fs/.
    std::error_code ec;
    const fs::path canonical_root = fs::weakly_canonical(fs_root(), ec);
    const fs::path canonical = fs::weakly_canonical(result, ec);
    if (ec) return std::nullopt;
    auto [root_end, ignored] = std::mismatch(canonical_root.begin(), canonical_root.end(), canonical.begin(), canonical.end());
    if (root_end != canonical_root.end()) return std::nullopt;
    return result;
}

int Device::fs_root_fd() const {
    std::lock_guard lock(fs_root_mu_);
    if (!fs_root_fd_) fs_root_fd_.reset(::open(fs_root().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    return fs_root_fd_.get();
}

UniqueFd Device::open_for_reading(std::u16string_view device_path) const {
    // The path as spelt, names joined by '/', for the kernel to resolve below fs/ in one
    // call: one open for a path spelt as stored, where host_path() takes a stat and a
    // readlink for every name and every folder above fs/.
    std::string relative;
    const bool named = each_name(device_path, [&](std::u16string_view part) {
        if (!relative.empty()) relative += '/';
        relative += to_utf8(part);
        return true;
    });
    if (!named) return {};
    if (!relative.empty()) {
        if (const int root = fs_root_fd(); root >= 0) {
            const int fd = open_beneath(root, relative.c_str(), O_RDONLY | O_CLOEXEC);
            if (fd >= 0) return UniqueFd(fd);
        }
    }
    // Spelt in another case, a link the kernel would not follow below fs/ (an absolute
    // one), or no openat2: host_path() decides, with the checks it always makes.
    const auto host = host_path(device_path);
    if (!host) return {};
    return UniqueFd(::open(host->c_str(), O_RDONLY | O_CLOEXEC));
}

Device& device() {
    if (!g_device) throw std::logic_error("no device is open");
    return *g_device;
}

bool has_device() { return g_device != nullptr; }

void set_device(Device* device) {
    g_device = device;
    g_device_generation.fetch_add(1, std::memory_order_relaxed);
}

std::uint64_t device_generation() { return g_device_generation.load(std::memory_order_relaxed); }

void add_factory_hook(FactoryHook hook) {
    std::lock_guard lock(g_hooks_mu);
    for (auto h : g_hooks)
        if (h == hook) return;
    g_hooks.push_back(hook);
}

void run_factory_hooks(const Device& device) {
    std::vector<FactoryHook> hooks;
    {
        std::lock_guard lock(g_hooks_mu);
        hooks = g_hooks;
    }
    for (auto hook : hooks) hook(device);
}

}  // namespace handset
