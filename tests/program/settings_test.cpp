// The settings store: the registry helpers' edges, the phone-book probes and the load
// with its fallbacks.
#include "app/unsaved_changes.h"
#include "program/program_fixture.h"

namespace progtest {
namespace {

constexpr LPCWSTR kKey = u"Software\\QuillonTest";
const HKEY kCU = HKEY_CURRENT_USER;

using SettingsStore = ProgramTest;

TEST_F(SettingsStore, ReadRegDwordTakesExactlyFourBytesOfAnyType) {
    SetDword(kCU, kKey, u"Dword", 7);
    SetBinary(kCU, kKey, u"Binary", {0x2A, 0, 0, 0});
    DWORD value = 0;
    EXPECT_TRUE(ReadRegDword(kCU, kKey, u"Dword", value) && value == 7);
    EXPECT_TRUE(ReadRegDword(kCU, kKey, u"binary", value) && value == 42);

    SetBinary(kCU, kKey, u"Short", {1, 2});
    SetBinary(kCU, kKey, u"Long", {1, 2, 3, 4, 5, 6, 7, 8});
    value = 0xDEADBEEF;
    for (LPCWSTR name : {u"Short", u"Long", u"Missing"}) EXPECT_FALSE(ReadRegDword(kCU, kKey, name, value));
    EXPECT_FALSE(ReadRegDword(kCU, u"Software\\NoSuchKey", u"Dword", value));
    EXPECT_EQ(value, 0xDEADBEEFu) << "a failed read leaves the value untouched";
}

TEST_F(SettingsStore, ReadRegStringNeverReadsPastItsHundredBytes) {
    SetString(kCU, kKey, u"Fits", std::u16string(49, u'a'));
    SetString(kCU, kKey, u"TooLong", std::u16string(50, u'b'));  // 102 bytes with the terminator
    SetString(kCU, kKey, u"Unterminated", std::u16string(50, u'c'), false);
    SetString(kCU, kKey, u"Short", u"Silent", false);
    SetString(kCU, kKey, u"Embedded", std::u16string(u"Sil\0ent", 7));
    const char16_t odd[] = u"ab";
    SetValue(kCU, kKey, u"Odd", REG_SZ, odd, 3);

    std::u16string text = u"untouched";
    EXPECT_FALSE(ReadRegString(kCU, kKey, u"TooLong", text));
    EXPECT_EQ(text, u"untouched");
    const std::pair<LPCWSTR, std::u16string> cases[] = {{u"Fits", std::u16string(49, u'a')},
                                                         {u"Unterminated", std::u16string(50, u'c')},
                                                         {u"Short", u"Silent"},
                                                         {u"Embedded", u"Sil"},
                                                         {u"Odd", u"a"}};
    for (const auto& [name, expected] : cases) {
        EXPECT_TRUE(ReadRegString(kCU, kKey, name, text));
        EXPECT_EQ(text, expected);
    }
}

TEST_F(SettingsStore, FirstRunTurnsEverythingOnWithoutCreatingTheKey) {
    LoadAppSettings();
    EXPECT_EQ(AppSettings.carrier.load(), 1);
    EXPECT_EQ(AppSettings.data3GAllowed.load(), 1);
    EXPECT_EQ(AppSettings.autostartEnabled.load(), 0);
    for (const SettingWord* flag :
         {&AppSettings.enableTmail3Gsvc, &AppSettings.enableTmail3GsvcAlert, &AppSettings.enableCallAlert,
          &AppSettings.enableSmsAlert, &AppSettings.EnableVibrateAlert, &AppSettings.EnableAutoKeylock,
          &AppSettings.EnableVibrateAlertKeylock, &AppSettings.EnablePowerKeyUnlock})
        EXPECT_EQ(flag->load(), 1);
    EXPECT_EQ(AppSettings.AlertInterval.load(), 1);
    EXPECT_EQ(AppSettings.alertIntervalTicks.load(), 40);
    EXPECT_EQ(AppSettings.KeylockTimeout.load(), 2);
    EXPECT_EQ(AppSettings.keylockTimeoutTicks.load(), 60);
    EXPECT_FALSE(GetValue(kCU, kSettingsKey, u"AlertInterval"));
    seqtest::ok_seq_of(TakeEvents(), {}, {"reg.set", "reg.delete"}, "the load writes nothing");
}

TEST_F(SettingsStore, StoredValuesWinOnlyWhenReadable) {
    SetDword(kCU, kSettingsKey, u"enableCallAlert", 0);
    SetDword(kCU, kSettingsKey, u"AlertInterval", 0);
    SetBinary(kCU, kSettingsKey, u"EnableAutoKeylock", {0, 0});  // wrongly sized: falls back
    LoadAppSettings();
    EXPECT_EQ(AppSettings.enableCallAlert.load(), 0);
    EXPECT_EQ(AppSettings.alertIntervalTicks.load(), 40) << "once only waits 40 ticks too";
    EXPECT_EQ(AppSettings.EnableAutoKeylock.load(), 1);

    const std::pair<DWORD, LONG> keylock[] = {{0, 10}, {1, 20}, {3, 100}, {4, 200}};
    for (auto [index, ticks] : keylock) {
        SetDword(kCU, kSettingsKey, u"KeylockTimeout", index);
        LoadAppSettings();
        EXPECT_EQ(AppSettings.keylockTimeoutTicks.load(), ticks) << index;
    }
    SetDword(kCU, kSettingsKey, u"AlertInterval", 2);
    LoadAppSettings();
    EXPECT_EQ(AppSettings.alertIntervalTicks.load(), 200);

    // Indexes outside the lists leave the limits as they were: 0 in a fresh process.
    InitProcessData();
    SetDword(kCU, kSettingsKey, u"AlertInterval", 5);
    SetDword(kCU, kSettingsKey, u"KeylockTimeout", 0xFFFFFFFF);
    LoadAppSettings();
    EXPECT_EQ(AppSettings.AlertInterval.load(), 5);
    EXPECT_EQ(AppSettings.alertIntervalTicks.load(), 0);
    EXPECT_EQ(AppSettings.KeylockTimeout.load(), -1);
    EXPECT_EQ(AppSettings.keylockTimeoutTicks.load(), 0);
}

TEST_F(SettingsStore, ProbesReadCarrierShortcutAndTheEntrysForm) {
    ASSERT_TRUE(SHCreateShortcut(kStartupShortcut, u"\"\\Elsewhere\\Quillon.exe\""));
    SetBinary(kCU, kKtfEntryKey, u"DevCfg", {1});
    LoadAppSettings();
    EXPECT_EQ(AppSettings.autostartEnabled.load(), 1);
    EXPECT_EQ(AppSettings.carrier.load(), 1) << "the SKT entry wins";

    // Only DevCfg and NoDevCfg decide; the blocked name wins; values beyond 2048 bytes
    // cannot be read.
    struct Form {
        std::optional<std::size_t> dev_cfg, no_dev_cfg;
        LONG allowed;
    };
    const Form forms[] = {{4, std::nullopt, 1}, {4, 4, 0}, {std::nullopt, 4, 0}, {std::nullopt, std::nullopt, 0},
                          {2049, std::nullopt, 0}, {2048, std::nullopt, 1}, {4, 2049, 1}};
    for (const Form& f : forms) {
        DeleteValue(kCU, kSktEntryKey, u"DevCfg");
        DeleteValue(kCU, kSktEntryKey, u"NoDevCfg");
        if (f.dev_cfg) SetBinary(kCU, kSktEntryKey, u"DevCfg", std::vector<BYTE>(*f.dev_cfg, 1));
        if (f.no_dev_cfg) SetBinary(kCU, kSktEntryKey, u"NoDevCfg", std::vector<BYTE>(*f.no_dev_cfg, 1));
        EXPECT_EQ(Read3GState(), f.allowed) << f.dev_cfg.value_or(0) << "/" << f.no_dev_cfg.value_or(0);
    }
    RegDeleteKeyW(kCU, kSktEntryKey);
    EXPECT_EQ(DetectCarrier(), 2);
    RegDeleteKeyW(kCU, kKtfEntryKey);
    EXPECT_EQ(DetectCarrier(), 0);
    AppSettings.carrier = 0;
    EXPECT_EQ(Read3GState(), 0) << "no entry reads as blocked";
}

// The shell makes new shortcuts only. Ticking auto-start while the shortcut is there
// already is done, as unticking it while it is gone is; only a real refusal stays pending.
TEST_F(SettingsStore, AStartupShortcutAlreadyInPlaceCountsAsStored) {
    struct Case {
        LONG autostart;
        bool shortcut_there, storage_full, stored;
    };
    const Case cases[] = {{1, true, false, true},  {1, false, false, true}, {1, true, true, true},
                          {1, false, true, false}, {0, false, false, true}, {0, true, false, true}};
    for (const Case& c : cases) {
        DeleteFileW(kStartupShortcut);
        if (c.shortcut_there) {
            ASSERT_TRUE(SHCreateShortcut(kStartupShortcut, u"\"\\Elsewhere\\Quillon.exe\""));
        }
        AppSettings.autostartEnabled = c.autostart;
        handset::set_fault(handset::Fault::StorageFull, c.storage_full);
        UnsavedChanges changes;
        const std::string name = "autostart " + std::to_string(c.autostart) + (c.shortcut_there ? ", shortcut there" : "") +
                                 (c.storage_full ? ", storage full" : "");
        EXPECT_EQ(changes.StoreStartupShortcut(), c.stored) << name;
        EXPECT_EQ(changes.HasPending(), !c.stored) << name;
        handset::set_fault(handset::Fault::StorageFull, false);
        EXPECT_EQ(FileExists(kStartupShortcut), c.autostart != 0 && (c.shortcut_there || !c.storage_full)) << name;
        if (!c.stored) {
            changes.StorePending();
            EXPECT_FALSE(changes.HasPending()) << name << ": the retry stores it";
        }
    }
}

}  // namespace
}  // namespace progtest
