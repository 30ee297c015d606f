// The factory state of the handset's registry: what a new or reset device holds
// before anyone has used it.
#pragma once

#include <string_view>

#include "platform/handset/registry/store.h"

namespace handset {

// Writes the factory values into `store`, quietly (setting up a device is not an act
// of the handset, so no events), in one transaction. `model` chooses the carrier's
// phone-book entry: "skt" (SKT IE GPRS), "ktf" (KTF IE GPRS) or "none" (no entry);
// anything else is refused with Invalid and nothing written. The entry is written in
// its allowed form, "DevCfg" and "Entry". The unread-SMS count is published under HKCU,
// or under HKLM with `unread_sms_in_hklm`. There is no Software\Quillon key.
RegStatus write_factory_registry(RegistryStore& store, std::string_view model, bool unread_sms_in_hklm = false);

// The models write_factory_registry knows, for help texts and errors.
constexpr std::string_view kFactoryModels[] = {"skt", "ktf", "none"};

}  // namespace handset
