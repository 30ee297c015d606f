// Events and their fields as JSON values, and back.
#include "platform/handset/core/json.h"

namespace handset {

Json field_json(const FieldValue& value) {
    switch (value.kind()) {
        case FieldValue::Kind::Null: return nullptr;
        case FieldValue::Kind::Boolean: return value.boolean();
        case FieldValue::Kind::Integer: return value.integer();
        case FieldValue::Kind::Unsigned: return value.unsigned_integer();
        case FieldValue::Kind::Text: return value.text();
        case FieldValue::Kind::Json: return Json::parse(value.text(), nullptr, false);
    }
    return nullptr;
}

Json event_json(const Event& event) {
    Json json = Json::object();
    json["t"] = event.t;
    json["ev"] = event.kind;
    for (const Field& f : event.fields) json[f.name] = field_json(f.value);
    return json;
}

FieldValue json_field(const Json& value) {
    switch (value.type()) {
        case Json::value_t::null: return nullptr;
        case Json::value_t::boolean: return value.get<bool>();
        case Json::value_t::number_integer: return value.get<long long>();
        case Json::value_t::number_unsigned: return value.get<unsigned long long>();
        case Json::value_t::string: return value.get<std::string>();
        default: return FieldValue::json_text(value.dump(-1, ' ', false, Json::error_handler_t::replace));
    }
}

}  // namespace handset
