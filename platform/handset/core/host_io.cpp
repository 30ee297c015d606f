// Host file descriptors, locks and whole-file reads (see host_io.h).
#include "platform/handset/core/host_io.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace handset {

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
}

int UniqueFd::release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

void UniqueFd::reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
}

UniqueFd open_lock_file(const std::filesystem::path& file) {
    return UniqueFd(::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
}

FileLock::FileLock(int fd, int operation) : fd_(fd) {
    if (fd_ >= 0) ::flock(fd_, operation);
}

FileLock::~FileLock() {
    if (fd_ >= 0) ::flock(fd_, LOCK_UN);
}

bool FileBytes::read(const std::filesystem::path& file) {
    const UniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    return fd && read(fd.get());
}

bool FileBytes::read(int fd) {
    if (fd < 0) return false;
    struct stat st {};
    std::size_t capacity = 4096;
    // One byte more than the size, so that the read that finds the end needs no growth.
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) capacity = static_cast<std::size_t>(st.st_size) + 1;
    // Not zeroed: every byte used is read first.
    bytes_ = std::make_unique_for_overwrite<std::uint8_t[]>(capacity);
    size_ = 0;
    for (;;) {
        if (size_ == capacity) grow(capacity);
        const ssize_t n = ::read(fd, bytes_.get() + size_, capacity - size_);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return n == 0;
        size_ += static_cast<std::size_t>(n);
    }
}

void FileBytes::grow(std::size_t& capacity) {
    auto bigger = std::make_unique_for_overwrite<std::uint8_t[]>(capacity * 2);
    std::memcpy(bigger.get(), bytes_.get(), size_);
    bytes_ = std::move(bigger);
    capacity *= 2;
}

}  // namespace handset
