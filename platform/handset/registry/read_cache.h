// The registry store's answers to point reads (finding a key, reading a value), kept
// while no process has committed a transaction to the registry file since they were
// read.
//
// SQLite commits a WAL transaction by rewriting the WAL-index header at the start of
// the shared-memory file (-shm) that every connection to the file maps, in every
// process; a commit becomes visible to readers exactly when that header changes (its
// layout is part of SQLite's documented WAL file format). The header, read as SQLite
// reads it (first copy, barrier, second copy, both equal), is thus a version of the
// whole file: an answer read from SQLite after the version was taken stays true while
// the version is unchanged. Reading 96 bytes of mapped memory costs far less than the
// file locks every SQLite read transaction takes.
//
// When the header cannot be read so (no shared memory, an index not yet initialised,
// a commit half-way), nothing is kept and every read goes to the file: the store then
// answers exactly as it would without the cache, only slower.
//
// Answers are found by the folded path or name, and also by the exact text a caller
// asked with: programs ask with the same literals again and again, and a text seen
// before needs neither checking nor folding again.
//
// A cache belongs to one thread of one store (RegistryStore keeps one per thread), so
// that a repeated read finds its answer without the store's mutex: found_key() and
// found_value() touch nothing but the thread's own cache and the mapped header. Only a
// miss takes the mutex, to read the file through the store's one connection.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_map>

#include "platform/handset/registry/store.h"

namespace handset {

struct KeyAnswer {
    bool found = false;
    KeyId id = 0;
    std::u16string stored_path;
};

// A value as a point read found it: Ok with the value, NotFound or KeyDeleted.
struct ValueAnswer {
    RegStatus status = RegStatus::NotFound;
    DWORD type = REG_NONE;
    Bytes data;
    std::u16string name;
};

class ReadCache {
public:
    explicit ReadCache(sqlite3* db) : db_(db) {}

    // The answer for key path `asked` below `root`, or for value name `asked` of key
    // `key`. A miss calls `fold(asked)`, which checks the text (throwing when the store
    // refuses it) and gives its folded form, then `read(folded, answer)`, which reads
    // the answer from the file. The answer lives until the next call; when the cache
    // cannot be used it is `scratch`.
    // The answer remembered for the text as asked, when the cache may be used now; null
    // otherwise. Needs no lock: it reads the file's version, never the file.
    const KeyAnswer* found_key(RegRoot root, std::u16string_view asked) {
        return found(keys_, static_cast<std::uint64_t>(root), asked);
    }
    const ValueAnswer* found_value(KeyId key, std::u16string_view asked) {
        return found(values_, static_cast<std::uint64_t>(key), asked);
    }

    // With the store's mutex held:
    template <class Fold, class Read>
    const KeyAnswer& key(RegRoot root, std::u16string_view asked, KeyAnswer& scratch, Fold&& fold, Read&& read) {
        return answer(keys_, static_cast<std::uint64_t>(root), asked, scratch, fold, read);
    }
    template <class Fold, class Read>
    const ValueAnswer& value(KeyId key, std::u16string_view asked, ValueAnswer& scratch, Fold&& fold, Read&& read) {
        return answer(values_, static_cast<std::uint64_t>(key), asked, scratch, fold, read);
    }

private:
    // A text as asked, with its scope (a root, or a key's id); looked up by a view, so
    // that a hit copies nothing. Compared as bytes: the text as asked is not folded.
    struct Asked {
        std::uint64_t scope;
        std::u16string text;
    };
    struct AskedView {
        std::uint64_t scope;
        std::u16string_view text;
    };
    struct AskedHash {
        using is_transparent = void;
        std::size_t operator()(const Asked& a) const { return hash(a.scope, a.text); }
        std::size_t operator()(const AskedView& a) const { return hash(a.scope, a.text); }
        // Four code units at a time: keys and names are asked for every tick, and a unit
        // at a time left the lookup waiting on a multiplication per character.
        static std::size_t hash(std::uint64_t scope, std::u16string_view text) {
            constexpr std::uint64_t kMul = 0x9E3779B97F4A7C15ull;
            std::uint64_t h = (scope + text.size()) * kMul;
            const char* p = reinterpret_cast<const char*>(text.data());
            std::size_t left = text.size() * sizeof(char16_t);
            for (; left >= 8; p += 8, left -= 8) {
                std::uint64_t word;
                std::memcpy(&word, p, 8);
                h = (h ^ word) * kMul;
                h ^= h >> 29;
            }
            std::uint64_t tail = 0;
            std::memcpy(&tail, p, left);
            h = (h ^ tail) * kMul;
            return static_cast<std::size_t>(h ^ (h >> 32));
        }
    };
    struct AskedEqual {
        using is_transparent = void;
        template <class A, class B>
        bool operator()(const A& a, const B& b) const {
            return a.scope == b.scope && a.text.size() == b.text.size() &&
                   std::memcmp(a.text.data(), b.text.data(), a.text.size() * sizeof(char16_t)) == 0;
        }
    };

