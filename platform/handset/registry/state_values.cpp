// Reading the phone's state values: the one place that turns a stored value into the
// counter or flag the devices, the shell and the scripts use.
#include "platform/handset/registry/state_values.h"

#include "platform/handset/core/device.h"
#include "platform/handset/registry/store.h"

namespace handset {

const StateValue& unread_sms_count() {
    return has_device() && device().unread_sms_in_hklm() ? kUnreadSmsCountHklm : kUnreadSmsCount;
}

namespace {

std::optional<DWORD> as_dword(const RegValue& value) {
    if (value.type != REG_DWORD || value.data.size() != sizeof(DWORD)) return std::nullopt;
    return static_cast<DWORD>(value.data[0] | value.data[1] << 8 | value.data[2] << 16 |
                              static_cast<DWORD>(value.data[3]) << 24);
}

}  // namespace

std::optional<DWORD> read_dword(const StateValue& state) {
    auto store = current_registry();
    if (!store) return std::nullopt;
    KeyId key = 0;
    RegValue value;
    if (store->find_key(state.key_path(), key) != RegStatus::Ok) return std::nullopt;
    if (store->get_value(key, state.name, value) != RegStatus::Ok) return std::nullopt;
    return as_dword(value);
}

std::vector<std::optional<DWORD>> read_dwords(const RegKeyPath& key, std::span<const std::u16string_view> names) {
    std::vector<std::optional<DWORD>> out(names.size());
    auto store = current_registry();
    std::vector<std::optional<RegValue>> values;
    if (!store || store->get_values(key, names, values) != RegStatus::Ok) return out;
    for (std::size_t i = 0; i < names.size(); ++i)
        if (values[i]) out[i] = as_dword(*values[i]);
    return out;
}

}  // namespace handset
