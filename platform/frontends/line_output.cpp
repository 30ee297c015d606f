// Outputs of a phone run that end cleanly when they cannot be written (see line_output.h).
#include "platform/frontends/line_output.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace frontends {

LineOutput::LineOutput(int fd, std::string name, Report report)
    : LineOutput(fd, std::move(name), std::move(report), false) {}

LineOutput::LineOutput(int fd, std::string name, Report report, bool owned)
    : fd_(fd), name_(std::move(name)), report_(std::move(report)), owned_(owned) {}

std::unique_ptr<LineOutput> LineOutput::create(const std::filesystem::path& path, Report report, std::string& error) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        error = std::strerror(errno);
        return nullptr;
    }
    return std::unique_ptr<LineOutput>(new LineOutput(fd, path.string(), std::move(report), true));
}

LineOutput::~LineOutput() {
    if (owned_) ::close(fd_);
}

bool LineOutput::write(std::string_view text) {
    std::lock_guard lock(mu_);
    if (ended_) return false;
    std::string_view left = text;
    while (!left.empty()) {
        const ssize_t n = ::write(fd_, left.data(), left.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const std::string why = n < 0 ? std::strerror(errno) : "nothing was written";
            ended_ = true;
            // The part of the piece that reached the file is taken back, so that a
            // reader of the log (`quillon trace`, the monkey) finds whole events only.
            if (owned_ && ::ftruncate(fd_, end_) == 0) ::lseek(fd_, end_, SEEK_SET);
            if (report_)
                report_("cannot write " + name_ + ": " + why +
                        (owned_ ? "; it ends with its last whole line" : "; nothing more goes to it"));
            return false;
        }
        left.remove_prefix(static_cast<std::size_t>(n));
    }
    end_ += static_cast<off_t>(text.size());
    return true;
}

bool LineOutput::ended() const {
    std::lock_guard lock(mu_);
    return ended_;
}

}  // namespace frontends
