// `quillon ctl COMMAND...`: one handset command, given as words, sent to the running
// instance of a device; its output and verdict come back as the command's own.
#include "platform/cli/ctl/ctl.h"

#include <variant>

#include "platform/handset/core/device.h"
#include "platform/phone/commands.h"
#include "platform/phone/control.h"

using namespace handset;
using namespace phone;

namespace cli {

namespace fs = std::filesystem;

int run_ctl(const fs::path& device_folder, const std::vector<std::string>& args, std::ostream& out,
            std::ostream& err) {
    if (args.empty()) {
        err << "quillon ctl: give a handset command, for example `quillon ctl screen`\n";
        return 2;
    }
    std::string line, error;
    if (!join_arguments(args, line, error)) {
        err << "quillon ctl: " << error << "\n";
        return 2;
    }
    const ParsedLine parsed = parse_line(line, 1);
    if (!parsed.ok()) {
        err << "quillon ctl: " << parsed.error << "\n";
        return 2;
    }
    if (!parsed.command) {
        err << "quillon ctl: the command is empty\n";
        return 2;
    }
    // The instance writes a screenshot from its own working folder: a relative name is
    // the caller's, so it travels as an absolute one.
    if (const auto* shot = std::get_if<cmd::Screenshot>(&*parsed.command); shot && fs::path(shot->path).is_relative()) {
        const std::string path = fs::absolute(shot->path).string();
        if (path.find('"') != std::string::npos) {
            err << "quillon ctl: the file name must not hold a double quote\n";
            return 2;
        }
        line = "screenshot \"" + path + "\"";
    }

    // The commands' usage is the parser's own: no phone needs to run for it.
    if (std::holds_alternative<cmd::Help>(*parsed.command)) {
        for (const CommandHelp& help : command_help()) out << help.usage << "\n";
        return 0;
    }
    if (!Device::exists(device_folder)) {
        err << "quillon ctl: no device at " << device_folder.string() << " (a phone makes one at its first start: quillon --device "
            << device_folder.string() << ")\n";
        return 1;
    }
    const ControlReply reply = send_to_device(device_folder, line);
    if (!reply.reached) {
        err << "quillon ctl: no Quillon instance runs on the device " << device_folder.string() << "\n";
        return 1;
    }
    for (const auto& text : reply.output) out << text << "\n";
    out.flush();
    if (!reply.notice.empty()) err << "quillon ctl: " << reply.notice << "\n";
    if (!reply.ok) {
        err << "quillon ctl: " << reply.error << "\n";
        return 1;
    }
    return 0;
}

}  // namespace cli
