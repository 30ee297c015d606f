// `reg query`: a value, a key or a subtree, as the platform's tool prints them.
#include "platform/cli/reg/reg_operations.h"

#include <cstdio>

#include "platform/handset/core/utf.h"

using namespace handset;

namespace cli::reg {
namespace {

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

}  // namespace

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

}  // namespace cli::reg
