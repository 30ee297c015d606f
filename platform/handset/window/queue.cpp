// Message queues of the window system: one per thread, with posted messages, messages
// sent from other threads, the quit flag, window timers and keys from the keypad.
//
// A queue is a Waitable of the handset clock, so GetMessage blocks in the clock's wait
// with the earliest timer as its deadline, and virtual time can jump to that timer when
// every participating thread is blocked. WM_TIMER is made when the message is taken out:
// while the thread is busy a timer's expiries coalesce into one, and after a blocked
// stretch longer than its period the timer counts its next period from the current time.
#include <algorithm>
#include <cassert>

#include "platform/afxwin.h"
#include "platform/handset/core/events.h"
#include "platform/handset/core/kernel.h"
#include "platform/handset/core/process.h"
#include "platform/handset/window/wm_internal.h"
#include "platform/winbase.h"

namespace handset::wm {
namespace {

// Holds the thread's queue; when the thread ends, its windows go away and everyone
// waiting for the thread is released.
struct QueueHolder {
    std::shared_ptr<ThreadQueue> q;
    ~QueueHolder();
};
thread_local QueueHolder t_queue;

std::vector<std::weak_ptr<ThreadQueue>>& all_queues() {  // kernel lock held
    assert(kernel_lock().held());
    static std::vector<std::weak_ptr<ThreadQueue>> queues;
    return queues;
}

UINT g_next_thread_timer = 0x7F00;  // kernel lock held

// Keys and UI commands that the thread took out have been handled: it is back in a
// message loop (or dropped them). Kernel lock held.
void settle_in_flight(ThreadQueue& q) {
    assert(kernel_lock().held());
    bool changed = false;
    if (q.input_settled != q.input_taken) {
        q.input_settled = q.input_taken;
        changed = true;
    }
    for (auto& inv : q.in_flight) {
        if (!inv->done) {
            inv->done = true;
            changed = true;
        }
    }
    q.in_flight.clear();
    if (changed) handset::clock().wake_waiters();
}

// Answers the oldest message another thread sent to the thread of `q`, which is the
// calling thread: the window procedure runs without the kernel lock, then the sender
// gets the result and is released. Kernel lock held by `lock`.
void answer_sent(std::unique_lock<CheckedMutex>& lock, ThreadQueue& q) {
    const std::shared_ptr<SentMessage> in = q.sent.front();
    q.sent.pop_front();
    lock.unlock();
    const LRESULT result = call_window_proc(in->hwnd, in->message, in->wparam, in->lparam);
    lock.lock();
    in->result = result;
    in->done = true;
    handset::clock().wake_waiters();
}

// Waits until `target` ends the wait (it is signalled, or it ends it at rest), handling
// the messages other threads send to the calling thread meanwhile (two threads sending
// to each other must not deadlock).
void wait_servicing_sent(std::unique_lock<CheckedMutex>& lock, Waitable* target) {
    ThreadQueue* mine = t_queue.q.get();
    while (!target->signalled()) {
        if (mine && !mine->sent.empty()) {
            answer_sent(lock, *mine);
            continue;
        }
        // Answering sent messages here is the thread's message loop for the moment.
        const LoopWait loop;
        if (mine) {
            Waitable* objects[] = {target, &mine->sent_only};
            if (handset::clock().wait(lock, objects, false, kNoDeadline) == 0) return;
        } else {
            Waitable* objects[] = {target};
            handset::clock().wait(lock, objects, false, kNoDeadline);
            return;
        }
    }
}

QueueHolder::~QueueHolder() {
    if (!q) return;
    forget_thread_windows(q->tid);
    std::lock_guard lock(kernel_lock());
    set_held_flag(nullptr);
    q->alive = false;
    for (auto& s : q->sent) s->done = true;
    q->sent.clear();
    for (auto& e : q->posted)
        if (e.invoke) e.invoke->done = true;
    q->posted.clear();
    q->timers.clear();
    q->input_taken = q->input_posted;
    settle_in_flight(*q);
    handset::clock().wake_waiters();
}

// The waits of wait_for_input_idle under way: only while there is one does a queue
// that falls idle look for waiters to wake. Kernel lock.
int g_input_idle_waits = 0;

struct InputIdleWait : Waitable {
    DWORD pid = 0;
    bool signalled() const override {
        for (auto& weak : all_queues())
            if (auto q = weak.lock(); q && q->pid == pid && q->alive && q->idle && !q->any.signalled()) return true;
        return false;
    }
};

// Keys wait in the queue of a thread that is held (see set_held_flag): once the phone
// is at rest with the thread still held, they are left to be handled when it is back.
struct SettleWait : Waitable {
    std::shared_ptr<ThreadQueue> q;
    bool signalled() const override { return !q->alive || q->input_settled >= q->input_posted; }
    bool signalled_at_rest() const override { return q->held; }
};

// A UI command ends when the thread has handled it, or, in the same way as keys,
// stays in the queue of a held thread.
struct InvokeWait : Waitable {
    std::shared_ptr<ThreadQueue> q;
    std::shared_ptr<Invocation> inv;
    bool signalled() const override { return inv->done || !q->alive; }
    bool signalled_at_rest() const override { return q->held; }
};

std::shared_ptr<ThreadQueue> queue_of_window(HWND hwnd) {
    std::lock_guard lock(state().mu);
    Window* w = find(hwnd);
    return w ? w->queue : nullptr;
}

bool on_queue_thread(const std::shared_ptr<ThreadQueue>& q) { return q.get() == t_queue.q.get(); }

}  // namespace

bool ThreadQueue::AnyMessage::signalled() const {
    return !q->posted.empty() || !q->sent.empty() || q->quit || q->kick;
}

std::shared_ptr<ThreadQueue> this_queue() {
    if (!t_queue.q) {
        auto q = std::make_shared<ThreadQueue>();
        q->tid = current_thread()->id;
        q->pid = current_process()->pid;
        std::lock_guard lock(kernel_lock());
        auto& queues = all_queues();
        std::erase_if(queues, [](const auto& weak) { return weak.expired(); });
        queues.push_back(q);
        t_queue.q = q;
        set_held_flag(&q->held);
    }
    return t_queue.q;
}

namespace {

// The calling thread's queue, without taking a reference: the thread holds its queue
// for as long as it runs, and taking one cost two atomic operations a message.
ThreadQueue& own_queue() {
    if (!t_queue.q) this_queue();
    return *t_queue.q;
}

}  // namespace

bool get_message(MSG& msg) {
    ThreadQueue* const q = &own_queue();
    std::unique_lock lock(kernel_lock());
    settle_in_flight(*q);
    for (;;) {
        if (!q->sent.empty()) {
            answer_sent(lock, *q);
            continue;
        }
        if (!q->posted.empty()) {
            QueuedMessage entry = std::move(q->posted.front());
            q->posted.pop_front();
            msg = entry.msg;
            if (entry.invoke) {
                q->in_flight.push_back(entry.invoke);
                msg.lParam = reinterpret_cast<LPARAM>(entry.invoke.get());
            }
            if (!entry.input) return true;
            ++q->input_taken;
            lock.unlock();
            if (resolve_input(msg)) return true;
            lock.lock();
            settle_in_flight(*q);  // a dropped key is finished
            continue;
        }
        const long long now = handset::clock().now_ms();
        if (q->quit) {
            q->quit = false;
            msg = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(q->quit_code), 0, static_cast<DWORD>(now)};
            return false;
        }
        auto due = std::min_element(q->timers.begin(), q->timers.end(),
                                    [](const Timer& a, const Timer& b) { return a.due < b.due; });
        if (due != q->timers.end() && due->due <= now) {
            msg = MSG{due->hwnd, WM_TIMER, due->id, reinterpret_cast<LPARAM>(due->proc), static_cast<DWORD>(now)};
            long long next = due->due + due->period;
            if (next <= now) next = now + due->period;
            due->due = next;
            return true;
        }
        q->kick = false;
        settle_in_flight(*q);
        q->idle = true;
        if (g_input_idle_waits > 0) handset::clock().wake_waiters();
        const LoopWait loop;
        Waitable* objects[] = {&q->any};
        handset::clock().wait(lock, objects, false, due == q->timers.end() ? kNoDeadline : due->due);
        q->idle = false;
    }
}

