// The .reg text format of the platform's registry editor: export of a key's subtree
// and import of a whole file.
//
// Export writes what the editor writes: "Windows Registry Editor Version 5.00",
// UTF-16LE with a byte-order mark, CRLF line ends, one [HKEY_...] section per key,
// `"Name"="text"`, `"Name"=dword:0000000a`, `@=` for the default value, and
// `hex:`/`hex(N):` bytes wrapped with backslash continuations before column 80.
// Import takes that, UTF-8 with or without a byte-order mark, and "REGEDIT4" files,
// with `"Name"=-` deleting a value and `[-KEY]` deleting a key. A file is parsed
// whole before anything is written and then applied in one transaction, so a
// malformed file changes nothing.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/handset/registry/store.h"

namespace handset {

// The first line of a file: the editor's current form, and the older 8-bit form.
inline constexpr std::u16string_view kRegFileHeader = u"Windows Registry Editor Version 5.00";
inline constexpr std::u16string_view kRegFileHeader4 = u"REGEDIT4";

// The text of a subtree in .reg form (without a byte-order mark), CRLF line ends.
std::u16string format_reg_text(RegRoot root, const RegTree& tree);
// UTF-16LE bytes with a byte-order mark, as the editor saves its files.
std::string encode_utf16le_file(std::u16string_view text);
// Reads `key`'s subtree and returns the file's bytes in `out`.
RegStatus export_reg_file(RegistryStore& store, const RegKeyPath& key, std::string& out);

struct RegFileError {
    std::size_t line = 0;  // 1-based; 0 when the problem is not on one line
    std::string message;
    // "line 12: missing closing quote" (or just the message for line 0).
    std::string describe() const;
};

// Parses a whole file into the steps it asks for. On failure `error` names the first
// problem and `ops` is left empty.
bool parse_reg_file(std::string_view bytes, std::vector<RegOp>& ops, RegFileError& error);
// Parses and applies a file in one transaction; false with `error` set when the file
// is malformed or the registry refused the write (then nothing was written).
bool import_reg_file(RegistryStore& store, std::string_view bytes, RegFileError& error,
                     Notify notify = Notify::Events);

}  // namespace handset
