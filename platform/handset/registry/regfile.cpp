// .reg files, export: the text the platform's registry editor writes for a key's
// subtree (see regfile.h; the importer is in regfile_import.cpp).
#include "platform/handset/registry/regfile.h"

#include <cstdio>

#include "platform/handset/core/utf.h"

namespace handset {
namespace {

// The editor breaks a hex line once it reaches this column, leaving room for ",\".
constexpr std::size_t kHexWrapColumn = 77;

// `text` in quotes, with the escapes the platform's tool writes.
std::u16string reg_quoted(std::u16string_view text) {
    std::u16string out = u"\"";
    for (char16_t c : text) {
        if (c == u'\\' || c == u'"' || c == u'\n' || c == u'\r') out += u'\\';
        out += c == u'\n' ? u'n' : c == u'\r' ? u'r' : c;
    }
    out += u'"';
    return out;
}

// A REG_SZ that can be written as a quoted string and read back unchanged: a text
// with one terminator, at its end. The editor writes a REG_SZ of no bytes as "" too,
// which reads back as a lone terminator: the same empty text. A text with more
// terminators inside is written as hex(1): the platform's tool would cut it at the
// first one.
bool quotable(const RegValue& v, std::u16string& text) {
    if (v.type != REG_SZ || v.data.size() % 2 != 0) return false;
    text.clear();
    for (std::size_t i = 0; i < v.data.size(); i += 2) text += static_cast<char16_t>(v.data[i] | (v.data[i + 1] << 8));
    if (!text.empty() && text.back() != u'\0') return false;
    if (!text.empty()) text.pop_back();
    // Unpaired surrogates could not be read back from a line of text.
    return text.find(u'\0') == std::u16string::npos && well_formed_utf16(text);
}

void append_hex(std::u16string& out, std::size_t line_len, DWORD type, const Bytes& data) {
    std::u16string prefix = u"hex:";
    if (type != REG_BINARY) {
        char buf[24];
        std::snprintf(buf, sizeof buf, "hex(%x):", static_cast<unsigned>(type));
        prefix = to_utf16(buf);
    }
    out += prefix;
    line_len += prefix.size();
    static const char16_t digits[] = u"0123456789abcdef";
    for (std::size_t i = 0; i < data.size(); ++i) {
        out += digits[data[i] >> 4];
        out += digits[data[i] & 15];
        if (i + 1 == data.size()) break;
        out += u',';
        line_len += 3;
        if (line_len >= kHexWrapColumn) {
            out += u"\\\r\n  ";
            line_len = 2;
        }
    }
}

void append_value(std::u16string& out, const RegValue& v) {
    const std::u16string name = v.name.empty() ? u"@" : reg_quoted(v.name);
    out += name;
    out += u'=';
    std::u16string text;
    if (v.type == REG_DWORD && v.data.size() == 4) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "dword:%08x",
                      static_cast<unsigned>(v.data[0] | (v.data[1] << 8) | (v.data[2] << 16) |
                                            (static_cast<unsigned>(v.data[3]) << 24)));
        out += to_utf16(buf);
    } else if (quotable(v, text)) {
        out += reg_quoted(text);
    } else {
        append_hex(out, name.size() + 1, v.type, v.data);
    }
    out += u"\r\n";
}

void append_key(std::u16string& out, RegRoot root, const RegTree& tree) {
    out += u'[';
    out += to_utf16(root_long_name(root));
    if (!tree.path.empty()) {
        out += u'\\';
        out += tree.path;
    }
    out += u"]\r\n";
    for (const auto& v : tree.values) append_value(out, v);
    out += u"\r\n";
    for (const auto& sub : tree.subkeys) append_key(out, root, sub);
}

}  // namespace

std::u16string format_reg_text(RegRoot root, const RegTree& tree) {
    std::u16string out(kRegFileHeader);
    out += u"\r\n\r\n";
    append_key(out, root, tree);
    return out;
}

std::string encode_utf16le_file(std::u16string_view text) {
    std::string out;
    out.reserve(2 + text.size() * 2);
    out += '\xFF';
    out += '\xFE';
    for (char16_t c : text) {
        out += static_cast<char>(c & 0xFF);
        out += static_cast<char>(c >> 8);
    }
    return out;
}

RegStatus export_reg_file(RegistryStore& store, const RegKeyPath& key, std::string& out) {
    RegTree tree;
    const RegStatus st = store.read_tree(key, tree);
    if (st == RegStatus::Ok) out = encode_utf16le_file(format_reg_text(key.root, tree));
    return st;
}

}  // namespace handset
