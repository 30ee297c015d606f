// Fuzzes what the program reads back from the registry: a value of any type and
// size stored under "Software\Quillon" or in the phone-book entry, read through the
// program's own helpers (ReadRegDword, ReadRegString, LoadAppSettings, Read3GState)
// and through RegQueryValueExW into buffers of exactly the sizes they use, so that
// the address sanitizer sees any write or read past them.
//
// Input: 4 bytes of value type, 1 byte choosing the value name, then the data.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "app/settings.h"
#include "platform/handset/registry/paths.h"
#include "tests/fuzz/fuzz_store.h"

namespace {

using namespace handset;

void check(bool ok) {
    if (!ok) std::abort();
}

struct Setting {
    LPCWSTR name;
    SettingWord AppSettingsRecord::*field;
    LONG when_missing;
};

const Setting kSettings[] = {
    {u"enableTmail3Gsvc", &AppSettingsRecord::enableTmail3Gsvc, 1},
    {u"enableTmail3GsvcAlert", &AppSettingsRecord::enableTmail3GsvcAlert, 1},
    {u"enableCallAlert", &AppSettingsRecord::enableCallAlert, 1},
    {u"enableSmsAlert", &AppSettingsRecord::enableSmsAlert, 1},
    {u"AlertInterval", &AppSettingsRecord::AlertInterval, 1},
    {u"EnableVibrateAlert", &AppSettingsRecord::EnableVibrateAlert, 1},
    {u"EnableAutoKeylock", &AppSettingsRecord::EnableAutoKeylock, 1},
    {u"KeylockTimeout", &AppSettingsRecord::KeylockTimeout, 2},
    {u"EnableVibrateAlertKeylock", &AppSettingsRecord::EnableVibrateAlertKeylock, 1},
    {u"EnablePowerKeyUnlock", &AppSettingsRecord::EnablePowerKeyUnlock, 1},
};
constexpr std::size_t kSettingCount = sizeof kSettings / sizeof kSettings[0];

void setup() {
    static bool done = [] {
        set_registry(fuzz::open_scratch_store("regvalue"));
        return true;
    }();
    (void)done;
}

// Queries `name` of `key` into a heap buffer of exactly `capacity` bytes.
void query_exact(HKEY key, LPCWSTR name, std::size_t capacity, DWORD stored_type, const Bytes& stored) {
    auto buffer = std::make_unique<BYTE[]>(capacity);
    std::memset(buffer.get(), 0xA5, capacity);
    DWORD size = static_cast<DWORD>(capacity);
    DWORD type = 0xFFFFFFFF;
    const LONG rc = RegQueryValueExW(key, name, nullptr, &type, buffer.get(), &size);
    check(size == stored.size());
    if (stored.size() <= capacity) {
        check(rc == ERROR_SUCCESS && type == stored_type);
        check(stored.empty() || std::memcmp(buffer.get(), stored.data(), stored.size()) == 0);
        for (std::size_t i = stored.size(); i < capacity; ++i) check(buffer[i] == 0xA5);
    } else {
        check(rc == ERROR_MORE_DATA);
    }
    // Asking for the size only.
    DWORD needed = 0;
    check(RegQueryValueExW(key, name, nullptr, nullptr, nullptr, &needed) == ERROR_SUCCESS);
    check(needed == stored.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 5) return 0;
    setup();
    DWORD type = 0;
    std::memcpy(&type, data, 4);
    const std::size_t which = data[4] % kSettingCount;
    const Bytes stored(data + 5, data + size);
    RegistryStore& reg = registry();

    // Every setting holds the fuzzed value; the phone book holds it as "DevCfg".
    const RegKeyPath settings_key{RegRoot::CurrentUser, u"Software\\Quillon"};
    const RegKeyPath entry_key{RegRoot::CurrentUser, u"Comm\\RasBook\\SKT IE GPRS"};
    std::vector<RegOp> ops{RegOp::delete_key(entry_key)};
    for (const auto& s : kSettings) ops.push_back(RegOp::set_value(settings_key, s.name, type, stored));
    ops.push_back(RegOp::set_value(entry_key, u"DevCfg", type, stored));
    check(reg.apply(ops, Notify::Quiet) == RegStatus::Ok);

    const Setting& setting = kSettings[which];
    DWORD word = 0x5A5A5A5A;
    const bool word_read = ReadRegDword(HKEY_CURRENT_USER, kSettingsKey, setting.name, word);
    check(word_read == (stored.size() == 4));
    if (word_read) check(std::memcmp(&word, stored.data(), 4) == 0);
    else check(word == 0x5A5A5A5A);

    std::u16string text = u"untouched";
    const bool text_read = ReadRegString(HKEY_CURRENT_USER, kSettingsKey, setting.name, text);
    check(text_read == (stored.size() <= 100));
    if (text_read) {
        std::u16string expected;
        for (std::size_t i = 0; i + 1 < stored.size(); i += 2) {
            const char16_t c = static_cast<char16_t>(stored[i] | (stored[i + 1] << 8));
            if (c == 0) break;
            expected += c;
        }
        check(text == expected);
    } else {
        check(text == u"untouched");
    }

    // The load takes a value only when it is exactly one 4-byte word.
    ResetAppSettings();
    LoadAppSettings();
    LONG stored_word = 0;
    if (stored.size() == 4) std::memcpy(&stored_word, stored.data(), 4);
    for (const auto& s : kSettings) {
        const LONG expected = stored.size() == 4 ? stored_word : s.when_missing;
        check((AppSettings.*s.field).load() == expected);
    }
    check(AppSettings.carrier == 1);
    check(AppSettings.data3GAllowed == (stored.size() <= 2048 ? 1 : 0));

    HKEY key = nullptr;
    check(RegOpenKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_READ, &key) == ERROR_SUCCESS);
    for (std::size_t capacity : {std::size_t{4}, std::size_t{100}, std::size_t{2048}})
        query_exact(key, setting.name, capacity, type, stored);
    check(RegCloseKey(key) == ERROR_SUCCESS);
    return 0;
}
