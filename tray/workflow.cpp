// Logon and logoff through the service: a topmost progress window with a marquee runs the
// steps ("logon"/"logoff", then "iprenew" when EnableDHCP is on), each step's pipe call on
// a worker thread of its own. Workers own a copy of what they need, report with at most
// one message box, and post their outcome to the window, which ends itself. At the
// session's end the running request is stopped (EndRunningRequest) so that the logoff
// that follows finds the service free. What the main window shows afterwards is its own.
#include <windows.h>
#include <commctrl.h>
#include <process.h>

#include "product_key.h"
#include "time_limits.h"
#include "ward_client.h"
#include "wardtray_res.h"
#include "workflow.h"

// Private messages of the progress window.
#define WM_PROGRESS_START       (WM_USER + 101)  // from WM_INITDIALOG: start the first step
#define WM_PROGRESS_RENEW       (WM_USER + 102)  // "logon"/"logoff" accepted: renewal step
#define WM_PROGRESS_FINDDOMAIN  (WM_USER + 103)  // "iprenew" after logon accepted
#define WM_PROGRESS_DONE        (WM_USER + 104)  // wParam: the window's result, 1 or 2

enum {
    DEADLINE_TIMER = 1,
    MARQUEE_STEP_MS = 20,
};

typedef enum WorkerStep {
    STEP_LOGON,
    STEP_LOGOFF,
    STEP_RENEW_AFTER_LOGON,
    STEP_RENEW_AFTER_LOGOFF,
} WorkerStep;

// The progress window's user data; lives on the stack of RunLogonProgress or
// RunLogoffProgress until the window has ended. Workers never read it; they get their own
// copies of the two events.
struct ProgressRecord {
    HINSTANCE instance;
    BOOL logon;          // the logon sequence, else the logoff sequence
    BOOL quiet;          // the session is ending: no message boxes
    DWORD deadline;      // tick count at which the window gives up; 0: none
    LPCWSTR request;     // the "logon" request text (logon sequence only)
    HWND window;
    BOOL abandoned;      // the session ended while it ran: no further step
    HANDLE stop;         // set when the window has ended or is abandoned: waits end, no boxes
    HANDLE callDone;     // set while no pipe call of this window is under way
};

// Owned by one worker, which wipes and frees it.
typedef struct WorkerTask {
    HINSTANCE instance;
    HWND progress;
    WorkerStep step;
    BOOL quiet;
    DWORD waitSeconds;
    DWORD busyRetryMs;
    DWORD replyTimeoutMs;
    HANDLE stop;
    HANDLE callDone;
    WCHAR request[WARD_REQUEST_CHARS];
} WorkerTask;

static void FreeTask(WorkerTask *task)
{
    if (task->stop != NULL)
        CloseHandle(task->stop);
    if (task->callDone != NULL)
        CloseHandle(task->callDone);
    SecureZeroMemory(task, sizeof(*task));
    HeapFree(GetProcessHeap(), 0, task);
}

// A box for a window that has already ended, or during the session's end, is dropped.
static void WorkerMessage(const WorkerTask *task, LPCWSTR text, UINT textId, UINT style)
{
    if (task->quiet || WaitForSingleObject(task->stop, 0) == WAIT_OBJECT_0 || !IsWindow(task->progress))
        return;
    if (text != NULL && text[0] != L'\0') {
        WCHAR caption[CONFIG_TEXT_CHARS] = L"";
        LoadStringW(task->instance, IDS_TITLE, caption, ARRAYSIZE(caption));
        MessageBoxW(task->progress, text, caption, style);
    } else {
        ShowTableMessage(task->progress, textId, IDS_TITLE, style);
    }
}

static unsigned __stdcall WorkerMain(void *argument)
{
    WorkerTask *task = (WorkerTask *)argument;
    BOOL stopped = FALSE;
    for (DWORD second = 0; second < task->waitSeconds && !stopped; second++)
        stopped = WaitForSingleObject(task->stop, WAIT_STEP_MS) != WAIT_TIMEOUT;
    BOOL renew = task->step == STEP_RENEW_AFTER_LOGON || task->step == STEP_RENEW_AFTER_LOGOFF;
    WardReply reply = {};
    // A window that ended during the wait sends nothing more.
    DWORD error = stopped ? ERROR_CANCELLED
                          : CallWardService(task->request, task->busyRetryMs, task->replyTimeoutMs, &reply);
    SecureZeroMemory(task->request, sizeof(task->request));
    SetEvent(task->callDone);
    UINT message = WM_PROGRESS_DONE;
    WPARAM result = REQUEST_FAILED;
    if (error == ERROR_CANCELLED) {
        // nothing was sent: nothing to report
    } else if (error != ERROR_SUCCESS) {
        WorkerMessage(task, NULL, IDS_SERVICE_NOT_RUNNING, MB_ICONWARNING);
    } else if (!reply.accepted) {
        WorkerMessage(task, reply.text, renew ? IDS_DHCP_ERROR : IDS_AUTH_FAILED, MB_ICONWARNING);
    } else {
        switch (task->step) {
        case STEP_LOGON:
            if (reply.text[0] != L'\0')
                WorkerMessage(task, reply.text, 0, MB_ICONINFORMATION);
            message = WM_PROGRESS_RENEW;
            break;
        case STEP_LOGOFF:  // a message after "OK" is not shown
            message = WM_PROGRESS_RENEW;
            break;
        case STEP_RENEW_AFTER_LOGON:
            if (reply.text[0] != L'\0')
                WorkerMessage(task, reply.text, 0, MB_ICONINFORMATION);
            message = WM_PROGRESS_FINDDOMAIN;
            break;
        case STEP_RENEW_AFTER_LOGOFF:
            result = REQUEST_SUCCEEDED;
            break;
        }
    }
    SecureZeroMemory(&reply, sizeof(reply));
    // Fails harmlessly when the window has already ended (Escape, deadline).
    PostMessageW(task->progress, message, result, 0);
    FreeTask(task);
    return 0;
}

