// `quillon reg` (see reg_tool.h): the parsing the operations share, their usage and the
// dispatch to the operation named; each operation is in a file of its own.
#include "platform/cli/reg/reg_tool.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <iterator>

#include "platform/cli/reg/reg_operations.h"
#include "platform/handset/core/utf.h"

using namespace handset;

namespace cli {
namespace reg {

constexpr const char* kNotFound = "The system was unable to find the specified registry key or value.";

Options parse_options(const std::vector<std::string>& args, std::size_t first,
                      const std::map<std::string, bool>& allowed) {
    Options o;
    for (std::size_t i = first; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a.size() >= 2 && (a[0] == '/' || a[0] == '-')) {
            const std::string name = ascii_lower(a.substr(1));
            auto it = allowed.find(name);
            if (it == allowed.end()) {
                // On this host "/..." is also an absolute file name.
                if (a[0] == '/' && a.find_first_of("/.", 1) != std::string::npos) {
                    o.positional.push_back(a);
                    continue;
                }
                throw SyntaxError{"unknown option " + a};
            }
            if (o.has(name)) throw SyntaxError{"option " + a + " given twice"};
            if (it->second) {
                if (i + 1 >= args.size()) throw SyntaxError{"option " + a + " needs an argument"};
                o.flags[name] = args[++i];
            } else {
                o.flags[name] = std::nullopt;
            }
        } else {
            o.positional.push_back(a);
        }
    }
    return o;
}

RegKeyPath key_arg(const std::string& text) {
    RegKeyPath key;
    std::string why;
    if (!parse_key_path(text, key, why)) throw ToolError{"Invalid key name: " + why + "."};
    return key;
}

std::u16string value_arg(const Options& o) {
    return o.has("v") ? to_utf16(o.arg("v")) : std::u16string();
}

std::string type_name(DWORD type) {
    switch (type) {
        case REG_NONE: return "REG_NONE";
        case REG_SZ: return "REG_SZ";
        case REG_EXPAND_SZ: return "REG_EXPAND_SZ";
        case REG_BINARY: return "REG_BINARY";
        case REG_DWORD: return "REG_DWORD";
        case REG_DWORD_BIG_ENDIAN: return "REG_DWORD_BIG_ENDIAN";
        case REG_LINK: return "REG_LINK";
        case REG_MULTI_SZ: return "REG_MULTI_SZ";
        case REG_QWORD: return "REG_QWORD";
    }
    char buf[32];
    std::snprintf(buf, sizeof buf, "REG_UNKNOWN(0x%x)", static_cast<unsigned>(type));
    return buf;
}

void store_failure(RegistryStore& store, RegStatus st) {
    if (st == RegStatus::NotFound) throw ToolError{kNotFound};
    std::string message = describe(st);
    message[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(message[0])));
    const std::string detail = store.last_error();
    if (!detail.empty() && (st == RegStatus::Busy || st == RegStatus::IoError || st == RegStatus::Corrupt))
        message += " (" + detail + ")";
    throw ToolError{message + "."};
}

}  // namespace reg

namespace {

using namespace reg;

constexpr const char* kKeyHelp =
    "  KEY    HKCU\\Path, HKLM\\Path, HKEY_CURRENT_USER\\Path or HKEY_LOCAL_MACHINE\\Path\n";

// One operation of the tool and its usage: the syntax line and the options it takes.
struct Operation {
    const char* name;
    int (*run)(RegistryStore&, const std::vector<std::string>&, std::ostream&, std::ostream&);
    const char* syntax;
    const char* options;
};

const Operation kOperations[] = {
    {"query", query, "query  KEY [/v NAME | /ve] [/s]",
     "  /v     the value NAME; /ve the default (unnamed) value\n"
     "  /s     the key's whole subtree; with /v or /ve, that value in each of its keys\n"},
    {"add", add, "add    KEY [/v NAME | /ve] [/t TYPE] [/s SEP] [/d DATA] [/f]",
     "  /v     the value NAME; /ve the default (unnamed) value, as /t or /d without /v;\n"
     "         KEY alone creates the key, with an empty default value\n"
     "  /t     REG_SZ (default), REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD, REG_QWORD, REG_BINARY,\n"
     "         REG_NONE, REG_DWORD_LITTLE_ENDIAN (REG_DWORD), REG_DWORD_BIG_ENDIAN\n"
     "  /s     the REG_MULTI_SZ separator, one character (default \\0)\n"
     "  /d     the data: text for the string types and REG_NONE; a number, decimal or 0x hex,\n"
     "         for the dword types and REG_QWORD (a negative REG_QWORD counts down from 2^64);\n"
     "         hex digits (\"0102ff\") for REG_BINARY\n"
     "  /f     overwrite without asking (this tool cannot ask, so it is required)\n"},
    {"delete", remove, "delete KEY [/v NAME | /ve | /va] [/f]",
     "  /v     the value NAME; /ve the default (unnamed) value; /va every value of the key;\n"
     "         none of them: the key with its whole subtree\n"
     "  /f     delete without asking (this tool cannot ask, so it is required)\n"},
    {"export", export_key, "export KEY FILE [/y]",
     "  FILE   the .reg file to write, as the platform's registry editor writes it\n"
     "  /y     overwrite an existing FILE (given after FILE)\n"},
    {"import", import_file, "import FILE",
     "  FILE   a .reg file; a line it cannot read is skipped with a warning, and the rest\n"
     "         is imported in one transaction\n"},
};

// "/?", "/h", "-?" or "-h", in any case.
bool is_help(const std::string& arg) {
    const std::string a = ascii_lower(arg);
    return a == "/?" || a == "-?" || a == "/h" || a == "-h";
}

void print_usage(std::ostream& out, const Operation& op) {
    const bool takes_key = std::string_view(op.syntax).find("KEY") != std::string_view::npos;
    out << "Usage:\n  quillon reg " << op.syntax << "\n\n" << (takes_key ? kKeyHelp : "") << op.options;
}

void print_usage(std::ostream& out) {
    out << "Usage:\n";
    for (const Operation& op : kOperations) out << "  quillon reg " << op.syntax << "\n";
    out << "\n" << kKeyHelp << "\nType \"quillon reg OPERATION /?\" for the options of each operation.\n";
}

}  // namespace

bool reg_help_requested(const std::vector<std::string>& args) {
    if (args.empty()) return false;
    const std::string op = ascii_lower(args[0]);
    return is_help(op) || op == "--help" || op == "help" || std::any_of(args.begin() + 1, args.end(), is_help);
}

int run_reg_tool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const std::string op = args.empty() ? std::string() : ascii_lower(args[0]);
    if (is_help(op) || op == "--help" || op == "help") {
        print_usage(out);
        return 0;
    }
    try {
        const Operation* it = std::find_if(std::begin(kOperations), std::end(kOperations),
                                           [&](const Operation& o) { return op == o.name; });
        if (it == std::end(kOperations))
            throw SyntaxError{op.empty() ? "no operation given" : "unknown operation \"" + args[0] + "\""};
        if (std::any_of(args.begin() + 1, args.end(), is_help)) {
            print_usage(out, *it);
            return 0;
        }
        const auto store = current_registry();
        if (!store) throw ToolError{"No registry is open."};
        return it->run(*store, args, out, err);
    } catch (const SyntaxError& e) {
        err << "ERROR: Invalid syntax: " << e.detail << ".\nType \"quillon reg /?\" for usage.\n";
    } catch (const ToolError& e) {
        err << "ERROR: " << e.message << "\n";
    }
    return 1;
}

}  // namespace cli
