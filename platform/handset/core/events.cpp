// The event log: stamping, formatting and delivery of event lines.
#include "platform/handset/core/events.h"

#include <algorithm>

#include "platform/handset/core/clock.h"

namespace handset {

int EventLog::add_sink(Sink sink) {
    std::lock_guard lock(mu_);
    sinks_.emplace_back(next_id_, std::move(sink));
    return next_id_++;
}

void EventLog::remove_sink(int id) {
    std::lock_guard lock(mu_);
    std::erase_if(sinks_, [id](const auto& s) { return s.first == id; });
}

void EventLog::emit(const char* kind, Json fields) { emit_at(clock().now_ms(), kind, std::move(fields)); }

void EventLog::emit_at(long long t_ms, const char* kind, Json fields) {
    Json event = Json::object();
    event["t"] = t_ms;
    event["ev"] = kind;
    for (auto& [k, v] : fields.items()) event[k] = std::move(v);
    // One lock around formatting and delivery keeps lines in emit order for every sink.
    std::lock_guard lock(mu_);
    if (sinks_.empty()) return;
    const std::string line = event.dump(-1, ' ', false, Json::error_handler_t::replace);
    for (auto& [id, sink] : sinks_) sink(line, event);
}

EventLog& events() {
    static EventLog log;
    return log;
}

}  // namespace handset
