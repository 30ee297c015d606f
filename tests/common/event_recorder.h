// Collects the handset's events while it lives (all of them, or those whose kind starts
// with a prefix such as "reg."), for tests that compare what happened with a table.
#pragma once

#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/handset/core/json.h"

namespace qtest {

class EventRecorder {
public:
    explicit EventRecorder(std::string kind_prefix = {}) : prefix_(std::move(kind_prefix)) {
        id_ = handset::events().add_sink([this](const std::string&, const handset::Event& event) {
            if (!std::string_view(event.kind).starts_with(prefix_)) return;
            std::lock_guard lock(mu_);
            events_.push_back(handset::event_json(event));
        });
    }
    ~EventRecorder() { handset::events().remove_sink(id_); }
    EventRecorder(const EventRecorder&) = delete;
    EventRecorder& operator=(const EventRecorder&) = delete;

    // Everything recorded so far, which is forgotten.
    std::vector<handset::Json> take() {
        std::lock_guard lock(mu_);
        return std::exchange(events_, {});
    }
    std::vector<handset::Json> all() const {
        std::lock_guard lock(mu_);
        return events_;
    }
    // The recorded events of kind `kind`, kept.
    std::vector<handset::Json> of(const std::string& kind) const {
        std::lock_guard lock(mu_);
        std::vector<handset::Json> out;
        for (const auto& e : events_)
            if (e.value("ev", "") == kind) out.push_back(e);
        return out;
    }
    void clear() {
        std::lock_guard lock(mu_);
        events_.clear();
    }

private:
    const std::string prefix_;
    int id_ = 0;
    mutable std::mutex mu_;
    std::vector<handset::Json> events_;
};

}  // namespace qtest
