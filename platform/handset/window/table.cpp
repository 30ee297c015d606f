// The device's window table: the top-level windows of every host process of the device,
// in run/windows.tbl, so that FindWindowW, EnumWindows and GetWindowThreadProcessId see
// the windows of other processes.
//
// The file is a fixed-size array of rows mapped into every host, with the rows' window
// handles kept together in front of them: a look-up reads that short array (a page or
// so) and only the rows it picks, not the whole table. Writers hold an exclusive flock,
// readers a shared one (and a process-local mutex, since flock does not separate the
// threads of one process). A row whose host process has died is ignored and its slot
// reused. Each activation takes a device-wide serial from the header, which gives
// EnumWindows its order: most recently activated first, across all hosts.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "platform/handset/core/device.h"
#include "platform/handset/core/host_io.h"
#include "platform/handset/core/process.h"
#include "platform/handset/window/wm_internal.h"
#include "platform/winbase.h"

namespace handset::wm {
namespace {

constexpr char kMagic[8] = {'Q', 'W', 'I', 'N', 'T', 'B', 'L', '2'};
// Rows for every top-level window of the device's programs at once, with room to spare: a
// phone shows a handful. Each host maps the whole file, and the fewer pages it spans, the
// less a start and an exit spend mapping and unmapping them.
constexpr int kCapacity = 64;
constexpr int kTitleMax = 128;
constexpr int kPathMax = 260;

// The row of the window handle in the same slot of RawTable::hwnds.
struct RawRow {
    std::uint32_t pid;
    std::uint32_t tid;
    std::uint64_t activated;
    std::uint32_t visible;
    std::uint16_t title_len;
    std::uint16_t exe_len;
    char16_t title[kTitleMax];
    char16_t exe[kPathMax];
};

struct RawTable {
    char magic[8];
    std::uint32_t capacity;
    std::uint32_t row_size;
    std::uint64_t generation;
    std::uint64_t serial;
    std::uint64_t hwnds[kCapacity];  // 0: a free slot
    RawRow rows[kCapacity];
};

std::uint64_t hwnd_value(HWND hwnd) { return reinterpret_cast<std::uintptr_t>(hwnd); }
HWND hwnd_of(std::uint64_t value) { return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(value)); }

bool row_host_alive(const RawRow& row) { return host_alive(row.pid); }
bool row_is_ours(const RawRow& row) { return host_pid_of(row.pid) == self_os_pid(); }

TableRow to_row(std::uint64_t hwnd, const RawRow& raw) {
    TableRow row;
    row.hwnd = hwnd_of(hwnd);
    row.pid = raw.pid;
    row.tid = raw.tid;
    row.visible = raw.visible != 0;
    row.activated = raw.activated;
    row.title.assign(raw.title, std::min<int>(raw.title_len, kTitleMax));
    row.exe_path.assign(raw.exe, std::min<int>(raw.exe_len, kPathMax));
    return row;
}

void fill(RawTable& t, int slot, const TableRow& row) {
    t.hwnds[slot] = hwnd_value(row.hwnd);
    RawRow& raw = t.rows[slot];
    raw.pid = row.pid;
    raw.tid = row.tid;
    raw.activated = row.activated;
    raw.visible = row.visible ? 1 : 0;
    raw.title_len = static_cast<std::uint16_t>(std::min<std::size_t>(row.title.size(), kTitleMax));
    std::copy_n(row.title.data(), raw.title_len, raw.title);
    raw.exe_len = static_cast<std::uint16_t>(std::min<std::size_t>(row.exe_path.size(), kPathMax));
    std::copy_n(row.exe_path.data(), raw.exe_len, raw.exe);
}

void clear(RawTable& t, int slot) {
    t.hwnds[slot] = 0;
    std::memset(&t.rows[slot], 0, sizeof t.rows[slot]);
}

// The mapped table of the current device; reopened when the device folder changes or
// in a forked child (whose flock would otherwise be shared with its parent).
class TableFile {
public:
    ~TableFile() { close(); }

    // Runs `f(RawTable&)` with the table locked (LOCK_SH or LOCK_EX); false when the
    // device has no usable table.
    template <class F>
    bool with(int lock_kind, F&& f) {
        std::lock_guard lock(mu_);
        if (!open()) return false;
        const FileLock file_lock(fd_.get(), lock_kind);
        f(*map_);
        if (lock_kind == LOCK_EX) ++map_->generation;
        return true;
    }

    std::uint64_t next_local_serial() {
        std::lock_guard lock(mu_);
        return ++local_serial_;
    }

private:
    bool open() {
        if (!has_device()) {
            close();
            return false;
        }
        // A forked child reopens, and so does a process given another device (even at
        // the same folder: a reset device has a new table file).
        if (map_ && generation_ == device_generation() && opener_ == self_os_pid()) return true;
        const std::filesystem::path path = device().run_dir() / "windows.tbl";
        close();
        std::error_code ec;
        std::filesystem::create_directories(path.parent_path(), ec);
        fd_ = open_lock_file(path);
        if (!fd_) return false;
        if (!map_locked()) {
            close();
            return false;
        }
        opener_ = self_os_pid();
        generation_ = device_generation();
        return true;
    }

