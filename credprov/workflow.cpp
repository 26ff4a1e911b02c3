// The logon workflow behind the tile's submit: a modal "Please wait..." dialog whose
// worker threads ask the service to log on at the DE-Zeruzu, renew the address and find
// a domain controller, one step after the other.
//
// Workers only make their pipe call and post its outcome; every window call, message
// box and the end of the dialog happen on the dialog's (LogonUI's) thread, and every
// worker has ended before RunLogonWorkflow returns, so no code of ours runs after the
// module may be unloaded.
#include "wardtile.h"

#include <commctrl.h>
#include <process.h>

#include "time_limits.h"
#include "wardtile_res.h"

enum {
    WM_PROGRESS_START = WM_USER + 101,       // start the logon step
    WM_PROGRESS_RENEW = WM_USER + 102,       // logon accepted: address renewal
    WM_PROGRESS_FINDDOMAIN = WM_USER + 103,  // renewal accepted: domain-controller search
    WM_PROGRESS_STEP_DONE = WM_USER + 104,   // a worker's reply is in; wParam: its step
    WM_PROGRESS_WAITING = WM_USER + 105,     // the service is not listening yet; wParam: seconds
};

enum {
    MARQUEE_STEP_MS = 20,
};

enum WorkflowStep {
    STEP_LOGON,
    STEP_RENEW,
    STEP_FIND_DOMAIN,
    STEP_COUNT,
};

// One row per step: what it sends, what the dialog says meanwhile, what a refusal
// without a text of the service says, and what follows an acceptance (0: done).
struct StepRow {
    LPCWSTR request;        // NULL: the logon request built from the snapshot
    LPCWSTR waitValue;      // seconds to wait before sending, or NULL
    UINT stepTextId;
    UINT refusedTextId;
    UINT nextMessage;
};

static const StepRow s_steps[STEP_COUNT] = {
    {NULL, NULL, IDS_SENDING_REQUEST, IDS_AUTH_FAILED, WM_PROGRESS_RENEW},
    {L"iprenew", VALUE_WAIT_IP_RENEW, IDS_REQUESTING_ADDRESS, IDS_DHCP_ERROR, WM_PROGRESS_FINDDOMAIN},
    {L"finddomain", VALUE_WAIT_FIND_DOMAIN, IDS_SEARCHING_DC, IDS_DC_NOT_FOUND, 0},
};

struct ProgressDialog {
    const LogonRequest *request;
    HWND hwnd;
    HANDLE stop;                    // set when the dialog has ended: waits end early
    HANDLE workers[STEP_COUNT];
    HRESULT startFailure;
    // Written by the running step's worker before it posts WM_PROGRESS_STEP_DONE.
    DWORD error;
    WardReply reply;
};

struct WorkerStart {
    ProgressDialog *dialog;
    WorkflowStep step;
};

// Waits the configured seconds one second at a time; FALSE when the dialog ended meanwhile.
// The reader holds the value to its maximum, so no stored value keeps LogonUI waiting longer.
static BOOL WaitConfiguredSeconds(HANDLE stop, LPCWSTR valueName)
{
    DWORD seconds = ReadConfigWaitSeconds(valueName);
    for (DWORD i = 0; i < seconds; i++) {
        if (WaitForSingleObject(stop, WAIT_STEP_MS) != WAIT_TIMEOUT)
            return FALSE;
    }
    return TRUE;
}

// The logon goes only to the wardhost service itself (the request carries the password)
// and is retried only while it cannot have reached the service: the DE-Zeruzu must
// never see the same logon twice. While it waits, the dialog shows how long it has waited:
// at boot this can take two minutes, and an unchanged text looks like a hang.
static DWORD CallLogon(ProgressDialog *dialog)
{
    const LogonRequest *logon = dialog->request;
    WCHAR request[WARD_REQUEST_CHARS];
    if (FormatLogonRequest(logon->user, logon->password, logon->domain, request) != LOGON_WORDS_OK)
        return ERROR_INVALID_PARAMETER;
    ULONGLONG start = GetTickCount64();
    DWORD error;
    for (;;) {
        error = CallWardService(request, 0, WARD_REPLY_TIMEOUT_MS, &dialog->reply);
        if (!IsServiceRefusalBeforeSending(error) || GetTickCount64() - start >= LOGON_RETRY_MS)
            break;
        BOOL stopped = FALSE;
        for (DWORD waited = 0; waited < LOGON_RETRY_PAUSE_MS && !stopped; waited += WAIT_STEP_MS) {
            PostMessageW(dialog->hwnd, WM_PROGRESS_WAITING, (WPARAM)((GetTickCount64() - start) / 1000), 0);
            stopped = WaitForSingleObject(dialog->stop, WAIT_STEP_MS) != WAIT_TIMEOUT;
        }
        if (stopped)
            break;
    }
    SecureZeroMemory(request, sizeof(request));
    return error;
}

