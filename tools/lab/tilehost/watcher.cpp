// Watches the tile's dialogs: logs each change of the progress dialog's step text (control
// 1001 of dialog 101) and every message box (text in control 0xFFFF), answering boxes as told.
// A step set on the submitting thread is noted by a hook that runs after the dialog handled
// WM_SETTEXT, so a short step is not lost and a poll just before the set cannot log the old
// text after the new one. A thread of its own polls for the rest, reading texts with
// InternalGetWindowText, which sends no message: a busy dialog thread never stalls it.
#include "tilehost.h"
#include "dialogs.h"

enum {
    STEP_TEXT_ID = 1001,
    PROGRESS_BAR_ID = 1020,
    POLL_MS = 20,
    MAX_TRACKED = 64,
};

static HANDLE g_thread;
static HANDLE g_stop;
static HHOOK g_hook;
static BoxAnswer g_answer;
// The hook (on the submitting thread) and the polling thread share the tracked windows.
static CRITICAL_SECTION g_lock;

// Windows already handled: boxes answered, and the last step text of each progress dialog.
static struct Tracked {
    HWND window;
    wchar_t text[300];
} g_tracked[MAX_TRACKED];

// The window's entry, taking a free one (*added) when it has none; NULL when all are taken.
static Tracked *Track(HWND window, BOOL *added)
{
    *added = FALSE;
    for (Tracked &t : g_tracked) {
        if (t.window == window)
            return &t;
    }
    for (Tracked &t : g_tracked) {
        if (t.window == NULL || !IsWindow(t.window)) {
            t.window = window;
            t.text[0] = L'\0';
            *added = TRUE;
            return &t;
        }
    }
    return NULL;
}

static void WatchBox(HWND box)
{
    BOOL added;
    Tracked *tracked = Track(box, &added);
    if (tracked != NULL && !added)
        return;
    wchar_t text[1024], caption[300], flat[2048];
    InternalGetWindowText(GetDlgItem(box, test::MESSAGE_BOX_TEXT_ID), text, 1024);
    InternalGetWindowText(box, caption, 300);
    const wchar_t *answered = L"left open";
    if (g_answer != ANSWER_NONE) {
        // A box with only OK is answered OK whatever was asked.
        WORD button = g_answer == ANSWER_CANCEL && GetDlgItem(box, IDCANCEL) != NULL ? IDCANCEL : IDOK;
        PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
        answered = button == IDOK ? L"answered OK" : L"answered Cancel";
    }
    Log(L"box: %ls | %ls | %ls", OneLine(text, flat, 2048), caption, answered);
    if (tracked == NULL)
        Log(L"watcher: too many open dialogs to track");
}

static BOOL IsProgressDialog(HWND dialog)
{
    wchar_t className[16];
    return dialog != NULL && GetClassNameW(dialog, className, 16) != 0 && wcscmp(className, L"#32770") == 0 &&
           GetDlgItem(dialog, STEP_TEXT_ID) != NULL && GetDlgItem(dialog, PROGRESS_BAR_ID) != NULL;
}

// Logs text as the dialog's step unless it is the one logged last; caller holds g_lock.
static void NoteStep(HWND dialog, const wchar_t *text)
{
    BOOL added;
    Tracked *tracked = Track(dialog, &added);
    if (tracked == NULL)
        return;
    if (added) {
        wchar_t caption[300];
        InternalGetWindowText(dialog, caption, 300);
        Log(L"progress: %ls", caption);
    }
    if (wcscmp(text, tracked->text) != 0) {
        lstrcpynW(tracked->text, text, 300);
        wchar_t flat[600];
        Log(L"step: %ls", OneLine(text, flat, 600));
    }
}

// Every message sent on the submitting thread passes here after its window handled it.
static LRESULT CALLBACK SentMessageHook(int code, WPARAM wParam, LPARAM lParam)
{
    const CWPRETSTRUCT *sent = reinterpret_cast<const CWPRETSTRUCT *>(lParam);
    if (code == HC_ACTION && sent != NULL && sent->message == WM_SETTEXT && sent->lParam != 0 &&
        GetDlgCtrlID(sent->hwnd) == STEP_TEXT_ID && IsProgressDialog(GetParent(sent->hwnd))) {
        EnterCriticalSection(&g_lock);
        NoteStep(GetParent(sent->hwnd), reinterpret_cast<const wchar_t *>(sent->lParam));
        LeaveCriticalSection(&g_lock);
    }
    return CallNextHookEx(g_hook, code, wParam, lParam);
}

static DWORD WINAPI WatcherThread(LPVOID)
{
    do {
        auto shown = [](HWND dialog) { return IsWindowVisible(dialog) != FALSE; };
        for (HWND dialog : test::FindDialogs(GetCurrentProcessId(), shown)) {
            EnterCriticalSection(&g_lock);
            if (test::IsMessageBox(dialog))
                WatchBox(dialog);
            else if (IsProgressDialog(dialog)) {
                wchar_t text[300];
                InternalGetWindowText(GetDlgItem(dialog, STEP_TEXT_ID), text, 300);
                NoteStep(dialog, text);
            }
            LeaveCriticalSection(&g_lock);
        }
    } while (WaitForSingleObject(g_stop, POLL_MS) == WAIT_TIMEOUT);
    return 0;
}

void StartDialogWatcher(BoxAnswer answer)
{
    g_answer = answer;
    InitializeCriticalSection(&g_lock);
    g_hook = SetWindowsHookExW(WH_CALLWNDPROCRET, SentMessageHook, NULL, GetCurrentThreadId());
    g_stop = CreateEventW(NULL, TRUE, FALSE, NULL);
    if (g_stop != NULL)
        g_thread = CreateThread(NULL, 0, WatcherThread, NULL, 0, NULL);
}

void StopDialogWatcher(void)
{
    if (g_thread != NULL) {
        SetEvent(g_stop);
        WaitForSingleObject(g_thread, INFINITE);
        CloseHandle(g_thread);
        g_thread = NULL;
    }
    if (g_stop != NULL) {
        CloseHandle(g_stop);
        g_stop = NULL;
    }
    if (g_hook != NULL) {
        UnhookWindowsHookEx(g_hook);
        g_hook = NULL;
    }
    DeleteCriticalSection(&g_lock);
}
