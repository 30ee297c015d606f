// The screen snapshot of this host: the windows' part from the window layer, the
// shell's facts from the front end's source.
#include "platform/handset/display/screen_snapshot.h"

#include <mutex>

namespace handset {
namespace {

std::mutex g_shell_mu;
std::function<ShellFacts()> g_shell_source;

}  // namespace

void set_shell_facts_source(std::function<ShellFacts()> source) {
    std::lock_guard lock(g_shell_mu);
    g_shell_source = std::move(source);
}

ScreenSnapshot capture_screen() {
    ScreenSnapshot shot = snapshot_windows();
    std::function<ShellFacts()> source;
    {
        std::lock_guard lock(g_shell_mu);
        source = g_shell_source;
    }
    // The source reads the registry and device state: never under the window lock.
    if (source) shot.shell = source();
    return shot;
}

}  // namespace handset