static unsigned __stdcall StepWorker(void *argument)
{
    WorkerStart start = *(WorkerStart *)argument;
    HeapFree(GetProcessHeap(), 0, argument);
    ProgressDialog *dialog = start.dialog;
    const StepRow &row = s_steps[start.step];

    DWORD error;
    if (row.request == NULL) {
        error = CallLogon(dialog);
    } else if (!WaitConfiguredSeconds(dialog->stop, row.waitValue)) {
        error = ERROR_CANCELLED;
    } else {
        // These follow an answered request at once and can meet the service between two
        // connections: a short retry of a refusal before sending covers that.
        error = CallWardService(row.request, WARD_BUSY_RETRY_MS, WARD_REPLY_TIMEOUT_MS, &dialog->reply);
    }
    dialog->error = error;
    PostMessageW(dialog->hwnd, WM_PROGRESS_STEP_DONE, (WPARAM)start.step, 0);
    return 0;
}

static void SetStepText(HWND hwnd, UINT textId)
{
    WCHAR text[CONFIG_TEXT_CHARS] = L"";
    LoadStringW(g_hinstModule, textId, text, ARRAYSIZE(text));
    SetDlgItemTextW(hwnd, IDC_PROGRESS_TEXT, text);
}

static void SetWaitingText(HWND hwnd, DWORD seconds)
{
    WCHAR format[CONFIG_TEXT_CHARS] = L"";
    WCHAR text[CONFIG_TEXT_CHARS] = L"";
    LoadStringW(g_hinstModule, IDS_WAITING_FOR_SERVICE, format, ARRAYSIZE(format));
    wsprintfW(text, format, seconds);
    SetDlgItemTextW(hwnd, IDC_PROGRESS_TEXT, text);
}

static void StartStep(ProgressDialog *dialog, WorkflowStep step)
{
    SetStepText(dialog->hwnd, s_steps[step].stepTextId);
    WorkerStart *start = (WorkerStart *)HeapAlloc(GetProcessHeap(), 0, sizeof(WorkerStart));
    uintptr_t thread = 0;
    if (start != NULL) {
        start->dialog = dialog;
        start->step = step;
        dialog->error = ERROR_SUCCESS;
        ZeroMemory(&dialog->reply, sizeof(dialog->reply));
        thread = _beginthreadex(NULL, 0, StepWorker, start, 0, NULL);
        if (thread == 0)
            HeapFree(GetProcessHeap(), 0, start);
    }
    if (thread == 0) {
        dialog->startFailure = E_OUTOFMEMORY;
        EndDialog(dialog->hwnd, 0);
        return;
    }
    dialog->workers[step] = (HANDLE)thread;
}

static void ShowReplyText(HWND hwnd, LPCWSTR text, UINT icon)
{
    WCHAR caption[CONFIG_TEXT_CHARS] = L"";
    LoadStringW(g_hinstModule, IDS_PROVIDER_CAPTION, caption, ARRAYSIZE(caption));
    MessageBoxW(hwnd, text, caption, MB_OK | icon);
}

static void FinishStep(ProgressDialog *dialog, WorkflowStep step)
{
    const StepRow &row = s_steps[step];
    HWND hwnd = dialog->hwnd;
    if (dialog->error != ERROR_SUCCESS) {
        ShowTableMessage(hwnd, IDS_SERVICE_NOT_RUNNING, IDS_PROVIDER_CAPTION, MB_OK | MB_ICONWARNING);
        EndDialog(hwnd, WORKFLOW_FAILED);
    } else if (dialog->reply.accepted) {
        if (dialog->reply.text[0] != L'\0')
            ShowReplyText(hwnd, dialog->reply.text, MB_ICONINFORMATION);
        if (row.nextMessage != 0)
            PostMessageW(hwnd, row.nextMessage, 0, 0);
        else
            EndDialog(hwnd, WORKFLOW_SUCCEEDED);
    } else {
        if (dialog->reply.text[0] != L'\0')
            ShowReplyText(hwnd, dialog->reply.text, MB_ICONWARNING);
        else
            ShowTableMessage(hwnd, row.refusedTextId, IDS_PROVIDER_CAPTION, MB_OK | MB_ICONWARNING);
        EndDialog(hwnd, WORKFLOW_FAILED);
    }
}