void process_message(MSG& msg) {
    if (msg.message == kInvokeMessage) {
        DispatchMessageW(&msg);
        return;
    }
    if ((msg.message == WM_KEYDOWN || msg.message == WM_KEYUP) && popup_key(msg)) return;
    if (msg.hwnd) {
        // The window's own object is taken with the chain, under one lock, and its
        // parents' each just before their turn, since a PreTranslateMessage may destroy
        // them. A top-level window, the everyday case, has no parents to keep.
        CWnd* first = nullptr;
        std::vector<HWND> parents;
        {
            std::lock_guard lock(state().mu);
            if (Window* w = find(msg.hwnd)) {
                first = w->object;
                for (w = w->child ? find(w->parent) : nullptr; w; w = w->child ? find(w->parent) : nullptr)
                    parents.push_back(w->hwnd);
            }
        }
        if (first && first->PreTranslateMessage(&msg)) return;
        for (HWND h : parents) {
            CWnd* object = object_of(h);
            if (object && object->PreTranslateMessage(&msg)) return;
        }
    }
    DispatchMessageW(&msg);
}

bool pump_until(const std::function<bool()>& done) {
    MSG msg;
    for (;;) {
        if (done()) return true;
        if (!get_message(msg)) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            return false;
        }
        process_message(msg);
    }
}