static HANDLE DuplicateForWorker(HANDLE event)
{
    HANDLE copy = NULL;
    if (!DuplicateHandle(GetCurrentProcess(), event, GetCurrentProcess(), &copy, 0, FALSE,
                         DUPLICATE_SAME_ACCESS))
        return NULL;
    return copy;
}

// Starts one step; the window ends with failure when no worker can run it.
static void StartWorker(HWND progress, ProgressRecord *record, WorkerStep step,
                        LPCWSTR request, DWORD waitSeconds)
{
    WorkerTask *task = (WorkerTask *)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(*task));
    if (task != NULL) {
        task->stop = DuplicateForWorker(record->stop);
        task->callDone = DuplicateForWorker(record->callDone);
    }
    if (task == NULL || task->stop == NULL || task->callDone == NULL) {
        if (task != NULL)
            FreeTask(task);
        EndDialog(progress, REQUEST_FAILED);
        return;
    }
    task->instance = record->instance;
    task->progress = progress;
    task->step = step;
    task->quiet = record->quiet;
    task->waitSeconds = waitSeconds;
    BOOL renew = step == STEP_RENEW_AFTER_LOGON || step == STEP_RENEW_AFTER_LOGOFF;
    task->busyRetryMs = renew ? WARD_BUSY_RETRY_MS : 0;
    task->replyTimeoutMs = WARD_REPLY_TIMEOUT_MS;
    if (record->deadline != 0) {
        LONG left = (LONG)(record->deadline - GetTickCount());
        task->replyTimeoutMs = left > 0 ? (DWORD)left : 1;
        // At the session's end the service may still be finishing the request that was
        // running: a busy pipe is tried again for as long as the budget lasts.
        task->busyRetryMs = task->replyTimeoutMs;
    }
    lstrcpynW(task->request, request, ARRAYSIZE(task->request));
    ResetEvent(record->callDone);
    HANDLE thread = (HANDLE)_beginthreadex(NULL, 0, WorkerMain, task, 0, NULL);
    if (thread == NULL) {
        SetEvent(record->callDone);
        FreeTask(task);
        EndDialog(progress, REQUEST_FAILED);
        return;
    }
    CloseHandle(thread);  // workers are not waited for
}

static void SetProgressText(HWND progress, HINSTANCE instance, UINT textId)
{
    WCHAR text[CONFIG_TEXT_CHARS] = L"";
    LoadStringW(instance, textId, text, ARRAYSIZE(text));
    SetDlgItemTextW(progress, IDC_PROGRESS_TEXT, text);
}

