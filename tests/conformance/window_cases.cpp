// Window and message cases: finding windows by title and class, their thread and
// process, the order in which sent and posted messages arrive (recorded and compared
// with an expected sequence, as Wine's ok_seq does), messages to another thread's
// window, timers replaced and killed and ticking under a modal dialog, and WM_QUIT
// posted inside nested loops.
#include "harness.h"
#include "probe.h"

namespace conformance {
namespace {

constexpr UINT kA = WM_APP + 1, kB = WM_APP + 2, kC = WM_APP + 3, kEnd = WM_APP + 9;

// The messages from WM_APP up among those a probe saw.
std::vector<Seen> private_messages(const ProbeDialog& probe) {
    std::vector<Seen> out;
    for (const Seen& s : probe.seen)
        if (s.message >= WM_APP) out.push_back(s);
    return out;
}

std::vector<UINT> timer_ids(const ProbeDialog& probe) {
    std::vector<UINT> out;
    for (const Seen& s : probe.seen)
        if (s.message == WM_TIMER) out.push_back(static_cast<UINT>(s.wparam));
    return out;
}

// kEnd ends the probe with its wParam.
std::optional<LRESULT> end_on_request(ProbeDialog& p, UINT message, WPARAM wparam, LPARAM) {
    if (message != kEnd) return std::nullopt;
    p.EndDialog(static_cast<int>(wparam));
    return 0;
}

Case find_by_title() {
    return {"find_window_by_title", "FindWindowW", [](Check& c) {
                ProbeDialog probe;
                HWND found = nullptr;
                probe.steps = [&](ProbeDialog& p) {
                    found = FindWindowW(nullptr, kProbeTitle);
                    p.EndDialog(0);
                };
                probe.DoModal();
                c.is("found", found != nullptr);
                c.eq("after its end", FindWindowW(nullptr, kProbeTitle), HWND(nullptr));
            }};
}

Case find_by_class() {
    return {"find_window_by_class", "FindWindowW", [](Check& c) {
                ProbeDialog probe;
                HWND self = nullptr, by_class = nullptr, by_both = nullptr, wrong_class = nullptr;
                probe.steps = [&](ProbeDialog& p) {
                    self = p.m_hWnd;
                    by_class = FindWindowW(TEXT("#32770"), nullptr);
                    by_both = FindWindowW(TEXT("#32770"), kProbeTitle);
                    wrong_class = FindWindowW(TEXT("QuillonNoSuchClass"), kProbeTitle);
                    p.EndDialog(0);
                };
                probe.DoModal();
                c.is("a dialog by class alone", by_class != nullptr);
                c.eq("class and title", by_both, self);
                c.eq("title under another class", wrong_class, HWND(nullptr));
            }};
}

Case thread_and_process() {
    return {"window_thread_and_process", "GetWindowThreadProcessId", [](Check& c) {
                ProbeDialog probe;
                DWORD thread = 0, process = 0;
                HWND window = nullptr;
                probe.steps = [&](ProbeDialog& p) {
                    window = p.m_hWnd;
                    thread = GetWindowThreadProcessId(p.m_hWnd, &process);
                    p.EndDialog(0);
                };
                probe.DoModal();
                c.eq("thread", thread, GetCurrentThreadId());
                c.eq("process", process, GetCurrentProcessId());
                DWORD gone_process = 99;
                c.eq("destroyed window", GetWindowThreadProcessId(window, &gone_process), DWORD(0));
                c.is("is gone", !IsWindow(window));
            }};
}

Case sent_before_posted() {
    return {"sent_overtakes_posted", "PostMessageW SendMessageW", [](Check& c) {
                ProbeDialog probe;
                probe.on_message = end_on_request;
                probe.steps = [](ProbeDialog& p) {
                    PostMessageW(p.m_hWnd, kA, 1, 0);
                    SendMessageW(p.m_hWnd, kB, 2, 0);
                    PostMessageW(p.m_hWnd, kC, 3, 0);
                    PostMessageW(p.m_hWnd, kEnd, 0, 0);
                };
                probe.DoModal();
                c.eq("sequence", private_messages(probe), std::vector<Seen>{{kB, 2}, {kA, 1}, {kC, 3}, {kEnd, 0}});
            }};
}

Case nested_send() {
    return {"send_inside_a_handler", "SendMessageW PostMessageW", [](Check& c) {
                ProbeDialog probe;
                probe.on_message = [](ProbeDialog& p, UINT m, WPARAM w, LPARAM l) -> std::optional<LRESULT> {
                    if (m == kA) {
                        PostMessageW(p.m_hWnd, kC, 0, 0);
                        return SendMessageW(p.m_hWnd, kB, 0, 0) + 1;
                    }
                    if (m == kB) return 40;
                    return end_on_request(p, m, w, l);
                };
                LRESULT result = 0;
                probe.steps = [&](ProbeDialog& p) {
                    result = SendMessageW(p.m_hWnd, kA, 0, 0);
                    PostMessageW(p.m_hWnd, kEnd, 0, 0);
                };
                probe.DoModal();
                c.eq("sequence", private_messages(probe), std::vector<Seen>{{kA, 0}, {kB, 0}, {kC, 0}, {kEnd, 0}});
                c.eq("result through both", result, LRESULT(41));
            }};
}

Case posted_in_order() {
    return {"posted_in_order", "PostMessageW", [](Check& c) {
                ProbeDialog probe;
                probe.on_message = end_on_request;
                probe.steps = [](ProbeDialog& p) {
                    for (WPARAM i = 1; i <= 4; ++i) PostMessageW(p.m_hWnd, kA, i, 0);
                    PostMessageW(p.m_hWnd, kEnd, 0, 0);
                };
                probe.DoModal();
                c.eq("sequence", private_messages(probe),
                     std::vector<Seen>{{kA, 1}, {kA, 2}, {kA, 3}, {kA, 4}, {kEnd, 0}});
            }};
}

Case post_to_dead_window() {
    return {"post_to_destroyed_window", "PostMessageW SendMessageW GetLastError", [](Check& c) {
                ProbeDialog probe;
                HWND window = nullptr;
                probe.steps = [&](ProbeDialog& p) {
                    window = p.m_hWnd;
                    p.EndDialog(0);
                };
                probe.DoModal();
                SetLastError(0);
                c.eq("post", PostMessageW(window, kA, 0, 0), FALSE);
                c.eq("error", GetLastError(), DWORD(ERROR_INVALID_WINDOW_HANDLE));
                c.eq("send", SendMessageW(window, kA, 0, 0), LRESULT(0));
            }};
}

// A probe dialog on a thread of its own, for the cases that reach it from another.
struct Remote {
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HWND window = nullptr;
    DWORD thread_id = 0;
    std::vector<Seen> seen;

