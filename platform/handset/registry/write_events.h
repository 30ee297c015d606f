// The event-log lines of registry writes: "reg.set" with the value's data in the form
// its type reads best in (a number, a text or hex bytes), and "reg.delete" for a value
// or a whole key. Keys are written as "HKCU\..." with their names as stored.
//
// The store collects these while its transaction runs and emits them only once it
// has committed, so that the log never shows a write that did not happen.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "platform/handset/core/events.h"
#include "platform/handset/registry/paths.h"

namespace handset {

// An event waiting for its write to be committed.
struct RegEvent {
    const char* kind;
    Fields fields;
};

RegEvent value_set_event(const RegKeyPath& key, std::u16string_view name, DWORD type,
                         std::span<const std::uint8_t> data);
RegEvent value_deleted_event(const RegKeyPath& key, std::u16string_view name);
RegEvent key_deleted_event(const RegKeyPath& key);

// Emits the events in order, once their transaction has committed.
void emit_committed(std::vector<RegEvent>& events);

}  // namespace handset
