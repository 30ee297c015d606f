// The phone's own options on the `quillon` command line: what they set, how CLI11
// declares them, and the plain command line a phone is usually started with, read
// without CLI11.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "platform/cli/options/cli11.h"
#include "platform/handset/core/device.h"

namespace cli {

// The companions' names, each a subcommand of the command line when a word names it.
inline constexpr std::string_view kCompanionNames[] = {"reg", "ctl", "trace", "monkey"};

// The words of a command line (after the program's name), asked which options and
// companions to declare. Declaring them takes a good share of a start, and one whose
// name no word holds cannot change how the words parse; the help, which lists them all,
// needs every one, and so does any short option, since -h may hide in a group of them.
class CommandWords {
public:
    explicit CommandWords(std::span<const char* const> args);
    // Words that need every option and companion.
    static CommandWords all() { return CommandWords(); }

    // Whether `name` is to be declared: a word is `name` itself, or `name=VALUE` for an
    // option (always, for words that need everything).
    bool names(std::string_view name) const;

private:
    CommandWords() : everything_(true) {}
    std::span<const char* const> args_;
    bool everything_ = false;
};

// The phone's own options, given before a companion's name or without one.
struct PhoneOptions {
    handset::DeviceOptions device;
    bool headless = false;
    bool window = false;
    bool layout = false;
    int scale = 0;  // 0: not given
    std::string script;
    std::string log;
    std::string record;
    std::string trace;
    std::string clock;
    double speed = 1.0;
    bool no_start = false;
    bool child = false;
    long long time_origin = 0;
    bool command_table = false;

    bool operator==(const PhoneOptions&) const = default;
};

// --device, --model and --sms-root, those of them that `words` names: the phone's
// options, which reg and ctl also take right after their names.
void add_device_options(CLI::App& app, handset::DeviceOptions& device, const CommandWords& words);

// The phone's options that `words` names (all of them for the help).
void add_phone_options(CLI::App& app, PhoneOptions& options, const CommandWords& words);

// Reads a command line (after the program's name) made only of the phone's flags and
// of its options that take a file or folder as it is, each given once, and no word a
// companion's name: how people, scripts and the phone's own tools start a phone. They
// read as CLI11 reads them, without the C++ locale that CLI11 makes at its first
// option. False, with `into` left unspecified, for any other command line: CLI11 reads
// those, with its help and its errors.
bool read_plain_phone_words(std::span<const char* const> args, PhoneOptions& into);

}  // namespace cli
