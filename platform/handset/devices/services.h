// What the device services ask of each other, and the start-up's and shut-down's
// hooks into each service; front ends use devices.h.
#pragma once

namespace handset {

void sound_stop();
void vibration_stop();
// Closes every running mail client and waits until their processes have ended.
void mail_stop_all();

}  // namespace handset
