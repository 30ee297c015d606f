// What travels over the control socket, apart from the socket itself: a peer sends
// handset commands, one a line; the host answers each with the command's output lines,
// each with a leading "." doubled, then ".ok" or ".error MESSAGE", after a
// ".note MESSAGE" when the command has a word for the user that is no error. Both
// readers take the bytes in whatever pieces they arrive and read them the same way.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/phone/commands.h"

namespace phone {

// Longest command line the socket takes, without its line break ("\n" or "\r\n").
constexpr std::size_t kMaxControlLine = 4096;

// The host's side: the command lines of what a peer sends.
class ControlRequestReader {
public:
    enum class Next {
        Line,     // `line` holds the next line, without its break
        More,     // no whole line yet: read on
        TooLong,  // the next line is longer than kMaxControlLine: read no further
    };
    void feed(std::string_view bytes) { buffer_.append(bytes); }
    Next next(std::string& line);
    // Once the peer has closed its side: its last line, which had no "\n" (a "\r" at its
    // end is dropped); nothing when no bytes are left. Call after next() has given More.
    std::optional<std::string> last_line();

private:
    std::string buffer_;
};

// A request line as a command: false with `error` set when it is malformed; true with
// `command` empty for a blank or comment line. Takes the requests hosts send each other.
bool parse_control_request(std::string_view line, std::optional<Command>& command, std::string& error);

// The answer to one command: its output (lines separated by "\n"), then its outcome.
std::string format_control_answer(std::string_view output, bool ok, std::string_view error,
                                  std::string_view notice = {});
// The answer to a line longer than kMaxControlLine, after which the host closes.
std::string control_line_too_long_answer();

// The peer's side: the answer to one command, read as it arrives.
class ControlAnswerReader {
public:
    // Takes bytes of the answer; true once it is complete (what follows is not read).
    bool feed(std::string_view bytes);
    bool complete() const { return complete_; }
    bool ok() const { return ok_; }
    const std::vector<std::string>& output() const { return output_; }
    const std::string& error() const { return error_; }
    const std::string& notice() const { return notice_; }

private:
    std::string buffer_;
    bool complete_ = false;
    bool ok_ = false;
    std::vector<std::string> output_;
    std::string error_;
    std::string notice_;
};

}  // namespace phone
