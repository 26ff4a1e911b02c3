// Driving wardtray.exe from outside, as the main job and the tray benchmark do: start it,
// find its windows by their controls, type into the logon page, press its buttons and
// answer its message boxes; and a stand-in taskbar that receives its icon.
#pragma once

#include "bench_support.h"

#include <windows.h>

#include <functional>
#include <stdlib.h>
#include <string>
#include <vector>

namespace driver {

using bench::BesideMe;
using bench::NowMs;
using bench::SetKeyDword;
using bench::SetKeyString;
using bench::StartSimulator;
using bench::WaitForService;

// Polls condition every 2 ms (finer polling only takes time from the client); false after
// timeoutMs.
inline bool WaitFor(const std::function<bool()> &condition, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start >= timeoutMs)
            return false;
        Sleep(2);
    }
    return true;
}

inline HANDLE StartProgram(const std::wstring &path, const std::wstring &arguments, DWORD *pid)
{
    return bench::StartCommand(L"\"" + path + L"\"" + (arguments.empty() ? L"" : L" " + arguments),
                               pid);
}

struct Search {
    DWORD pid;
    std::function<bool(HWND)> wanted;
    HWND found;
};

inline HWND FindDialog(DWORD pid, const std::function<bool(HWND)> &wanted)
{
    Search search = {pid, wanted, NULL};
    EnumWindows(
        [](HWND window, LPARAM lParam) -> BOOL {
            Search *s = (Search *)lParam;
            DWORD owner = 0;
            wchar_t name[16] = L"";
            GetWindowThreadProcessId(window, &owner);
            GetClassNameW(window, name, 16);
            if (owner != s->pid || lstrcmpW(name, L"#32770") != 0 || !s->wanted(window))
                return TRUE;
            s->found = window;
            return FALSE;
        },
        (LPARAM)&search);
    return search.found;
}

inline bool IsMainWindow(HWND window)
{
    return GetDlgItem(window, 1017) != NULL && GetDlgItem(window, 1015) != NULL;
}

// The main window once its initialisation has put a page in and its message loop takes
// sent messages; NULL after timeoutMs.
inline HWND WaitForMainWindow(DWORD pid, DWORD timeoutMs)
{
    HWND main = NULL;
    WaitFor(
        [&] {
            main = FindDialog(pid, IsMainWindow);
            return main != NULL && FindWindowExW(main, NULL, L"#32770", NULL) != NULL;
        },
        timeoutMs);
    DWORD_PTR answer;
    if (main != NULL && !SendMessageTimeoutW(main, WM_NULL, 0, 0, SMTO_NORMAL, timeoutMs, &answer))
        main = NULL;
    return main;
}

inline HWND Page(HWND main)
{
    return FindWindowExW(main, NULL, L"#32770", NULL);
}

inline std::wstring Text(HWND window, int id)
{
    wchar_t text[1024] = L"";
    SendDlgItemMessageW(window, id, WM_GETTEXT, 1024, (LPARAM)text);
    return text;
}

// Message boxes: their text is control 0xFFFF; the main and progress windows have none.
inline bool IsMessageBox(HWND window)
{
    return IsWindowVisible(window) && GetDlgItem(window, 0xFFFF) != NULL &&
           GetDlgItem(window, 1017) == NULL && GetDlgItem(window, 1020) == NULL;
}

inline HWND FindMessageBox(DWORD pid)
{
    return FindDialog(pid, IsMessageBox);
}

inline HWND FindProgressWindow(DWORD pid)
{
    return FindDialog(pid, [](HWND w) { return GetDlgItem(w, 1020) != NULL; });
}

// Waits for a message box, returns its text and answers it with button; "" after
// timeoutMs.
inline std::wstring AnswerMessageBox(DWORD pid, DWORD timeoutMs, double *shownAt = NULL,
                                     int button = IDOK)
{
    HWND box = NULL;
    if (!WaitFor([&] { return (box = FindMessageBox(pid)) != NULL; }, timeoutMs))
        return L"";
    if (shownAt != NULL)
        *shownAt = NowMs();
    std::wstring text = Text(box, 0xFFFF);
    PostMessageW(box, WM_COMMAND, button, 0);
    if (!WaitFor([&] { return !IsWindow(box); }, timeoutMs))
        return L"";
    return text;
}

inline void SubmitLogon(HWND main, const std::wstring &user, const std::wstring &password)
{
    HWND page = Page(main);
    SendDlgItemMessageW(page, 1003, WM_SETTEXT, 0, (LPARAM)user.c_str());
    SendDlgItemMessageW(page, 1004, WM_SETTEXT, 0, (LPARAM)password.c_str());
    PostMessageW(main, WM_COMMAND, IDOK, 0);
}

// One icon message as Wine's shell32 hands it to the taskbar window.
struct IconRecord {
    DWORD message;  // NIM_ADD, NIM_DELETE, ...
    HWND window;
    UINT id;
    UINT flags;
    UINT callback;
    std::wstring tip;
    double at;      // NowMs() when it arrived
};

