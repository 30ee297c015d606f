// The user's changes that the device could not store yet.
//
// A settings dialog stores each change the moment it is made: a setting under
// "Software\Quillon", the start-up shortcut, or the form of the carrier's phone-book
// entry. When the device refuses one (a full storage, a failing registry), the change
// still holds in memory for the run, and this record keeps it as pending. The main
// window tries every pending change again when a settings dialog closes and once more
// when the program ends, each time from what the program holds then, so a retry that
// succeeds stores the user's last choice. Every refusal is written to the debug output,
// naming what was not stored and the platform's error code.
#pragma once

#include <bitset>

#include "app/settings.h"

class UnsavedChanges {
public:
    // Writes `field`, one of the ten stored settings of AppSettings, under its own name.
    // Returns whether the registry took it.
    bool StoreSetting(const SettingWord& field);
    // Creates the start-up shortcut while autostartEnabled is set, deletes it otherwise.
    // A shortcut that is already there counts as created, one already gone as deleted.
    bool StoreStartupShortcut();
    // Moves the phone-book entry to the form data3GAllowed gives.
    bool StorePhoneBookForm();
    // Tries every pending change once more; what is refused again stays pending.
    void StorePending();
    bool HasPending() const { return m_pending.any(); }

private:
    static constexpr std::size_t kShortcut = kStoredSettings.size();
    static constexpr std::size_t kPhoneBook = kStoredSettings.size() + 1;

    bool WriteSetting(std::size_t index);
    bool Record(std::size_t item, bool stored);

    std::bitset<kStoredSettings.size() + 2> m_pending;
};
