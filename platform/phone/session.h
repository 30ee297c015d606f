// The emulated phone's start-up for one run of the emulator: the clock, the device
// folder, its registry, the program's resources and the hooks between the services and
// the front ends. A Session lives as long as the front end runs.
#pragma once

#include <memory>

#include "platform/handset/core/clock.h"
#include "platform/handset/core/device.h"
#include "platform/handset/core/host_io.h"

namespace phone {

struct SessionOptions {
    handset::DeviceOptions device;
    handset::ClockKind clock = handset::ClockKind::Virtual;
    double speed = 1.0;
    long long time_origin_ms = 0;  // a child host continues its parent's handset time
    // A phone the user started holds the device for as long as it runs, and a second
    // one on the same device is refused; a child host runs inside its parent's phone.
    bool child = false;
};

class Session {
public:
    // Sets up the phone in this order: the clock; the factory hooks (registry and
    // device files) and the device folder; the hold on the device (not for a child
    // host); the registry store; the resources; the cross-host foreground hook. Throws
    // std::runtime_error with a clear message when the device cannot be opened, or
    // when another phone holds it.
    explicit Session(const SessionOptions& options);
    // Stops the device services and withdraws this host from the device.
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    handset::Device& device() { return *device_; }

private:
    std::unique_ptr<handset::Device> device_;
    handset::UniqueFd phone_lock_;  // held (flock) while this phone runs on the device
};

// Opens only the device and its registry, for `quillon reg` (no clock, no program).
class RegistrySession {
public:
    explicit RegistrySession(const handset::DeviceOptions& options);
    ~RegistrySession();
    RegistrySession(const RegistrySession&) = delete;
    RegistrySession& operator=(const RegistrySession&) = delete;

private:
    std::unique_ptr<handset::Device> device_;
};

}  // namespace phone