// Wine's shell32 packs NOTIFYICONDATAW into this platform-independent record.
struct WineNotifyData {
    LONG hWnd;
    UINT uID;
    UINT uFlags;
    UINT uCallbackMessage;
    WCHAR szTip[128];
    DWORD dwState;
    DWORD dwStateMask;
    WCHAR szInfo[256];
    UINT uTimeout;
    WCHAR szInfoTitle[64];
    DWORD dwInfoFlags;
    GUID guidItem;
    UINT width, height, planes, bpp;
};

// A window of class "Shell_TrayWnd" on its own thread: without a display driver there is
// no taskbar, and Wine's shell32 then sends the icon data here as WM_COPYDATA (dwData:
// NIM_ADD, NIM_DELETE, ...). The caller must have no other window of that class.
class Taskbar {
public:
    Taskbar()
    {
        InitializeCriticalSection(&lock_);
        readyEvent_ = CreateEventW(NULL, TRUE, FALSE, NULL);
        thread_ = CreateThread(NULL, 0, Run, this, 0, NULL);
        WaitForSingleObject(readyEvent_, 10000);
        CloseHandle(readyEvent_);
    }
    ~Taskbar()
    {
        ReleaseHeld();
        if (window_ != NULL)
            PostMessageW(window_, WM_CLOSE, 0, 0);
        WaitForSingleObject(thread_, 10000);
        CloseHandle(thread_);
        if (release_ != NULL)
            CloseHandle(release_);
        DeleteCriticalSection(&lock_);
    }
    // The next NIM_ADD is recorded at once but answered only at ReleaseHeld(): its sender
    // stays inside Shell_NotifyIconW meanwhile, as with a taskbar that is slow to answer.
    void HoldNextAdd()
    {
        if (release_ == NULL)
            release_ = CreateEventW(NULL, TRUE, FALSE, NULL);
        ResetEvent(release_);
        InterlockedExchange(&holdAdd_, 1);
    }
    void ReleaseHeld()
    {
        if (release_ != NULL)
            SetEvent(release_);
    }
    bool Ready() const { return window_ != NULL; }
    std::vector<IconRecord> Records()
    {
        EnterCriticalSection(&lock_);
        std::vector<IconRecord> copy = records_;
        LeaveCriticalSection(&lock_);
        return copy;
    }
    bool WaitForRecords(size_t count, DWORD timeoutMs)
    {
        return WaitFor([&] { return Records().size() >= count; }, timeoutMs);
    }
    // When the count-th icon message of kind message arrived; 0 if not yet.
    double Arrived(DWORD message, int count)
    {
        int seen = 0;
        for (const IconRecord &record : Records()) {
            if (record.message == message && ++seen == count)
                return record.at;
        }
        return 0;
    }

private:
    static DWORD WINAPI Run(LPVOID self)
    {
        Taskbar *taskbar = (Taskbar *)self;
        WNDCLASSW windowClass = {};
        windowClass.lpfnWndProc = Proc;
        windowClass.hInstance = GetModuleHandleW(NULL);
        windowClass.lpszClassName = L"Shell_TrayWnd";
        RegisterClassW(&windowClass);  // fails harmlessly when an earlier taskbar registered it
        HWND window = CreateWindowExW(0, L"Shell_TrayWnd", L"", WS_POPUP, 0, 0, 1, 1, NULL, NULL,
                                      GetModuleHandleW(NULL), taskbar);
        taskbar->window_ = window;
        SetEvent(taskbar->readyEvent_);
        MSG message;
        while (window != NULL && GetMessageW(&message, NULL, 0, 0) > 0)
            DispatchMessageW(&message);
        return 0;
    }
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
    {
        if (message == WM_NCCREATE)
            SetWindowLongPtrW(window, GWLP_USERDATA,
                              (LONG_PTR)((CREATESTRUCTW *)lParam)->lpCreateParams);
        Taskbar *taskbar = (Taskbar *)GetWindowLongPtrW(window, GWLP_USERDATA);
        switch (message) {
        case WM_COPYDATA: {
            const COPYDATASTRUCT *copy = (const COPYDATASTRUCT *)lParam;
            if (copy->cbData < sizeof(WineNotifyData))
                return FALSE;
            const WineNotifyData *data = (const WineNotifyData *)copy->lpData;
            IconRecord record = {(DWORD)copy->dwData, (HWND)wParam, data->uID, data->uFlags,
                                 data->uCallbackMessage, data->szTip, NowMs()};
            if (record.message == NIM_ADD && InterlockedExchange(&taskbar->holdAdd_, 0)) {
                taskbar->Add(record);
                WaitForSingleObject(taskbar->release_, 60000);
                return TRUE;
            }
            // Release the sender before the record shows: once a caller sees it, the
            // client has gone on with its initialisation.
            ReplyMessage(TRUE);
            taskbar->Add(record);
            return TRUE;
        }
        case WM_CLOSE:
            DestroyWindow(window);
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        }
        return DefWindowProcW(window, message, wParam, lParam);
    }

    void Add(const IconRecord &record)
    {
        EnterCriticalSection(&lock_);
        records_.push_back(record);
        LeaveCriticalSection(&lock_);
    }

    HANDLE thread_ = NULL;
    HANDLE readyEvent_ = NULL;
    HANDLE release_ = NULL;
    LONG holdAdd_ = 0;
    HWND window_ = NULL;
    CRITICAL_SECTION lock_;
    std::vector<IconRecord> records_;
};

}  // namespace driver
