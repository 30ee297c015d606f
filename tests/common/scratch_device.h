// A device folder in a scratch folder, current for the platform while the object lives,
// with the virtual clock chosen. Registry and services are the fixture's own business.
#pragma once

#include "common/temp_dir.h"
#include "platform/handset/core/clock.h"
#include "platform/handset/core/device.h"

namespace qtest {

class ScratchDevice {
public:
    explicit ScratchDevice(const std::string& prefix) : dir_(prefix), device_(options(dir_)) {
        handset::set_device(&device_);
        handset::clock().configure(handset::ClockKind::Virtual);
    }
    ~ScratchDevice() { handset::set_device(nullptr); }
    ScratchDevice(const ScratchDevice&) = delete;
    ScratchDevice& operator=(const ScratchDevice&) = delete;

    // The scratch folder; the device folder is "device" inside it.
    const std::filesystem::path& root() const { return dir_.path(); }
    handset::Device& device() { return device_; }

private:
    static handset::DeviceOptions options(const TempDir& dir) {
        handset::DeviceOptions o;
        o.folder = dir / "device";
        return o;
    }
    TempDir dir_;  // outlives the device, which is destroyed first
    handset::Device device_;
};

}  // namespace qtest
