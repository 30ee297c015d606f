// Fuzzes the control socket's protocol. What a peer sends, cut into reads anywhere,
// gives the lines a plain reading of the whole stream gives, and each line is a
// command, nothing, or refused with a reason. An answer, however it arrives, reads back
// as the output, note and outcome the host sent.
//
// Input: the bytes the peer sends, then 4 bytes choosing where the reads are cut.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "platform/phone/control_protocol.h"

namespace {

using namespace phone;

void check(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "broken: %s\n", what);
    std::abort();
}

// The lines of `stream` as the protocol defines them, and whether a line was too long.
struct Lines {
    std::vector<std::string> lines;
    bool too_long = false;
    bool operator==(const Lines&) const = default;
};

Lines plain_reading(std::string_view stream) {
    Lines out;
    while (!stream.empty()) {
        // A line ends at "\n" or "\r\n"; the last one may lack the "\n".
        const std::size_t nl = stream.find('\n');
        std::string_view line = stream.substr(0, nl);
        if (line.ends_with('\r')) line.remove_suffix(1);
        if (line.size() > kMaxControlLine) {
            out.too_long = true;
            break;
        }
        out.lines.emplace_back(line);
        if (nl == std::string_view::npos) break;
        stream.remove_prefix(nl + 1);
    }
    return out;
}

// The reads a socket might give: pieces of 1 to 8 bytes or up to a few kilobytes.
std::vector<std::string_view> cut(std::string_view bytes, std::uint32_t seed) {
    std::minstd_rand random(seed);
    std::vector<std::string_view> pieces;
    while (!bytes.empty()) {
        const std::size_t n = std::min<std::size_t>(bytes.size(), 1 + random() % (random() % 2 ? 8 : 6000));
        pieces.push_back(bytes.substr(0, n));
        bytes.remove_prefix(n);
    }
    return pieces;
}

Lines read_requests(const std::vector<std::string_view>& pieces) {
    Lines out;
    ControlRequestReader reader;
    std::string line;
    for (std::string_view piece : pieces) {
        reader.feed(piece);
        for (;;) {
            const auto next = reader.next(line);
            if (next == ControlRequestReader::Next::More) break;
            if (next == ControlRequestReader::Next::TooLong) {
                out.too_long = true;
                return out;
            }
            out.lines.push_back(line);
        }
    }
    if (auto last = reader.last_line()) out.lines.push_back(std::move(*last));
    return out;
}

std::string flat(std::string text) {
    for (char& c : text)
        if (c == '\n' || c == '\r') c = ' ';
    return text;
}

// The answer carrying `output`, `notice` and `error` reads back as they were sent.
void check_answer(const std::string& output, bool ok, const std::string& error, const std::string& notice,
                  std::uint32_t seed) {
    std::vector<std::string> want;
    for (std::size_t pos = 0; pos < output.size();) {
        const std::size_t nl = std::min(output.find('\n', pos), output.size());
        want.push_back(output.substr(pos, nl - pos));
        pos = nl + 1;
    }
    // Bytes after the answer belong to no answer and are not read.
    const std::string sent = format_control_answer(output, ok, error, notice) + ".error trailing\n";
    ControlAnswerReader answer;
    for (std::string_view piece : cut(sent, seed))
        if (answer.feed(piece)) break;
    check(answer.complete() && answer.ok() == ok, "the answer's outcome");
    check(answer.output() == want, "the answer's output");
    check(answer.notice() == flat(notice), "the answer's note");
    if (!ok) check(answer.error() == (error.empty() ? "the command failed" : flat(error)), "the answer's error");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const std::uint32_t seed = in.ConsumeIntegral<std::uint32_t>();
    const std::string stream = in.ConsumeRemainingBytesAsString();

    const Lines lines = plain_reading(stream);
    check(read_requests(cut(stream, seed)) == lines, "the lines of a stream cut into reads");
    check(read_requests({stream}) == lines, "the lines of a stream in one read");

    for (const std::string& line : lines.lines) {
        std::optional<Command> command;
        std::string error;
        const bool ok = parse_control_request(line, command, error);
        check(ok || !error.empty(), "a refused line has its reason");
        if (line.find('\0') != std::string::npos) check(!ok, "a line with a NUL byte is refused");
        if (command) check(!command_name(*command).empty(), "a command has its name");
    }
    // The stream as a command's output, with its first line as the note and the error.
    const std::string first = lines.lines.empty() ? std::string() : lines.lines.front();
    check_answer(stream, seed % 2 == 0, first, first, seed);
    return 0;
}
