// The watch timer of the main window and the kinds of reminder it gives for missed
// calls and unread SMS messages.
#pragma once

#include <string>

#include "platform/windows.h"

// The main window's only timer: every expiry is one watch tick.
constexpr UINT WATCH_TIMER_ID = 100;
constexpr UINT WATCH_TIMER_PERIOD_MS = 3000;

// What a reminder announces; it picks the first sound.
enum class ReminderKind { MissedCalls, UnreadSms, Both };

// The device path of the first sound of a reminder kind, in programFolder's "Sound".
std::u16string ReminderSoundPath(ReminderKind kind);
// The device path of the sound that announces `count`: "alert<N>.wav" up to 10,
// "alertOver.wav" above.
std::u16string CountSoundPath(LONG count);
