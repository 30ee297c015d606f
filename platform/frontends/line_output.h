// An output of a phone run (stdout, or the file the events are logged to), written a
// whole piece at a time from any thread. A write that fails (a full disk, a file grown
// past its limit) ends the output: it is reported once and nothing more is written, and
// a file the run made itself is cut back to its last whole piece, so that a log that
// ends early still reads as events to its end.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace frontends {

class LineOutput {
public:
    using Report = std::function<void(const std::string&)>;

    // Writes to `fd`, which stays open and is never cut back; `name` says it in the report.
    LineOutput(int fd, std::string name, Report report);
    // Makes (or empties) the file `path`; null with `error` set when it cannot.
    static std::unique_ptr<LineOutput> create(const std::filesystem::path& path, Report report, std::string& error);
    ~LineOutput();
    LineOutput(const LineOutput&) = delete;
    LineOutput& operator=(const LineOutput&) = delete;

    // Writes `text` whole, or (failing) keeps none of it where the file allows; false
    // once the output has ended, at this write or an earlier one.
    bool write(std::string_view text);
    bool ended() const;

private:
    LineOutput(int fd, std::string name, Report report, bool owned);

    mutable std::mutex mu_;
    int fd_;
    std::string name_;
    Report report_;
    bool owned_;     // made by this run: closed at the end, cut back on a failed write
    off_t end_ = 0;  // of the whole pieces written, in an owned file
    bool ended_ = false;
};

}  // namespace frontends