    static DWORD run(LPVOID param) {
        auto* self = static_cast<Remote*>(param);
        ProbeDialog probe;
        probe.steps = [self](ProbeDialog& p) {
            self->window = p.m_hWnd;
            self->thread_id = GetCurrentThreadId();
            SetEvent(self->ready);
        };
        probe.on_message = [](ProbeDialog& p, UINT m, WPARAM w, LPARAM l) -> std::optional<LRESULT> {
            if (m == kA) return static_cast<LRESULT>(GetCurrentThreadId());
            return end_on_request(p, m, w, l);
        };
        const INT_PTR result = probe.DoModal();
        self->seen = private_messages(probe);
        return static_cast<DWORD>(result);
    }
};

Case send_other_thread() {
    return {"send_to_another_threads_window", "SendMessageW GetWindowThreadProcessId", [](Check& c) {
                Remote remote;
                HANDLE thread = CreateThread(nullptr, 0, &Remote::run, &remote, 0, nullptr);
                c.eq("ready", WaitForSingleObject(remote.ready, 10000), WAIT_OBJECT_0);
                c.eq("window's thread", GetWindowThreadProcessId(remote.window, nullptr), remote.thread_id);
                const LRESULT handled_on = SendMessageW(remote.window, kA, 0, 0);
                c.eq("handled on its thread", static_cast<DWORD>(handled_on), remote.thread_id);
                c.is("not ours", remote.thread_id != GetCurrentThreadId());
                PostMessageW(remote.window, kB, 1, 0);
                PostMessageW(remote.window, kEnd, 7, 0);
                WaitForSingleObject(thread, 10000);
                DWORD code = 0;
                GetExitCodeThread(thread, &code);
                c.eq("its dialog's result", code, DWORD(7));
                c.eq("sequence there", remote.seen, std::vector<Seen>{{kA, 0}, {kB, 1}, {kEnd, 7}});
                CloseHandle(thread);
                CloseHandle(remote.ready);
            }};
}

Case timer_replaced() {
    return {"set_timer_again_replaces_it", "SetTimer KillTimer", [](Check& c) {
                ProbeDialog probe;
                DWORD start = 0, elapsed = 0;
                UINT first = 0, second = 0;
                probe.steps = [&](ProbeDialog& p) {
                    start = GetTickCount();
                    first = SetTimer(p.m_hWnd, 5, 20000, nullptr);
                    second = SetTimer(p.m_hWnd, 5, 30, nullptr);
                };
                probe.on_message = [&](ProbeDialog& p, UINT m, WPARAM w, LPARAM) -> std::optional<LRESULT> {
                    if (m != WM_TIMER || w != 5) return std::nullopt;
                    elapsed = GetTickCount() - start;
                    KillTimer(p.m_hWnd, 5);
                    p.EndDialog(0);
                    return 0;
                };
                probe.DoModal();
                c.eq("ids", std::vector<UINT>{first, second}, std::vector<UINT>{5, 5});
                c.is("ticked at the new period", elapsed >= 20 && elapsed < 10000);
                c.eq("ticks", timer_ids(probe), std::vector<UINT>{5});
            }};
}

Case kill_twice() {
    return {"kill_timer_twice", "SetTimer KillTimer", [](Check& c) {
                ProbeDialog probe;
                BOOL first = FALSE, second = TRUE;
                probe.steps = [&](ProbeDialog& p) {
                    SetTimer(p.m_hWnd, 7, 10, nullptr);
                    first = KillTimer(p.m_hWnd, 7);
                    second = KillTimer(p.m_hWnd, 7);
                    SetTimer(p.m_hWnd, 8, 60, nullptr);
                };
                probe.on_message = [](ProbeDialog& p, UINT m, WPARAM w, LPARAM) -> std::optional<LRESULT> {
                    if (m != WM_TIMER || w != 8) return std::nullopt;
                    KillTimer(p.m_hWnd, 8);
                    p.EndDialog(0);
                    return 0;
                };
                probe.DoModal();
                c.eq("first", first, TRUE);
                c.eq("second", second, FALSE);
                c.eq("ticks", timer_ids(probe), std::vector<UINT>{8});
            }};
}

Case timer_under_modal() {
    return {"timer_ticks_under_a_modal_dialog", "SetTimer DialogBox (CDialog::DoModal)", [](Check& c) {
                ProbeDialog owner;
                ProbeDialog inner(kProbeDialog, &owner);
                int ticks_while_inner = 0;
                bool inner_running = false;
                INT_PTR inner_result = 0;
                owner.steps = [&](ProbeDialog& p) {
                    SetTimer(p.m_hWnd, 9, 20, nullptr);
                    inner_running = true;
                    inner_result = inner.DoModal();
                    inner_running = false;
                    KillTimer(p.m_hWnd, 9);
                    p.EndDialog(0);
                };
                owner.on_message = [&](ProbeDialog&, UINT m, WPARAM w, LPARAM) -> std::optional<LRESULT> {
                    if (m != WM_TIMER || w != 9) return std::nullopt;
                    if (inner_running && ++ticks_while_inner == 3) inner.EndDialog(55);
                    return 0;
                };
                owner.DoModal();
                c.eq("ticks while the inner dialog ran", ticks_while_inner, 3);
                c.eq("inner result", inner_result, INT_PTR(55));
            }};
}

Case quit_in_nested_loop() {
    return {"quit_inside_nested_loops", "PostQuitMessage GetMessageW DialogBox (CDialog::DoModal)", [](Check& c) {
                ProbeDialog outer;
                ProbeDialog inner(kProbeDialog, &outer);
                inner.steps = [](ProbeDialog&) { PostQuitMessage(5); };
                INT_PTR inner_result = 0;
                outer.on_message = end_on_request;
                outer.steps = [&](ProbeDialog& p) {
                    inner_result = inner.DoModal();
                    PostMessageW(p.m_hWnd, kEnd, 3, 0);
                };
                const INT_PTR outer_result = outer.DoModal();
                // The framework's modal loop takes the quit as the end of its dialog alone;
                // the loop around it goes on until its own dialog ends.
                c.eq("inner loop ends", inner_result, INT_PTR(-1));
                c.eq("the outer one goes on", outer_result, INT_PTR(3));
            }};
}

}  // namespace

Table window_table() {
    return {"windows",
            {find_by_title(), find_by_class(), thread_and_process(), sent_before_posted(), nested_send(),
             posted_in_order(), post_to_dead_window(), send_other_thread(), timer_replaced(), kill_twice(),
             timer_under_modal(), quit_in_nested_loop()}};
}

}  // namespace conformance