static void InitProgressDialog(HWND hwnd)
{
    WCHAR caption[CONFIG_TEXT_CHARS] = L"";
    LoadStringW(g_hinstModule, IDS_LOGON_CAPTION, caption, ARRAYSIZE(caption));
    SetWindowTextW(hwnd, caption);
    SetStepText(hwnd, IDS_SENDING_REQUEST);
    HWND bar = GetDlgItem(hwnd, IDC_PROGRESS_BAR);
    SetWindowLongPtrW(bar, GWL_STYLE, GetWindowLongPtrW(bar, GWL_STYLE) | PBS_MARQUEE);
    SendMessageW(bar, PBM_SETMARQUEE, TRUE, MARQUEE_STEP_MS);
    SetForegroundWindow(hwnd);
    SetWindowPos(hwnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
    UpdateWindow(hwnd);
    PostMessageW(hwnd, WM_PROGRESS_START, 0, 0);
}

static INT_PTR CALLBACK ProgressDialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    ProgressDialog *dialog = (ProgressDialog *)GetWindowLongPtrW(hwnd, GWLP_USERDATA);
    switch (message) {
    case WM_INITDIALOG:
        dialog = (ProgressDialog *)lParam;
        dialog->hwnd = hwnd;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, (LONG_PTR)dialog);
        InitProgressDialog(hwnd);
        return FALSE;
    case WM_PROGRESS_START:
        if (dialog != NULL)
            StartStep(dialog, STEP_LOGON);
        return TRUE;
    case WM_PROGRESS_RENEW: {
        if (dialog == NULL)
            return TRUE;
        DWORD enableDhcp = 0;
        ReadConfigDword(NULL, VALUE_ENABLE_DHCP, &enableDhcp);
        if (enableDhcp == 0)
            EndDialog(hwnd, WORKFLOW_SUCCEEDED);
        else
            StartStep(dialog, STEP_RENEW);
        return TRUE;
    }
    case WM_PROGRESS_FINDDOMAIN: {
        if (dialog == NULL)
            return TRUE;
        DWORD notFindDomain = 0;
        ReadConfigDword(NULL, VALUE_NOT_FIND_DOMAIN, &notFindDomain);
        if (notFindDomain != 0 || dialog->request->domain[0] == L'\0')
            EndDialog(hwnd, WORKFLOW_SUCCEEDED);
        else
            StartStep(dialog, STEP_FIND_DOMAIN);
        return TRUE;
    }
    case WM_PROGRESS_WAITING:
        if (dialog != NULL)
            SetWaitingText(hwnd, (DWORD)wParam);
        return TRUE;
    case WM_PROGRESS_STEP_DONE:
        if (dialog != NULL && wParam < STEP_COUNT)
            FinishStep(dialog, (WorkflowStep)wParam);
        return TRUE;
    case WM_COMMAND:
        // Neither Enter nor Esc ends the workflow.
        return TRUE;
    default:
        return FALSE;
    }
}

// The module's own manifest asks for the version 6 common controls, which the marquee
// bar needs whatever the hosting process has activated.
static HANDLE ActivateModuleContext(ULONG_PTR *cookie)
{
    ACTCTXW context;
    ZeroMemory(&context, sizeof(context));
    context.cbSize = sizeof(context);
    context.dwFlags = ACTCTX_FLAG_HMODULE_VALID | ACTCTX_FLAG_RESOURCE_NAME_VALID;
    context.hModule = g_hinstModule;
    context.lpResourceName = ISOLATIONAWARE_MANIFEST_RESOURCE_ID;
    HANDLE handle = CreateActCtxW(&context);
    if (handle == INVALID_HANDLE_VALUE)
        return NULL;
    if (!ActivateActCtx(handle, cookie)) {
        ReleaseActCtx(handle);
        return NULL;
    }
    return handle;
}

HRESULT RunLogonWorkflow(HWND owner, const LogonRequest *request, int *result)
{
    if (request == NULL || result == NULL || request->user == NULL || request->password == NULL ||
        request->domain == NULL)
        return E_INVALIDARG;
    *result = WORKFLOW_FAILED;

    ProgressDialog dialog;
    ZeroMemory(&dialog, sizeof(dialog));
    dialog.request = request;
    dialog.startFailure = S_OK;
    dialog.stop = CreateEventW(NULL, TRUE, FALSE, NULL);
    if (dialog.stop == NULL)
        return HRESULT_FROM_WIN32(GetLastError());

    ULONG_PTR cookie = 0;
    HANDLE context = ActivateModuleContext(&cookie);
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    SetLastError(ERROR_SUCCESS);
    INT_PTR ended = DialogBoxParamW(g_hinstModule, MAKEINTRESOURCEW(IDD_PROGRESS), owner, ProgressDialogProc,
                                    (LPARAM)&dialog);
    DWORD dialogError = GetLastError();
    if (context != NULL) {
        DeactivateActCtx(0, cookie);
        ReleaseActCtx(context);
    }

    // A worker still running (the dialog was destroyed from outside) stops its waits;
    // its pipe call is bounded. Nothing of ours may outlive this call.
    SetEvent(dialog.stop);
    for (HANDLE worker : dialog.workers) {
        if (worker != NULL) {
            WaitForSingleObject(worker, INFINITE);
            CloseHandle(worker);
        }
    }
    CloseHandle(dialog.stop);
    SecureZeroMemory(&dialog.reply, sizeof(dialog.reply));

    if (ended == WORKFLOW_SUCCEEDED || ended == WORKFLOW_FAILED) {
        *result = (int)ended;
        return S_OK;
    }
    if (FAILED(dialog.startFailure))
        return dialog.startFailure;
    return dialogError != ERROR_SUCCESS ? HRESULT_FROM_WIN32(dialogError) : E_FAIL;
}
