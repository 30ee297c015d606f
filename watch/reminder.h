// The kinds of reminder the watch gives for missed calls and unread SMS messages, and
// the sounds that announce them.
#pragma once

#include <string>

#include "platform/windows.h"

// What a reminder announces; it picks the first sound.
enum class ReminderKind { MissedCalls, UnreadSms, Both };

// The device path of the first sound of a reminder kind, in programFolder's sound folder.
WString ReminderSoundPath(ReminderKind kind);
// The device path of the sound that announces `count`: the numbered count sound up to
// kLargestCountSound, kCountOverSound above.
WString CountSoundPath(LONG count);
