// Fuzzes the handset command parser: scripts of any bytes must parse without throwing,
// and what the parser and its helpers produce must read back the same way.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <variant>

#include "platform/phone/commands.h"
#include "platform/handset/registry/paths.h"

namespace {

using namespace phone;

void check(bool ok) {
    if (!ok) std::abort();
}

// Arguments joined into a line split back into the same arguments.
void check_argument_round_trip(std::string_view line) {
    std::vector<std::string> args;
    std::string error;
    if (!split_arguments(line, args, error)) return;
    std::string joined;
    if (!join_arguments(args, joined, error)) return;
    std::vector<std::string> again;
    check(split_arguments(joined, again, error));
    check(again == args);
}

// A value printed in the command form reads back as the same type and bytes.
void check_value_round_trip(DWORD type, const handset::Bytes& data) {
    const std::string text = handset::format_typed_value(type, data);
    DWORD type2 = 0;
    handset::Bytes data2;
    std::string error;
    check(handset::parse_typed_value(text, type2, data2, error));
    check(type2 == type && data2 == data);
}

void check_command(const Command& command) {
    check(!command_name(command).empty());
    if (const auto* set = std::get_if<cmd::RegSet>(&command)) {
        check_value_round_trip(set->type, set->data);
        std::string error;
        handset::RegKeyPath key;
        check(handset::parse_key_path(handset::format_key_path(set->key), key, error));
        check(key.root == set->key.root && key.path == set->key.path);
    } else if (const auto* wait = std::get_if<cmd::Wait>(&command)) {
        check(wait->ms >= 0);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    for (const bool internal : {false, true}) {
        const Script script = parse_script(text, ParseOptions{internal});
        for (const auto& line : script.commands) {
            check(line.line > 0);
            check_command(line.command);
            // A line parses the same on its own as inside its script.
            const ParsedLine alone = parse_line(line.text, line.line, ParseOptions{internal});
            check(alone.ok() && alone.command && alone.command->index() == line.command.index());
        }
        for (const auto& error : script.errors) check(!error.error.empty() && !error.describe().empty());
    }
    // Each line by itself through the argument splitter and the value parser.
    std::size_t pos = 0;
    while (pos <= text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view line = text.substr(pos, end - pos);
        check_argument_round_trip(line);
        DWORD type = 0;
        handset::Bytes bytes;
        std::string error;
        if (handset::parse_typed_value(line, type, bytes, error)) check_value_round_trip(type, bytes);
        long long ms = 0;
        if (parse_duration(line, ms, error)) check(ms >= 0);
        pos = end + 1;
    }
    return 0;
}
