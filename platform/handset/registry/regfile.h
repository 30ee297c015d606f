// The .reg text format of the platform's registry editor: export of a key's subtree
// and import of a whole file.
//
// Export writes what the editor writes: "Windows Registry Editor Version 5.00",
// UTF-16LE with a byte-order mark, CRLF line ends, one [HKEY_...] section per key,
// `"Name"="text"`, `"Name"=dword:0000000a`, `@=` for the default value, and
// `hex:`/`hex(N):` bytes wrapped with backslash continuations before column 80.
// Import takes that, and 8-bit files ("REGEDIT4", and 5.00 ones) in the handset's ANSI
// code page (949) or, for a 5.00 file, UTF-8, with `"Name"=-` deleting a value and
// `[-KEY]` deleting a key. It reads a file line by
// line as the platform's reg tool does: an entry it cannot read is skipped and the rest
// imports. What it could read is applied in one transaction, so a crash or a refused
// write leaves all of it or none of it.
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

// A problem at one line of a file: why the file was refused, or why a line was skipped.
struct RegFileError {
    std::size_t line = 0;  // 1-based; 0 when the problem is not on one line
    std::string message;
    // "line 12: missing closing quote" (or just the message for line 0).
    std::string describe() const;
};

// Parses a whole file into the steps it asks for; the entries it cannot read are left
// out and listed in `skipped` (when given). False, with `error` naming the problem and
// `ops` empty, only when the file is not registry text at all.
bool parse_reg_file(std::string_view bytes, std::vector<RegOp>& ops, RegFileError& error,
                    std::vector<RegFileError>* skipped = nullptr);
// Parses a file and applies what it could read in one transaction; false with `error`
// set when the file is not registry text or the registry refused the write (then
// nothing was written).
bool import_reg_file(RegistryStore& store, std::string_view bytes, RegFileError& error,
                     Notify notify = Notify::Events, std::vector<RegFileError>* skipped = nullptr);

}  // namespace handset
