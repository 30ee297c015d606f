// Start-up and shut-down of the emulated phone around a front end.
#include "platform/phone/session.h"

#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <stdexcept>

#include "platform/phone/control.h"
#include "platform/handset/core/kernel.h"
#include "platform/handset/devices/devices.h"
#include "platform/handset/registry/factory_values.h"
#include "platform/handset/registry/store.h"
#include "platform/handset/window/wm.h"
#include "res/resources.h"

using namespace handset;

namespace phone {
namespace {

// Writes the factory registry of a device folder being made.
void factory_registry(const Device& device) {
    RegistryStore store(device.registry_path().string());
    const RegStatus status = write_factory_registry(store, device.model(), device.unread_sms_in_hklm());
    if (status != RegStatus::Ok)
        throw std::runtime_error("cannot write the factory registry of " + device.folder().string() + ": " +
                                 describe(status));
}

std::unique_ptr<Device> open_device(const DeviceOptions& options) {
    add_factory_hook(&factory_registry);
    register_device_services();
    register_window_table();
    auto device = std::make_unique<Device>(options);
    set_device(device.get());
    try {
        set_registry(std::make_unique<RegistryStore>(device->registry_path().string()));
    } catch (const RegistryOpenError& e) {
        set_device(nullptr);
        throw std::runtime_error(e.what());
    }
    return device;
}

// Holds the device for this phone: an exclusive flock on run/phone.lock, which the
// kernel lets go however the process ends, with the holder's pid written in it for
// the next phone's refusal.
UniqueFd hold_device(const Device& device) {
    const std::filesystem::path file = phone_lock_path(device.run_dir());
    UniqueFd fd = open_lock_file(file);
    if (!fd && errno == ENOENT) {  // the device made run/; made again if removed since
        std::error_code ec;
        std::filesystem::create_directories(device.run_dir(), ec);
        fd = open_lock_file(file);
    }
    if (!fd) throw std::runtime_error("cannot open " + file.string() + ": " + std::strerror(errno));
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        std::ifstream in(file);
        std::string pid;
        std::getline(in, pid);
        const std::string folder = device.folder().string();
        throw std::runtime_error("the device " + folder + " is in use by the phone of process " +
                                 (pid.empty() ? std::string("?") : pid) + "; drive that phone with `quillon --device " +
                                 folder + " ctl COMMAND`, or end it first");
    }
    // Written over the last holder's pid, then cut to length: never truncated to nothing
    // first, which on ext4 makes the close write the file out to the disk at once (its
    // guard for files replaced by truncating), a block write at every start.
    const std::string pid = std::to_string(self_os_pid()) + "\n";
    if (::pwrite(fd.get(), pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size()) ||
        ::ftruncate(fd.get(), static_cast<off_t>(pid.size())) != 0)
        throw std::runtime_error("cannot write " + file.string() + ": " + std::strerror(errno));
    return fd;
}

}  // namespace

Session::Session(const SessionOptions& options) {
    handset::clock().configure(options.clock, options.speed, options.time_origin_ms);
    device_ = open_device(options.device);
    if (!options.child) {
        try {
            phone_lock_ = hold_device(*device_);
        } catch (...) {
            set_registry(nullptr);
            set_device(nullptr);
            throw;
        }
    }
    set_resources(&quillon_resources());
    install_remote_foreground();
}

Session::~Session() {
    stop_device_services();
    withdraw_window_table();
    set_registry(nullptr);
    set_device(nullptr);
}

RegistrySession::RegistrySession(const DeviceOptions& options) : device_(open_device(options)) {}

RegistrySession::~RegistrySession() {
    set_registry(nullptr);
    set_device(nullptr);
}

}  // namespace phone
