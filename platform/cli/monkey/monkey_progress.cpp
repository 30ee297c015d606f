// The monkey's progress line (see monkey_progress.h).
#include "platform/cli/monkey/monkey_progress.h"

#include <algorithm>

namespace cli::monkey {

Progress::Progress(std::ostream& err, bool terminal, int total)
    : err_(err), terminal_(terminal), total_(total), step_(std::max(1, total / 10)) {}

void Progress::count(bool passed) {
    ++done_;
    if (!passed) ++failed_;
    show();
}

void Progress::show(const std::string& doing) {
    const std::string line = "monkey: " + std::to_string(done_) + "/" + std::to_string(total_) + " runs, " +
                             std::to_string(failed_) + " failed" + (doing.empty() ? "" : " (" + doing + ")");
    if (terminal_) {
        err_ << "\r\033[K" << line << std::flush;
        shown_ = true;
    } else if (doing.empty() && (done_ % step_ == 0 || done_ == total_)) {
        err_ << line << "\n" << std::flush;
    }
}

void Progress::clear() {
    if (terminal_ && shown_) err_ << "\r\033[K" << std::flush;
    shown_ = false;
}

}  // namespace cli::monkey
