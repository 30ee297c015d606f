// Bringing another host's window to the front: SetForegroundWindow on a window of
// another host of the device asks that host over its control socket.
#include <cstdint>
#include <sstream>

#include "platform/phone/control.h"
#include "platform/handset/core/device.h"
#include "platform/handset/core/process.h"
#include "platform/handset/window/wm.h"

using namespace handset;

namespace phone {

void install_remote_foreground() {
    set_remote_foreground_handler([](DWORD pid, HWND hwnd) {
        if (!has_device()) return false;
        const std::filesystem::path socket = control_socket_path(device().run_dir(), host_pid_of(pid));
        std::ostringstream line;
        line << "foreground 0x" << std::hex << reinterpret_cast<std::uintptr_t>(hwnd);
        std::vector<std::string> output;
        std::string error;
        return send_control_command(socket, line.str(), output, error);
    });
}

}  // namespace phone
