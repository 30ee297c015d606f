// .reg files: what export writes, what import reads (the editor's own files
// included), and malformed files that must change nothing.
#include <gtest/gtest.h>

#include "platform/handset/registry/regfile.h"
#include "registry_fixture.h"

namespace {

using handset::Bytes;
using handset::RegKeyPath;
using handset::RegRoot;
using handset::RegStatus;
using handset::RegTree;
using regtest::RegistryTest;

const RegKeyPath kKey{RegRoot::CurrentUser, u"Software\\Quillon"};

std::u16string utf16_of_file(const std::string& bytes) {
    std::u16string out;
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2)
        out += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) | (static_cast<unsigned char>(bytes[i + 1]) << 8));
    return out;
}

// A file as the editor saves it: UTF-16LE with a byte-order mark and CRLF line ends.
std::string editor_file(const std::string& lines) {
    std::string crlf;
    for (char c : lines) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    return handset::encode_utf16le_file(handset::to_utf16(crlf));
}

void expect_trees_equal(const RegTree& a, const RegTree& b) {
    SCOPED_TRACE(handset::to_utf8(a.path));
    EXPECT_EQ(a.path, b.path);
    ASSERT_EQ(a.values.size(), b.values.size());
    for (std::size_t i = 0; i < a.values.size(); ++i) {
        EXPECT_EQ(a.values[i].name, b.values[i].name);
        EXPECT_EQ(a.values[i].type, b.values[i].type) << handset::to_utf8(a.values[i].name);
        EXPECT_EQ(a.values[i].data, b.values[i].data) << handset::to_utf8(a.values[i].name);
    }
    ASSERT_EQ(a.subkeys.size(), b.subkeys.size());
    for (std::size_t i = 0; i < a.subkeys.size(); ++i) expect_trees_equal(a.subkeys[i], b.subkeys[i]);
}

TEST_F(RegistryTest, ExportWritesTheEditorsFormat) {
    store().set_value(kKey, u"AlertInterval", REG_DWORD, handset::dword_bytes(10));
    store().set_value(kKey, u"", REG_SZ, handset::sz_bytes(u"C:\\경로 \"인용\""));
    store().set_value({RegRoot::CurrentUser, u"Software\\Quillon\\Sub"}, u"Blob", REG_BINARY, Bytes{0x01, 0xab});
    store().set_value({RegRoot::CurrentUser, u"Software\\Quillon\\Sub"}, u"Empty", REG_SZ, Bytes{});
    store().set_value({RegRoot::CurrentUser, u"Software\\Quillon\\Sub"}, u"Nul", REG_SZ, Bytes{'a', 0, 0, 0, 0, 0});
    store().set_value({RegRoot::CurrentUser, u"Software\\Quillon\\Sub"}, u"Lines", REG_SZ, handset::sz_bytes(u"a\r\nb"));

    std::string bytes;
    ASSERT_EQ(handset::export_reg_file(store(), kKey, bytes), RegStatus::Ok);
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE");
    EXPECT_EQ(handset::to_utf8(utf16_of_file(bytes)),
              "Windows Registry Editor Version 5.00\r\n"
              "\r\n"
              "[HKEY_CURRENT_USER\\Software\\Quillon]\r\n"
              "\"AlertInterval\"=dword:0000000a\r\n"
              "@=\"C:\\\\경로 \\\"인용\\\"\"\r\n"
              "\r\n"
              "[HKEY_CURRENT_USER\\Software\\Quillon\\Sub]\r\n"
              "\"Blob\"=hex:01,ab\r\n"
              "\"Empty\"=\"\"\r\n"
              "\"Nul\"=hex(1):61,00,00,00,00,00\r\n"
              "\"Lines\"=\"a\\r\\nb\"\r\n"
              "\r\n");
    EXPECT_EQ(handset::export_reg_file(store(), {RegRoot::CurrentUser, u"Missing"}, bytes), RegStatus::NotFound);
}

