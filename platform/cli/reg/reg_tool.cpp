// `quillon reg` (see reg_tool.h).
#include "platform/cli/reg/reg_tool.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>

#include "platform/handset/core/utf.h"
#include "platform/handset/registry/regfile.h"
#include "platform/handset/registry/store.h"

namespace handset {
namespace {

constexpr const char* kNotFound = "The system was unable to find the specified registry key or value.";
constexpr const char* kDone = "The operation completed successfully.";

const char* const kKeyHelp =
    "  KEY    HKCU\\Path, HKLM\\Path, HKEY_CURRENT_USER\\Path or HKEY_LOCAL_MACHINE\\Path\n";

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

// Splits arguments into positionals and the options `allowed` (name -> takes an
// argument).
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

// The UTF-16LE code units of `data`, an odd last byte dropped.
std::u16string units(const Bytes& data) {
    std::u16string out;
    for (std::size_t i = 0; i + 1 < data.size(); i += 2)
        out += static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    return out;
}

std::uint64_t little_endian(const Bytes& data) {
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < data.size(); ++i) v |= static_cast<std::uint64_t>(data[i]) << (8 * i);
    return v;
}

std::string shown_data(const RegValue& v) {
    char buf[32];
    // The platform's tool writes and reads REG_DWORD_BIG_ENDIAN in little-endian order.
    if ((v.type == REG_DWORD || v.type == REG_DWORD_BIG_ENDIAN) && v.data.size() == 4) {
        std::snprintf(buf, sizeof buf, "0x%x", static_cast<unsigned>(little_endian(v.data)));
        return buf;
    }
    if (v.type == REG_QWORD && v.data.size() == 8) {
        std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(little_endian(v.data)));
        return buf;
    }
    if (v.type == REG_SZ || v.type == REG_EXPAND_SZ) {
        std::u16string text = units(v.data);
        text = text.substr(0, text.find(u'\0'));
        return to_utf8(text);
    }
    if (v.type == REG_MULTI_SZ) {
        std::u16string text = units(v.data);
        while (!text.empty() && text.back() == u'\0') text.pop_back();
        std::string out;
        std::size_t pos = 0;
        while (true) {
            const std::size_t nul = text.find(u'\0', pos);
            out += to_utf8(std::u16string_view(text).substr(pos, nul == text.npos ? text.npos : nul - pos));
            if (nul == text.npos) break;
            out += "\\0";
            pos = nul + 1;
        }
        return out;
    }
    std::string out;
    for (auto b : v.data) {
        std::snprintf(buf, sizeof buf, "%02X", b);
        out += buf;
    }
    return out;
}

// A value's line; `name` as the user typed it, which the platform's tool shows in place
// of the stored name when it looked the value up by name.
void print_value(std::ostream& out, const RegValue& v, std::u16string_view name) {
    out << "    " << (name.empty() ? std::string("(Default)") : to_utf8(name)) << "    " << type_name(v.type) << "    "
        << shown_data(v) << "\n";
}

// The path of a key of the subtree under `typed`, as the platform's tool shows it: the
// part the user typed as typed, the subkeys below it as stored.
std::string shown_path(const RegKeyPath& typed, const std::u16string& stored) {
    const std::size_t n = typed.path.size();
    const bool below = stored.size() == n || (stored.size() > n && stored[n] == u'\\');
    return format_key_path({typed.root, below ? typed.path + stored.substr(n) : stored}, true);
}

// A key with its values, and its subkeys (their names, or with `recurse` each in full).
// The key named prints no section of its own when it has no values, as on the
// platform; a subkey reached by `recurse` always does.
void print_tree(std::ostream& out, const RegKeyPath& typed, const RegTree& tree, bool recurse, bool below = false) {
    if (below || !tree.values.empty()) {
        out << shown_path(typed, tree.path) << "\n";
        for (const auto& v : tree.values) print_value(out, v, v.name);
        out << "\n";
    }
    if (recurse) {
        for (const auto& sub : tree.subkeys) print_tree(out, typed, sub, true, true);
    } else {
        for (const auto& sub : tree.subkeys) out << shown_path(typed, sub.path) << "\n";
    }
}

