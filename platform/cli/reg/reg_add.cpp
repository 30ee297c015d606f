// `reg add`: a key, or a value typed from /t and /d.
#include "platform/cli/reg/reg_operations.h"

#include <charconv>
#include <cstdint>

#include "platform/handset/core/utf.h"

using namespace handset;

namespace cli::reg {
namespace {

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
                throw ToolError{"Invalid " + type_name(type) + " data \"" + data +
                                "\": a decimal or 0x hex number up to " + (q ? "64" : "32") + " bits."};
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

}  // namespace

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

}  // namespace cli::reg
