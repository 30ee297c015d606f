// The child host: a second OS process of the emulator that runs the program once more
// on the same device, as the phone's launcher would start it again. It writes its
// events to stdout, where its parent relays them, and ends when the program ends.
#include <cstdio>

#include "platform/frontend/control.h"
#include "platform/frontend/executor.h"
#include "platform/frontend/frontend.h"
#include "platform/frontend/program_host.h"
#include "platform/handset/core/events.h"

namespace handset::frontend {
namespace {

class ChildFrontEnd : public FrontEnd {
public:
    explicit ChildFrontEnd(std::u16string exe_path) : exe_path_(std::move(exe_path)) {}

    int run() override {
        const int sink = events().add_sink([](const std::string& line, const Json&) {
            std::string text = line + "\n";
            std::fwrite(text.data(), 1, text.size(), stdout);
            std::fflush(stdout);
        });
        ProgramHost host;
        Executor executor(host);
        // Its windows can be asked to come to the front like any host's.
        ControlServer server(executor, false);
        std::string error;
        if (!server.start(error)) std::fprintf(stderr, "quillon: %s\n", error.c_str());
        int status = kExitOk;
        if (host.start(exe_path_, error)) {
            host.wait_for_end();
        } else {
            std::fprintf(stderr, "quillon: %s\n", error.c_str());
            status = ProgramHost::kChildHostFailed;
        }
        server.stop();
        events().remove_sink(sink);
        return status;
    }

private:
    std::u16string exe_path_;
};

}  // namespace

std::unique_ptr<FrontEnd> make_child(std::u16string exe_path) {
    return std::make_unique<ChildFrontEnd>(std::move(exe_path));
}

}  // namespace handset::frontend
