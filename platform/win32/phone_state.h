// Inside the Win32 layer: the phone's per-user state values on a desktop that has none.
#pragma once

// Creates the per-user state values with what a new phone has (no missed calls, no
// unread SMS, the "Normal" profile), each only where it is absent. Values under
// HKEY_LOCAL_MACHINE are left to the installer, which runs as an administrator.
void CreateMissingPhoneStateValues();
