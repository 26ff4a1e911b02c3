// What every page does with its controls: the white background, file-dialog filters, and
// numbers in edit fields by the tool's one number rule.
#include "wardsetup.h"

#include <stdio.h>
#include <wchar.h>

enum { NUMBER_TEXT_CHARS = 64 };

INT_PTR PageColor(UINT message, WPARAM wParam)
{
    if (message != WM_CTLCOLORDLG && message != WM_CTLCOLORSTATIC)
        return FALSE;
    SetBkColor((HDC)wParam, RGB(255, 255, 255));
    return (INT_PTR)GetStockObject(WHITE_BRUSH);
}

void LoadFileFilter(UINT id, LPWSTR filter, DWORD chars)
{
    ZeroMemory(filter, chars * sizeof(WCHAR));
    // One unit is kept back so that the filter always ends in two NULs.
    LoadStringW(GetModuleHandleW(NULL), id, filter, chars - 1);
    for (LPWSTR at = filter; *at != L'\0'; at++) {
        if (*at == L'/')
            *at = L'\0';
    }
}

void SetDlgItemNumber(HWND dialog, int id, LONG value, BOOL isSigned)
{
    WCHAR text[16] = L"";
    if (value != 0)
        swprintf(text, ARRAYSIZE(text), isSigned ? L"%ld" : L"%lu", value);
    SetDlgItemTextW(dialog, id, text);
}

LONG GetDlgItemNumber(HWND dialog, int id)
{
    WCHAR text[NUMBER_TEXT_CHARS] = L"";
    LONG value = 0;
    // A text too long for the buffer is no number of ours either.
    if (GetWindowTextLengthW(GetDlgItem(dialog, id)) < NUMBER_TEXT_CHARS - 1) {
        GetDlgItemTextW(dialog, id, text, ARRAYSIZE(text));
        ParseConfigNumber(text, &value);
    }
    return value;
}

DWORD GetDlgItemField(HWND dialog, int id)
{
    if (GetWindowTextLengthW(GetDlgItem(dialog, id)) == 0)
        return 0;
    WCHAR text[NUMBER_TEXT_CHARS] = L"";
    LONG value = 0;
    // Anything but a number that fits is kept as the largest one, so that the check on OK
    // refuses it by name instead of saving 0.
    if (GetWindowTextLengthW(GetDlgItem(dialog, id)) >= NUMBER_TEXT_CHARS - 1 ||
        !GetDlgItemTextW(dialog, id, text, ARRAYSIZE(text)) || !ParseConfigNumber(text, &value) ||
        value < 0)
        return MAXDWORD;
    return (DWORD)value;
}
