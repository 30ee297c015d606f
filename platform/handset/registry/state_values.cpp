// Reading the phone's state values: the one place that turns a stored value into the
// counter or flag the devices, the shell and the scripts use.
#include "platform/handset/registry/state_values.h"

#include "platform/handset/core/device.h"
#include "platform/handset/registry/store.h"

namespace handset {

const StateValue& unread_sms_count() {
    return has_device() && device().unread_sms_in_hklm() ? kUnreadSmsCountHklm : kUnreadSmsCount;
}

std::optional<DWORD> read_dword(const StateValue& state) {
    auto store = current_registry();
    if (!store) return std::nullopt;
    KeyId key = 0;
    RegValue value;
    if (store->find_key(state.key_path(), key) != RegStatus::Ok) return std::nullopt;
    if (store->get_value(key, state.name, value) != RegStatus::Ok) return std::nullopt;
    if (value.type != REG_DWORD || value.data.size() != sizeof(DWORD)) return std::nullopt;
    return static_cast<DWORD>(value.data[0] | value.data[1] << 8 | value.data[2] << 16 |
                              static_cast<DWORD>(value.data[3]) << 24);
}

}  // namespace handset