    // Sizes and maps the open file under its exclusive lock, making a fresh table of a
    // file that holds none.
    bool map_locked() {
        const FileLock file_lock(fd_.get(), LOCK_EX);
        struct stat st {};
        bool fresh = fstat(fd_.get(), &st) != 0 || st.st_size != static_cast<off_t>(sizeof(RawTable));
        // The blocks are taken before the map: a store to a hole that a full disk cannot
        // fill would end the process with SIGBUS instead of failing here.
        if (fresh && (ftruncate(fd_.get(), 0) != 0 || posix_fallocate(fd_.get(), 0, sizeof(RawTable)) != 0))
            return false;
        void* mem = mmap(nullptr, sizeof(RawTable), PROT_READ | PROT_WRITE, MAP_SHARED, fd_.get(), 0);
        if (mem == MAP_FAILED) return false;
        map_ = static_cast<RawTable*>(mem);
        if (fresh || std::memcmp(map_->magic, kMagic, sizeof kMagic) != 0 || map_->capacity != kCapacity ||
            map_->row_size != sizeof(RawRow)) {
            std::memset(map_, 0, sizeof(RawTable));
            std::memcpy(map_->magic, kMagic, sizeof kMagic);
            map_->capacity = kCapacity;
            map_->row_size = sizeof(RawRow);
        }
        return true;
    }

    void close() {
        if (map_) munmap(map_, sizeof(RawTable));
        map_ = nullptr;
        // No lock is held between calls, so closing an inherited descriptor in a forked
        // child takes nothing away from its parent.
        fd_.reset();
    }

    std::mutex mu_;
    UniqueFd fd_;
    pid_t opener_ = 0;
    std::uint64_t generation_ = 0;
    RawTable* map_ = nullptr;
    std::uint64_t local_serial_ = 0;
};

TableFile& table() {
    static TableFile t;
    return t;
}

std::mutex g_hook_mu;
std::function<bool(DWORD, HWND)> g_remote_foreground;

std::u16string remote_exe_path(DWORD pid) {
    std::u16string exe;
    table().with(LOCK_SH, [&](RawTable& t) {
        for (int i = 0; i < kCapacity; ++i) {
            if (t.hwnds[i] != 0 && t.rows[i].pid == pid) {
                exe = to_row(t.hwnds[i], t.rows[i]).exe_path;
                return;
            }
        }
    });
    return exe;
}

struct ListedWindow {
    HWND hwnd;
    DWORD pid;
    DWORD tid;
    std::uint64_t activated;
    std::u16string title;
};

// Every top-level window of the device, most recently activated first.
std::vector<ListedWindow> listed_windows() {
    std::vector<ListedWindow> list;
    {
        std::lock_guard lock(state().mu);
        for (HWND h : state().zorder)
            if (Window* w = find(h)) list.push_back({h, w->pid, w->tid, w->activated, w->text});
    }
    for (auto& row : table_remote_rows()) list.push_back({row.hwnd, row.pid, row.tid, row.activated, row.title});
    std::stable_sort(list.begin(), list.end(),
                     [](const ListedWindow& a, const ListedWindow& b) { return a.activated > b.activated; });
    return list;
}

}  // namespace

void table_put(const TableRow& row) {
    table().with(LOCK_EX, [&](RawTable& t) {
        const std::uint64_t* const hwnds = t.hwnds;
        int slot = static_cast<int>(std::find(hwnds, hwnds + kCapacity, hwnd_value(row.hwnd)) - hwnds);
        // A window not yet in the table takes a free slot, or one whose host has died.
        for (int i = 0; slot == kCapacity && i < kCapacity; ++i)
            if (hwnds[i] == 0 || !row_host_alive(t.rows[i])) slot = i;
        if (slot < kCapacity) fill(t, slot, row);
    });
}

void table_remove(HWND hwnd) {
    table().with(LOCK_EX, [&](RawTable& t) {
        for (int i = 0; i < kCapacity; ++i)
            if (t.hwnds[i] == hwnd_value(hwnd)) clear(t, i);
    });
}

std::uint64_t table_activate(HWND hwnd) {
    std::uint64_t serial = 0;
    const bool shared = table().with(LOCK_EX, [&](RawTable& t) {
        serial = ++t.serial;
        for (int i = 0; i < kCapacity; ++i)
            if (t.hwnds[i] == hwnd_value(hwnd)) t.rows[i].activated = serial;
    });
    return shared ? serial : table().next_local_serial();
}

