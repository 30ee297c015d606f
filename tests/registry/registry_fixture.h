// Shared set-up of the registry tests: a registry file in a fresh temporary
// directory, installed as the process's current registry, and a recorder of the
// events the registry emits.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/handset/core/events.h"
#include "platform/handset/core/faults.h"
#include "platform/handset/registry/store.h"

namespace regtest {

// A directory made with mkdtemp and removed with its contents at the end.
class TempDir {
public:
    TempDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "quillon-reg-XXXXXX").string();
        if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
        path_ = tmpl;
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

// Collects the registry events emitted while it lives.
class EventRecorder {
public:
    EventRecorder() {
        id_ = handset::events().add_sink([this](const std::string&, const handset::Json& ev) {
            const std::string kind = ev.value("ev", "");
            if (kind.rfind("reg.", 0) != 0) return;
            std::lock_guard lock(mu_);
            events_.push_back(ev);
        });
    }
    ~EventRecorder() { handset::events().remove_sink(id_); }

    std::vector<handset::Json> take() {
        std::lock_guard lock(mu_);
        return std::exchange(events_, {});
    }

private:
    int id_;
    std::mutex mu_;
    std::vector<handset::Json> events_;
};

// A fresh registry, current for the platform API while the test runs.
class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        handset::clear_faults();
        auto store = std::make_unique<handset::RegistryStore>(dir.file("registry.db"));
        store_ = store.get();
        handset::set_registry(std::move(store));
    }
    void TearDown() override {
        handset::clear_faults();
        handset::set_registry(nullptr);
    }
    handset::RegistryStore& store() { return *store_; }

    TempDir dir;
    EventRecorder recorder;

private:
    handset::RegistryStore* store_ = nullptr;
};

}  // namespace regtest
