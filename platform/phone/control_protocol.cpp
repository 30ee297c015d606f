// The control socket's lines and answers (see control_protocol.h).
#include "platform/phone/control_protocol.h"

using namespace handset;

namespace phone {
namespace {

// `text` on one line: an answer's note and error end at their line break.
std::string flat(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c == '\n' || c == '\r') c = ' ';
    return out;
}

}  // namespace

ControlRequestReader::Next ControlRequestReader::next(std::string& line) {
    const std::size_t nl = buffer_.find('\n');
    // The limit is on the line without its break, and a "\r" that came last may be the
    // first half of one.
    std::size_t length = nl == std::string::npos ? buffer_.size() : nl;
    if (length > 0 && buffer_[length - 1] == '\r') --length;
    if (length > kMaxControlLine) return Next::TooLong;
    if (nl == std::string::npos) return Next::More;
    line.assign(buffer_, 0, length);
    buffer_.erase(0, nl + 1);
    return Next::Line;
}

std::optional<std::string> ControlRequestReader::last_line() {
    if (buffer_.empty()) return std::nullopt;
    std::string line = std::move(buffer_);
    buffer_.clear();
    if (line.back() == '\r') line.pop_back();
    return line;
}

bool parse_control_request(std::string_view line, std::optional<Command>& command, std::string& error) {
    command.reset();
    if (line.find('\0') != std::string_view::npos) {
        error = "malformed command: NUL byte";
        return false;
    }
    ParsedLine parsed = parse_line(line, 1, ParseOptions{.internal = true});
    if (!parsed.ok()) {
        error = std::move(parsed.error);
        return false;
    }
    command = std::move(parsed.command);
    return true;
}

std::string format_control_answer(std::string_view output, bool ok, std::string_view error,
                                  std::string_view notice) {
    std::string answer;
    std::size_t pos = 0;
    while (pos < output.size()) {
        std::size_t end = output.find('\n', pos);
        if (end == std::string_view::npos) end = output.size();
        const std::string_view line = output.substr(pos, end - pos);
        if (!line.empty() && line[0] == '.') answer += '.';
        answer.append(line);
        answer += '\n';
        pos = end + 1;
    }
    if (!notice.empty()) answer += ".note " + flat(notice) + "\n";
    answer += ok ? std::string(".ok\n") : ".error " + flat(error) + "\n";
    return answer;
}

std::string control_line_too_long_answer() {
    return format_control_answer({}, false, "command line longer than " + std::to_string(kMaxControlLine) + " bytes");
}

bool ControlAnswerReader::feed(std::string_view bytes) {
    if (complete_) return true;
    buffer_.append(bytes);
    std::size_t nl;
    while ((nl = buffer_.find('\n')) != std::string::npos) {
        std::string text = buffer_.substr(0, nl);
        buffer_.erase(0, nl + 1);
        if (text == ".ok") {
            ok_ = complete_ = true;
            return true;
        }
        if (text.starts_with(".note ")) {
            notice_ = text.substr(6);
            continue;
        }
        if (text.starts_with(".error")) {
            error_ = text.size() > 7 ? text.substr(7) : "the command failed";
            complete_ = true;
            return true;
        }
        if (text.starts_with("..")) text.erase(0, 1);
        output_.push_back(std::move(text));
    }
    return false;
}

}  // namespace phone
