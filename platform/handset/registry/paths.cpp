// Key paths and typed values in their written forms (see paths.h).
#include "platform/handset/registry/paths.h"

#include <charconv>
#include <cstdio>

#include "platform/handset/core/utf.h"

namespace handset {
namespace {

bool starts_with_ascii_nocase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && ascii_iequals(text.substr(0, prefix.size()), prefix);
}

// Unsigned number, decimal or with a 0x prefix; false on anything else or overflow.
bool parse_unsigned(std::string_view text, std::uint64_t max, std::uint64_t& out) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty()) return false;
    std::uint64_t v = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v, base);
    if (ec != std::errc() || end != text.data() + text.size() || v > max) return false;
    out = v;
    return true;
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// "01,02,ff": one or two hex digits per byte.
bool parse_hex_list(std::string_view text, Bytes& out, std::string& error) {
    out.clear();
    if (text.empty()) return true;
    std::size_t pos = 0;
    while (true) {
        const std::size_t comma = text.find(',', pos);
        const std::string_view item = text.substr(pos, comma == std::string_view::npos ? text.npos : comma - pos);
        if (item.empty() || item.size() > 2 || hex_digit(item[0]) < 0 || (item.size() == 2 && hex_digit(item[1]) < 0)) {
            error = "bad hex byte \"" + std::string(item) + "\" (expected bytes like 01,02,ff)";
            return false;
        }
        out.push_back(static_cast<std::uint8_t>(item.size() == 1 ? hex_digit(item[0])
                                                                 : hex_digit(item[0]) * 16 + hex_digit(item[1])));
        if (comma == std::string_view::npos) return true;
        pos = comma + 1;
    }
}

}  // namespace

const char* root_short_name(RegRoot root) { return root == RegRoot::CurrentUser ? "HKCU" : "HKLM"; }

const char* root_long_name(RegRoot root) {
    return root == RegRoot::CurrentUser ? "HKEY_CURRENT_USER" : "HKEY_LOCAL_MACHINE";
}

HKEY root_handle(RegRoot root) { return root == RegRoot::CurrentUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE; }

bool root_of_handle(HKEY key, RegRoot& root) {
    if (key == HKEY_CURRENT_USER) {
        root = RegRoot::CurrentUser;
        return true;
    }
    if (key == HKEY_LOCAL_MACHINE) {
        root = RegRoot::LocalMachine;
        return true;
    }
    return false;
}

bool parse_key_path(std::string_view text, RegKeyPath& out, std::string& error) {
    const std::size_t slash = text.find('\\');
    const std::string_view root = text.substr(0, slash);
    if (ascii_iequals(root, "HKCU") || ascii_iequals(root, "HKEY_CURRENT_USER")) {
        out.root = RegRoot::CurrentUser;
    } else if (ascii_iequals(root, "HKLM") || ascii_iequals(root, "HKEY_LOCAL_MACHINE")) {
        out.root = RegRoot::LocalMachine;
    } else if (ascii_iequals(root, "HKCR") || ascii_iequals(root, "HKU") || ascii_iequals(root, "HKCC") ||
               ascii_iequals(root, "HKEY_CLASSES_ROOT") || ascii_iequals(root, "HKEY_USERS") ||
               ascii_iequals(root, "HKEY_CURRENT_CONFIG")) {
        error = "the handset keeps no root " + std::string(root) + " (only HKCU and HKLM)";
        return false;
    } else {
        error = "\"" + std::string(text) + "\" does not start with HKCU\\, HKLM\\, HKEY_CURRENT_USER\\ or HKEY_LOCAL_MACHINE\\";
        return false;
    }
    const std::u16string rest = slash == std::string_view::npos ? std::u16string() : to_utf16(text.substr(slash + 1));
    if (!normalise_sub_key(rest, out.path)) {
        error = "bad key path \"" + std::string(text) + "\" (empty or over-long component)";
        return false;
    }
    return true;
}

std::string format_key_path(const RegKeyPath& key, bool long_root) {
    std::string out = long_root ? root_long_name(key.root) : root_short_name(key.root);
    if (!key.path.empty()) out += "\\" + to_utf8(key.path);
    return out;
}

bool check_sub_key(std::u16string_view& sub_key) {
    if (!sub_key.empty() && sub_key.back() == u'\\') sub_key.remove_suffix(1);
    if (sub_key.empty()) return true;
    std::size_t len = 0;
    for (const char16_t c : sub_key) {
        if (c != u'\\') {
            ++len;
            continue;
        }
        if (len == 0 || len > kMaxKeyNameLength) return false;
        len = 0;
    }
    return len != 0 && len <= kMaxKeyNameLength;
}

bool check_sub_key(const char16_t* sub_key, std::u16string_view& out) {
    const char16_t* p = sub_key;
    std::size_t len = 0;  // of the name being read
    bool ok = true;
    for (; *p; ++p) {
        if (*p != u'\\') {
            ++len;
            continue;
        }
        // A backslash ends a name; only the last character may be one with no name after.
        ok = ok && len != 0 && len <= kMaxKeyNameLength;
        len = 0;
    }
    out = std::u16string_view(sub_key, static_cast<std::size_t>(p - sub_key));
    if (!out.empty() && out.back() == u'\\') {
        out.remove_suffix(1);
        return ok || out.empty();  // its last name was checked at the backslash
    }
    return ok && (out.empty() || (len != 0 && len <= kMaxKeyNameLength));
}

