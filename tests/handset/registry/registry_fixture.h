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

#include "common/event_recorder.h"
#include "common/temp_dir.h"
#include "platform/handset/core/events.h"
#include "platform/handset/core/faults.h"
#include "platform/handset/registry/store.h"

namespace regtest {

using TempDir = qtest::TempDir;

// Collects the registry events emitted while it lives.
class EventRecorder : public qtest::EventRecorder {
public:
    EventRecorder() : qtest::EventRecorder("reg.") {}
};

// The values under a key as "Name=type:data" words (the default value is "@"), each
// subkey's after "[Sub\Path]" relative to the key; "(no key)" when it is missing.
inline std::string state_of(handset::RegistryStore& store, const handset::RegKeyPath& key) {
    handset::RegTree tree;
    if (store.read_tree(key, tree) != handset::RegStatus::Ok) return "(no key)";
    std::string out;
    const std::size_t skip = key.path.size() + 1;
    auto walk = [&](auto& self, const handset::RegTree& t) -> void {
        if (t.path.size() > skip) out += (out.empty() ? "[" : " [") + handset::to_utf8(t.path.substr(skip)) + "]";
        for (const auto& v : t.values)
            out += (out.empty() ? "" : " ") + (v.name.empty() ? std::string("@") : handset::to_utf8(v.name)) + "=" +
                   handset::format_typed_value(v.type, v.data);
        for (const auto& sub : t.subkeys) self(self, sub);
    };
    walk(walk, tree);
    return out;
}

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
