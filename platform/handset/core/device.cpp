// The device folder: creation in factory state, device paths, and the current device.
#include "platform/handset/core/device.h"

#include <sys/file.h>

#include <algorithm>
#include <atomic>
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
    UniqueFd setup_file;  // open only while this process may have to make the folder
    if (!fs::exists(folder_ / kMarker)) {
        fs::create_directories(folder_, ec);
        if (ec) throw std::runtime_error("cannot create device folder " + folder_.string() + ": " + ec.message());
        setup_file = open_lock_file(folder_ / kSetUpLock);
    }
    const FileLock setting_up(setup_file.get(), LOCK_EX);
    // Checked again under the lock: another process may have made the folder meanwhile.
    if (!fs::exists(folder_ / kMarker)) {
        // A folder left half-made by a crash is completed, not trusted.
        try {
            create_factory_folder(folder_, *this);
        } catch (const fs::filesystem_error& e) {
            throw std::runtime_error("cannot create device folder " + folder_.string() + ": " + e.what());
        }
    } else {
        std::ifstream in(folder_ / kMarker);
        std::string stored;
        if (std::getline(in, stored) && !stored.empty()) model_ = stored;
        std::string firmware;
        unread_sms_in_hklm_ = std::getline(in, firmware) && firmware == kSmsInMachine;
        fs::create_directories(folder_ / "run", ec);
    }
}

std::optional<fs::path> Device::host_path(std::u16string_view device_path) const {
    if (device_path.empty() || (device_path[0] != u'\\' && device_path[0] != u'/')) return std::nullopt;
    fs::path result = fs_root();
    std::size_t i = 0;
    while (i < device_path.size()) {
        while (i < device_path.size() && (device_path[i] == u'\\' || device_path[i] == u'/')) ++i;
        std::size_t j = i;
        while (j < device_path.size() && device_path[j] != u'\\' && device_path[j] != u'/') ++j;
        if (j == i) break;
        const std::u16string_view part = device_path.substr(i, j - i);
        if (part == u"." || part == u"..") return std::nullopt;
        if (part.find(u'\0') != std::u16string_view::npos || part.find(u':') != std::u16string_view::npos)
            return std::nullopt;
        const std::string name = to_utf8(part);
        // The device's file system ignores case: use the existing entry's spelling.
        fs::path next = result / name;
        std::error_code ec;
        if (!fs::exists(next, ec) && fs::is_directory(result, ec)) {
            for (const auto& entry : fs::directory_iterator(result, ec)) {
                if (ascii_iequals(entry.path().filename().string(), name)) {
                    next = entry.path();
                    break;
                }
            }
        }
        result = std::move(next);
        i = j;
    }
    // Links inside fs/ could point out of it; the resolved path must stay below fs/.
    std::error_code ec;
    const fs::path canonical_root = fs::weakly_canonical(fs_root(), ec);
    const fs::path canonical = fs::weakly_canonical(result, ec);
    if (ec) return std::nullopt;
    auto [root_end, ignored] = std::mismatch(canonical_root.begin(), canonical_root.end(), canonical.begin(), canonical.end());
    if (root_end != canonical_root.end()) return std::nullopt;
    return result;
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
