// Sound playback of the handset's platform API.
#pragma once

#include "platform/wintypes.h"

constexpr UINT SND_SYNC = 0x0000;
constexpr UINT SND_ASYNC = 0x0001;
constexpr UINT SND_NODEFAULT = 0x0002;
constexpr UINT SND_MEMORY = 0x0004;  // the name points to a WAV image in memory
constexpr UINT SND_LOOP = 0x0008;    // repeat until stopped; only with SND_ASYNC
constexpr UINT SND_NOSTOP = 0x0010;  // fail rather than stop a sound that is playing
constexpr UINT SND_FILENAME = 0x00020000;

// Plays a WAV file of the device. SND_SYNC returns when it has finished, SND_ASYNC at
// once; a new sound stops the one playing, unless SND_NOSTOP is given, and a null name
// stops it. A missing or unreadable file plays the default sound unless SND_NODEFAULT
// is given.
BOOL sndPlaySound(LPCWSTR path, UINT flags);
