// A fresh emulated phone for tests that call the program's own functions: a device in
// factory state, the virtual clock with the test's thread taking part, the program's
// process data at their start values, and a recorder of every event.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/main_app.h"
#include "common/event_recorder.h"
#include "common/temp_dir.h"
#include "app/settings.h"
#include "platform/phone/session.h"
#include "platform/handset/core/events.h"
#include "platform/handset/core/faults.h"
#include "platform/windows.h"
#include "program/event_seq.h"

namespace progtest {

using seqtest::Json;

class ProgramTest : public ::testing::Test {
protected:
    virtual std::string Model() const { return "skt"; }

    void SetUp() override {
        handset::clear_faults();
        dir_.emplace("quillon-program");
        root_ = dir_->path();
        phone::SessionOptions options;
        options.device.folder = root_ / "device";
        options.device.model = Model();
        session_ = std::make_unique<phone::Session>(options);
        participation_ = std::make_unique<handset::Participation>();
        InitProcessData();
        programFolder = u"\\Program Files\\Quillon";
        recorder_.emplace();
    }
    void TearDown() override {
        recorder_.reset();
        handset::clear_faults();
        session_.reset();
        participation_.reset();
        dir_.reset();
    }

    std::vector<Json> TakeEvents() { return recorder_->take(); }

    static void SetValue(HKEY root, LPCWSTR key, LPCWSTR name, DWORD type, const void* data, DWORD size) {
        HKEY k = nullptr;
        ASSERT_EQ(RegCreateKeyExW(root, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr), ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExW(k, name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
        RegCloseKey(k);
    }
    static void SetDword(HKEY root, LPCWSTR key, LPCWSTR name, DWORD value) {
        SetValue(root, key, name, REG_DWORD, &value, sizeof(value));
    }
    static void SetString(HKEY root, LPCWSTR key, LPCWSTR name, const std::u16string& text, bool terminated = true) {
        SetValue(root, key, name, REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + terminated) * 2));
    }
    static void SetBinary(HKEY root, LPCWSTR key, LPCWSTR name, const std::vector<BYTE>& data) {
        SetValue(root, key, name, REG_BINARY, data.data(), static_cast<DWORD>(data.size()));
    }
    static void DeleteValue(HKEY root, LPCWSTR key, LPCWSTR name) {
        HKEY k = nullptr;
        if (RegOpenKeyExW(root, key, 0, KEY_ALL_ACCESS, &k) != ERROR_SUCCESS) return;
        RegDeleteValueW(k, name);
        RegCloseKey(k);
    }
    // The raw data of a value, or nothing when it cannot be read.
    static std::optional<std::vector<BYTE>> GetValue(HKEY root, LPCWSTR key, LPCWSTR name, DWORD* type = nullptr) {
        HKEY k = nullptr;
        if (RegOpenKeyExW(root, key, 0, KEY_READ, &k) != ERROR_SUCCESS) return std::nullopt;
        std::vector<BYTE> data(4096);
        DWORD size = static_cast<DWORD>(data.size());
        const LONG rc = RegQueryValueExW(k, name, nullptr, type, data.data(), &size);
        RegCloseKey(k);
        if (rc != ERROR_SUCCESS) return std::nullopt;
        data.resize(size);
        return data;
    }

    std::optional<qtest::TempDir> dir_;
    std::filesystem::path root_;
    std::unique_ptr<phone::Session> session_;
    std::unique_ptr<handset::Participation> participation_;
    std::optional<qtest::EventRecorder> recorder_;
};

}  // namespace progtest