// A store failure as the tool reports it.
[[noreturn]] void store_failure(RegistryStore& store, RegStatus st) {
    if (st == RegStatus::NotFound) throw ToolError{kNotFound};
    std::string message = describe(st);
    message[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(message[0])));
    const std::string detail = store.last_error();
    if (!detail.empty() && (st == RegStatus::Busy || st == RegStatus::IoError || st == RegStatus::Corrupt))
        message += " (" + detail + ")";
    throw ToolError{message + "."};
}

std::u16string value_arg(const Options& o) {
    return o.has("v") ? to_utf16(o.arg("v")) : std::u16string();
}

// Prints the value `name` of each key of `tree` that has one; returns how many did.
std::size_t print_matches(std::ostream& out, const RegKeyPath& typed, const RegTree& tree, std::u16string_view name) {
    std::size_t found = 0;
    for (const auto& v : tree.values) {
        if (fold_name(v.name) != fold_name(name)) continue;
        out << shown_path(typed, tree.path) << "\n";
        print_value(out, v, name);
        out << "\n";
        ++found;
        break;
    }
    for (const auto& sub : tree.subkeys) found += print_matches(out, typed, sub, name);
    return found;
}

int query(RegistryStore& store, const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const Options o = parse_options(args, 1, {{"v", true}, {"ve", false}, {"s", false}});
    if (o.positional.size() != 1) throw SyntaxError{"query takes one KEY"};
    if (o.has("v") && o.has("ve")) throw SyntaxError{"/v and /ve exclude each other"};
    const RegKeyPath key = key_arg(o.positional[0]);
    const bool one_value = o.has("v") || o.has("ve");
    if (one_value && !o.has("s")) {
        KeyId id = 0;
        RegValue v;
        RegStatus st = store.find_key(key, id);
        if (st != RegStatus::Ok) store_failure(store, st);
        st = store.get_value(id, value_arg(o), v);
        out << "\n";
        // The platform's tool shows a missing default value as not set rather than failing.
        const bool unset = st == RegStatus::NotFound && o.has("ve");
        if (st != RegStatus::Ok && !unset) store_failure(store, st);
        out << format_key_path(key, true) << "\n";
        if (unset) {
            out << "    (Default)    REG_SZ    (value not set)\n";
        } else {
            print_value(out, v, value_arg(o));
            out << "\n";
        }
        return 0;
    }
    RegTree tree;
    const RegStatus st = store.read_tree(key, tree);
    if (st != RegStatus::Ok) store_failure(store, st);
    out << "\n";
    if (!one_value) {
        print_tree(out, key, tree, o.has("s"));
        return 0;
    }
    const std::size_t found = print_matches(out, key, tree, value_arg(o));
    out << "Search complete. Number of matches found: " << found << "\n";
    return 0;
}

// A decimal or 0x hex number up to `max`. With `negative`, decimal "-N" too, counted down
// from 2^64 as the platform's tool takes it for REG_QWORD ("-1" is all ones).
bool parse_number(const std::string& text, std::uint64_t max, bool negative, std::uint64_t& out) {
    std::string_view s = text;
    const bool minus = negative && s.starts_with('-');
    if (minus) s.remove_prefix(1);
    int base = 10;
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        if (minus) return false;  // the platform's tool counts down in decimal only
        base = 16;
        s.remove_prefix(2);
    }
    if (s.empty()) return false;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out, base);
    if (ec != std::errc() || end != s.data() + s.size() || out > max) return false;
    if (minus) out = 0 - out;
    return true;
}

