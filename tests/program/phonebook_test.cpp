// The 3G block: moving the phone-book entry between its two forms without losing data.
#include "app/main_dlg.h"
#include "program/program_fixture.h"
#include "watch/block_3g.h"

namespace progtest {
namespace {

class PhoneBook : public ProgramTest {
protected:
    void SetUp() override {
        ProgramTest::SetUp();
        AppSettings.carrier = 1;
        dev_cfg_ = *Value(u"DevCfg");
        entry_ = *Value(u"Entry");
    }
    std::optional<std::vector<BYTE>> Value(LPCWSTR name, DWORD* type = nullptr) {
        return GetValue(HKEY_CURRENT_USER, kSktEntryKey, name, type);
    }
    // The entry holds exactly these two names with the factory data.
    void ExpectForm(LPCWSTR first, LPCWSTR second, LPCWSTR gone1, LPCWSTR gone2) {
        EXPECT_EQ(Value(first), dev_cfg_);
        EXPECT_EQ(Value(second), entry_);
        EXPECT_FALSE(Value(gone1));
        EXPECT_FALSE(Value(gone2));
    }
    std::vector<BYTE> dev_cfg_, entry_;
};

TEST_F(PhoneBook, BlockAndAllowMoveBothValuesWritingBeforeDeleting) {
    TakeEvents();
    Apply3GState(0);
    ExpectForm(u"NoDevCfg", u"NoEntry", u"DevCfg", u"Entry");
    DWORD type = 0;
    Value(u"NoEntry", &type);
    EXPECT_EQ(type, REG_BINARY);
    seqtest::ok_seq(TakeEvents(),
                    {{"reg.set", {{"name", "NoDevCfg"}}}, {"reg.set", {{"name", "NoEntry"}}},
                     {"reg.delete", {{"name", "DevCfg"}}}, {"reg.delete", {{"name", "Entry"}}}},
                    "block");
    Apply3GState(0);
    seqtest::ok_seq_of(TakeEvents(), {}, {"reg.set", "reg.delete"}, "a second block changes nothing");
    Apply3GState(1);
    Apply3GState(1);
    ExpectForm(u"DevCfg", u"Entry", u"NoDevCfg", u"NoEntry");
}

TEST_F(PhoneBook, BothFormsPresentAllowingTakesTheBlockedData) {
    SetBinary(HKEY_CURRENT_USER, kSktEntryKey, u"NoDevCfg", {7, 7, 7});
    SetBinary(HKEY_CURRENT_USER, kSktEntryKey, u"NoEntry", {8, 8});
    Apply3GState(1);
    EXPECT_EQ(Value(u"DevCfg"), (std::vector<BYTE>{7, 7, 7}));
    EXPECT_EQ(Value(u"Entry"), (std::vector<BYTE>{8, 8}));
    EXPECT_FALSE(Value(u"NoDevCfg"));
    EXPECT_FALSE(Value(u"NoEntry"));
}

TEST_F(PhoneBook, AnUnreadableSecondValueStaysWhereItIs) {
    DeleteValue(HKEY_CURRENT_USER, kSktEntryKey, u"Entry");
    Apply3GState(0);
    EXPECT_EQ(Value(u"NoDevCfg"), dev_cfg_) << "the first pair still moves";
    EXPECT_FALSE(Value(u"NoEntry")) << "nothing is written from data that was not read";

    const std::vector<BYTE> huge(3000, 0x55);
    SetBinary(HKEY_CURRENT_USER, kSktEntryKey, u"NoEntry", huge);
    Apply3GState(1);
    EXPECT_EQ(Value(u"DevCfg"), dev_cfg_);
    EXPECT_EQ(Value(u"NoEntry"), huge);
    EXPECT_FALSE(Value(u"Entry"));
}

TEST_F(PhoneBook, AFailedWriteLosesNothing) {
    SetBinary(HKEY_CURRENT_USER, kSktEntryKey, u"Extra", {3, 1, 4});
    handset::set_fault(handset::Fault::RegistryWrite, true);
    Apply3GState(0);
    handset::set_fault(handset::Fault::RegistryWrite, false);
    ExpectForm(u"DevCfg", u"Entry", u"NoDevCfg", u"NoEntry");
    Apply3GState(0);
    ExpectForm(u"NoDevCfg", u"NoEntry", u"DevCfg", u"Entry");
    EXPECT_EQ(Value(u"Extra"), (std::vector<BYTE>{3, 1, 4})) << "other values are not touched";
}

// A move the storage refuses at any of its four steps (two writes, two deletions) leaves
// an entry that is whole in one of its two forms once the move is tried again, or once
// the program starts again and reads the form the entry is in.
TEST_F(PhoneBook, AMoveRefusedAtAnyStepEndsWhole) {
    for (int step = 0; step < 4; ++step) {
        for (const bool restart : {false, true}) {
            for (const LPCWSTR name : {u"DevCfg", u"Entry", u"NoDevCfg", u"NoEntry"})
                DeleteValue(HKEY_CURRENT_USER, kSktEntryKey, name);
            SetBinary(HKEY_CURRENT_USER, kSktEntryKey, u"DevCfg", dev_cfg_);
            SetBinary(HKEY_CURRENT_USER, kSktEntryKey, u"Entry", entry_);
            const std::string name = "refused at step " + std::to_string(step) + (restart ? ", then a start" : ", then a retry");

            handset::set_fault_after(handset::Fault::StorageFull, step);
            EXPECT_FALSE(Apply3GState(0)) << name;
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DISK_FULL)) << name;
            handset::set_fault(handset::Fault::StorageFull, false);
            if (restart) {
                CMainDlg().LoadSettings();
            } else {
                EXPECT_TRUE(Apply3GState(0)) << name;
            }
            // A start before the first write finds the entry untouched, and allowed.
            if (restart && step == 0) ExpectForm(u"DevCfg", u"Entry", u"NoDevCfg", u"NoEntry");
            else ExpectForm(u"NoDevCfg", u"NoEntry", u"DevCfg", u"Entry");
            if (HasFailure()) return;
        }
    }
}

TEST_F(PhoneBook, OnlyTheCarriersOwnEntryIsMoved) {
    AppSettings.carrier = 0;
    Apply3GState(0);
    AppSettings.carrier = 2;  // no KTF entry on this phone
    Apply3GState(0);
    ExpectForm(u"DevCfg", u"Entry", u"NoDevCfg", u"NoEntry");
}

}  // namespace
}  // namespace progtest
