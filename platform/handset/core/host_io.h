// The host's file descriptors as the handset uses them: an owner that closes one, an
// flock held for a scope, and the whole content of a file in one buffer.
//
// Services that share state between host processes of one device (named mutexes, the
// window table, the device's set-up) lock files in the device folder; these keep that
// close-and-unlock bookkeeping in one place. Every descriptor opened here is
// close-on-exec, so that a program started by the emulator inherits none of them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string_view>

namespace handset {

// Owns a file descriptor and closes it when destroyed; -1 owns nothing.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    // Gives the descriptor up without closing it.
    int release();
    // Closes the descriptor held, if any, and takes `fd`.
    void reset(int fd = -1);

private:
    int fd_ = -1;
};

// Opens (creating it, owner-only) a file used only for its locks; owns nothing when
// it cannot be opened.
UniqueFd open_lock_file(const std::filesystem::path& file);

// Holds an flock on a descriptor the caller keeps open, from construction to
// destruction. `operation` is LOCK_SH or LOCK_EX; an invalid descriptor is not locked.
class FileLock {
public:
    FileLock(int fd, int operation);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

private:
    int fd_;
};

// The whole content of a host file, read in as few reads as its size allows.
class FileBytes {
public:
    // False when the file cannot be opened or read; the bytes are then undefined.
    bool read(const std::filesystem::path& file);
    // The same from a descriptor open for reading, read from where it stands.
    bool read(int fd);
    std::span<const std::uint8_t> bytes() const { return {bytes_.get(), size_}; }
    std::string_view text() const { return {reinterpret_cast<const char*>(bytes_.get()), size_}; }

private:
    void grow(std::size_t& capacity);

    std::unique_ptr<std::uint8_t[]> bytes_;
    std::size_t size_ = 0;
};

}  // namespace handset
