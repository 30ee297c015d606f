// The child host: a second OS process of the emulator that runs the program once more
// on the same device, as the phone's launcher would start it again. It writes its
// events to stdout, where its parent relays them, and ends when the program ends.
#include <sys/prctl.h>

#include <csignal>
#include <cstdio>

#include "platform/frontends/frontend.h"
#include "platform/phone/phone.h"
#include "platform/handset/core/clock.h"

using namespace handset;
using namespace handset::shell;
using namespace phone;

namespace frontends {
namespace {

class ChildFrontEnd : public FrontEnd {
public:
    explicit ChildFrontEnd(std::u16string exe_path) : exe_path_(std::move(exe_path)) {}

    int run() override {
        // It lives only to run for its parent, which relays its events and holds handset
        // time for it: without the parent it would run on unseen, so it ends with it.
        // The thread that started it waits for it, so that thread outlives it otherwise.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        PhoneOptions options;
        options.report = [](const std::string& text) { std::fprintf(stderr, "quillon: %s\n", text.c_str()); };
        Phone phone(std::move(options), [](const std::string& line, const Event&) {
            std::string text = line + "\n";
            std::fwrite(text.data(), 1, text.size(), stdout);
            std::fflush(stdout);
        });
        // Handset time here moves only while this thread waits, as in the parent.
        const Participation participation;
        std::string error;
        if (!phone.host().start(exe_path_, error)) {
            std::fprintf(stderr, "quillon: %s\n", error.c_str());
            return ProgramHost::kChildHostFailed;
        }
        // A second instance ends at once. One that still runs once it waits for the user
        // found no first instance: the first ended just as this one started. Nobody can
        // reach it in this host, so it ends again and the parent starts it in its own.
        if (phone.host().running() && !phone.host().ended_by_itself()) {
            if (!phone.host().quit(error)) std::fprintf(stderr, "quillon: %s\n", error.c_str());
            phone.host().wait_for_end();
            return ProgramHost::kChildBecameFirst;
        }
        phone.host().wait_for_end();
        return kExitOk;
    }

private:
    std::u16string exe_path_;
};

}  // namespace

std::unique_ptr<FrontEnd> make_child(std::u16string exe_path) {
    return std::make_unique<ChildFrontEnd>(std::move(exe_path));
}

}  // namespace frontends
