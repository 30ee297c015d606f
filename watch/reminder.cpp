// The missed-call / unread-SMS reminder, the first step of the main window's watch tick.
//
// On every tick the reminder reads the pending counts of the enabled kinds. A count
// that differs from the one remembered restarts the wait; once the counts have stayed
// the same for more than alertIntervalTicks ticks the reminder is given: two sounds, a
// vibration pattern in the "Silent" profile, or a short vibration during a call.
#include <array>
#include <limits>

#include "app/haptics.h"
#include "app/main_dlg.h"
#include "app/settings.h"
#include "res/program_facts.h"
#include "watch/reminder.h"

namespace {

constexpr LPCWSTR kUnreadSmsKey = TEXT("System\\State\\Messages\\SMS\\Unread");

// A count read for the reminder; a failed read means nothing is pending.
LONG ReadCount(HKEY root, LPCWSTR key, LPCWSTR name) {
    DWORD value = 0;
    if (!ReadRegDword(root, key, name, value)) return 0;
    return static_cast<LONG>(value);
}

// The unread-SMS count. Some firmware keeps it under HKEY_LOCAL_MACHINE, where this
// program has always looked first; the platform documents it under HKEY_CURRENT_USER,
// and a phone that keeps it only there would otherwise never be reminded of an SMS.
LONG ReadUnreadSms() {
    DWORD value = 0;
    if (ReadRegDword(HKEY_LOCAL_MACHINE, kUnreadSmsKey, TEXT("Count"), value) ||
        ReadRegDword(HKEY_CURRENT_USER, kUnreadSmsKey, TEXT("Count"), value))
        return static_cast<LONG>(value);
    return 0;
}

// The count a reminder for both kinds announces. Any sum above 10 sounds the same, so
// it stops at the largest count instead of running past it.
LONG PendingSum(LONG missed, LONG unread) {
    return missed > std::numeric_limits<LONG>::max() - unread ? std::numeric_limits<LONG>::max() : missed + unread;
}

}  // namespace

WString ReminderSoundPath(ReminderKind kind) {
    switch (kind) {
        case ReminderKind::MissedCalls: return ProgramSoundPath(kMissedCallSound);
        case ReminderKind::UnreadSms: return ProgramSoundPath(kUnreadSmsSound);
        case ReminderKind::Both: break;
    }
    return ProgramSoundPath(kMissedCallSmsSound);
}

WString CountSoundPath(LONG count) {
    if (count > kLargestCountSound) return ProgramSoundPath(kCountOverSound);
    std::array<WCHAR, 32> name{};
    wsprintfW(name.data(), TEXT("%s%d%s"), kCountSoundPrefix, count, kCountSoundSuffix);
    return ProgramSoundPath(name.data());
}

void CMainDlg::RestartReminder() {
    m_nAlertTicks = 0;
    m_bAlertGiven = 0;
}

void CMainDlg::CheckReminder() {
    const bool calls = AppSettings.enableCallAlert != 0;
    const bool sms = AppSettings.enableSmsAlert != 0;
    if (!calls && !sms) {
        // The counter stands still and the remembered counts stay for when a reminder
        // is switched on again.
        m_bAlertGiven = 0;
        return;
    }
    ++m_nAlertTicks;
    const LONG missed = calls ? ReadCount(HKEY_CURRENT_USER, TEXT("System\\State\\Phone"), TEXT("Missed Call Count")) : 0;
    const LONG unread = sms ? ReadUnreadSms() : 0;

    if (calls && sms)
        CheckBothKinds(missed, unread);
    else if (calls)
        CheckSingleKind(missed, m_nLastMissedCalls, ReminderKind::MissedCalls);
    else
        CheckSingleKind(unread, m_nLastUnreadSms, ReminderKind::UnreadSms);

    // While nothing is pending the counter cycles through 1 to K+1.
    if (m_nAlertTicks > AppSettings.alertIntervalTicks) m_nAlertTicks = 0;
}

void CMainDlg::CheckSingleKind(LONG count, LONG& remembered, ReminderKind kind) {
    if (count <= 0) {
        remembered = 0;
        m_bAlertGiven = 0;
    } else if (count != remembered) {
        remembered = count;
        RestartReminder();
    } else if (m_nAlertTicks > AppSettings.alertIntervalTicks) {
        GiveReminder(kind, remembered);
    }
}

void CMainDlg::CheckBothKinds(LONG missed, LONG unread) {
    const LONG limit = AppSettings.alertIntervalTicks;
    if (missed <= 0 && unread <= 0) {
        // Only the missed-call count is forgotten: an unread count that comes back at
        // its old value is not a new state.
        m_nLastMissedCalls = 0;
        m_bAlertGiven = 0;
    } else if (missed <= 0) {
        if (unread != m_nLastUnreadSms) {
            m_nLastUnreadSms = unread;
            RestartReminder();
        } else if (m_nAlertTicks > limit) {
            GiveReminder(ReminderKind::UnreadSms, m_nLastUnreadSms);
        }
    } else if (unread <= 0) {
        if (missed != m_nLastMissedCalls) {
            m_nLastMissedCalls = missed;
            RestartReminder();
        } else if (m_nAlertTicks > limit) {
            GiveReminder(ReminderKind::MissedCalls, m_nLastMissedCalls);
        }
    } else if (missed != m_nLastMissedCalls) {
        m_nLastMissedCalls = missed;
        m_nLastUnreadSms = unread;
        RestartReminder();
    } else if (unread != m_nLastUnreadSms) {
        m_nLastUnreadSms = unread;
        RestartReminder();
    } else if (m_nAlertTicks > limit) {
        GiveReminder(ReminderKind::Both, PendingSum(m_nLastMissedCalls, m_nLastUnreadSms));
    }
}

void CMainDlg::GiveReminder(ReminderKind kind, LONG count) {
    m_nAlertTicks = 0;
    WString profile;
    // Without the profile the reminder is dropped; in once mode it falls due again.
    if (!ReadRegString(HKEY_CURRENT_USER, TEXT("ControlPanel\\Profiles"), TEXT("ActiveProfile"), profile)) return;
    if (m_bAlertGiven != 0) return;
    // Once mode uses up its single reminder here, even when what follows gives nothing.
    if (AppSettings.AlertInterval == 0) m_bAlertGiven = 1;

    if (CallInProgress()) {
        VibrateFor(kInCallPulseMs);
        return;
    }
    if (profile != TEXT("Silent")) {
        sndPlaySound(ReminderSoundPath(kind).c_str(), SND_SYNC);
        Sleep(kCountSoundPauseMs);
        sndPlaySound(CountSoundPath(count).c_str(), SND_ASYNC);
        return;
    }
    if (AppSettings.EnableVibrateAlert != 0) {
        for (std::size_t i = 0; i < kReminderPulsesMs.size(); ++i) {
            if (i > 0) Sleep(kReminderPulsePauseMs);
            VibrateFor(kReminderPulsesMs[i]);
        }
    }
}
