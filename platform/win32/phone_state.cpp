// The phone's per-user state values on the desktop. On a phone the shell, the radio and
// the messaging keep these values from the first boot, and the program reads a missing
// one as the platform documents it: a count as 0, but the profile as "give no reminder".
// A desktop has none of them, so a program that only reads them would never remind. At
// start they are created as a new phone has them, under HKEY_CURRENT_USER where the
// platform documents them, each only where it is absent: a value that exists, whatever
// its type or data, belongs to the user or to whatever plays the phone's part, and is
// kept.
#include "platform/win32/phone_state.h"

#include "platform/win32/windows.h"

namespace {

struct StateValue {
    LPCWSTR key;
    LPCWSTR name;
    DWORD type;
    const void* data;
    DWORD size;
};

constexpr DWORD kNone = 0;
constexpr WCHAR kNormal[] = L"Normal";

constexpr StateValue kNewPhone[] = {
    {L"System\\State\\Phone", L"Missed Call Count", REG_DWORD, &kNone, sizeof(kNone)},
    {L"System\\State\\Messages\\SMS\\Unread", L"Count", REG_DWORD, &kNone, sizeof(kNone)},
    {L"ControlPanel\\Profiles", L"ActiveProfile", REG_SZ, kNormal, sizeof(kNormal)},
};

// The value is written only when the key says it has no value of that name; a value
// that cannot be read for another reason is not ours to replace.
void create_if_absent(const StateValue& value) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, value.key, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return;
    if (RegQueryValueExW(key, value.name, nullptr, nullptr, nullptr, nullptr) == ERROR_FILE_NOT_FOUND)
        RegSetValueExW(key, value.name, 0, value.type, static_cast<const BYTE*>(value.data), value.size);
    RegCloseKey(key);
}

}  // namespace

void CreateMissingPhoneStateValues() {
    for (const StateValue& value : kNewPhone) create_if_absent(value);
}
