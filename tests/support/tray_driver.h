// Driving wardtray.exe from outside, as the tests, the main job and the tray benchmark do:
// start it, find its windows by their controls, type into the logon page, press its buttons
// and answer its message boxes; and a stand-in taskbar that receives its icon.
#pragma once

#include "bench_support.h"
#include "dialogs.h"
#include "wardtray_res.h"

#include <windows.h>

#include <functional>
#include <stdio.h>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace driver {

// Polls condition every 2 ms (finer polling only takes time from the client); false after
// timeoutMs.
inline bool WaitFor(const std::function<bool()> &condition, DWORD timeoutMs)
{
    return test::PollUntil(condition, timeoutMs, 2);
}

inline HWND FindDialog(DWORD pid, const test::DialogMatch &wanted)
{
    std::vector<HWND> found = test::FindDialogs(pid, wanted);
    return found.empty() ? NULL : found.front();
}

inline bool IsMainWindow(HWND window)
{
    return GetDlgItem(window, IDC_PICTURE) != NULL && GetDlgItem(window, IDC_MODE_CHANGE) != NULL;
}

// The client's own dialogs label their fields with static controls of the message box's
// text id too: a box is a dialog without the main window's picture or the progress bar.
inline bool IsMessageBox(HWND window)
{
    return IsWindowVisible(window) && test::IsMessageBox(window) && GetDlgItem(window, IDC_PICTURE) == NULL &&
           GetDlgItem(window, IDC_PROGRESS_BAR) == NULL;
}

inline HWND Page(HWND main)
{
    return FindWindowExW(main, NULL, L"#32770", NULL);
}

// As Windows (and wineboot -e) ends a session: WM_QUERYENDSESSION if ask, then WM_ENDSESSION
// with ending; whether main agreed and took each within timeoutMs.
inline bool EndSession(HWND main, DWORD timeoutMs, WPARAM ending = TRUE, bool ask = false)
{
    DWORD_PTR answer = 1;
    if (ask && !SendMessageTimeoutW(main, WM_QUERYENDSESSION, 0, 0, SMTO_NORMAL, timeoutMs, &answer))
        return false;
    return answer != 0 && SendMessageTimeoutW(main, WM_ENDSESSION, ending, 0, SMTO_NORMAL, timeoutMs, &answer);
}

// wardtray.exe as a child process and its windows; killed when this goes.
class Client {
public:
    ~Client() { Kill(); }
    // Starts program (by default wardtray.exe beside this one) with arguments.
    bool Start(const std::wstring &arguments = L"", const std::wstring &program = L"")
    {
        std::wstring path = program.empty() ? bench::BesideMe(L"wardtray.exe") : program;
        std::wstring line = L"\"" + path + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
        process_ = bench::StartCommand(line, &pid_);
        return process_ != NULL;
    }
    // Start and WaitForMainWindow: the main window, or NULL.
    HWND Open(const std::wstring &arguments = L"", const std::wstring &program = L"", DWORD timeoutMs = 30000)
    {
        return Start(arguments, program) ? WaitForMainWindow(timeoutMs) : NULL;
    }
    HANDLE Process() const { return process_; }
    // The main window once its initialisation has put a page in and its message loop takes
    // sent messages; NULL after timeoutMs.
    HWND WaitForMainWindow(DWORD timeoutMs = 30000)
    {
        auto shown = [&] { return (main_ = FindDialog(pid_, IsMainWindow)) != NULL && driver::Page(main_) != NULL; };
        if (!WaitFor(shown, timeoutMs) || !test::WaitUntilHandled(main_, timeoutMs))
            main_ = NULL;
        return main_;
    }
    HWND Main() const { return main_; }
    HWND Page() const { return driver::Page(main_); }
    // The dialog box shows its window only once its queue is empty, and the first paint
    // follows at once: a client waiting for input with nothing pending has done both (the
    // "-t" switch hides the window at that first paint).
    void WaitUntilIdle() { WaitForInputIdle(process_, 10000); }
    HWND FindProgressWindow()
    {
        return FindDialog(pid_, [](HWND w) { return GetDlgItem(w, IDC_PROGRESS_BAR) != NULL; });
    }
    int CountMessageBoxes() { return (int)test::FindDialogs(pid_, IsMessageBox).size(); }
    // Waits for a message box of the client; its text, or "<no box>".
    std::wstring WaitForMessageBox(DWORD timeoutMs, HWND *box = NULL)
    {
        HWND found = NULL;
        if (!WaitFor([&] { return (found = FindDialog(pid_, IsMessageBox)) != NULL; }, timeoutMs))
            return L"<no box>";
        if (box != NULL)
            *box = found;
        return test::ItemText(found, test::MESSAGE_BOX_TEXT_ID);
    }
    // Waits for a message box and answers it with button; its text, or "<no box>" when none
    // came or it did not go within timeoutMs.
    std::wstring AnswerMessageBox(int button = IDOK, DWORD timeoutMs = 30000)
    {
        HWND box = NULL;
        std::wstring text = WaitForMessageBox(timeoutMs, &box);
        return box != NULL && test::AnswerDialog(box, button, timeoutMs) ? text : L"<no box>";
    }
    bool WaitForExit(DWORD timeoutMs, DWORD *exitCode = NULL)
    {
        if (process_ == NULL || WaitForSingleObject(process_, timeoutMs) != WAIT_OBJECT_0)
            return false;
        if (exitCode != NULL)
            GetExitCodeProcess(process_, exitCode);
        return true;
    }
    void Kill()
    {
        if (process_ == NULL)
            return;
        TerminateProcess(process_, 1);
        WaitForSingleObject(process_, 10000);
        CloseHandle(process_);
        process_ = NULL;
    }
    // Types into the logon page and presses OK.
    void SubmitLogon(const std::wstring &user, const std::wstring &password)
    {
        SendDlgItemMessageW(Page(), IDC_USER_NAME, WM_SETTEXT, 0, (LPARAM)user.c_str());
        SendDlgItemMessageW(Page(), IDC_PASSWORD, WM_SETTEXT, 0, (LPARAM)password.c_str());
        PostMessageW(main_, WM_COMMAND, IDOK, 0);
    }
    // The page is replaced by destroying one and creating the other, and its texts are set
    // after it is created: wait for the page by its own control and for its message loop.
    bool WaitForPage(int control, DWORD timeoutMs)
    {
        return WaitFor([&] { return GetDlgItem(Page(), control) != NULL; }, timeoutMs) &&
               test::WaitUntilHandled(main_, timeoutMs);
    }

private:
    HANDLE process_ = NULL;
    DWORD pid_ = 0;
    HWND main_ = NULL;
};

