// Names and values of the registry as people write them: key paths such as
// "HKCU\System\State\Phone", values in the handset command form "dword:5", and the
// case folding that makes names compare case-insensitively.
//
// The reg tool, the .reg files, the handset's script commands and the event log all
// speak through these, so a value printed by one can be typed back into another.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/wintypes.h"

namespace handset {

using Bytes = std::vector<std::uint8_t>;

// The roots this handset keeps. Their numbers are stored in the registry file.
enum class RegRoot : int { CurrentUser = 1, LocalMachine = 2 };

// A key below a root. `path` has its components joined by single backslashes, with
// no backslash in front or behind; empty means the root itself.
struct RegKeyPath {
    RegRoot root = RegRoot::CurrentUser;
    std::u16string path;
};

// "HKCU" / "HKLM".
const char* root_short_name(RegRoot root);
// "HKEY_CURRENT_USER" / "HKEY_LOCAL_MACHINE".
const char* root_long_name(RegRoot root);
// The root constant of the platform API for `root`.
HKEY root_handle(RegRoot root);
// The root behind a platform root constant; false for roots this handset lacks.
bool root_of_handle(HKEY key, RegRoot& root);

// Parses "HKCU\A\B", "HKLM\...", "HKEY_CURRENT_USER\..." or "HKEY_LOCAL_MACHINE\..."
// (root names in any case, "/" not accepted as a separator). A trailing backslash is
// dropped; empty components are refused. On failure `error` says why.
bool parse_key_path(std::string_view text, RegKeyPath& out, std::string& error);
// "HKCU\System\State" (short) or "HKEY_CURRENT_USER\System\State" (long), UTF-8.
std::string format_key_path(const RegKeyPath& key, bool long_root = false);

// Checks a relative key path of the platform API ("A\B", one trailing backslash
// allowed) and returns it without the trailing backslash. False when a component is
// empty or longer than kMaxKeyNameLength.
bool normalise_sub_key(std::u16string_view sub_key, std::u16string& out);
// The same check, leaving the path in place: `sub_key` loses its trailing backslash.
bool check_sub_key(std::u16string_view& sub_key);
// The same for a terminated argument, measured in the same pass: `out` views it.
bool check_sub_key(const char16_t* sub_key, std::u16string_view& out);
// `parent` and `child` joined by a backslash; either may be empty.
std::u16string join_key_path(std::u16string_view parent, std::u16string_view child);

constexpr std::size_t kMaxKeyNameLength = 255;     // one component of a key path
constexpr std::size_t kMaxValueNameLength = 16383;  // characters

// Simple lower-case mapping of one UTF-16 code unit (BMP only, locale-independent).
char16_t fold_case(char16_t c);
// `name` with every code unit folded: the form under which names are compared.
std::u16string fold_name(std::u16string_view name);

// Parses the handset command form of a value:
//   dword:5  dword:0x10      REG_DWORD, decimal or 0x hex, at most 0xffffffff
//   qword:N                  REG_QWORD, likewise up to 64 bits
//   sz:TEXT                  REG_SZ, UTF-8 text stored as UTF-16LE with its terminator
//   hex:01,02,ff             REG_BINARY, comma-separated bytes (may be empty)
//   hex(N):01,02             any type N (hexadecimal, as in .reg files) with raw bytes
bool parse_typed_value(std::string_view text, DWORD& type, Bytes& data, std::string& error);
// The form parse_typed_value takes back, giving the same type and bytes: REG_DWORD of
// 4 bytes as "dword:N" (decimal), REG_QWORD of 8 bytes as "qword:N", a REG_SZ holding
// exactly one terminated UTF-16 text as "sz:TEXT", REG_BINARY as "hex:..", anything
// else as "hex(N):..".
std::string format_typed_value(DWORD type, std::span<const std::uint8_t> data);
// The part of format_typed_value before the colon: "dword", "qword", "sz", "hex" or
// "hex(N)".
std::string typed_value_kind(DWORD type, std::span<const std::uint8_t> data);
// Comma-separated lower-case hex bytes, "01,02,ff".
std::string hex_bytes(std::span<const std::uint8_t> data);

// REG_SZ data: `text` as UTF-16LE followed by a terminator.
Bytes sz_bytes(std::u16string_view text);
// The text of REG_SZ data when it holds exactly one terminated, well-formed UTF-16
// text (no inner terminator, even length); false otherwise.
bool sz_text(std::span<const std::uint8_t> data, std::u16string& text);
// DWORD data, 4 bytes little-endian.
Bytes dword_bytes(DWORD value);

}  // namespace handset