LRESULT call_window_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    CWnd* object = nullptr;
    WindowProcedure proc;
    {
        std::lock_guard lock(state().mu);
        Window* w = find(hwnd);
        if (!w) return 0;
        object = w->object;
        if (!object) proc = w->proc;
    }
    if (object) return object->WindowProc(message, wparam, lparam);
    if (proc) return proc(hwnd, message, wparam, lparam);
    return builtin_proc(hwnd, message, wparam, lparam);
}

void post_input(const std::shared_ptr<ThreadQueue>& q, HWND top, UINT message, WPARAM vk) {
    std::lock_guard lock(kernel_lock());
    if (!q->alive) return;
    QueuedMessage entry;
    // lParam as the platform fills it: repeat count 1, and for a key-up the previous
    // state and transition bits.
    const LPARAM lparam = message == WM_KEYUP ? static_cast<LPARAM>(0xC0000001u) : 1;
    entry.msg = MSG{top, message, vk, lparam, static_cast<DWORD>(handset::clock().now_ms())};
    entry.input = true;
    ++q->input_posted;
    q->posted.push_back(std::move(entry));
    handset::clock().wake_waiters();
}

Delivery invoke_on(const std::shared_ptr<ThreadQueue>& q, HWND hwnd, const std::shared_ptr<Invocation>& inv) {
    if (on_queue_thread(q)) {
        inv->started = true;
        inv->body();
        inv->done = true;
        return Delivery::Handled;
    }
    std::unique_lock lock(kernel_lock());
    if (!q->alive) return Delivery::Gone;
    QueuedMessage entry;
    entry.msg = MSG{hwnd, kInvokeMessage, 0, 0, static_cast<DWORD>(handset::clock().now_ms())};
    entry.invoke = inv;
    q->posted.push_back(std::move(entry));
    handset::clock().wake_waiters();
    InvokeWait wait;
    wait.q = q;
    wait.inv = inv;
    wait_servicing_sent(lock, &wait);
    // Begun counts as handled: the command's verdict is in, and what it set off
    // goes on in the thread, which may be held in the middle of it.
    if (inv->started) return Delivery::Handled;
    return q->alive ? Delivery::Queued : Delivery::Gone;
}

void reset_this_queue() {
    auto q = this_queue();
    std::lock_guard lock(kernel_lock());
    for (auto& e : q->posted)
        if (e.invoke) e.invoke->done = true;
    q->posted.clear();
    q->quit = false;
    q->timers.clear();
    q->input_taken = q->input_posted;
    settle_in_flight(*q);
    handset::clock().wake_waiters();
}

void drop_timers(const std::shared_ptr<ThreadQueue>& q, HWND hwnd) {
    if (!q) return;
    std::lock_guard lock(kernel_lock());
    std::erase_if(q->timers, [&](const Timer& t) { return t.hwnd == hwnd; });
}

}  // namespace handset::wm

namespace handset {

void settle_input() {
    wm::ThreadQueue* mine = wm::t_queue.q.get();
    std::unique_lock lock(kernel_lock());
    std::vector<wm::ThreadQueue*> left;  // held at rest: their keys stay queued
    for (;;) {
        std::shared_ptr<wm::ThreadQueue> pending;
        for (auto& weak : wm::all_queues()) {
            auto q = weak.lock();
            if (q && q.get() != mine && q->alive && q->input_settled < q->input_posted &&
                std::find(left.begin(), left.end(), q.get()) == left.end()) {
                pending = std::move(q);
                break;
            }
        }
        if (!pending) return;
        wm::SettleWait wait;
        wait.q = pending;
        wm::wait_servicing_sent(lock, &wait);
        if (!wait.signalled()) left.push_back(pending.get());
    }
}

bool foreground_input_held() {
    std::lock_guard window_lock(wm::state().mu);
    wm::Window* front = wm::front_window();
    if (!front || !front->queue) return false;
    std::lock_guard lock(kernel_lock());
    return front->queue->alive && front->queue->held;
}

bool wait_for_input_idle(DWORD pid) {
    auto process = find_local_process(pid);
    if (!process) return false;
    wm::InputIdleWait idle;
    idle.pid = pid;
    std::unique_lock lock(kernel_lock());
    Waitable* objects[] = {&idle, process.get()};
    ++wm::g_input_idle_waits;
    const int result = handset::clock().wait(lock, objects, false, kNoDeadline);
    --wm::g_input_idle_waits;
    return result == 0;
}

int run_message_loop() {
    const DWORD tid = current_thread()->id;
    MSG msg;
    for (;;) {
        if (wm::window_count_of_thread(tid) == 0) return 0;
        if (!wm::get_message(msg)) return static_cast<int>(msg.wParam);
        wm::process_message(msg);
    }
}

}  // namespace handset

