// What the device services ask of each other, and the start-up's and shut-down's
// hooks into each service; front ends use devices.h.
#pragma once

namespace handset {

// A key was pressed or released: the user is active. Brings the phone back to "on"
// and restarts the idle countdown.
void power_user_activity();

// The idle countdown's thread (see start_device_services). power_stop() also puts the
// power manager back in its boot state.
void power_start();
void power_stop();

void sound_stop();
void vibration_stop();
// Closes every running mail client and waits until their processes have ended.
void mail_stop_all();

}  // namespace handset
