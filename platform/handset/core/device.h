// The device folder: one folder holds one phone.
//
//   registry.db   the registry (SQLite)
//   fs/           the phone's file system; device path \Windows\x is fs/Windows/x
//   run/          named mutexes, the window table, the control socket
//   debug.log     the platform's debug output
//
// A missing device folder is created in factory state. Device paths use the
// platform's backslashes; a path that would leave fs/ is refused.
#pragma once

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>

#include "platform/handset/core/host_io.h"

namespace handset {

struct DeviceOptions {
    std::filesystem::path folder;        // empty: the default folder
    std::string model = "skt";           // skt, ktf or none
    bool reset = false;                  // recreate in factory state
    std::u16string exe_path;             // --exe-path; empty: the installed program
    // --sms-root HKLM: a new device publishes the unread-SMS count under HKLM, as some
    // firmware does, instead of under HKCU, where the platform documents it.
    bool unread_sms_in_hklm = false;
    // The companions open a device the phone has made and never make one: a mistyped
    // folder is an error, not a new phone.
    bool must_exist = false;

    bool operator==(const DeviceOptions&) const = default;
};

class Device {
public:
    // Opens the device folder, creating it in factory state when missing (or when
    // options.reset). Throws std::runtime_error with a clear message on failure.
    explicit Device(DeviceOptions options);

    const std::filesystem::path& folder() const { return folder_; }
    std::filesystem::path fs_root() const { return folder_ / "fs"; }
    std::filesystem::path run_dir() const { return folder_ / "run"; }
    std::filesystem::path registry_path() const { return folder_ / "registry.db"; }
    std::filesystem::path debug_log_path() const { return folder_ / "debug.log"; }
    const std::string& model() const { return model_; }
    // Where this device publishes the unread-SMS count: as it was made, whatever the
    // options of a later start.
    bool unread_sms_in_hklm() const { return unread_sms_in_hklm_; }
    // The device path the program is started from as --exe-path named it; empty when
    // it was not named (the device services know where the program is installed).
    const std::u16string& exe_path() const { return exe_path_; }

    // The host path of a device path ("\Windows\StartUp\Quillon.lnk"), or nothing
    // when the path is not absolute or would leave fs/.
    std::optional<std::filesystem::path> host_path(std::u16string_view device_path) const;
    // The device file `device_path` opened for reading, by the rules of host_path(): an
    // empty descriptor when the path is not absolute, would leave fs/ or cannot be opened.
    UniqueFd open_for_reading(std::u16string_view device_path) const;

    static std::filesystem::path default_folder();
    // Whether `folder` holds a device that a phone has finished making.
    static bool exists(const std::filesystem::path& folder);

private:
    // fs/ as a descriptor for the opens below it (O_PATH), opened at the first and kept:
    // a reminder opens its sounds every few seconds of handset time, and the folder
    // stays the one the device was opened with (only a start with --reset makes it again).
    // -1 when it cannot be opened; the next call tries again.
    int fs_root_fd() const;

    std::filesystem::path folder_;
    std::string model_;
    std::u16string exe_path_;
    bool unread_sms_in_hklm_ = false;
    mutable std::mutex fs_root_mu_;
    mutable UniqueFd fs_root_fd_;
};

// The device this process emulates; set once at start-up by the front end.
Device& device();
bool has_device();
void set_device(Device* device);
// A number that changes with every set_device(), so that a service keeping something of
// the device's folder open can tell whether it is still the current device's without
// building and comparing paths (a new device may be allocated where an old one was).
std::uint64_t device_generation();

// Hook run while a device folder is created, after the folders exist: writes the
// factory registry and installs the device's programs and sounds. Set by the layers
// above the core (registry, devices) before the device is opened.
using FactoryHook = void (*)(const Device& device);
void add_factory_hook(FactoryHook hook);
void run_factory_hooks(const Device& device);

}  // namespace handset