TEST_F(RegistryTest, ExportAndImportRoundTripEveryKindOfValue) {
    Bytes long_blob(200);
    for (std::size_t i = 0; i < long_blob.size(); ++i) long_blob[i] = static_cast<std::uint8_t>(i * 7);
    const RegKeyPath korean{RegRoot::CurrentUser, u"Software\\Quillon\\설정 \"따옴\""};
    store().set_value(kKey, u"Flag", REG_DWORD, handset::dword_bytes(0xFFFFFFFF));
    store().set_value(kKey, u"프로필", REG_SZ, handset::sz_bytes(u"무음 \\ \"모드\""));
    store().set_value(kKey, u"Long", REG_BINARY, long_blob);
    store().set_value(kKey, u"Empty", REG_BINARY, Bytes{});
    store().set_value(kKey, u"Multi", REG_MULTI_SZ, Bytes{'a', 0, 0, 0, 'b', 0, 0, 0, 0, 0});
    store().set_value(kKey, u"Quad", REG_QWORD, Bytes{1, 2, 3, 4, 5, 6, 7, 8});
    store().set_value(kKey, u"Short dword", REG_DWORD, Bytes{1, 2});
    store().set_value(kKey, u"Unterminated", REG_SZ, Bytes{'x', 0});
    store().set_value(kKey, u"Two lines", REG_SZ, handset::sz_bytes(u"a\r\nb"));
    store().set_value(kKey, u"Two texts", REG_SZ, handset::sz_bytes(std::u16string_view(u"a\0\\0", 4)));
    store().set_value(korean, u"", REG_EXPAND_SZ, handset::sz_bytes(u"%windir%"));
    store().set_value({RegRoot::CurrentUser, u"Software\\Quillon\\설정 \"따옴\"\\Empty key"}, u"odd", 0x1234, Bytes{9});

    RegTree before;
    ASSERT_EQ(store().read_tree(kKey, before), RegStatus::Ok);
    std::string bytes;
    ASSERT_EQ(handset::export_reg_file(store(), kKey, bytes), RegStatus::Ok);

    // Lines end in CRLF and stay within the editor's 80 columns.
    const std::u16string text = utf16_of_file(bytes);
    std::size_t start = 0, continuations = 0;
    for (std::size_t end; (end = text.find(u"\r\n", start)) != std::u16string::npos; start = end + 2) {
        const std::u16string line = text.substr(start, end - start);
        EXPECT_EQ(line.find_first_of(u"\r\n"), std::u16string::npos);
        EXPECT_LE(line.size(), 80u) << handset::to_utf8(line);
        if (!line.empty() && line.back() == u'\\') ++continuations;
    }
    EXPECT_EQ(start, text.size()) << "text after the last CRLF";
    EXPECT_GE(continuations, 7u);

    ASSERT_EQ(store().delete_key(kKey), RegStatus::Ok);
    handset::RegFileError error;
    ASSERT_TRUE(handset::import_reg_file(store(), bytes, error)) << error.describe();
    RegTree after;
    ASSERT_EQ(store().read_tree(kKey, after), RegStatus::Ok);
    expect_trees_equal(before, after);
}