static void InitProgress(HWND progress, ProgressRecord *record)
{
    SetWindowLongPtrW(progress, DWLP_USER, (LONG_PTR)record);
    record->window = progress;
    WCHAR caption[CONFIG_TEXT_CHARS] = L"";
    LoadStringW(record->instance, record->logon ? IDS_LOGON_CAPTION : IDS_LOGOFF_CAPTION, caption,
                ARRAYSIZE(caption));
    SetWindowTextW(progress, caption);
    SetProgressText(progress, record->instance, record->logon ? IDS_LOGON_SENDING : IDS_LOGOFF_SENDING);
    HWND bar = GetDlgItem(progress, IDC_PROGRESS_BAR);
    SetWindowLongPtrW(bar, GWL_STYLE, GetWindowLongPtrW(bar, GWL_STYLE) | PBS_MARQUEE);
    SendMessageW(bar, PBM_SETMARQUEE, TRUE, MARQUEE_STEP_MS);
    if (record->deadline != 0) {
        LONG left = (LONG)(record->deadline - GetTickCount());
        SetTimer(progress, DEADLINE_TIMER, left > 0 ? (UINT)left : 1, NULL);
    }
    SetForegroundWindow(progress);
    SetWindowPos(progress, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
    ShowWindow(progress, SW_SHOW);
    UpdateWindow(progress);
    PostMessageW(progress, WM_PROGRESS_START, 0, 0);
}

static void StartRenewal(HWND progress, ProgressRecord *record)
{
    DWORD enabled = 0;
    ReadConfigDword(NULL, VALUE_ENABLE_DHCP, &enabled);
    if (enabled == 0) {
        EndDialog(progress, REQUEST_SUCCEEDED);
        return;
    }
    DWORD waitSeconds = ReadConfigWaitSeconds(VALUE_WAIT_IP_RENEW);
    SetProgressText(progress, record->instance, record->logon ? IDS_REQUESTING_ADDRESS : IDS_GOOD_BYE);
    StartWorker(progress, record, record->logon ? STEP_RENEW_AFTER_LOGON : STEP_RENEW_AFTER_LOGOFF,
                L"iprenew", waitSeconds);
}

static INT_PTR CALLBACK ProgressProc(HWND progress, UINT message, WPARAM wParam, LPARAM lParam)
{
    ProgressRecord *record = (ProgressRecord *)GetWindowLongPtrW(progress, DWLP_USER);
    if (message == WM_INITDIALOG) {
        InitProgress(progress, (ProgressRecord *)lParam);
        return FALSE;
    }
    if (record == NULL)
        return FALSE;
    // Abandoned at the session's end: whatever its worker reports, no further step starts.
    if (record->abandoned && message >= WM_PROGRESS_START && message <= WM_PROGRESS_DONE) {
        EndDialog(progress, REQUEST_FAILED);
        return TRUE;
    }
    switch (message) {
    case WM_PROGRESS_START:
        if (record->logon)
            StartWorker(progress, record, STEP_LOGON, record->request, 0);
        else
            StartWorker(progress, record, STEP_LOGOFF, L"logoff", 0);
        return TRUE;
    case WM_PROGRESS_RENEW:
        StartRenewal(progress, record);
        return TRUE;
    case WM_PROGRESS_FINDDOMAIN:
        // The client sends no domain, so there is no domain controller to look for.
        EndDialog(progress, REQUEST_SUCCEEDED);
        return TRUE;
    case WM_PROGRESS_DONE:
        EndDialog(progress, wParam == REQUEST_SUCCEEDED ? REQUEST_SUCCEEDED : REQUEST_FAILED);
        return TRUE;
    case WM_TIMER:
        if (wParam == DEADLINE_TIMER) {
            KillTimer(progress, DEADLINE_TIMER);
            EndDialog(progress, REQUEST_FAILED);
        }
        return TRUE;
    case WM_COMMAND:
        // A logon cannot be cancelled; Escape drops a logoff's outcome (the service still
        // carries out what it was sent).
        if (!record->logon && LOWORD(wParam) == IDCANCEL)
            EndDialog(progress, REQUEST_FAILED);
        return TRUE;
    }
    return FALSE;
}

static int RunProgress(RequestState *state, ProgressRecord *record)
{
    record->instance = state->instance;
    record->stop = CreateEventW(NULL, TRUE, FALSE, NULL);
    record->callDone = CreateEventW(NULL, TRUE, TRUE, NULL);
    INT_PTR result = REQUEST_FAILED;
    if (record->stop != NULL && record->callDone != NULL) {
        ProgressRecord *outer = state->running;
        state->running = record;
        result = DialogBoxParamW(state->instance, MAKEINTRESOURCEW(IDD_PROGRESS), NULL,
                                 ProgressProc, (LPARAM)record);
        state->running = outer;
        // A worker still waiting (Escape, the deadline) gives up; one in its pipe call
        // reports to nobody.
        SetEvent(record->stop);
    }
    if (record->stop != NULL)
        CloseHandle(record->stop);
    if (record->callDone != NULL)
        CloseHandle(record->callDone);
    record->stop = record->callDone = NULL;
    return result == REQUEST_SUCCEEDED ? REQUEST_SUCCEEDED : REQUEST_FAILED;
}

void EndRunningRequest(RequestState *state, DWORD budgetMs)
{
    ProgressRecord *record = state->running;
    if (record == NULL)
        return;
    record->abandoned = TRUE;
    SetEvent(record->stop);
    // Only sent messages are handled meanwhile (a worker's box may send to its owner); a
    // posted step must not run while the window is being given up.
    DWORD start = GetTickCount();
    for (;;) {
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= budgetMs)
            break;
        DWORD woken = MsgWaitForMultipleObjects(1, &record->callDone, FALSE, budgetMs - elapsed,
                                                QS_SENDMESSAGE);
        if (woken != WAIT_OBJECT_0 + 1)
            break;
        MSG message;
        PeekMessageW(&message, NULL, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
    if (IsWindow(record->window))
        EndDialog(record->window, REQUEST_FAILED);
}

int RunLogonProgress(RequestState *state, LPCWSTR request)
{
    ProgressRecord record = {};
    record.logon = TRUE;
    record.request = request;
    int result = RunProgress(state, &record);
    SecureZeroMemory(&record, sizeof(record));
    return result;
}

int RunLogoffProgress(RequestState *state, BOOL quiet, DWORD budgetMs)
{
    ProgressRecord record = {};
    record.logon = FALSE;
    record.quiet = quiet;
    if (budgetMs != 0)
        record.deadline = (GetTickCount() + budgetMs) | 1;  // 0 means "none"
    return RunProgress(state, &record);
}