// The bytes `/t type /d data` stand for.
Bytes typed_data(DWORD type, const Options& o) {
    const std::string data = o.arg("d");
    switch (type) {
        case REG_SZ:
        case REG_EXPAND_SZ:
        case REG_NONE:
            return sz_bytes(to_utf16(data));
        case REG_DWORD:
        case REG_DWORD_BIG_ENDIAN:
        case REG_QWORD: {
            std::uint64_t v = 0;
            const bool q = type == REG_QWORD;
            // A REG_QWORD without /d is 0 on the platform; the dword types need a number.
            if (data.empty() && !q) throw ToolError{type_name(type) + " needs its number in /d."};
            if (!data.empty() && !parse_number(data, q ? UINT64_MAX : 0xFFFFFFFFu, q, v))
                throw ToolError{"Invalid " + type_name(type) + " data \"" + data + "\": a decimal or 0x hex number up to " +
                                (q ? "64" : "32") + " bits."};
            // REG_DWORD_BIG_ENDIAN too: the platform's tool stores it as an ordinary DWORD.
            Bytes out(q ? 8 : 4);
            for (std::size_t i = 0; i < out.size(); ++i) out[i] = static_cast<std::uint8_t>(v >> (8 * i));
            return out;
        }
        case REG_MULTI_SZ: {
            const std::u16string sep = o.has("s") ? to_utf16(o.arg("s")) : std::u16string(u"\\0");
            if (o.has("s") && sep.size() != 1) throw ToolError{"The /s separator must be one character."};
            std::u16string text = to_utf16(data);
            // A lone separator is one empty string, kept with the list's own terminator.
            if (text == sep) return Bytes(4, 0);
            // A trailing separator ends the last string.
            if (text.ends_with(sep)) text.resize(text.size() - sep.size());
            std::u16string strings;
            for (std::size_t pos = 0; !text.empty();) {
                const std::size_t at = text.find(sep, pos);
                const std::u16string_view item = std::u16string_view(text).substr(pos, at - pos);
                if (item.empty()) throw ToolError{"Invalid REG_MULTI_SZ data: an empty string between separators."};
                strings += item;
                strings += u'\0';
                if (at == std::u16string::npos) break;
                pos = at + sep.size();
            }
            return sz_bytes(strings);
        }
        default: {
            // An odd count of digits reads as if a 0 led them: "123" is 01 23.
            const std::string digits = (data.size() % 2 ? "0" : "") + data;
            Bytes out;
            for (std::size_t i = 0; i < digits.size(); i += 2) {
                unsigned byte = 0;
                auto [end, ec] = std::from_chars(digits.data() + i, digits.data() + i + 2, byte, 16);
                if (ec != std::errc() || end != digits.data() + i + 2)
                    throw ToolError{"Invalid " + type_name(type) + " data: hex digits, like 0102ff."};
                out.push_back(static_cast<std::uint8_t>(byte));
            }
            return out;
        }
    }
}

// `reg add KEY`: the key, with an empty default value as the platform's tool gives it.
// A default value the key already has is kept: the platform's tool would replace it.
void add_key(RegistryStore& store, const RegKeyPath& key) {
    RegValue existing;
    RegStatus st = store.get_value(key, u"", existing);
    if (st == RegStatus::NotFound) st = store.set_value(key, u"", REG_SZ, sz_bytes(u""));
    if (st != RegStatus::Ok) store_failure(store, st);
}

int add(RegistryStore& store, const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const Options o =
        parse_options(args, 1, {{"v", true}, {"ve", false}, {"t", true}, {"s", true}, {"d", true}, {"f", false}});
    if (o.positional.size() != 1) throw SyntaxError{"add takes one KEY"};
    if (o.has("v") && o.has("ve")) throw SyntaxError{"/v and /ve exclude each other"};
    const RegKeyPath key = key_arg(o.positional[0]);
    if (key.path.empty()) throw ToolError{"Invalid key name: a root key holds no values; name a key below it."};
    if (!o.has("v") && !o.has("ve") && !o.has("t") && !o.has("d") && !o.has("s")) {
        add_key(store, key);
        out << kDone << "\n";
        return 0;
    }
    // The key comes first, as the platform's tool makes it: a type or data refused
    // below still leaves the key in place.
    {
        KeyId id = 0;
        bool created = false;
        const RegStatus st = store.create_key(key, id, created);
        if (st != RegStatus::Ok) store_failure(store, st);
    }
    static const std::map<std::string, DWORD> kTypes = {
        {"reg_sz", REG_SZ},
        {"reg_expand_sz", REG_EXPAND_SZ},
        {"reg_multi_sz", REG_MULTI_SZ},
        {"reg_dword", REG_DWORD},
        {"reg_dword_little_endian", REG_DWORD},
        {"reg_dword_big_endian", REG_DWORD_BIG_ENDIAN},
        {"reg_qword", REG_QWORD},
        {"reg_binary", REG_BINARY},
        {"reg_none", REG_NONE}};
    DWORD type = REG_SZ;
    if (o.has("t")) {
        auto it = kTypes.find(ascii_lower(o.arg("t")));
        if (it == kTypes.end())
            throw ToolError{"Invalid type \"" + o.arg("t") +
                            "\": REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD, REG_DWORD_LITTLE_ENDIAN, "
                            "REG_DWORD_BIG_ENDIAN, REG_QWORD, REG_BINARY or REG_NONE."};
        type = it->second;
    }
    if (o.has("s") && type != REG_MULTI_SZ) throw SyntaxError{"/s is a separator for REG_MULTI_SZ only"};
    const Bytes data = typed_data(type, o);
    const std::u16string name = value_arg(o);
    if (!o.has("f")) {
        RegValue existing;
        const RegStatus st = store.get_value(key, name, existing);
        if (st == RegStatus::Ok)
            throw ToolError{"The value " + (name.empty() ? std::string("(Default)") : "\"" + to_utf8(name) + "\"") +
                            " already exists; add /f to overwrite it."};
        if (st != RegStatus::NotFound) store_failure(store, st);
    }
    const RegStatus st = store.set_value(key, name, type, data);
    if (st != RegStatus::Ok) store_failure(store, st);
    out << kDone << "\n";
    return 0;
}

