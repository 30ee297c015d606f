// Sound playback of the handset's platform API.
#pragma once

#include "platform/wintypes.h"

constexpr UINT SND_SYNC = 0x0000;
constexpr UINT SND_ASYNC = 0x0001;
constexpr UINT SND_NODEFAULT = 0x0002;
constexpr UINT SND_FILENAME = 0x00020000;

// Plays a WAV file of the device. SND_SYNC returns when it has finished, SND_ASYNC at
// once; a new sound stops the one playing. A missing or unreadable file plays the
// default sound unless SND_NODEFAULT is given.
BOOL sndPlaySound(LPCWSTR path, UINT flags);
