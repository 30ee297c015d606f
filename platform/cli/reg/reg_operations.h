// What the operations of `quillon reg` share: their errors, the parsing of their
// arguments, the store's failures as the tool reports them, and the operations
// themselves, one file each (reg_tool.cpp dispatches to them).
#pragma once

#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "platform/handset/registry/store.h"

namespace cli::reg {

inline constexpr const char* kDone = "The operation completed successfully.";

// A syntax error the tool reports as the platform's does, with a hint.
struct SyntaxError {
    std::string detail;
};

// A failure reported as "ERROR: message".
struct ToolError {
    std::string message;
};

struct Options {
    std::vector<std::string> positional;
    std::map<std::string, std::optional<std::string>> flags;  // lower-case name -> argument

    bool has(const std::string& name) const { return flags.count(name) != 0; }
    std::string arg(const std::string& name) const {
        auto it = flags.find(name);
        return it != flags.end() && it->second ? *it->second : std::string();
    }
};

// Splits arguments, from `first` on, into positionals and the options `allowed` (name
// -> takes an argument). Throws SyntaxError for any other option.
Options parse_options(const std::vector<std::string>& args, std::size_t first,
                      const std::map<std::string, bool>& allowed);

// The key `text` names; throws ToolError when it names none.
handset::RegKeyPath key_arg(const std::string& text);
// The name of /v, or the default value's (empty) name.
std::u16string value_arg(const Options& o);
// "REG_SZ", ..., or "REG_UNKNOWN(0x..)".
std::string type_name(DWORD type);
// A store failure as the tool reports it: throws ToolError.
[[noreturn]] void store_failure(handset::RegistryStore& store, handset::RegStatus st);

// The operations: `args` as the tool got them, the operation's name first. Each returns
// the exit status or throws SyntaxError or ToolError.
int query(handset::RegistryStore& store, const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int add(handset::RegistryStore& store, const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int remove(handset::RegistryStore& store, const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int export_key(handset::RegistryStore& store, const std::vector<std::string>& args, std::ostream& out,
               std::ostream& err);
int import_file(handset::RegistryStore& store, const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace cli::reg