TEST_F(RegistryTest, ImportReadsAFileAsTheEditorWritesIt) {
    store().set_value(kKey, u"Gone", REG_DWORD, handset::dword_bytes(1));
    store().set_value({RegRoot::CurrentUser, u"Software\\Old\\Deep"}, u"x", REG_DWORD, handset::dword_bytes(1));
    const std::string file = editor_file(
        "Windows Registry Editor Version 5.00\n"
        "\n"
        "; written by hand\n"
        "[HKEY_CURRENT_USER\\Software\\Quillon]\n"
        "\"KeylockTimeout\"=dword:00000003\n"
        "\"Gone\"=-\n"
        "\"Name\"=\"전화 \\\"1\\\"\"\n"
        "\"DevCfg\"=hex:10,00,00,00,05,00,00,00,01,00,00,00,00,00,00,00,00,00,00,00,00,\\\n"
        "  00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,\\\n"
        "  ff\n"
        "\"Path\"=hex(2):25,00,41,00,25,00,00,00\n"
        "@=\"default\"\n"
        "\n"
        "[-HKEY_CURRENT_USER\\Software\\Old]\n"
        "\n"
        "[HKEY_LOCAL_MACHINE\\System\\State]\n"
        "\"Lock\"=dword:2\n"
        "\n");
    handset::RegFileError error;
    ASSERT_TRUE(handset::import_reg_file(store(), file, error)) << error.describe();

    handset::RegValue v;
    ASSERT_EQ(store().get_value(kKey, u"KeylockTimeout", v), RegStatus::Ok);
    EXPECT_EQ(v.data, handset::dword_bytes(3));
    EXPECT_EQ(store().get_value(kKey, u"Gone", v), RegStatus::NotFound);
    ASSERT_EQ(store().get_value(kKey, u"Name", v), RegStatus::Ok);
    EXPECT_EQ(v.data, handset::sz_bytes(u"전화 \"1\""));
    ASSERT_EQ(store().get_value(kKey, u"DevCfg", v), RegStatus::Ok);
    EXPECT_EQ(v.type, REG_BINARY);
    ASSERT_EQ(v.data.size(), 47u);
    EXPECT_EQ(v.data[4], 5);
    EXPECT_EQ(v.data[46], 0xff);
    ASSERT_EQ(store().get_value(kKey, u"Path", v), RegStatus::Ok);
    EXPECT_EQ(v.type, REG_EXPAND_SZ);
    EXPECT_EQ(v.data, handset::sz_bytes(u"%A%"));
    ASSERT_EQ(store().get_value(kKey, u"", v), RegStatus::Ok);
    EXPECT_EQ(v.data, handset::sz_bytes(u"default"));
    handset::KeyId id;
    EXPECT_EQ(store().find_key({RegRoot::CurrentUser, u"Software\\Old\\Deep"}, id), RegStatus::NotFound);
    ASSERT_EQ(store().get_value({RegRoot::LocalMachine, u"System\\State"}, u"Lock", v), RegStatus::Ok);
    EXPECT_EQ(v.data, handset::dword_bytes(2));

    const auto events = recorder.take();
    EXPECT_FALSE(events.empty()) << "an import is a registry write like any other";
}