    // Answers by "scope, then folded text", and the same answers by text as asked
    // (pointers to elements of `folded`, which stay in place until cleared). `recent`
    // holds texts as asked by their hash, with no division and no chain to follow: a
    // thread asks the same few texts every tick, and the map's lookup was most of the
    // cost of an answered read.
    template <class Answer>
    struct Table {
        struct Recent {
            std::uint64_t scope = 0;
            std::u16string_view text;  // the key's text in `asked`
            const Answer* answer = nullptr;
        };
        static constexpr std::size_t kRecent = 64;  // recent_slot() gives 6 bits

        std::unordered_map<std::u16string, Answer> folded;
        std::unordered_map<Asked, const Answer*, AskedHash, AskedEqual> asked;
        std::array<Recent, kRecent> recent{};

        const Answer* find(std::uint64_t scope, std::u16string_view text) {
            Recent& r = recent[recent_slot(scope, text)];
            if (r.answer && AskedEqual()(r, AskedView{scope, text})) return r.answer;
            auto hit = asked.find(AskedView{scope, text});
            if (hit == asked.end()) return nullptr;
            r = {scope, hit->first.text, hit->second};
            return hit->second;
        }
        // A slot from the scope, the length and the first and last four code units: the
        // texts a thread asks differ there, and the comparison settles the rest. Hashing
        // the whole text, one multiplication after another, was most of a hit's time.
        static std::size_t recent_slot(std::uint64_t scope, std::u16string_view text) {
            constexpr std::uint64_t kMul = 0x9E3779B97F4A7C15ull;
            std::uint64_t first = 0, last = 0;
            const std::size_t bytes = text.size() * sizeof(char16_t);
            if (bytes >= sizeof first) {
                std::memcpy(&first, text.data(), sizeof first);
                std::memcpy(&last, reinterpret_cast<const char*>(text.data()) + bytes - sizeof last, sizeof last);
            } else {
                std::memcpy(&first, text.data(), bytes);
            }
            const std::uint64_t h = ((scope + text.size()) * kMul ^ first) * kMul ^ (last * kMul);
            return static_cast<std::size_t>(h >> 58);  // kRecent slots
        }
        void clear() {
            folded.clear();
            asked.clear();
            recent.fill({});
        }
    };

    template <class Answer>
    const Answer* found(Table<Answer>& table, std::uint64_t scope_id, std::u16string_view asked) {
        // Not mapped yet: mapping needs the connection, so the first read maps it under
        // the mutex.
        if (!shm_ || !current()) return nullptr;
        return table.find(scope_id, asked);
    }

    template <class Answer, class Fold, class Read>
    const Answer& answer(Table<Answer>& table, std::uint64_t scope_id, std::u16string_view asked, Answer& scratch,
                         Fold& fold, Read& read) {
        const bool cached = current();
        if (cached) {
            if (const Answer* hit = table.find(scope_id, asked)) return *hit;
            make_room();  // before anything is added, and before `folded` is looked up
        }
        const std::u16string_view scope(reinterpret_cast<const char16_t*>(&scope_id), sizeof scope_id / sizeof(char16_t));
        const std::u16string folded = fold(asked);
        if (!cached) {
            read(std::u16string_view(folded), scratch);
            return scratch;
        }
        auto it = table.folded.find(slot(scope, folded));
        if (it == table.folded.end()) {
            read(std::u16string_view(folded), scratch);
            it = table.folded.emplace(slot(scope, folded), std::move(scratch)).first;
        }
        table.asked.emplace(Asked{scope_id, std::u16string(asked)}, &it->second);
        return it->second;
    }

    // Whether cached answers may be used now; forgets them when the file has changed.
    // Maps the WAL index first when it is not mapped yet (with the store's mutex held).
    bool current();
    // Maps the WAL index; false when the file has none. Store's mutex held.
    bool map();
    // `scope` and `text` joined in probe_, which keeps its capacity between lookups.
    const std::u16string& slot(std::u16string_view scope, std::u16string_view text) {
        probe_.assign(scope);
        return probe_.append(text);
    }
    void clear();
    void make_room();

    static constexpr std::size_t kVersionWords = 12;  // both 48-byte header copies
    using Version = std::array<std::uint64_t, kVersionWords>;

    sqlite3* db_;
    volatile std::uint32_t* shm_ = nullptr;
    bool valid_ = false;
    Version version_{};
    Table<KeyAnswer> keys_;
    Table<ValueAnswer> values_;
    std::u16string probe_;
};

}  // namespace handset
