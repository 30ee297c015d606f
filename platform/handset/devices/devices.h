// The handset's device services as the front ends and the script runner see them:
// start-up and shut-down, the keypad and the shell's key lock, the power manager, the
// sound output, the vibration motor, the carrier's mail client and the factory files.
//
// The program itself never calls these; it reaches the same services through the
// platform API (keybd_event, sndPlaySound, Vibrate, CreateMsgQueue, ShellExecuteEx...).
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/handset/power/power.h"
#include "platform/wintypes.h"

namespace handset {

// --- Start-up and shut-down -------------------------------------------------------

// Registers the factory hook that installs the device's programs, sounds and folders
// into a newly made device folder. Call once at start-up, before the Device is
// opened (an explicit call, so that static linking cannot drop the registration).
void register_device_services();

// Starts the services that run by themselves (the power manager's idle countdown).
// Call after the device, its registry and the clock are set up, from a thread that
// takes part in the clock: under the virtual clock time would otherwise run on to
// the first idle deadline before anyone else has started.
void start_device_services();

// Ends what start_device_services() and the device programs started: the mail client
// is closed and waited for, the idle countdown stops, sound and vibration stop and the
// audio device is closed. The power manager is back in its boot state afterwards.
void stop_device_services();

// --- Keypad and shell -------------------------------------------------------------

// A press of a physical key by the user: key-down then key-up, with a key click. True
// when the key waits in the queue of a window's thread that is blocked outside its
// message loop (see settle_input); it is handled when the thread is back.
bool press_physical_key(BYTE vk);
// Whether the shell's key lock holds the keypad (HKLM "System\State" "Lock" has its
// key-lock bit 2 set; unreadable counts as unlocked).
bool keypad_locked();
// Key clicks made so far: one for each press that is not silent.
std::uint64_t key_clicks();
// The home screen's keys: a key that passes the key lock while no window of this host
// is in front goes to `handler`, on the thread that pressed or injected it, with no
// lock held; `physical` tells the user's press (press_physical_key) from a key a
// program injected (keybd_event). Null removes the handler.
void set_home_key_handler(std::function<void(BYTE vk, bool up, bool physical)> handler);

// --- Power manager ----------------------------------------------------------------

// The power manager, its states, timeouts and battery: power/power.h.

// --- Sound and vibration ----------------------------------------------------------

// Whether sounds and key clicks reach the host's audio device. Off by default (tests
// and the headless phone); the terminal phone switches it on. Timing is the same
// either way; a machine without a sound device silently stays off.
void set_audio_output(bool enabled);
// The device path of the sound playing now (as sndPlaySound got it), or nothing.
std::optional<std::u16string> sound_playing();
bool vibrating();

// --- The carrier's mail client ----------------------------------------------------

// The user starts the mail client from the handset's menu; false when it cannot start
// (its program file is missing). When it runs already its window comes to the front.
bool mail_start();
// The user closes the mail client's window; false when it does not run.
bool mail_close();
bool mail_running();

// --- Files ------------------------------------------------------------------------

// The device path of the program as a new device has it installed
// ("\Program Files\Quillon\Quillon.exe").
std::u16string installed_program_path();
// The device path Quillon is started from: the one --exe-path named, else the
// installed program. Needs the device.
std::u16string program_path();

// Writes the program's sound set (the WAV files built into the emulator) into the
// host folder `folder`, creating it. Throws std::runtime_error when it cannot.
void install_sound_set(const std::filesystem::path& folder);

}  // namespace handset
