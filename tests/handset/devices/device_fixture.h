// A temporary device in factory state, its registry, the virtual clock with the test's
// thread taking part, the device services running, and a record of the events.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/event_recorder.h"
#include "common/scratch_device.h"
#include "platform/handset/core/clock.h"
#include "platform/handset/core/json.h"
#include "platform/handset/core/faults.h"
#include "platform/handset/devices/devices.h"
#include "platform/handset/registry/store.h"
#include "platform/windows.h"

class DeviceTest : public ::testing::Test {
protected:
    void SetUp() override {
        handset::register_device_services();
        scratch_.emplace("quillon-devices");
        root_ = scratch_->root();
        device_ = &scratch_->device();
        handset::set_registry(std::make_unique<handset::RegistryStore>(device_->registry_path().string()));
        recorder_.emplace();
        participation_.emplace();
        handset::start_device_services();
    }

    void TearDown() override {
        handset::stop_device_services();
        handset::clear_faults();
        participation_.reset();
        recorder_.reset();
        handset::set_registry(nullptr);
        scratch_.reset();
    }

    std::vector<handset::Json> events(const std::string& kind) { return recorder_->of(kind); }
    void clear_events() { recorder_->clear(); }

    long long now() const { return handset::clock().now_ms(); }
    void sleep(long long ms) { handset::clock().sleep_ms(ms); }

    // The host path of a device path inside the temporary device.
    std::filesystem::path host(std::u16string_view device_path) const {
        return *device_->host_path(device_path);
    }

    static void set_dword(HKEY root, const char16_t* key, const char16_t* name, DWORD value) {
        HKEY k = nullptr;
        ASSERT_EQ(RegCreateKeyExW(root, key, 0, nullptr, 0, 0, nullptr, &k, nullptr), ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExW(k, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value)),
                  ERROR_SUCCESS);
        RegCloseKey(k);
    }
    static std::optional<DWORD> get_dword(HKEY root, const char16_t* key, const char16_t* name) {
        HKEY k = nullptr;
        if (RegOpenKeyExW(root, key, 0, 0, &k) != ERROR_SUCCESS) return std::nullopt;
        DWORD value = 0, size = sizeof(value), type = 0;
        const LONG r = RegQueryValueExW(k, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
        RegCloseKey(k);
        if (r != ERROR_SUCCESS) return std::nullopt;
        return value;
    }

    std::filesystem::path root_;
    handset::Device* device_ = nullptr;

private:
    std::optional<qtest::ScratchDevice> scratch_;
    std::optional<qtest::EventRecorder> recorder_;
    std::optional<handset::Participation> participation_;
};

// Bytes of a PCM WAV file: `frames` frames of silence at `rate` Hz, `channels`
// channels of 16-bit samples.
inline std::vector<char> pcm_wav(int rate, int channels, int frames) {
    const std::uint32_t data_bytes = static_cast<std::uint32_t>(frames * channels * 2);
    std::vector<char> out;
    auto put = [&](std::uint32_t v, int n) {
        for (int i = 0; i < n; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    };
    auto tag = [&](const char* t) { out.insert(out.end(), t, t + 4); };
    tag("RIFF");
    put(36 + data_bytes, 4);
    tag("WAVE");
    tag("fmt ");
    put(16, 4);
    put(1, 2);  // PCM
    put(static_cast<std::uint32_t>(channels), 2);
    put(static_cast<std::uint32_t>(rate), 4);
    put(static_cast<std::uint32_t>(rate * channels * 2), 4);
    put(static_cast<std::uint32_t>(channels * 2), 2);
    put(16, 2);
    tag("data");
    put(data_bytes, 4);
    out.resize(out.size() + data_bytes, 0);
    return out;
}

inline void write_host_file(const std::filesystem::path& path, const std::vector<char>& bytes) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}
