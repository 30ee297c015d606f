// File and shell cases over device paths: creating, opening and deleting files, the
// attributes of missing paths, and launching a program that is not there. On Win32 the
// calls go through their Phone* forms, which map "\Windows\..." to the Windows folder.
#include "harness.h"

namespace conformance {
namespace {

constexpr WCHAR kFile[] = TEXT("\\Windows\\QuillonConformance.txt");
constexpr WCHAR kMissing[] = TEXT("\\Windows\\QuillonConformanceMissing.txt");
constexpr WCHAR kInMissingFolder[] = TEXT("\\Windows\\QuillonNoSuchFolder\\file.txt");
constexpr DWORD kErrorFileExists = 80;

HANDLE open_file(LPCWSTR path, DWORD disposition, DWORD share = FILE_SHARE_READ) {
    return CreateFileW(path, GENERIC_READ | GENERIC_WRITE, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// The scratch file, absent at the start and the end of a case.
struct ScratchFile {
    ScratchFile() { DeleteFileW(kFile); }
    ~ScratchFile() { DeleteFileW(kFile); }
};

Case open_missing_file() {
    return {"open_missing_file", "CreateFileW (PhoneCreateFileW)", [](Check& c) {
                SetLastError(0);
                c.eq("handle", open_file(kMissing, OPEN_EXISTING), INVALID_HANDLE_VALUE);
                c.eq("error", GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
            }};
}

Case open_missing_folder() {
    return {"open_in_missing_folder", "CreateFileW (PhoneCreateFileW)", [](Check& c) {
                SetLastError(0);
                c.eq("handle", open_file(kInMissingFolder, OPEN_EXISTING), INVALID_HANDLE_VALUE);
                c.eq("error", GetLastError(), DWORD(ERROR_PATH_NOT_FOUND));
                c.eq("create there", open_file(kInMissingFolder, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
                c.eq("error of create", GetLastError(), DWORD(ERROR_PATH_NOT_FOUND));
            }};
}

Case create_new_twice() {
    return {"create_new_on_existing_file", "CreateFileW (PhoneCreateFileW)", [](Check& c) {
                ScratchFile scratch;
                HANDLE first = open_file(kFile, CREATE_NEW);
                c.is("first", first != INVALID_HANDLE_VALUE);
                c.eq("first's error", GetLastError(), DWORD(0));
                CloseHandle(first);
                c.eq("second", open_file(kFile, CREATE_NEW), INVALID_HANDLE_VALUE);
                c.eq("error", GetLastError(), kErrorFileExists);
            }};
}

Case existing_dispositions() {
    return {"always_dispositions_report_existing", "CreateFileW (PhoneCreateFileW)", [](Check& c) {
                ScratchFile scratch;
                HANDLE h = open_file(kFile, OPEN_ALWAYS);
                c.eq("open always, new", GetLastError(), DWORD(0));
                CloseHandle(h);
                h = open_file(kFile, OPEN_ALWAYS);
                c.eq("open always, existing", GetLastError(), DWORD(ERROR_ALREADY_EXISTS));
                CloseHandle(h);
                h = open_file(kFile, CREATE_ALWAYS);
                c.eq("create always, existing", GetLastError(), DWORD(ERROR_ALREADY_EXISTS));
                CloseHandle(h);
            }};
}

Case sharing() {
    return {"open_against_sharing", "CreateFileW (PhoneCreateFileW) DeleteFileW (PhoneDeleteFileW)", [](Check& c) {
                ScratchFile scratch;
                HANDLE h = open_file(kFile, CREATE_NEW, 0);
                c.eq("second open", open_file(kFile, OPEN_EXISTING), INVALID_HANDLE_VALUE);
                c.eq("error", GetLastError(), DWORD(ERROR_SHARING_VIOLATION));
                c.eq("delete while open", DeleteFileW(kFile), FALSE);
                c.eq("delete error", GetLastError(), DWORD(ERROR_SHARING_VIOLATION));
                CloseHandle(h);
                c.eq("delete once closed", DeleteFileW(kFile), TRUE);
            }};
}

Case delete_missing() {
    return {"delete_missing_file", "DeleteFileW (PhoneDeleteFileW)", [](Check& c) {
                SetLastError(0);
                c.eq("result", DeleteFileW(kMissing), FALSE);
                c.eq("error", GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
            }};
}

Case delete_missing_folder() {
    return {"delete_in_missing_folder", "DeleteFileW (PhoneDeleteFileW)", [](Check& c) {
                SetLastError(0);
                c.eq("result", DeleteFileW(kInMissingFolder), FALSE);
                c.eq("error", GetLastError(), DWORD(ERROR_PATH_NOT_FOUND));
            }};
}

Case attributes_missing() {
    return {"attributes_of_missing_paths", "GetFileAttributesW (PhoneGetFileAttributesW)", [](Check& c) {
                SetLastError(0);
                c.eq("missing file", GetFileAttributesW(kMissing), INVALID_FILE_ATTRIBUTES);
                c.eq("its error", GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
                c.eq("missing folder", GetFileAttributesW(kInMissingFolder), INVALID_FILE_ATTRIBUTES);
                c.eq("its error", GetLastError(), DWORD(ERROR_PATH_NOT_FOUND));
            }};
}

Case attributes_present() {
    return {"attributes_of_file_and_folder", "GetFileAttributesW (PhoneGetFileAttributesW)", [](Check& c) {
                ScratchFile scratch;
                CloseHandle(open_file(kFile, CREATE_NEW));
                const DWORD file = GetFileAttributesW(kFile);
                c.is("file is no folder", file != INVALID_FILE_ATTRIBUTES && !(file & FILE_ATTRIBUTE_DIRECTORY));
                const DWORD folder = GetFileAttributesW(TEXT("\\Windows"));
                c.is("folder", folder != INVALID_FILE_ATTRIBUTES && (folder & FILE_ATTRIBUTE_DIRECTORY));
                DeleteFileW(kFile);
                c.eq("deleted", GetFileAttributesW(kFile), INVALID_FILE_ATTRIBUTES);
            }};
}

Case delete_folder() {
    return {"delete_a_folder", "DeleteFileW (PhoneDeleteFileW)", [](Check& c) {
                SetLastError(0);
                c.eq("result", DeleteFileW(TEXT("\\Windows")), FALSE);
                c.eq("error", GetLastError(), DWORD(ERROR_ACCESS_DENIED));
            }};
}

Case shell_missing() {
    return {"shell_execute_missing_file", "ShellExecuteEx (PhoneShellExecuteEx)", [](Check& c) {
                SHELLEXECUTEINFO info{};
                info.cbSize = sizeof info;
                info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
                info.lpFile = TEXT("\\Windows\\QuillonNoSuchProgram.exe");
                info.nShow = SW_SHOWNORMAL;
                SetLastError(0);
                c.eq("result", ShellExecuteEx(&info), FALSE);
                c.eq("error", GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
                c.eq("no process", info.hProcess, HANDLE(nullptr));
            }};
}

}  // namespace

Table file_table() {
    return {"files",
            {open_missing_file(), open_missing_folder(), create_new_twice(), existing_dispositions(), sharing(),
             delete_missing(), delete_missing_folder(), attributes_missing(), attributes_present(), delete_folder(),
             shell_missing()}};
}

}  // namespace conformance
