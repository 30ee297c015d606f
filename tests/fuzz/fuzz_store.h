// A registry store for fuzz targets: one scratch file per fuzzing process, emptied
// between inputs so that every input starts from the same registry; and the comparison
// of a subtree with what its .reg text imports back as.
#pragma once

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/handset/registry/store.h"

namespace fuzz {

inline std::string scratch_dir() {
    if (std::filesystem::is_directory("/dev/shm")) return "/dev/shm";
    const char* tmp = std::getenv("TMPDIR");
    return tmp && *tmp ? tmp : "/tmp";
}

// Removes the scratch files of fuzzing processes that ended without cleaning up (a
// crash, a timeout): "quillon-fuzz-TARGET-PID.db*" of a PID that no longer runs.
inline void remove_stale_scratch(const std::string& dir, const std::string& prefix) {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
        const std::string name = entry.path().filename().string();
        if (!name.starts_with(prefix)) continue;
        const long pid = std::strtol(name.c_str() + prefix.size(), nullptr, 10);
        if (pid > 0 && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) std::filesystem::remove(entry.path(), ec);
    }
}

// Creates the process's scratch registry; its files are removed when the process ends.
inline std::unique_ptr<handset::RegistryStore> open_scratch_store(const char* target) {
    static std::string base;
    const std::string prefix = std::string("quillon-fuzz-") + target + "-";
    remove_stale_scratch(scratch_dir(), prefix);
    base = scratch_dir() + "/" + prefix + std::to_string(::getpid()) + ".db";
    for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(base + suffix);
    std::atexit([] {
        for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(base + suffix);
    });
    return std::make_unique<handset::RegistryStore>(base);
}

// Deletes every key and value below both roots.
inline void clear_store(handset::RegistryStore& store) {
    using namespace handset;
    for (RegRoot root : {RegRoot::CurrentUser, RegRoot::LocalMachine}) {
        std::u16string name;
        while (store.enum_subkey(root_key_id(root), 0, name) == RegStatus::Ok) {
            const auto st = store.delete_key({root, name}, Notify::Quiet);
            if (st != RegStatus::Ok) {
                std::fprintf(stderr, "clear_store: cannot delete a key (%s), name in UTF-16:", describe(st));
                for (char16_t c : name) std::fprintf(stderr, " %04x", static_cast<unsigned>(c));
                std::fprintf(stderr, "\n");
                std::abort();
            }
        }
        RegValue value;
        while (store.enum_value(root_key_id(root), 0, value) == RegStatus::Ok) {
            if (store.delete_value(root_key_id(root), value.name, Notify::Quiet) != RegStatus::Ok) std::abort();
        }
    }
}

// Whether `b` holds the keys and values of `a`, as the .reg text of `a` imports back:
// a REG_SZ of no bytes is written as "", which reads back as a lone terminator.
inline bool same_tree(const handset::RegTree& a, const handset::RegTree& b) {
    using namespace handset;
    if (a.path != b.path || a.values.size() != b.values.size() || a.subkeys.size() != b.subkeys.size()) return false;
    for (std::size_t i = 0; i < a.values.size(); ++i) {
        const RegValue& x = a.values[i];
        const RegValue& y = b.values[i];
        const bool empty_text = x.type == REG_SZ && x.data.empty() && y.data == Bytes{0, 0};
        if (x.name != y.name || x.type != y.type || (x.data != y.data && !empty_text)) return false;
    }
    for (std::size_t i = 0; i < a.subkeys.size(); ++i)
        if (!same_tree(a.subkeys[i], b.subkeys[i])) return false;
    return true;
}

}  // namespace fuzz
