// Registry cases: key dispositions, missing keys, value sizes and types, deletion,
// enumeration and dead handles. Every case works below one scratch key of HKCU that it
// makes afresh and removes again.
#include <algorithm>
#include <cstring>

#include "harness.h"

namespace conformance {
namespace {

constexpr WCHAR kScratch[] = TEXT("Software\\QuillonConformance");

// Removes `sub` below `parent` with everything under it, one key at a time, as a
// program must where RegDeleteKeyW leaves keys with subkeys alone.
void delete_tree(HKEY parent, LPCWSTR sub) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(parent, sub, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
    WCHAR name[256];
    for (;;) {
        DWORD len = 256;
        if (RegEnumKeyExW(key, 0, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        delete_tree(key, name);
    }
    RegCloseKey(key);
    RegDeleteKeyW(parent, sub);
}

// The scratch key, empty, open with full access; closed and removed when it goes.
class Scratch {
public:
    Scratch() {
        delete_tree(HKEY_CURRENT_USER, kScratch);
        RegCreateKeyExW(HKEY_CURRENT_USER, kScratch, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    }
    ~Scratch() {
        RegCloseKey(key);
        delete_tree(HKEY_CURRENT_USER, kScratch);
    }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;

    LONG set_text(LPCWSTR name, WStringView text, bool terminator = true) {
        WString data(text);
        const DWORD size = static_cast<DWORD>((data.size() + (terminator ? 1 : 0)) * sizeof(WCHAR));
        return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()), size);
    }
    LONG set_dword(LPCWSTR name, DWORD value) {
        return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
    }
    HKEY sub(LPCWSTR name, DWORD* disposition = nullptr) {
        HKEY out = nullptr;
        RegCreateKeyExW(key, name, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &out, disposition);
        return out;
    }
    bool has(LPCWSTR name) {
        HKEY out = nullptr;
        if (RegOpenKeyExW(key, name, 0, KEY_READ, &out) != ERROR_SUCCESS) return false;
        RegCloseKey(out);
        return true;
    }

    HKEY key = nullptr;
};

std::vector<WString> subkeys(HKEY key) {
    std::vector<WString> out;
    WCHAR name[256];
    for (DWORD i = 0;; ++i) {
        DWORD len = 256;
        if (RegEnumKeyExW(key, i, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        out.emplace_back(name, len);
    }
    return out;
}

Case dispositions() {
    return {"create_dispositions", "RegCreateKeyExW", [](Check& c) {
                Scratch s;
                DWORD first = 0, second = 0;
                HKEY a = s.sub(TEXT("Child"), &first);
                HKEY b = s.sub(TEXT("child"), &second);
                c.eq("first", first, REG_CREATED_NEW_KEY);
                c.eq("second, other case", second, REG_OPENED_EXISTING_KEY);
                c.is("two handles", a && b && a != b);
                RegCloseKey(a);
                RegCloseKey(b);
            }};
}

Case nested_create() {
    return {"create_makes_every_level", "RegCreateKeyExW RegOpenKeyExW", [](Check& c) {
                Scratch s;
                DWORD disposition = 0;
                RegCloseKey(s.sub(TEXT("A\\B\\C"), &disposition));
                c.eq("disposition", disposition, REG_CREATED_NEW_KEY);
                c.is("middle level exists", s.has(TEXT("A\\B")));
                c.eq("one subkey", subkeys(s.key), std::vector<WString>{TEXT("A")});
            }};
}

Case open_missing_key() {
    return {"open_missing_key", "RegOpenKeyExW", [](Check& c) {
                Scratch s;
                HKEY out = reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x1234));
                c.eq("error", RegOpenKeyExW(s.key, TEXT("Missing"), 0, KEY_READ, &out), ERROR_FILE_NOT_FOUND);
                c.eq("handle cleared", out, HKEY(nullptr));
                c.eq("deeper", RegOpenKeyExW(s.key, TEXT("Missing\\Deeper"), 0, KEY_READ, &out),
                     ERROR_FILE_NOT_FOUND);
            }};
}

Case case_preserved() {
    return {"names_keep_their_case", "RegCreateKeyExW RegEnumKeyExW RegOpenKeyExW", [](Check& c) {
                Scratch s;
                RegCloseKey(s.sub(TEXT("MixedCase")));
                c.is("opens in other case", s.has(TEXT("MIXEDcase")));
                c.eq("enumerated as created", subkeys(s.key), std::vector<WString>{TEXT("MixedCase")});
            }};
}

Case size_query() {
    return {"query_size_with_null_buffer", "RegQueryValueExW", [](Check& c) {
                Scratch s;
                s.set_text(TEXT("Text"), TEXT("abc"));
                DWORD type = 99, size = 0;
                c.eq("result", RegQueryValueExW(s.key, TEXT("Text"), nullptr, &type, nullptr, &size), ERROR_SUCCESS);
                c.eq("size with terminator", size, DWORD(8));
                c.eq("type", type, REG_SZ);
            }};
}

Case size_query_large_claim() {
    return {"query_null_buffer_ignores_claimed_size", "RegQueryValueExW", [](Check& c) {
                Scratch s;
                s.set_dword(TEXT("Number"), 7);
                DWORD size = 1;
                c.eq("result", RegQueryValueExW(s.key, TEXT("Number"), nullptr, nullptr, nullptr, &size),
                     ERROR_SUCCESS);
                c.eq("size", size, DWORD(4));
            }};
}

Case more_data() {
    return {"query_more_data_leaves_buffer", "RegQueryValueExW", [](Check& c) {
                Scratch s;
                s.set_text(TEXT("Text"), TEXT("abcdef"));
                BYTE buffer[6];
                std::memset(buffer, 0xAB, sizeof buffer);
                DWORD type = 0, size = sizeof buffer;
                c.eq("result", RegQueryValueExW(s.key, TEXT("Text"), nullptr, &type, buffer, &size), ERROR_MORE_DATA);
                c.eq("needed size", size, DWORD(14));
                c.eq("type still given", type, REG_SZ);
                c.is("buffer untouched", std::all_of(buffer, buffer + sizeof buffer, [](BYTE b) { return b == 0xAB; }));
            }};
}

Case exact_size() {
    return {"query_exact_size", "RegQueryValueExW", [](Check& c) {
                Scratch s;
                s.set_text(TEXT("Text"), TEXT("xyz"));
                WCHAR text[4] = {};
                DWORD size = sizeof text;
                c.eq("result", RegQueryValueExW(s.key, TEXT("Text"), nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size),
                     ERROR_SUCCESS);
                c.eq("text", WString(text), WString(TEXT("xyz")));
                c.eq("size", size, DWORD(8));
            }};
}

Case missing_value() {
    return {"query_missing_value", "RegQueryValueExW", [](Check& c) {
                Scratch s;
                DWORD size = 0, type = 77;
                c.eq("result", RegQueryValueExW(s.key, TEXT("None"), nullptr, &type, nullptr, &size), ERROR_FILE_NOT_FOUND);
                c.eq("type untouched", type, DWORD(77));
            }};
}

Case dword_value() {
    return {"dword_round_trip", "RegSetValueExW RegQueryValueExW", [](Check& c) {
                Scratch s;
                s.set_dword(TEXT("Count"), 0x01020304);
                DWORD value = 0, type = 0, size = sizeof value;
                c.eq("result", RegQueryValueExW(s.key, TEXT("count"), nullptr, &type, reinterpret_cast<BYTE*>(&value), &size),
                     ERROR_SUCCESS);
                c.eq("value", value, DWORD(0x01020304));
                c.eq("type", type, REG_DWORD);
                c.eq("size", size, DWORD(4));
            }};
}

Case binary_value() {
    return {"binary_round_trip", "RegSetValueExW RegQueryValueExW", [](Check& c) {
                Scratch s;
                const BYTE data[] = {0, 1, 0xFF, 0x80, 0};
                c.eq("set", RegSetValueExW(s.key, TEXT("Blob"), 0, REG_BINARY, data, sizeof data), ERROR_SUCCESS);
                BYTE out[16] = {};
                DWORD type = 0, size = sizeof out;
                RegQueryValueExW(s.key, TEXT("Blob"), nullptr, &type, out, &size);
                c.eq("type", type, REG_BINARY);
                c.eq("size", size, DWORD(sizeof data));
                c.is("bytes", std::equal(data, data + sizeof data, out));
            }};
}

Case empty_binary() {
    return {"empty_value", "RegSetValueExW RegQueryValueExW", [](Check& c) {
                Scratch s;
                c.eq("set", RegSetValueExW(s.key, TEXT("Empty"), 0, REG_BINARY, nullptr, 0), ERROR_SUCCESS);
                DWORD type = 0, size = 5;
                BYTE out[4] = {9, 9, 9, 9};
                c.eq("query", RegQueryValueExW(s.key, TEXT("Empty"), nullptr, &type, out, &size), ERROR_SUCCESS);
                c.eq("size", size, DWORD(0));
                c.eq("buffer untouched", out[0], BYTE(9));
            }};
}

Case unterminated() {
    return {"string_without_terminator", "RegSetValueExW RegQueryValueExW", [](Check& c) {
                Scratch s;
                s.set_text(TEXT("Raw"), TEXT("abc"), false);
                DWORD size = 0;
                RegQueryValueExW(s.key, TEXT("Raw"), nullptr, nullptr, nullptr, &size);
                c.eq("stored size", size, DWORD(6));
                WCHAR out[3];
                std::fill(out, out + 3, WCHAR('x'));
                size = sizeof out;
                c.eq("exact buffer", RegQueryValueExW(s.key, TEXT("Raw"), nullptr, nullptr, reinterpret_cast<BYTE*>(out), &size),
                     ERROR_SUCCESS);
                c.eq("text", WString(out, 3), WString(TEXT("abc")));
            },
            "the phone's registry keeps a string's bytes as written; the desktop under Wine stores "
            "a REG_SZ written without its terminator with one added (8 bytes here)"};
}

Case default_value() {
    return {"default_value_by_null_or_empty_name", "RegSetValueExW RegQueryValueExW", [](Check& c) {
                Scratch s;
                s.set_text(nullptr, TEXT("dflt"));
                WCHAR out[8] = {};
                DWORD size = sizeof out;
                c.eq("by empty name", RegQueryValueExW(s.key, TEXT(""), nullptr, nullptr, reinterpret_cast<BYTE*>(out), &size),
                     ERROR_SUCCESS);
                c.eq("text", WString(out), WString(TEXT("dflt")));
            }};
}

Case retype() {
    return {"overwrite_changes_type", "RegSetValueExW RegQueryValueExW", [](Check& c) {
                Scratch s;
                s.set_dword(TEXT("V"), 1);
                s.set_text(TEXT("v"), TEXT("now text"));
                DWORD type = 0, size = 0;
                RegQueryValueExW(s.key, TEXT("V"), nullptr, &type, nullptr, &size);
                c.eq("type", type, REG_SZ);
                c.eq("size", size, DWORD(18));
            }};
}

Case delete_value() {
    return {"delete_value_twice", "RegDeleteValueW", [](Check& c) {
                Scratch s;
                s.set_dword(TEXT("Gone"), 1);
                c.eq("first", RegDeleteValueW(s.key, TEXT("GONE")), ERROR_SUCCESS);
                DWORD size = 0;
                c.eq("query after", RegQueryValueExW(s.key, TEXT("Gone"), nullptr, nullptr, nullptr, &size),
                     ERROR_FILE_NOT_FOUND);
                c.eq("second", RegDeleteValueW(s.key, TEXT("Gone")), ERROR_FILE_NOT_FOUND);
            }};
}

Case delete_leaf() {
    return {"delete_key_then_missing", "RegDeleteKeyW", [](Check& c) {
                Scratch s;
                RegCloseKey(s.sub(TEXT("Leaf")));
                c.eq("delete", RegDeleteKeyW(s.key, TEXT("leaf")), ERROR_SUCCESS);
                c.is("gone", !s.has(TEXT("Leaf")));
                c.eq("again", RegDeleteKeyW(s.key, TEXT("Leaf")), ERROR_FILE_NOT_FOUND);
            }};
}

Case deleted_key_handle() {
    return {"handle_to_deleted_key", "RegDeleteKeyW RegSetValueExW", [](Check& c) {
                Scratch s;
                HKEY leaf = s.sub(TEXT("Leaf"));
                RegDeleteKeyW(s.key, TEXT("Leaf"));
                c.eq("write through old handle", RegSetValueExW(leaf, TEXT("x"), 0, REG_BINARY, nullptr, 0),
                     ERROR_KEY_DELETED);
                c.eq("close still works", RegCloseKey(leaf), ERROR_SUCCESS);
            }};
}

Case delete_with_subkeys() {
    return {"delete_key_with_subkeys", "RegDeleteKeyW",
            [](Check& c) {
                Scratch s;
                RegCloseKey(s.sub(TEXT("Parent\\Child")));
                c.eq("delete", RegDeleteKeyW(s.key, TEXT("Parent")), ERROR_SUCCESS);
                c.is("subtree gone", !s.has(TEXT("Parent")));
            },
            "the phone's RegDeleteKey removes the key with its whole subtree; the desktop's refuses a key "
            "that has subkeys (ERROR_ACCESS_DENIED) and leaves that to RegDeleteTree"};
}

Case enumerate_keys() {
    return {"enumerate_keys_then_no_more", "RegEnumKeyExW", [](Check& c) {
                Scratch s;
                for (LPCWSTR name : {TEXT("Beta"), TEXT("alpha"), TEXT("Gamma")}) RegCloseKey(s.sub(name));
                std::vector<WString> names = subkeys(s.key);
                std::sort(names.begin(), names.end());
                c.eq("names", names, std::vector<WString>{TEXT("Beta"), TEXT("Gamma"), TEXT("alpha")});
                WCHAR name[16];
                DWORD len = 16;
                c.eq("past the end", RegEnumKeyExW(s.key, 3, name, &len, nullptr, nullptr, nullptr, nullptr),
                     ERROR_NO_MORE_ITEMS);
            }};
}

Case enumerate_key_short() {
    return {"enumerate_key_short_buffer", "RegEnumKeyExW", [](Check& c) {
                Scratch s;
                RegCloseKey(s.sub(TEXT("LongerName")));
                WCHAR name[4];
                DWORD len = 4;
                c.eq("result", RegEnumKeyExW(s.key, 0, name, &len, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
                WCHAR exact[10];
                len = 10;  // the name's length: no room for its terminator
                c.eq("no room for terminator", RegEnumKeyExW(s.key, 0, exact, &len, nullptr, nullptr, nullptr, nullptr),
                     ERROR_MORE_DATA);
            }};
}

Case enumerate_values() {
    return {"enumerate_values", "RegEnumValueW", [](Check& c) {
                Scratch s;
                s.set_dword(TEXT("One"), 1);
                s.set_text(TEXT("Two"), TEXT("2"));
                std::vector<WString> names;
                std::vector<DWORD> types;
                WCHAR name[32];
                for (DWORD i = 0;; ++i) {
                    DWORD len = 32, type = 0;
                    const LONG r = RegEnumValueW(s.key, i, name, &len, nullptr, &type, nullptr, nullptr);
                    if (r != ERROR_SUCCESS) {
                        c.eq("end", r, ERROR_NO_MORE_ITEMS);
                        break;
                    }
                    names.emplace_back(name, len);
                    types.push_back(type);
                }
                if (names.size() == 2 && names[0] != TEXT("One")) {
                    std::swap(names[0], names[1]);
                    std::swap(types[0], types[1]);
                }
                c.eq("names", names, std::vector<WString>{TEXT("One"), TEXT("Two")});
                c.eq("types", types, std::vector<DWORD>{REG_DWORD, REG_SZ});
            }};
}

Case enumerate_value_data() {
    return {"enumerate_value_data_and_sizes", "RegEnumValueW", [](Check& c) {
                Scratch s;
                s.set_text(TEXT("Name"), TEXT("value"));
                WCHAR name[8];
                BYTE data[4];
                DWORD len = 8, size = sizeof data, type = 0;
                c.eq("short data", RegEnumValueW(s.key, 0, name, &len, nullptr, &type, data, &size), ERROR_MORE_DATA);
                c.eq("needed", size, DWORD(12));
                len = 2;
                size = 0;
                c.eq("short name", RegEnumValueW(s.key, 0, name, &len, nullptr, nullptr, nullptr, &size), ERROR_MORE_DATA);
                WCHAR text[8];
                len = 8;
                size = sizeof text;
                c.eq("room", RegEnumValueW(s.key, 0, name, &len, nullptr, &type, reinterpret_cast<BYTE*>(text), &size),
                     ERROR_SUCCESS);
                c.eq("name length", len, DWORD(4));
                c.eq("data", WString(text), WString(TEXT("value")));
            }};
}

Case closed_handle() {
    return {"closed_handle", "RegCloseKey RegQueryValueExW", [](Check& c) {
                Scratch s;
                HKEY child = s.sub(TEXT("Child"));
                c.eq("close", RegCloseKey(child), ERROR_SUCCESS);
                DWORD size = 0;
                c.eq("query", RegQueryValueExW(child, TEXT("x"), nullptr, nullptr, nullptr, &size), ERROR_INVALID_HANDLE);
                c.eq("close again", RegCloseKey(child), ERROR_INVALID_HANDLE);
            }};
}

Case null_handle() {
    return {"null_handle", "RegOpenKeyExW RegSetValueExW", [](Check& c) {
                HKEY out = nullptr;
                c.eq("open", RegOpenKeyExW(nullptr, TEXT("Software"), 0, KEY_READ, &out), ERROR_INVALID_HANDLE);
                c.eq("set", RegSetValueExW(nullptr, TEXT("x"), 0, REG_BINARY, nullptr, 0), ERROR_INVALID_HANDLE);
            }};
}

Case read_only() {
    return {"read_handle_refuses_writes", "RegOpenKeyExW RegSetValueExW", [](Check& c) {
                Scratch s;
                HKEY ro = nullptr;
                RegOpenKeyExW(HKEY_CURRENT_USER, kScratch, 0, KEY_READ, &ro);
                c.eq("set", RegSetValueExW(ro, TEXT("x"), 0, REG_BINARY, nullptr, 0), ERROR_ACCESS_DENIED);
                c.eq("delete value", RegDeleteValueW(ro, TEXT("x")), ERROR_ACCESS_DENIED);
                RegCloseKey(ro);
            }};
}

Case last_error_untouched() {
    return {"registry_leaves_last_error", "RegOpenKeyExW GetLastError", [](Check& c) {
                Scratch s;
                HKEY out = nullptr;
                SetLastError(1234);
                RegOpenKeyExW(s.key, TEXT("Missing"), 0, KEY_READ, &out);
                c.eq("after a failure", GetLastError(), DWORD(1234));
            }};
}

}  // namespace

Table registry_table() {
    return {"registry",
            {dispositions(), nested_create(), open_missing_key(), case_preserved(), size_query(), size_query_large_claim(),
             more_data(), exact_size(), missing_value(), dword_value(), binary_value(), empty_binary(), unterminated(),
             default_value(), retype(), delete_value(), delete_leaf(), deleted_key_handle(),
             delete_with_subkeys(), enumerate_keys(), enumerate_key_short(), enumerate_values(), enumerate_value_data(),
             closed_handle(), null_handle(), read_only(), last_error_untouched()}};
}

}  // namespace conformance
