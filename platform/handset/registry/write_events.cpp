// Event-log lines of registry writes (see write_events.h).
#include "platform/handset/registry/write_events.h"

#include "platform/handset/core/utf.h"

namespace handset {

RegEvent value_set_event(const RegKeyPath& key, std::u16string_view name, DWORD type,
                         std::span<const std::uint8_t> data) {
    Fields fields;
    fields.set("key", format_key_path(key));
    fields.set("name", to_utf8(name));
    const std::string kind = typed_value_kind(type, data);
    fields.set("type", kind);
    if (kind == "dword" || kind == "qword") {
        std::uint64_t v = 0;
        for (std::size_t i = 0; i < data.size(); ++i) v |= static_cast<std::uint64_t>(data[i]) << (8 * i);
        fields.set("data", v);
    } else if (kind == "sz") {
        std::u16string text;
        sz_text(data, text);
        fields.set("data", to_utf8(text));
    } else {
        fields.set("data", hex_bytes(data));
    }
    return {"reg.set", std::move(fields)};
}

RegEvent value_deleted_event(const RegKeyPath& key, std::u16string_view name) {
    Fields fields;
    fields.set("key", format_key_path(key));
    fields.set("name", to_utf8(name));
    return {"reg.delete", std::move(fields)};
}

RegEvent key_deleted_event(const RegKeyPath& key) {
    Fields fields;
    fields.set("key", format_key_path(key));
    return {"reg.delete", std::move(fields)};
}

void emit_committed(std::vector<RegEvent>& pending) {
    for (auto& e : pending) events().emit(e.kind, std::move(e.fields));
}

}  // namespace handset
