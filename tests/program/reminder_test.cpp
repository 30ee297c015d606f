// The missed-call and unread-SMS reminder, driven tick by tick: when it falls due, what
// it plays or vibrates, and which count changes are a new state.
#include "app/main_dlg.h"
#include "program/program_fixture.h"

namespace progtest {
namespace {

using seqtest::Expected;

Expected Sound(const std::string& name) { return {"sound", {{"file", "\\Program Files\\Quillon\\Sound\\" + name}}}; }

class Reminder : public ProgramTest {
protected:
    void SetUp() override {
        ProgramTest::SetUp();
        LoadAppSettings();  // first run: both reminders on, every 2 minutes
        dlg_ = std::make_unique<CMainDlg>();
        TakeEvents();
    }
    void TearDown() override {
        dlg_.reset();
        ProgramTest::TearDown();
    }
    static void Missed(DWORD n) { SetDword(HKEY_CURRENT_USER, u"System\\State\\Phone", u"Missed Call Count", n); }
    static void Unread(DWORD n) { SetDword(HKEY_LOCAL_MACHINE, u"System\\State\\Messages\\SMS\\Unread", u"Count", n); }
    static void Profile(const std::u16string& name) {
        SetString(HKEY_CURRENT_USER, u"ControlPanel\\Profiles", u"ActiveProfile", name);
    }
    static void Interval(LONG index) {
        AppSettings.AlertInterval = index;
        AppSettings.alertIntervalTicks = AlertIntervalTicksFor(index, AppSettings.alertIntervalTicks);
    }
    // Runs `count` ticks; returns the numbers (from 1) of those that sounded or vibrated.
    std::vector<int> RunTicks(int count) {
        std::vector<int> given;
        for (int i = 1; i <= count; ++i) {
            dlg_->CheckReminder();
            auto events = seqtest::OfKinds(TakeEvents(), {"sound", "vibrate"});
            if (!events.empty()) given.push_back(i);
            given_.insert(given_.end(), events.begin(), events.end());
        }
        return given;
    }
    std::vector<Json> TakeGiven() { return std::exchange(given_, {}); }
    // Ticks until the running counter passes the limit.
    int DueIn() const { return AppSettings.alertIntervalTicks + 1 - dlg_->m_nAlertTicks; }

