// The operation window and the result message: what every operation uses to show its
// text and to tell the client why it failed.
#include "operation_window.h"
#include "wardhost.h"
#include "wardhost_res.h"

#include <stdarg.h>
#include <stdlib.h>

WCHAR ResultMessage[RESULT_MESSAGE_CHARS];

void SetResultMessage(LPCWSTR text)
{
    lstrcpynW(ResultMessage, text, ARRAYSIZE(ResultMessage));
}

void LoadResultMessage(UINT id, ...)
{
    WCHAR format[RESULT_MESSAGE_CHARS];
    if (LoadStringW(GetModuleHandleW(NULL), id, format, ARRAYSIZE(format)) <= 0)
        format[0] = L'\0';
    // wvsprintfW never writes more than 1024 units.
    WCHAR text[1025];
    va_list args;
    va_start(args, id);
    wvsprintfW(text, format, args);
    va_end(args);
    SetResultMessage(text);
}

INT_PTR RunOperationWindow(DLGPROC procedure, LPARAM parameter)
{
    return DialogBoxParamW(GetModuleHandleW(NULL), MAKEINTRESOURCEW(IDD_OPERATION),
                           /*owner*/ NULL, procedure, parameter);
}

void SetTextFromTable(HWND target, UINT id)
{
    WCHAR text[RESULT_MESSAGE_CHARS];
    if (LoadStringW(GetModuleHandleW(NULL), id, text, ARRAYSIZE(text)) <= 0)
        text[0] = L'\0';
    SetWindowTextW(target, text);
}

void SetOperationText(HWND window, UINT id)
{
    SetTextFromTable(GetDlgItem(window, IDC_MESSAGE), id);
}

void *AttachOperationContext(HWND window, size_t bytes)
{
    void *context = calloc(1, bytes);
    if (context == NULL) {
        EndDialog(window, OPERATION_FAILURE);
        return NULL;
    }
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(context));
    return context;
}

void *OperationContextOf(HWND window)
{
    return reinterpret_cast<void *>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

void DetachOperationContext(HWND window)
{
    free(OperationContextOf(window));
    SetWindowLongPtrW(window, GWLP_USERDATA, 0);
}
