// JSON values, for the code that reads or writes JSON beyond the event log's lines: the
// trace, the log readers, the screen's controls and the tests. The JSON library is a
// heavy header, so only the files that need its values include this one.
#pragma once

#include <nlohmann/json.hpp>

#include "platform/handset/core/events.h"

namespace handset {

using Json = nlohmann::ordered_json;

// The event as the JSON object of its line, its fields in order after "t" and "ev".
Json event_json(const Event& event);

// The value of a field as a JSON value.
Json field_json(const FieldValue& value);

// A JSON value as a field: flat values keep their kind, anything else is kept as its
// JSON text.
FieldValue json_field(const Json& value);

}  // namespace handset
