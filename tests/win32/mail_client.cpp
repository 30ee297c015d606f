// quillon-mail.exe: a stand-in for the carrier's mail client on the desktop, installed
// as "C:\windows\e mail.exe" in the tests' Wine prefix. It shows a top-level window
// titled "e-mail" and runs until that window is closed, which is all Quillon sees of
// the real client: it finds the window, closes it and starts the client again.
#include <windows.h>

namespace {

LRESULT CALLBACK window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) {
    WNDCLASSW window_class{};
    window_class.lpfnWndProc = window_proc;
    window_class.hInstance = instance;
    window_class.lpszClassName = L"QuillonMailStandIn";
    RegisterClassW(&window_class);
    HWND window = CreateWindowExW(0, window_class.lpszClassName, L"e-mail", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 600,
                                  0, 200, 120, nullptr, nullptr, instance, nullptr);
    if (window == nullptr) return 1;
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}