    std::unique_ptr<CMainDlg> dlg_;
    std::vector<Json> given_;
};

TEST_F(Reminder, EveryTwoMinutesRepeatsEvery41Ticks) {
    Missed(1);
    EXPECT_EQ(RunTicks(130), (std::vector<int>{42, 83, 124}));
    const auto given = TakeGiven();
    seqtest::ok_seq(given, {Sound("missedCall.wav"), Sound("alert1.wav"), Sound("missedCall.wav"), Sound("alert1.wav"),
                            Sound("missedCall.wav"), Sound("alert1.wav")},
                    "missed call");
    EXPECT_EQ(given[0]["mode"], "sync");
    EXPECT_EQ(given[1]["mode"], "async");
    EXPECT_EQ(given[1]["t"].get<long long>(), given[0]["t"].get<long long>() + given[0]["ms"].get<long long>() + 150);
}

TEST_F(Reminder, EveryTenMinutesRepeatsEvery201Ticks) {
    Interval(2);
    Unread(1);
    EXPECT_EQ(RunTicks(410), (std::vector<int>{202, 403}));
}

TEST_F(Reminder, OnceModeGivesOneReminderPerState) {
    Interval(0);
    Missed(3);
    EXPECT_EQ(RunTicks(200), (std::vector<int>{42}));
    Missed(4);
    EXPECT_EQ(RunTicks(200), (std::vector<int>{42}));
    Missed(2);  // going down is a new state too
    EXPECT_EQ(RunTicks(100), (std::vector<int>{42}));
    seqtest::ok_seq(TakeGiven(), {Sound("missedCall.wav"), Sound("alert3.wav"), Sound("missedCall.wav"),
                                  Sound("alert4.wav"), Sound("missedCall.wav"), Sound("alert2.wav")},
                    "three states");
}

TEST_F(Reminder, TheKindAndTheCountPickTheSounds) {
    struct Case {
        DWORD missed, unread;
        LONG call_alert, sms_alert;
        std::string first, second;
    };
    const Case cases[] = {{10, 0, 1, 1, "missedCall.wav", "alert10.wav"},  {11, 0, 1, 1, "missedCall.wav", "alertOver.wav"},
                          {0, 2, 1, 1, "unreadSms.wav", "alert2.wav"},     {4, 3, 1, 1, "missedCallSms.wav", "alert7.wav"},
                          {6, 5, 1, 1, "missedCallSms.wav", "alertOver.wav"}, {5, 1, 0, 1, "unreadSms.wav", "alert1.wav"},
                          {5, 1, 1, 0, "missedCall.wav", "alert5.wav"},
                          {0x7FFFFFFF, 1, 1, 1, "missedCallSms.wav", "alertOver.wav"},  // the sum would overflow
                          {0x7FFFFFFF, 0x7FFFFFFF, 1, 1, "missedCallSms.wav", "alertOver.wav"}};
    for (const Case& c : cases) {
        Missed(c.missed);
        Unread(c.unread);
        AppSettings.enableCallAlert = c.call_alert;
        AppSettings.enableSmsAlert = c.sms_alert;
        dlg_->m_nLastMissedCalls = dlg_->m_nLastUnreadSms = 0;
        EXPECT_EQ(RunTicks(42), (std::vector<int>{42})) << c.first << " " << c.second;
        seqtest::ok_seq(TakeGiven(), {Sound(c.first), Sound(c.second)}, c.first + " " + c.second);
    }
}

// A phone may publish the count where the program has always read it (HKLM) or where
// the platform documents it (HKCU); HKLM wins where both have one.
TEST_F(Reminder, UnreadSmsIsReadUnderEitherRoot) {
    constexpr const char16_t* kKey = u"System\\State\\Messages\\SMS\\Unread";
    struct Case {
        std::optional<DWORD> hklm, hkcu;
        std::vector<int> reminded;
    };
    const Case cases[] = {{3, std::nullopt, {42}}, {std::nullopt, 3, {42}}, {0, 3, {}}, {3, 0, {42}},
                          {std::nullopt, std::nullopt, {}}};
    for (const Case& c : cases) {
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, kKey);
        RegDeleteKeyW(HKEY_CURRENT_USER, kKey);
        if (c.hklm) SetDword(HKEY_LOCAL_MACHINE, kKey, u"Count", *c.hklm);
        if (c.hkcu) SetDword(HKEY_CURRENT_USER, kKey, u"Count", *c.hkcu);
        dlg_->m_nAlertTicks = 0;
        dlg_->m_nLastMissedCalls = dlg_->m_nLastUnreadSms = 0;
        const std::string name = "HKLM " + (c.hklm ? std::to_string(*c.hklm) : "-") + ", HKCU " +
                                 (c.hkcu ? std::to_string(*c.hkcu) : "-");
        EXPECT_EQ(RunTicks(42), c.reminded) << name;
        const auto given = TakeGiven();
        if (!c.reminded.empty()) seqtest::ok_seq(given, {Sound("unreadSms.wav"), Sound("alert3.wav")}, name);
    }
}

TEST_F(Reminder, TheProfileAndACallDecideHowItIsGiven) {
    struct Case {
        std::u16string profile;
        DWORD calls;
        LONG vibrate;
        std::vector<Expected> given;
    };
    const Case cases[] = {
        {u"Silent", 0, 1, {{"vibrate", {{"ms", 300}}}, {"vibrate", {{"ms", 300}}}, {"vibrate", {{"ms", 500}}}}},
        {u"Silent", 0, 0, {}},
        {u"silent", 0, 0, {Sound("missedCall.wav"), {"sound", {{"mode", "async"}}}}},
        {u"Silent", 1, 0, {{"vibrate", {{"ms", 100}}}}},
        {u"Normal", 2, 1, {{"vibrate", {{"ms", 100}}}}},
    };
    Interval(0);
    for (const Case& c : cases) {
        Profile(c.profile);
        SetDword(HKEY_LOCAL_MACHINE, u"System\\State\\Phone", u"Active Call Count", c.calls);
        AppSettings.EnableVibrateAlert = c.vibrate;
        Missed(dlg_->m_nLastMissedCalls + 1);
        RunTicks(200);
        const auto given = TakeGiven();
        seqtest::ok_seq_of(given, c.given, {"sound", "vibrate"}, "profile case");
        EXPECT_EQ(dlg_->m_bAlertGiven, 1) << "the once reminder is used up, even in silence";
        if (c.given.size() == 3) {
            EXPECT_EQ(given[1]["t"].get<long long>() - given[0]["t"].get<long long>(), 400);
            EXPECT_EQ(given[2]["t"].get<long long>() - given[1]["t"].get<long long>(), 400);
        }
    }
}

TEST_F(Reminder, AnUnreadableProfileDropsTheReminderUntilItCanBeRead) {
    Interval(0);
    Profile(std::u16string(50, u'x'));  // too long for the 100-byte read
    Missed(1);
    EXPECT_TRUE(RunTicks(42).empty());
    EXPECT_EQ(dlg_->m_bAlertGiven, 0);
    EXPECT_EQ(dlg_->m_nAlertTicks, 0);
    Profile(u"Normal");
    EXPECT_EQ(RunTicks(100), (std::vector<int>{41}));
}

TEST_F(Reminder, BothRemindersOffFreezeTheCounter) {
    Missed(1);
    RunTicks(20);
    AppSettings.enableCallAlert = 0;
    AppSettings.enableSmsAlert = 0;
    dlg_->m_bAlertGiven = 1;
    EXPECT_TRUE(RunTicks(100).empty());
    EXPECT_EQ(dlg_->m_nAlertTicks, 19);
    EXPECT_EQ(dlg_->m_bAlertGiven, 0);
    EXPECT_EQ(dlg_->m_nLastMissedCalls, 1);
    AppSettings.enableCallAlert = 1;
    EXPECT_EQ(RunTicks(60), (std::vector<int>{22})) << "the counter goes on from where it stood";
}

TEST_F(Reminder, AReturnToARememberedCountIsNotANewState) {
    Interval(0);
    Missed(1);
    Unread(2);
    RunTicks(10);
    Unread(0);
    RunTicks(5);
    EXPECT_EQ(dlg_->m_nLastUnreadSms, 2);
    Unread(2);
    int due = DueIn();
    EXPECT_EQ(due, 27) << "no restart";
    EXPECT_EQ(RunTicks(60), (std::vector<int>{due}));
    seqtest::ok_seq(TakeGiven(), {Sound("missedCallSms.wav"), Sound("alert3.wav")}, "both");
    Unread(0);
    RunTicks(3);
    Unread(2);
    EXPECT_TRUE(RunTicks(100).empty()) << "the single reminder was given";

    // Both cleared: only the missed-call count is forgotten, the once flag is cleared, and
    // the counter runs on, so the returning unread count is reminded early.
    Missed(0);
    Unread(0);
    RunTicks(10);
    EXPECT_EQ(dlg_->m_nLastMissedCalls, 0);
    EXPECT_EQ(dlg_->m_nLastUnreadSms, 2);
    Unread(2);
    due = DueIn();
    EXPECT_LT(due, 41);
    EXPECT_EQ(RunTicks(45), (std::vector<int>{due}));
}

TEST_F(Reminder, AMissedCountBackFromZeroBesidePendingSmsIsNotANewState) {
    Missed(1);
    Unread(2);
    RunTicks(10);
    const int due = DueIn();
    Missed(0);
    RunTicks(5);
    Missed(1);
    EXPECT_EQ(DueIn(), due - 5) << "no restart";
}

TEST_F(Reminder, OnlyTheWatchTimerTicks) {
    Missed(1);
    RunTicks(10);
    const int due = DueIn();
    for (UINT other : {0u, 1u, WATCH_TIMER_ID + 1}) dlg_->OnWatchTick(other);
    EXPECT_EQ(DueIn(), due);
    EXPECT_TRUE(TakeEvents().empty());
}

TEST_F(Reminder, NegativeCountsAreNothingAndAnIntervalOutsideTheListRemindsEveryTick) {
    Missed(0xFFFFFFFF);
    Unread(0x80000000);
    EXPECT_TRUE(RunTicks(100).empty());
    AppSettings.AlertInterval = 5;
    AppSettings.alertIntervalTicks = 0;
    Missed(1);
    EXPECT_EQ(RunTicks(4), (std::vector<int>{2, 3, 4}));
}

}  // namespace
}  // namespace progtest