// One icon message as Wine's shell32 hands it to the taskbar window.
struct IconRecord {
    DWORD message;  // NIM_ADD, NIM_DELETE, ...
    HWND window;
    UINT flags;
    UINT callback;
    std::wstring tip;
    double at;      // bench::NowMs() when it arrived
};

// The head of the platform-independent record into which Wine's shell32 packs
// NOTIFYICONDATAW (more fields follow).
struct WineNotifyData {
    LONG hWnd;
    UINT uID;
    UINT uFlags;
    UINT uCallbackMessage;
    WCHAR szTip[128];
};

// A window of class "Shell_TrayWnd" on its own thread: without a display driver there is
// no taskbar, and Wine's shell32 then sends the icon data here as WM_COPYDATA (dwData:
// NIM_ADD, NIM_DELETE, ...). The caller must have no other window of that class.
class Taskbar {
public:
    Taskbar()
    {
        HANDLE ready = CreateEventW(NULL, TRUE, FALSE, NULL);
        thread_ = std::thread([this, ready] { Run(ready); });
        WaitForSingleObject(ready, INFINITE);  // set once the window is made or has failed
        CloseHandle(ready);
    }
    ~Taskbar()
    {
        ReleaseHeld();
        if (window_ != NULL)
            PostMessageW(window_, WM_CLOSE, 0, 0);
        thread_.join();
        CloseHandle(release_);
    }
    // The next NIM_ADD is recorded at once but answered only at ReleaseHeld(): its sender
    // stays inside Shell_NotifyIconW meanwhile, as with a taskbar that is slow to answer.
    void HoldNextAdd()
    {
        ResetEvent(release_);
        InterlockedExchange(&holdAdd_, 1);
    }
    void ReleaseHeld() { SetEvent(release_); }
    bool Ready() const { return window_ != NULL; }
    std::vector<IconRecord> Records()
    {
        std::lock_guard<std::mutex> hold(lock_);
        return records_;
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
    void Run(HANDLE ready)
    {
        WNDCLASSW windowClass = {0, Proc, 0, 0, GetModuleHandleW(NULL), NULL, NULL, NULL, NULL,
                                 L"Shell_TrayWnd"};
        RegisterClassW(&windowClass);  // fails harmlessly when an earlier taskbar registered it
        window_ = CreateWindowExW(0, L"Shell_TrayWnd", L"", WS_POPUP, 0, 0, 1, 1, NULL, NULL,
                                  GetModuleHandleW(NULL), this);
        SetEvent(ready);
        MSG message;
        while (window_ != NULL && GetMessageW(&message, NULL, 0, 0) > 0)
            DispatchMessageW(&message);
    }
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
    {
        if (message == WM_NCCREATE)
            SetWindowLongPtrW(window, GWLP_USERDATA, (LONG_PTR)((CREATESTRUCTW *)lParam)->lpCreateParams);
        Taskbar *taskbar = (Taskbar *)GetWindowLongPtrW(window, GWLP_USERDATA);
        if (message == WM_DESTROY)
            PostQuitMessage(0);
        if (message != WM_COPYDATA)
            return DefWindowProcW(window, message, wParam, lParam);  // WM_CLOSE destroys
        const COPYDATASTRUCT *copy = (const COPYDATASTRUCT *)lParam;
        if (copy->cbData < sizeof(WineNotifyData))
            return FALSE;
        const WineNotifyData *data = (const WineNotifyData *)copy->lpData;
        IconRecord record = {(DWORD)copy->dwData, (HWND)wParam, data->uFlags,
                             data->uCallbackMessage, data->szTip, bench::NowMs()};
        bool hold = record.message == NIM_ADD && InterlockedExchange(&taskbar->holdAdd_, 0);
        // Otherwise release the sender before the record shows: once a caller sees it, the
        // client has gone on with its initialisation.
        if (!hold)
            ReplyMessage(TRUE);
        {
            std::lock_guard<std::mutex> lock(taskbar->lock_);
            taskbar->records_.push_back(record);
        }
        if (hold)
            WaitForSingleObject(taskbar->release_, 60000);
        return TRUE;
    }

    std::thread thread_;
    HANDLE release_ = CreateEventW(NULL, TRUE, TRUE, NULL);
    LONG holdAdd_ = 0;
    HWND window_ = NULL;
    std::mutex lock_;
    std::vector<IconRecord> records_;
};

}  // namespace driver