int remove(RegistryStore& store, const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const Options o = parse_options(args, 1, {{"v", true}, {"ve", false}, {"va", false}, {"f", false}});
    if (o.positional.size() != 1) throw SyntaxError{"delete takes one KEY"};
    if (o.has("v") + o.has("ve") + o.has("va") > 1) throw SyntaxError{"/v, /ve and /va exclude each other"};
    const RegKeyPath key = key_arg(o.positional[0]);
    std::vector<RegOp> ops;
    std::string what;
    if (o.has("v") || o.has("ve")) {
        ops.push_back(RegOp::delete_value(key, value_arg(o), true));
        what = "the value " + (o.has("ve") ? std::string("(Default)") : "\"" + o.arg("v") + "\"") + " of " +
               format_key_path(key, true);
    } else if (o.has("va")) {
        RegTree tree;
        const RegStatus st = store.read_tree(key, tree);
        if (st != RegStatus::Ok) store_failure(store, st);
        for (const auto& v : tree.values) ops.push_back(RegOp::delete_value(key, v.name));
        what = "every value of " + format_key_path(key, true);
    } else {
        if (key.path.empty()) throw ToolError{"A root key cannot be deleted."};
        ops.push_back(RegOp::delete_key(key, true));
        what = "the registry key " + format_key_path(key, true) + " and all its subkeys";
    }
    if (!o.has("f")) throw ToolError{"Deleting " + what + " needs /f (this tool does not ask for confirmation)."};
    const RegStatus st = store.apply(ops);
    if (st != RegStatus::Ok) store_failure(store, st);
    out << kDone << "\n";
    return 0;
}

int export_key(RegistryStore& store, const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const Options o = parse_options(args, 1, {{"y", false}});
    if (o.positional.size() != 2) throw SyntaxError{"export takes KEY and FILE"};
    if (o.has("y") && (args[1] != o.positional[0] || args[2] != o.positional[1]))
        throw SyntaxError{"/y goes after KEY and FILE"};
    const RegKeyPath key = key_arg(o.positional[0]);
    const std::string& file = o.positional[1];
    std::error_code ec;
    if (!o.has("y") && std::filesystem::exists(file, ec))
        throw ToolError{"The file " + file + " already exists; add /y to overwrite it."};
    std::string bytes;
    const RegStatus st = export_reg_file(store, key, bytes);
    if (st != RegStatus::Ok) store_failure(store, st);
    std::ofstream f(file, std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    f.close();
    if (!f) throw ToolError{"Cannot write " + file + "."};
    out << kDone << "\n";
    return 0;
}

int import_file(RegistryStore& store, const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const Options o = parse_options(args, 1, {});
    if (o.positional.size() != 1) throw SyntaxError{"import takes one FILE"};
    const std::string& file = o.positional[0];
    std::ifstream f(file, std::ios::binary);
    if (!f) throw ToolError{"Cannot open " + file + "."};
    const std::string bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    if (f.bad()) throw ToolError{"Cannot read " + file + "."};
    RegFileError error;
    std::vector<RegFileError> skipped;
    if (!import_reg_file(store, bytes, error, Notify::Events, &skipped))
        throw ToolError{file + ": " + error.describe() + "; nothing was imported."};
    // The platform's tool skips such lines silently; a user should know which did not import.
    for (const RegFileError& s : skipped)
        err << "WARNING: " << file << ": line " << s.line << " skipped: " << s.message << "\n";
    out << kDone << "\n";
    return 0;
}

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

}  // namespace handset