using namespace handset;
using namespace handset::wm;

LRESULT SendMessageW(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    auto target = queue_of_window(window);
    if (!target) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    if (on_queue_thread(target)) return call_window_proc(window, message, wparam, lparam);
    auto sent = std::make_shared<SentMessage>();
    sent->hwnd = window;
    sent->message = message;
    sent->wparam = wparam;
    sent->lparam = lparam;
    std::unique_lock lock(kernel_lock());
    if (!target->alive) return 0;
    target->sent.push_back(sent);
    handset::clock().wake_waiters();
    wait_servicing_sent(lock, sent.get());
    return sent->result;
}

BOOL PostMessageW(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    std::shared_ptr<ThreadQueue> target = window ? queue_of_window(window) : this_queue();
    if (!target) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    std::lock_guard lock(kernel_lock());
    if (!target->alive) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    QueuedMessage entry;
    entry.msg = MSG{window, message, wparam, lparam, static_cast<DWORD>(handset::clock().now_ms())};
    target->posted.push_back(std::move(entry));
    handset::clock().wake_waiters();
    return TRUE;
}

void PostQuitMessage(int code) {
    auto q = this_queue();
    std::lock_guard lock(kernel_lock());
    q->quit = true;
    q->quit_code = code;
    handset::clock().wake_waiters();
}

// Message filters are not supported: every message of the thread is returned.
BOOL GetMessageW(MSG* msg, HWND, UINT, UINT) {
    if (!msg) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    return get_message(*msg) ? TRUE : FALSE;
}

LRESULT DispatchMessageW(const MSG* msg) {
    if (!msg) return 0;
    if (msg->message == kInvokeMessage) {
        auto q = this_queue();
        std::shared_ptr<Invocation> inv;
        {
            std::lock_guard lock(kernel_lock());
            for (auto& candidate : q->in_flight)
                if (reinterpret_cast<LPARAM>(candidate.get()) == msg->lParam) inv = candidate;
            if (!inv || inv->started) return 0;
            inv->started = true;
        }
        // The caller is released when this thread is back in a message loop, so that it
        // sees everything the command led to (a dialog closed, another one opened).
        inv->body();
        return 0;
    }
    if (msg->message == WM_TIMER && msg->lParam) {
        reinterpret_cast<TIMERPROC>(msg->lParam)(msg->hwnd, WM_TIMER, static_cast<UINT>(msg->wParam),
                                                 static_cast<DWORD>(handset::clock().now_ms()));
        return 0;
    }
    if (!msg->hwnd) return 0;
    return call_window_proc(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

// The keypad produces no characters; key messages are used as they are.
BOOL TranslateMessage(const MSG*) { return FALSE; }

UINT SetTimer(HWND window, UINT id, UINT period_ms, TIMERPROC proc) {
    std::shared_ptr<ThreadQueue> q = window ? queue_of_window(window) : this_queue();
    if (!q) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    // The platform's shortest timer period.
    const UINT period = std::max<UINT>(period_ms, 10);
    UINT result = id;
    {
        std::lock_guard lock(kernel_lock());
        if (!window) {
            // A thread timer keeps its id when it is set again, else gets a new one.
            const bool exists = id && std::any_of(q->timers.begin(), q->timers.end(),
                                                  [&](const Timer& t) { return !t.hwnd && t.id == id; });
            if (!exists) result = g_next_thread_timer++;
        }
        auto it = std::find_if(q->timers.begin(), q->timers.end(),
                               [&](const Timer& t) { return t.hwnd == window && t.id == result; });
        Timer timer{window, result, period, handset::clock().now_ms() + period, proc};
        if (it != q->timers.end()) *it = timer;
        else q->timers.push_back(timer);
        q->kick = true;
        handset::clock().wake_waiters();
    }
    events().emit("timer.set", {{"id", result}, {"ms", period}});
    return result;
}

BOOL KillTimer(HWND window, UINT id) {
    std::shared_ptr<ThreadQueue> q = window ? queue_of_window(window) : this_queue();
    if (!q) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    bool found = false;
    {
        std::lock_guard lock(kernel_lock());
        found = std::erase_if(q->timers, [&](const Timer& t) { return t.hwnd == window && t.id == id; }) > 0;
        if (found) {
            q->kick = true;
            handset::clock().wake_waiters();
        }
    }
    if (!found) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    events().emit("timer.kill", {{"id", id}});
    return TRUE;
}
