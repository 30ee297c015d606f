// .reg files, import: the file's bytes decoded to text and parsed into registry
// steps, applied in one transaction (see regfile.h).
//
// A file is read line by line, as the platform's reg tool reads it: a line that cannot
// be read is left out, with a warning naming it, and the rest of the file still
// imports, so that one stray line does not cost the user every other value of the
// file. Only a file that is not registry text at all is refused whole.
#include "platform/handset/registry/regfile.h"

#include <iconv.h>

#include <cerrno>
#include <cstring>
#include <optional>

#include "platform/handset/core/utf.h"

namespace handset {
namespace {

// The file as a whole is not registry text: nothing of it is imported.
struct FileFault {
    std::size_t line;
    std::string message;
};

[[noreturn]] void fail(std::size_t line, std::string message) { throw FileFault{line, std::move(message)}; }

// One entry of the file (a line, or a value with its continuation lines) cannot be
// read: it is skipped.
struct LineFault {
    std::string message;
};

[[noreturn]] void skip(std::string message) { throw LineFault{std::move(message)}; }

// The 1-based line of `bytes` that holds the byte at `offset`, lines ending as
// split_lines() ends them (CRLF, LF or a lone CR).
std::size_t line_at(std::string_view bytes, std::size_t offset) {
    std::size_t line = 1;
    for (std::size_t i = 0; i < offset; ++i)
        if (bytes[i] == '\n' || (bytes[i] == '\r' && (i + 1 == bytes.size() || bytes[i + 1] != '\n'))) ++line;
    return line;
}

// 8-bit text in the encoding `from` ("UTF-8", "CP949") as UTF-16, through the C
// library's iconv. False with `bad` at the offset of the first byte that is not text
// in that encoding.
bool decode_8bit(const char* from, std::string_view bytes, std::u16string& out, std::size_t& bad) {
    const iconv_t cd = iconv_open("UTF-16LE", from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        fail(0, std::string("the C library cannot convert from ") + from + ": " + std::strerror(errno));
    // A byte gives at most one UTF-16 unit, and four bytes at most two.
    std::string wide(bytes.size() * 2, '\0');
    char* in = const_cast<char*>(bytes.data());
    std::size_t in_left = bytes.size();
    char* put = wide.data();
    std::size_t out_left = wide.size();
    const bool ok = iconv(cd, &in, &in_left, &put, &out_left) != static_cast<std::size_t>(-1);
    iconv_close(cd);
    if (!ok) {
        bad = static_cast<std::size_t>(in - bytes.data());
        return false;
    }
    out.clear();
    auto byte = [&](std::size_t i) { return static_cast<unsigned char>(wide[i]); };
    for (std::size_t i = 0; i + 1 < wide.size() - out_left; i += 2)
        out += static_cast<char16_t>(byte(i) | (byte(i + 1) << 8));
    return true;
}

// The file's text as UTF-16, and the 8-bit encoding it came in (null for UTF-16). The
// editor writes UTF-16LE with a byte-order mark; the platform's tool reads any other
// file in its ANSI code page: on a Korean handset and the PC it syncs with, code page
// 949. A 5.00 file whose bytes are all valid UTF-8, which the editor never writes, is
// read as UTF-8 instead: that is how such files are written by hand on this host, and
// read as code page 949 their Korean text would be stored as other characters.
std::u16string decode(std::string_view bytes, const char*& encoding) {
    auto b = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    encoding = nullptr;
    if (bytes.size() >= 2 && b(0) == 0xFF && b(1) == 0xFE) {
        if (bytes.size() % 2 != 0) fail(0, "the UTF-16 file ends in the middle of a character");
        std::u16string out;
        out.reserve(bytes.size() / 2);
        for (std::size_t i = 2; i < bytes.size(); i += 2) out += static_cast<char16_t>(b(i) | (b(i + 1) << 8));
        return out;
    }
    const std::size_t nul = bytes.find('\0');
    if (nul != std::string_view::npos)
        fail(line_at(bytes, nul), "the file holds NUL bytes: UTF-16 text needs its byte-order mark (FF FE)");
    std::u16string out;
    std::size_t bad = 0;
    const std::size_t first = bytes.find_first_not_of(" \t");
    if (first != std::string_view::npos && bytes.substr(first).starts_with("Windows Registry Editor") &&
        decode_8bit("UTF-8", bytes, out, bad)) {
        encoding = "UTF-8";
        return out;
    }
    encoding = "CP949";
    if (!decode_8bit(encoding, bytes, out, bad))
        fail(line_at(bytes, bad), "the text is not valid in code page 949, the handset's ANSI code page "
                                  "(save the file as UTF-16 with a byte-order mark)");
    return out;
}

std::vector<std::u16string_view> split_lines(std::u16string_view text) {
    std::vector<std::u16string_view> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u'\r' || text[i] == u'\n') {
            lines.push_back(text.substr(start, i - start));
            if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ++i;
            start = i + 1;
        }
    }
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}

bool is_space(char16_t c) { return c == u' ' || c == u'\t'; }

std::u16string_view trim_left(std::u16string_view s) {
    while (!s.empty() && is_space(s.front())) s.remove_prefix(1);
    return s;
}

std::u16string_view trim_right(std::u16string_view s) {
    while (!s.empty() && is_space(s.back())) s.remove_suffix(1);
    return s;
}

// A line whose first character after blanks is one of these is a comment. After data
// only ';' starts one: the platform's tool refuses "dword:1 # one".
bool is_comment(std::u16string_view line) { return !line.empty() && (line[0] == u';' || line[0] == u'#'); }

// True when nothing but blanks and perhaps a comment follows.
bool ends_here(std::u16string_view rest) {
    rest = trim_left(rest);
    return rest.empty() || rest[0] == u';';
}

// The text before a comment, trailing blanks dropped (for data that holds no quotes,
// where ';' cannot be data).
std::u16string_view before_comment(std::u16string_view s) { return trim_right(s.substr(0, s.find(u';'))); }

bool starts_with_nocase(std::u16string_view s, std::u16string_view prefix) {
    if (s.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (fold_case(s[i]) != fold_case(prefix[i])) return false;
    return true;
}

int hex_digit(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
}

std::string shown(std::u16string_view s) {
    constexpr std::size_t kMax = 40;
    return to_utf8(s.substr(0, kMax)) + (s.size() > kMax ? "..." : "");
}

// What a file asks for: the steps in file order with the line of each, and the
// entries that were skipped.
struct Parsed {
    std::vector<RegOp> ops;
    std::vector<std::size_t> op_lines;
    std::vector<RegFileError> skipped;
};

class Parser {
public:
    // `encoding`: the 8-bit encoding the text was read from, or null for UTF-16.
    Parser(std::u16string_view text, const char* encoding, Parsed& out)
        : lines_(split_lines(text)), encoding_(encoding), out_(out) {}

    void run() {
        if (lines_.empty()) fail(1, "the file is empty");
        if (!header()) return;
        for (next_ = 1; next_ < lines_.size();) {
            const std::size_t number = next_ + 1;
            const std::u16string_view line = trim_left(lines_[next_++]);
            if (line.empty() || is_comment(line)) continue;
            fault_line_ = number;
            try {
                if (line[0] == u'[') {
                    section(line, number);
                } else if (line[0] == u'"' || line[0] == u'@') {
                    value(line);
                } else {
                    skip("unexpected text \"" + shown(line) +
                         "\": expected [KEY], [-KEY], \"Name\"=..., @=... or a comment");
                }
            } catch (const LineFault& f) {
                out_.skipped.push_back({fault_line_, f.message});
            }
            out_.op_lines.resize(out_.ops.size(), number);
        }
    }

private:
    // Skipped: the key line could not be read, and the values under it go with it.
    enum class Section { None, Key, Deleted, Skipped };

    // Reads the first line, which must be a header exactly (blanks may lead it). False
    // when it names the editor in a form whose files this tool does not read ("REGEDIT5",
    // "REGEDIT4 FOO", "REGEDIT4" with trailing blanks): such a file imports nothing, as
    // on the platform, but it is not an error.
    bool header() {
        const std::u16string_view first = trim_left(lines_[0]);
        if (first == kRegFileHeader || first == kRegFileHeader4) return true;
        if (!first.starts_with(u"REGEDIT"))
            fail(1, "not a registry file: the first line must be \"Windows Registry Editor Version 5.00\" or "
                    "\"REGEDIT4\"");
        out_.skipped.push_back({1, "\"" + shown(first) +
                                       "\" is not a header this tool reads (\"Windows Registry Editor Version 5.00\" "
                                       "or \"REGEDIT4\"), so nothing is imported"});
        return false;
    }

    void section(std::u16string_view line, std::size_t number) {
        section_ = Section::Skipped;
        section_line_ = number;
        // The name ends at the last ']': what follows it, such as a comment, is left
        // unread, as the platform's tool leaves it.
        const std::size_t close = line.rfind(u']');
        if (close == std::u16string_view::npos) skip("missing ']' at the end of the key name");
        std::u16string_view name = line.substr(1, close - 1);
        const bool deleting = !name.empty() && name[0] == u'-';
        if (deleting) name.remove_prefix(1);
        if (!name.empty() && is_space(name[0])) skip("blanks before the key name: neither a key nor a deletion");
        // The platform's registry reads "A\\\\B" as "A\\B", and "A\\" as "A".
        std::u16string path;
        for (char16_t c : name)
            if (c != u'\\' || (!path.empty() && path.back() != u'\\')) path += c;
        if (!path.empty() && path.back() == u'\\') path.pop_back();
        RegKeyPath key;
        std::string why;
        if (!parse_key_path(to_utf8(path), key, why)) skip(why);
        if (deleting) {
            if (key.path.empty()) skip("a root key cannot be deleted");
            out_.ops.push_back(RegOp::delete_key(key));
            section_ = Section::Deleted;
        } else {
            out_.ops.push_back(RegOp::create_key(key));
            section_ = Section::Key;
        }
        key_ = std::move(key);
    }

    // A quoted string starting at s[0] == '"'; `pos` ends past the closing quote. The
    // escapes are \\, \", \n and \r; \0 is refused, and any other backslash stands
    // for the character after it, as the platform's tool reads them.
    std::u16string quoted_text(std::u16string_view s, std::size_t& pos, const char* what) {
        std::u16string out;
        for (pos = 1; pos < s.size(); ++pos) {
            const char16_t c = s[pos];
            if (c == u'"') {
                ++pos;
                return out;
            }
            if (c == u'\\') {
                if (pos + 1 >= s.size()) break;
                const char16_t e = s[++pos];
                if (e == u'0') skip(std::string("\\0 (a NUL) in ") + what + ": write such data as hex(1):");
                out += e == u'n' ? u'\n' : e == u'r' ? u'\r' : e;
            } else {
                out += c;
            }
        }
        skip(std::string("missing closing quote in ") + what);
    }

    // A value line (with its continuation lines, which are read even when the value
    // is then skipped, so that they are not taken for entries of their own).
    void value(std::u16string_view line) {
        std::u16string name;
        std::size_t pos = 1;
        if (line[0] == u'"') name = quoted_text(line, pos, "the value name");
        if (name.size() > kMaxValueNameLength) skip("the value name is too long");
        std::u16string_view rest = trim_left(line.substr(pos));
        if (rest.empty() || rest[0] != u'=') skip("expected '=' after the value name");
        rest = trim_left(rest.substr(1));

        RegOp op;
        if (!rest.empty() && rest[0] == u'-' && ends_here(rest.substr(1))) {
            op = RegOp::delete_value(key_, std::move(name));
        } else if (!rest.empty() && rest[0] == u'"') {
            std::u16string text = quoted_text(rest, pos, "the string");
            if (!ends_here(rest.substr(pos))) skip("text after the closing quote of the string");
            op = RegOp::set_value(key_, std::move(name), REG_SZ, sz_bytes(text));
        } else if (starts_with_nocase(rest, u"dword:")) {
            // Blanks may follow the colon: "dword: 1" and "dword:<tab>1" are read.
            const std::u16string_view digits = before_comment(trim_left(rest.substr(6)));
            if (digits.empty() || digits.size() > 8) skip("dword: needs 1 to 8 hex digits");
            DWORD v = 0;
            for (char16_t c : digits) {
                if (hex_digit(c) < 0) skip("dword: needs 1 to 8 hex digits, found \"" + shown(digits) + "\"");
                v = v * 16 + static_cast<DWORD>(hex_digit(c));
            }
            op = RegOp::set_value(key_, std::move(name), REG_DWORD, dword_bytes(v));
        } else if (starts_with_nocase(rest, u"hex:") || starts_with_nocase(rest, u"hex(")) {
            DWORD type = REG_BINARY;
            std::size_t colon = 3;
            if (rest[3] == u'(') {
                const std::size_t close = rest.find(u')');
                const std::u16string_view num = rest.substr(4, close == rest.npos ? 0 : close - 4);
                if (close == rest.npos || close + 1 >= rest.size() || rest[close + 1] != u':' || num.empty() ||
                    num.size() > 8)
                    skip("bad value type: expected hex(N): with N in hexadecimal");
                type = 0;
                for (char16_t c : num) {
                    if (hex_digit(c) < 0) skip("bad value type: expected hex(N): with N in hexadecimal");
                    type = type * 16 + static_cast<DWORD>(hex_digit(c));
                }
                colon = close + 1;
            }
            Bytes data = hex_data(rest.substr(colon + 1));
            // Text of the three kinds: an 8-bit file holds it as 8-bit text in its own
            // encoding, a UTF-16 file as UTF-16, whatever its header says. Either is kept
            // as written, with or without a terminator, so that an export imports back
            // to the same bytes (the platform's tool adds a terminator where none ends it).
            if (encoding_ && (type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ)) {
                std::u16string wide;
                std::size_t bad = 0;
                if (!decode_8bit(encoding_, std::string_view(reinterpret_cast<const char*>(data.data()), data.size()),
                                 wide, bad))
                    skip(std::string("the text of the hex data is not valid in ") + encoding_ + " (at byte " +
                         std::to_string(bad + 1) + ")");
                data.clear();
                for (char16_t c : wide) {
                    data.push_back(static_cast<std::uint8_t>(c & 0xFF));
                    data.push_back(static_cast<std::uint8_t>(c >> 8));
                }
            }
            op = RegOp::set_value(key_, std::move(name), type, std::move(data));
        } else {
            skip("unknown data \"" + shown(rest) + "\": expected \"text\", dword:, hex:, hex(N): or - (delete)");
        }
        if (section_ == Section::None) skip("a value before any [KEY] line");
        if (section_ == Section::Deleted) skip("a value under a [-KEY] deletion");
        if (section_ == Section::Skipped) skip("its key on line " + std::to_string(section_line_) + " was skipped");
        out_.ops.push_back(std::move(op));
    }

    // Comma-separated bytes, continued onto following lines by a backslash where a
    // byte could start: after a comma, or in place of the first byte.
    Bytes hex_data(std::u16string_view text) {
        Bytes out;
        while (true) {
            text = before_comment(text);
            const bool more = !text.empty() && text.back() == u'\\';
            if (more) {
                text = trim_right(text.substr(0, text.size() - 1));
                if (!text.empty() && text.back() != u',') skip("a '\\' continues hex data only after a comma");
            }
            std::size_t pos = 0;
            while (pos < text.size()) {
                std::size_t comma = text.find(u',', pos);
                if (comma == text.npos) comma = text.size();
                const std::u16string_view item = trim_left(text.substr(pos, comma - pos));
                // Only the end of a line may be empty: "01,02," before a continuation.
                if (item.empty() && comma != text.size()) skip("an empty byte between commas in hex data");
                // A blank may come before a byte, or end the line, but not stand before a comma.
                if (comma != text.size() && trim_right(item).size() != item.size())
                    skip("a blank before a comma in hex data");
                if (!item.empty()) out.push_back(hex_byte(trim_right(item)));
                pos = comma + 1;
            }
            if (!more) return out;
            const std::optional<std::u16string_view> next = continuation();
            if (!next) return out;
            text = *next;
        }
    }

    // One byte of hex data: hex digits worth at most ff ("7", "0a", "0ff").
    std::uint8_t hex_byte(std::u16string_view item) {
        unsigned v = 0;
        for (char16_t c : item) {
            if (hex_digit(c) < 0) skip("bad byte \"" + shown(item) + "\" in hex data");
            v = v * 16 + static_cast<unsigned>(hex_digit(c));
            if (v > 0xFF) skip("the byte \"" + shown(item) + "\" in hex data is above ff");
        }
        return static_cast<std::uint8_t>(v);
    }

    // The next line of hex data after a trailing backslash, or none at the end of the
    // file, which ends the value. Blank lines and ';' comments in between do not end the
    // value; a line that starts a new entry does, and the value is then skipped while
    // that line is read as its own (the platform's tool would drop that line too).
    std::optional<std::u16string_view> continuation() {
        for (; next_ < lines_.size(); ++next_) {
            const std::u16string_view line = trim_left(lines_[next_]);
            if (line.empty() || line[0] == u';') continue;
            if (line[0] == u'[' || line[0] == u'"' || line[0] == u'@') break;
            fault_line_ = ++next_;
            if (trim_right(line) == u"\\") skip("a continuation line holds nothing but '\\'");
            return line;
        }
        if (next_ == lines_.size()) return std::nullopt;
        skip("the hex data ends in '\\' but the next entry follows");
    }

    std::vector<std::u16string_view> lines_;
    const char* encoding_;
    Parsed& out_;
    std::size_t next_ = 0;
    std::size_t fault_line_ = 0;  // the line being read, named by a warning
    Section section_ = Section::None;
    std::size_t section_line_ = 0;
    RegKeyPath key_;
};

bool parse(std::string_view bytes, Parsed& out, RegFileError& error) {
    out = Parsed();
    try {
        const char* encoding = nullptr;
        const std::u16string text = decode(bytes, encoding);
        Parser(text, encoding, out).run();
        return true;
    } catch (const FileFault& f) {
        out = Parsed();
        error.line = f.line;
        error.message = f.message;
        return false;
    }
}

}  // namespace

std::string RegFileError::describe() const {
    return line ? "line " + std::to_string(line) + ": " + message : message;
}

bool parse_reg_file(std::string_view bytes, std::vector<RegOp>& ops, RegFileError& error,
                    std::vector<RegFileError>* skipped) {
    Parsed parsed;
    const bool ok = parse(bytes, parsed, error);
    ops = std::move(parsed.ops);
    if (skipped) *skipped = std::move(parsed.skipped);
    return ok;
}

bool import_reg_file(RegistryStore& store, std::string_view bytes, RegFileError& error, Notify notify,
                     std::vector<RegFileError>* skipped) {
    Parsed parsed;
    if (!parse(bytes, parsed, error)) return false;
    if (skipped) *skipped = std::move(parsed.skipped);
    std::size_t failed = 0;
    const RegStatus st = store.apply(parsed.ops, notify, &failed);
    if (st == RegStatus::Ok) return true;
    error.line = failed < parsed.op_lines.size() && st == RegStatus::Invalid ? parsed.op_lines[failed] : 0;
    error.message = std::string("nothing imported: ") + describe(st);
    if (st == RegStatus::Busy || st == RegStatus::IoError || st == RegStatus::Corrupt) {
        const std::string detail = store.last_error();
        if (!detail.empty()) error.message += " (" + detail + ")";
    }
    return false;
}

}  // namespace handset