bool normalise_sub_key(std::u16string_view sub_key, std::u16string& out) {
    if (!check_sub_key(sub_key)) return false;
    out.assign(sub_key);
    return true;
}

std::u16string join_key_path(std::u16string_view parent, std::u16string_view child) {
    if (parent.empty()) return std::u16string(child);
    if (child.empty()) return std::u16string(parent);
    std::u16string out;
    out.reserve(parent.size() + 1 + child.size());
    out.append(parent).append(1, u'\\').append(child);
    return out;
}

bool parse_typed_value(std::string_view text, DWORD& type, Bytes& data, std::string& error) {
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos) {
        error = "\"" + std::string(text) + "\" is not TYPE:DATA (dword:5, sz:Text, hex:01,02)";
        return false;
    }
    const std::string_view kind = text.substr(0, colon);
    const std::string_view body = text.substr(colon + 1);
    if (ascii_iequals(kind, "dword") || ascii_iequals(kind, "qword")) {
        const bool q = kind.size() == 5 && (kind[0] == 'q' || kind[0] == 'Q');
        std::uint64_t v = 0;
        if (!parse_unsigned(body, q ? UINT64_MAX : 0xFFFFFFFFu, v)) {
            error = "bad " + std::string(q ? "qword" : "dword") + " \"" + std::string(body) +
                    "\" (a decimal or 0x hex number up to " + (q ? "64" : "32") + " bits)";
            return false;
        }
        type = q ? REG_QWORD : REG_DWORD;
        data.assign(q ? 8 : 4, 0);
        for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(v >> (8 * i));
        return true;
    }
    if (ascii_iequals(kind, "sz")) {
        type = REG_SZ;
        data = sz_bytes(to_utf16(body));
        return true;
    }
    if (ascii_iequals(kind, "hex")) {
        type = REG_BINARY;
        return parse_hex_list(body, data, error);
    }
    if (starts_with_ascii_nocase(kind, "hex(") && kind.size() > 5 && kind.back() == ')') {
        std::uint64_t t = 0;
        const std::string_view num = kind.substr(4, kind.size() - 5);
        if (num.size() > 8 || !parse_unsigned(std::string("0x") + std::string(num), 0xFFFFFFFFu, t)) {
            error = "bad type number in \"" + std::string(kind) + "\" (hexadecimal, as in hex(7))";
            return false;
        }
        type = static_cast<DWORD>(t);
        return parse_hex_list(body, data, error);
    }
    error = "unknown value type \"" + std::string(kind) + "\" (dword, qword, sz, hex or hex(N))";
    return false;
}

std::string typed_value_kind(DWORD type, std::span<const std::uint8_t> data) {
    std::u16string text;
    if (type == REG_DWORD && data.size() == 4) return "dword";
    if (type == REG_QWORD && data.size() == 8) return "qword";
    if (type == REG_SZ && sz_text(data, text)) return "sz";
    if (type == REG_BINARY) return "hex";
    char buf[24];
    std::snprintf(buf, sizeof buf, "hex(%x)", static_cast<unsigned>(type));
    return buf;
}

std::string format_typed_value(DWORD type, std::span<const std::uint8_t> data) {
    const std::string kind = typed_value_kind(type, data);
    if (kind == "dword" || kind == "qword") {
        std::uint64_t v = 0;
        for (std::size_t i = 0; i < data.size(); ++i) v |= static_cast<std::uint64_t>(data[i]) << (8 * i);
        return kind + ":" + std::to_string(v);
    }
    if (kind == "sz") {
        std::u16string text;
        sz_text(data, text);
        return "sz:" + to_utf8(text);
    }
    return kind + ":" + hex_bytes(data);
}

std::string hex_bytes(std::span<const std::uint8_t> data) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(data.size() * 3);
    for (std::size_t i = 0; i < data.size(); ++i) {
        if (i) out += ',';
        out += digits[data[i] >> 4];
        out += digits[data[i] & 15];
    }
    return out;
}

Bytes sz_bytes(std::u16string_view text) {
    Bytes out;
    out.reserve((text.size() + 1) * 2);
    for (char16_t c : text) {
        out.push_back(static_cast<std::uint8_t>(c & 0xFF));
        out.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    out.push_back(0);
    out.push_back(0);
    return out;
}

bool sz_text(std::span<const std::uint8_t> data, std::u16string& text) {
    if (data.size() < 2 || data.size() % 2 != 0) return false;
    const std::size_t n = data.size() / 2 - 1;
    if (data[2 * n] != 0 || data[2 * n + 1] != 0) return false;
    std::u16string out(n, u'\0');
    for (std::size_t i = 0; i < n; ++i) {
        const char16_t c = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
        if (c == 0) return false;
        out[i] = c;
    }
    // Lone surrogates would not survive the trip through UTF-8.
    if (!well_formed_utf16(out)) return false;
    text = std::move(out);
    return true;
}

Bytes dword_bytes(DWORD value) {
    return {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
            static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
}

}  // namespace handset
