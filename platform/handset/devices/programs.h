// The device programs the handset runs inside the emulator, and how the shell starts
// them.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/handset/core/process.h"

namespace handset {

// The carrier's mail client, the one program of the device that the emulator runs.
inline constexpr std::u16string_view kMailClientPath = u"\\Windows\\e mail.exe";

// What starting a program came to: the process, or the platform error code.
struct ProgramStart {
    std::shared_ptr<ProcessObject> process;
    DWORD error = 0;
};

// Starts the program stored at `device_path` (any case). ERROR_FILE_NOT_FOUND when
// no such file exists, ERROR_NOT_SUPPORTED for a file that is not a program this
// handset runs.
ProgramStart start_device_program(std::u16string_view device_path);

// Starts one mail client process and returns when it has opened its window and tried
// to connect (or, when one runs already, has handed over to it and ended). Null when
// the device has no process slot left.
std::shared_ptr<ProcessObject> start_mail_client();

}  // namespace handset