std::vector<TableRow> table_remote_rows() {
    std::vector<TableRow> rows;
    table().with(LOCK_SH, [&](RawTable& t) {
        for (int i = 0; i < kCapacity; ++i) {
            const RawRow& raw = t.rows[i];
            if (t.hwnds[i] != 0 && !row_is_ours(raw) && row_host_alive(raw)) rows.push_back(to_row(t.hwnds[i], raw));
        }
    });
    return rows;
}

bool table_find(HWND hwnd, TableRow& row) {
    if (!hwnd) return false;
    bool found = false;
    table().with(LOCK_SH, [&](RawTable& t) {
        for (int i = 0; i < kCapacity; ++i) {
            const RawRow& raw = t.rows[i];
            if (t.hwnds[i] == hwnd_value(hwnd) && !row_is_ours(raw) && row_host_alive(raw)) {
                row = to_row(t.hwnds[i], raw);
                found = true;
                return;
            }
        }
    });
    return found;
}

bool request_remote_foreground(DWORD pid, HWND hwnd) {
    std::function<bool(DWORD, HWND)> handler;
    {
        std::lock_guard lock(g_hook_mu);
        handler = g_remote_foreground;
    }
    if (!handler) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return false;
    }
    return handler(pid, hwnd);
}

}  // namespace handset::wm

namespace handset {

void set_remote_foreground_handler(std::function<bool(DWORD pid, HWND window)> handler) {
    std::lock_guard lock(wm::g_hook_mu);
    wm::g_remote_foreground = std::move(handler);
}

// Other hosts' programs are known by their window rows.
void register_window_table() { set_remote_exe_path_lookup(&wm::remote_exe_path); }

void withdraw_window_table() {
    wm::table().with(LOCK_EX, [](wm::RawTable& t) {
        for (int i = 0; i < wm::kCapacity; ++i)
            if (t.hwnds[i] != 0 && wm::row_is_ours(t.rows[i])) wm::clear(t, i);
    });
}

}  // namespace handset

using namespace handset::wm;

namespace {

// The class of a window of this host: dialogs and message boxes are the dialog manager's
// "#32770"; a device program's plain window has a class of its own.
std::u16string_view class_of(const Window& w) {
    return w.kind == Kind::Plain ? std::u16string_view(u"QuillonProgramWindow") : std::u16string_view(u"#32770");
}

bool same_class(std::u16string_view a, std::u16string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char16_t x, char16_t y) {
        auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; };
        return lower(x) == lower(y);
    });
}

}  // namespace

// A null title or class matches any. Classes are known for this host's windows; the
// windows of other hosts are matched by their titles. The most recently activated match
// wins, this host's own window on a tie; the table's rows are searched in place, since
// the watch tick looks for the mail client this way.
HWND FindWindowW(LPCWSTR class_name, LPCWSTR title) {
    if (!title && !class_name) {
        const auto list = listed_windows();
        return list.empty() ? nullptr : list.front().hwnd;
    }
    auto matches = [&](const Window& w) {
        return (!title || w.text == std::u16string_view(title)) && (!class_name || same_class(class_of(w), class_name));
    };
    HWND best = nullptr;
    std::uint64_t best_activated = 0;
    {
        std::lock_guard lock(state().mu);
        for (HWND h : state().zorder)
            if (Window* w = find(h); w && matches(*w) && (!best || w->activated > best_activated)) {
                best = h;
                best_activated = w->activated;
            }
    }
    if (!title) return best;
    const std::u16string_view wanted(title);
    table().with(LOCK_SH, [&](RawTable& t) {
        for (int i = 0; i < kCapacity; ++i) {
            const RawRow& raw = t.rows[i];
            if (t.hwnds[i] == 0 || (best && raw.activated <= best_activated)) continue;
            if (std::u16string_view(raw.title, std::min<int>(raw.title_len, kTitleMax)) != wanted) continue;
            if (row_is_ours(raw) || !row_host_alive(raw)) continue;
            best = hwnd_of(t.hwnds[i]);
            best_activated = raw.activated;
        }
    });
    return best;
}

// Enumeration order: most recently activated first (the device's z-order).
BOOL EnumWindows(WNDENUMPROC proc, LPARAM param) {
    if (!proc) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    for (auto& w : listed_windows())
        if (!proc(w.hwnd, param)) return FALSE;
    return TRUE;
}

DWORD GetWindowThreadProcessId(HWND window, LPDWORD process_id) {
    DWORD pid = 0, tid = 0;
    {
        std::lock_guard lock(state().mu);
        if (Window* w = find(window)) {
            pid = w->pid;
            tid = w->tid;
        }
    }
    if (!tid) {
        TableRow row;
        if (table_find(window, row)) {
            pid = row.pid;
            tid = row.tid;
        }
    }
    if (!tid) SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    if (process_id) *process_id = pid;
    return tid;
}