TEST_F(RegistryTest, ImportTakesUtf8AndRegedit4InCodePage949) {
    handset::RegFileError error;
    ASSERT_TRUE(handset::import_reg_file(store(),
                                         "Windows Registry Editor Version 5.00\n\n"
                                         "[HKEY_CURRENT_USER\\Software\\Quillon]\n\"A\"=\"가\"\n",
                                         error))
        << error.describe();
    // A UTF-8 byte-order mark is no header: the platform's tool refuses such a file.
    EXPECT_FALSE(handset::import_reg_file(store(),
                                          "\xEF\xBB\xBFWindows Registry Editor Version 5.00\n\n"
                                          "[HKEY_CURRENT_USER\\Software\\Quillon]\n\"B\"=\"가\"\n",
                                          error));
    // "프로필"="무음" and "%이%" as a Korean PC's editor saves them.
    ASSERT_TRUE(handset::import_reg_file(store(),
                                         "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Quillon]\r\n"
                                         "\"\xC7\xC1\xB7\xCE\xC7\xCA\"=\"\xB9\xAB\xC0\xBD\"\r\n"
                                         "\"E\"=hex(2):25,c0,cc,25,00\r\n\"M\"=hex(7):61,00,62,00,00\r\n"
                                         "\"S\"=hex(1):b9,ab,00,c0,bd\r\n",
                                         error))
        << error.describe();
    handset::RegValue v;
    ASSERT_EQ(store().get_value(kKey, u"A", v), RegStatus::Ok);
    EXPECT_EQ(v.data, handset::sz_bytes(u"가"));
    ASSERT_EQ(store().get_value(kKey, u"프로필", v), RegStatus::Ok);
    EXPECT_EQ(v.data, handset::sz_bytes(u"무음"));
    // REGEDIT4 keeps text of every kind as 8-bit text; the registry holds UTF-16. Text
    // without a terminator stays so.
    ASSERT_EQ(store().get_value(kKey, u"E", v), RegStatus::Ok);
    EXPECT_EQ(v.data, handset::sz_bytes(u"%이%"));
    ASSERT_EQ(store().get_value(kKey, u"M", v), RegStatus::Ok);
    EXPECT_EQ(v.data, (Bytes{'a', 0, 0, 0, 'b', 0, 0, 0, 0, 0}));
    ASSERT_EQ(store().get_value(kKey, u"S", v), RegStatus::Ok);
    EXPECT_EQ(v.type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(v.data, (Bytes{0x34, 0xBB, 0, 0, 0x4C, 0xC7}));  // 무, a NUL, 음
}

// A file to import over HKCU\Software\Quillon holding "Keep"=dword:1, the values it
// leaves there, and the lines it skips with a warning.
struct ImportCase {
    std::string file;  // saved as the editor saves it when it has the 5.00 header, else as these bytes
    const char* state;
    std::vector<std::size_t> skipped;
    const char* problem = "";  // in the first warning
};

void PrintTo(const ImportCase& c, std::ostream* os) { *os << c.file; }

// The header, the key, and a value that must import whatever follows: the body starts at line 5.
const std::string kHead =
    "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Quillon]\n\"Keep\"=dword:00000002\n";

class ImportFile : public RegistryTest, public ::testing::WithParamInterface<ImportCase> {};

TEST_P(ImportFile, ImportsWhatItCanReadAndNamesEachSkippedLine) {
    const ImportCase& c = GetParam();
    SCOPED_TRACE(c.file);
    store().set_value(kKey, u"Keep", REG_DWORD, handset::dword_bytes(1));
    const bool editor = c.file.find("Windows Registry Editor Version 5.00") != std::string::npos;
    handset::RegFileError error{99, "poison"};
    std::vector<handset::RegFileError> skipped{{77, "poison"}};
    ASSERT_TRUE(handset::import_reg_file(store(), editor ? editor_file(c.file) : c.file, error,
                                         handset::Notify::Events, &skipped))
        << error.describe();
    std::vector<std::size_t> lines;
    for (const auto& s : skipped) lines.push_back(s.line);
    EXPECT_EQ(lines, c.skipped);
    if (!skipped.empty()) {
        EXPECT_NE(skipped[0].message.find(c.problem), std::string::npos) << skipped[0].message;
    }
    EXPECT_EQ(regtest::state_of(store(), kKey), c.state);
}

INSTANTIATE_TEST_SUITE_P(
    RegFile, ImportFile,
    ::testing::Values(
        // Lines it cannot read are skipped; the rest imports.
        ImportCase{kHead + "[HKEY_CURRENT_USER\\Software\n", "Keep=dword:2", {5}, "missing ']'"},
        ImportCase{kHead + "[HKEY_CLASSES_ROOT\\x]\n\"v\"=dword:1\n[HKEY_CURENT_USER\\x]\n"
                               "[HKEY_CURRENT_USER\\Software\\Quillon]\n\"w\"=dword:2\n",
                   "Keep=dword:2 w=dword:2", {5, 6, 7}, "no root HKEY_CLASSES_ROOT"},
        ImportCase{kHead + "\"D\"=dword:123456789\n", "Keep=dword:2", {5}, "1 to 8 hex digits"},
        ImportCase{kHead + "\"D\"=dword:xyz\n", "Keep=dword:2", {5}, "1 to 8 hex digits"},
        ImportCase{kHead + "\"S\"=\"open\n\"T\"=\"t\"\n", "Keep=dword:2 T=sz:t", {5}, "missing closing quote"},
        // Escapes: \n and \r; any other backslash stands for the character after it; \0 is refused.
        ImportCase{kHead + "\"S\"=\"C:\\path\"\n\"L\"=\"a\\nb\\r\"\n\"N\"=\"a\\0\"\n", "Keep=dword:2 S=sz:C:path L=sz:a\nb\r",
                   {7}, "\\0"},
        ImportCase{kHead + "\"S\" \"x\"\n", "Keep=dword:2", {5}, "expected '='"},
        ImportCase{kHead + "\"H\"=hex:01,02,\\\n  03,4g5\n\"I\"=hex:01\n", "Keep=dword:2 I=hex:01", {6}, "bad byte"},
        ImportCase{kHead + "\"H\"=hex:01,,02\n", "Keep=dword:2", {5}, "empty byte"},
        // The end of the file ends a continued value; a backslash continues only after a comma.
        ImportCase{kHead + "\"G\"=hex:01\\\n  02\n\"H\"=hex:01,\\\n", "Keep=dword:2 H=hex:01", {5, 6}, "after a comma"},
        ImportCase{kHead + "\"X\"=word:1\n", "Keep=dword:2", {5}, "unknown data"},
        ImportCase{kHead + "[-HKEY_CURRENT_USER\\A]\n\"v\"=dword:1\n\"w\"=-\n"
                               "[HKEY_CURRENT_USER\\Software\\Quillon]\n\"w\"=dword:3\n",
                   "Keep=dword:2 w=dword:3", {6, 7}, "under a [-KEY]"},
        ImportCase{kHead + "garbage\n\"G\"=dword:1\n", "Keep=dword:2 G=dword:1", {5}, "unexpected text"},
        ImportCase{kHead + "[-HKEY_LOCAL_MACHINE]\n", "Keep=dword:2", {5}, "root key cannot be deleted"},
        ImportCase{"REGEDIT4\n\"v\"=dword:1\n[HKEY_CURRENT_USER\\Software\\Quillon]\n\"w\"=dword:2\n",
                   "Keep=dword:1 w=dword:2", {2}, "before any [KEY]"},
        // The header may be indented; the editor's other forms import nothing.
        ImportCase{" \tWindows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\Software\\Quillon]\n\"A\"=dword:1\n",
                   "Keep=dword:1 A=dword:1", {}},
        ImportCase{"REGEDIT5\n[HKEY_CURRENT_USER\\Software\\Quillon]\n\"A\"=dword:1\n", "Keep=dword:1", {1},
                   "nothing is imported"},
        ImportCase{"REGEDIT 4\n[HKEY_CURRENT_USER\\Software\\Quillon]\n\"A\"=dword:1\n", "Keep=dword:1", {1}},
        ImportCase{"REGEDIT4 FOO\n[HKEY_CURRENT_USER\\Software\\Quillon]\n\"A\"=dword:1\n", "Keep=dword:1", {1}},
        ImportCase{"REGEDIT4 \n[HKEY_CURRENT_USER\\Software\\Quillon]\n\"A\"=dword:1\n", "Keep=dword:1", {1}},
        // Comments: whole lines after blanks; after a value and inside hex continuations
        // only ';' starts one; in quotes they are data.
        ImportCase{kHead + "  # a comment\n\"A;#\"=\"x;y#z\" ; after a string\n\"B\"=dword:0000000a # after a dword\n"
                           "\"C\"=hex:01,02,\\ ; after the backslash\n\n; between\n  03 ; after the bytes\n"
                           "\"Keep\"=- ; gone\n",
                   "A;#=sz:x;y#z C=hex:01,02,03", {7}},
        // Key lines: trailing and repeated backslashes go, and so does text after the last
        // ']'; blanks around the '-' make a line that is neither a key nor a deletion.
        ImportCase{kHead + "[HKEY_CURRENT_USER\\Software\\\\Quillon\\Two] ; two\n\"t\"=dword:2\n",
                   "Keep=dword:2 [Two] t=dword:2", {}},
        ImportCase{kHead + "[HKEY_CURRENT_USER\\Software\\Quillon\\Sub\\\\]\n\"v\"=dword:1\n"
                           "[ -HKEY_CURRENT_USER\\Software\\Quillon]\n\"w\"=dword:1\n"
                           "[- HKEY_CURRENT_USER\\Software\\Quillon]\n",
                   "Keep=dword:2 [Sub] v=dword:1", {7, 8, 9}, "neither a key nor a deletion"},
        // Values: a dword is 1 to 8 hex digits and nothing more, blanks after the colon aside.
        ImportCase{kHead + "\"a\"=dword:0x10\n\"b\"=dword:10 x\n\"c\"=dword:1;c\n\"d\"=dword:\n\"e\"=dword: 1\n",
                   "Keep=dword:2 c=dword:1 e=dword:1", {5, 6, 8}},
        // Hex data: no blank before a comma, and no continuation line of a lone backslash.
        ImportCase{kHead + "\"a\"=hex:01 ,02\n\"b\"=hex:01,\\\n\\\n03\n\"c\"=hex:\t01,\t02 \n",
                   "Keep=dword:2 c=hex:01,02", {5, 7, 8}},
        // Stray quotes, dash forms other than "=-", values that try to continue onto the next line.
        ImportCase{kHead + "\"a\"=\"x\"y\"\n\"b\"=\"x\"\"\n\"Keep\"=-1\n\"Keep\"=--\n\"c\"=dword:1\\\n\"d\"=\"x\"\\\n",
                   "Keep=dword:2", {5, 6, 7, 8, 9, 10}},
        // A name split over lines; bytes up to ff; hex(N) takes 1 to 8 hex digits.
        ImportCase{kHead + "\"Na\nme\"=\"x\"\n\"a\"=hex:100\n\"b\"=hex:1,0f,FF\n\"c\"=hex(100000000):01\n"
                           "\"d\"=hex(x):01\n\"e\"=hex(7fffffff):01\n",
                   "Keep=dword:2 b=hex:01,0f,ff e=hex(7fffffff):01", {5, 6, 7, 9, 10}},
        // A continuation that runs into the next entry skips its value, not the entry.
        ImportCase{kHead + "\"h\"=hex:01,\\\n\n\"n\"=dword:1\n", "Keep=dword:2 n=dword:1", {5},
                   "the next entry follows"}));

TEST_F(RegistryTest, FilesThatAreNotRegistryTextAreRefused) {
    handset::RegFileError error;
    std::vector<handset::RegOp> ops;
    EXPECT_FALSE(handset::parse_reg_file("", ops, error));
    EXPECT_EQ(error.line, 1u);
    EXPECT_FALSE(handset::parse_reg_file("[HKEY_CURRENT_USER\\A]\r\n", ops, error));
    EXPECT_NE(error.message.find("not a registry file"), std::string::npos);
    // Bytes that are not text in the file's encoding are not guessed at.
    EXPECT_FALSE(handset::parse_reg_file("REGEDIT4\n\n[HKEY_CURRENT_USER\\A]\n\"v\"=\"\xB0 \"\n", ops, error));
    EXPECT_EQ(error.line, 4u);
    EXPECT_NE(error.message.find("code page 949"), std::string::npos) << error.message;
    EXPECT_FALSE(handset::parse_reg_file(
        "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\A]\n\"v\"=\"\xB0 \"\n", ops, error));
    EXPECT_EQ(error.line, 3u);
    // A 5.00 file that is not UTF-8 is read in code page 949, as the platform reads it.
    EXPECT_TRUE(handset::parse_reg_file(
        "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\A]\n\"v\"=\"\xB0\xA1\"\n", ops, error));
    ASSERT_EQ(ops.size(), 2u);
    EXPECT_EQ(ops[1].data, handset::sz_bytes(u"가"));
    // Lower case, another version and UTF-16 big-endian are no headers.
    for (std::string_view bad : {std::string_view("regedit4\n"), std::string_view("Windows Registry Editor Version 4.00\n"),
                                 std::string_view("\xFE\xFF\0W\0i\0n", 8)}) {
        EXPECT_FALSE(handset::parse_reg_file(bad, ops, error)) << bad;
    }
    EXPECT_FALSE(handset::parse_reg_file(std::string("W\0i\0n\0", 6), ops, error));
    EXPECT_TRUE(ops.empty());
}

}  // namespace
