// Start-up and shut-down of the emulated phone around a front end.
#include "platform/phone/session.h"

#include <stdexcept>

#include "platform/phone/control.h"
#include "platform/handset/devices/devices.h"
#include "platform/handset/registry/factory.h"
#include "platform/handset/registry/store.h"
#include "platform/handset/window/wm.h"
#include "res/resources.h"

namespace handset::frontend {
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

}  // namespace

Session::Session(const SessionOptions& options) {
    clock().configure(options.clock, options.speed, options.time_origin_ms);
    device_ = open_device(options.device);
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

}  // namespace handset::frontend
