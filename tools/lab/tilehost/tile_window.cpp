// The logon screen's side of a tile: a plain window with a control per field, and the
// events sink through which the credential changes those controls. Every field as offered
// and every callback is logged; password text never is.
#include "tilehost.h"

#include <new>
#include <stdio.h>
#include <vector>

enum { CONTROL_BASE = 100, LABEL_BASE = 200 };

static const wchar_t WINDOW_CLASS[] = L"TilehostTile";

struct TileWindow {
    ICredentialProviderCredential *credential;
    TileFields fields;
    void (*onSubmit)(void);
    BOOL filling;   // controls being filled by us, not typed into
};

static const CREDENTIAL_PROVIDER_FIELD_DESCRIPTOR *FieldById(const TileFields *fields, DWORD id)
{
    for (DWORD i = 0; i < fields->count; i++) {
        if (fields->descriptors[i]->dwFieldID == id)
            return fields->descriptors[i];
    }
    return NULL;
}

static const wchar_t *TypeName(CREDENTIAL_PROVIDER_FIELD_TYPE type)
{
    static const wchar_t *const names[] = {L"invalid", L"large text", L"small text", L"command link",
                                           L"edit", L"password", L"image", L"checkbox",
                                           L"combo box", L"submit"};
    return (unsigned)type < sizeof(names) / sizeof(names[0]) ? names[type] : L"unknown";
}

// ---- events sink

class EventsSink final : public ICredentialProviderCredentialEvents {
public:
    EventsSink(HWND *window, const TileFields *fields) : refs_(1), window_(window), fields_(fields) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override
    {
        if (ppv == NULL)
            return E_INVALIDARG;
        if (riid == IID_IUnknown || riid == IID_ICredentialProviderCredentialEvents) {
            *ppv = static_cast<ICredentialProviderCredentialEvents *>(this);
            AddRef();
            return S_OK;
        }
        *ppv = NULL;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&refs_); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        LONG refs = InterlockedDecrement(&refs_);
        if (refs == 0)
            delete this;
        return refs;
    }
    // Each event is logged, then applied to the field's control where it has one.
    HRESULT STDMETHODCALLTYPE SetFieldState(ICredentialProviderCredential *, DWORD id,
                                            CREDENTIAL_PROVIDER_FIELD_STATE state) override
    {
        Log(L"event: SetFieldState(%lu, %d)", id, state);
        if (HWND control = Control(id))
            ShowWindow(control, state == CPFS_HIDDEN ? SW_HIDE : SW_SHOW);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetFieldInteractiveState(ICredentialProviderCredential *, DWORD id,
                                                       CREDENTIAL_PROVIDER_FIELD_INTERACTIVE_STATE state) override
    {
        Log(L"event: SetFieldInteractiveState(%lu, %d)", id, state);
        if (HWND control = Control(id))
            EnableWindow(control, state != CPFIS_DISABLED);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetFieldString(ICredentialProviderCredential *, DWORD id, LPCWSTR text) override
    {
        if (text == NULL) {
            Log(L"event: SetFieldString(%lu, null)", id);
            return E_INVALIDARG;
        }
        const CREDENTIAL_PROVIDER_FIELD_DESCRIPTOR *field = FieldById(fields_, id);
        if (field == NULL || field->cpft == CPFT_PASSWORD_TEXT) {
            Log(L"event: SetFieldString(%lu, %u characters, masked)", id, (unsigned)wcslen(text));
        } else {
            wchar_t flat[600];
            Log(L"event: SetFieldString(%lu, \"%ls\")", id, OneLine(text, flat, 600));
        }
        if (*window_ != NULL)
            UpdateFieldControl(*window_, id, text);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetFieldCheckbox(ICredentialProviderCredential *, DWORD id, BOOL checked,
                                               LPCWSTR) override
    {
        Log(L"event: SetFieldCheckbox(%lu, %d)", id, checked);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetFieldBitmap(ICredentialProviderCredential *, DWORD id, HBITMAP bitmap) override
    {
        Log(L"event: SetFieldBitmap(%lu, %p)", id, (void *)bitmap);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetFieldComboBoxSelectedItem(ICredentialProviderCredential *, DWORD id,
                                                           DWORD item) override
    {
        Log(L"event: SetFieldComboBoxSelectedItem(%lu, %lu)", id, item);
        return SendToControl(id, CB_SETCURSEL, item, 0);
    }
    HRESULT STDMETHODCALLTYPE DeleteFieldComboBoxItem(ICredentialProviderCredential *, DWORD id, DWORD item) override
    {
        Log(L"event: DeleteFieldComboBoxItem(%lu, %lu)", id, item);
        return SendToControl(id, CB_DELETESTRING, item, 0);
    }
    HRESULT STDMETHODCALLTYPE AppendFieldComboBoxItem(ICredentialProviderCredential *, DWORD id, LPCWSTR item) override
    {
        Log(L"event: AppendFieldComboBoxItem(%lu, \"%ls\")", id, item != NULL ? item : L"(null)");
        return item != NULL ? SendToControl(id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item)) : S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetFieldSubmitButton(ICredentialProviderCredential *, DWORD id,
                                                   DWORD adjacentTo) override
    {
        Log(L"event: SetFieldSubmitButton(%lu, %lu)", id, adjacentTo);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnCreatingWindow(HWND *owner) override
    {
        if (owner == NULL) {
            Log(L"event: OnCreatingWindow(null)");
            return E_INVALIDARG;
        }
        *owner = *window_;
        Log(L"event: OnCreatingWindow -> %p", (void *)*owner);
        return *owner != NULL ? S_OK : E_FAIL;
    }

private:
    HWND Control(DWORD id) { return *window_ != NULL ? GetDlgItem(*window_, CONTROL_BASE + id) : NULL; }
    HRESULT SendToControl(DWORD id, UINT message, WPARAM wParam, LPARAM lParam)
    {
        if (HWND control = Control(id))
            SendMessageW(control, message, wParam, lParam);
        return S_OK;
    }

    LONG refs_;
    HWND *window_;
    const TileFields *fields_;
};

ICredentialProviderCredentialEvents *CreateEventsSink(HWND *window, const TileFields *fields)
{
    return new (std::nothrow) EventsSink(window, fields);
}

// ---- window

void UpdateFieldControl(HWND window, DWORD fieldId, const wchar_t *text)
{
    TileWindow *tile = reinterpret_cast<TileWindow *>(GetWindowLongPtrW(window, GWLP_USERDATA));
    HWND control = GetDlgItem(window, CONTROL_BASE + fieldId);
    if (tile == NULL || control == NULL)
        return;
    tile->filling = TRUE;
    SetWindowTextW(control, text);
    tile->filling = FALSE;
}

// As the logon screen does: every keystroke goes to the credential at once.
static void SendEditText(TileWindow *tile, HWND control, DWORD fieldId)
{
    std::vector<wchar_t> text((size_t)GetWindowTextLengthW(control) + 1);
    GetWindowTextW(control, text.data(), (int)text.size());
    HRESULT hr = tile->credential->SetStringValue(fieldId, text.data());
    if (FAILED(hr))
        Log(L"SetStringValue(%lu): hr 0x%08lX", fieldId, (unsigned long)hr);
    SecureZeroMemory(text.data(), text.size() * sizeof(wchar_t));
}

static LRESULT CALLBACK TileWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    TileWindow *tile = reinterpret_cast<TileWindow *>(GetWindowLongPtrW(window, GWLP_USERDATA));
    switch (message) {
    case WM_COMMAND: {
        if (tile == NULL || tile->filling)
            break;
        DWORD id = LOWORD(wParam);
        if (id < CONTROL_BASE || id >= LABEL_BASE)
            break;
        const CREDENTIAL_PROVIDER_FIELD_DESCRIPTOR *field = FieldById(&tile->fields, id - CONTROL_BASE);
        if (field == NULL)
            break;
        HWND control = reinterpret_cast<HWND>(lParam);
        if (HIWORD(wParam) == EN_CHANGE &&
            (field->cpft == CPFT_EDIT_TEXT || field->cpft == CPFT_PASSWORD_TEXT)) {
            SendEditText(tile, control, field->dwFieldID);
        } else if (HIWORD(wParam) == CBN_SELCHANGE && field->cpft == CPFT_COMBOBOX) {
            LRESULT item = SendMessageW(control, CB_GETCURSEL, 0, 0);
            if (item != CB_ERR) {
                HRESULT hr = tile->credential->SetComboBoxSelectedValue(field->dwFieldID, (DWORD)item);
                Log(L"SetComboBoxSelectedValue(%lu, %ld): hr 0x%08lX", field->dwFieldID,
                    (long)item, (unsigned long)hr);
            }
        } else if (HIWORD(wParam) == BN_CLICKED && field->cpft == CPFT_SUBMIT_BUTTON) {
            if (tile->onSubmit != NULL)
                tile->onSubmit();
        } else if (HIWORD(wParam) == BN_CLICKED && field->cpft == CPFT_COMMAND_LINK) {
            Log(L"CommandLinkClicked(%lu): hr 0x%08lX", field->dwFieldID,
                (unsigned long)tile->credential->CommandLinkClicked(field->dwFieldID));
        }
        return 0;
    }
    case WM_DESTROY:
        if (tile != NULL) {
            SetWindowLongPtrW(window, GWLP_USERDATA, 0);
            delete tile;
        }
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

HWND CreateTileWindow(ICredentialProviderCredential *credential, const TileFields *fields,
                      BOOL show, void (*onSubmit)(void))
{
    HINSTANCE instance = GetModuleHandleW(NULL);
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = TileWindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(NULL, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = WINDOW_CLASS;
    RegisterClassW(&windowClass);  // already registered on a second call

    HWND window = CreateWindowExW(0, WINDOW_CLASS, L"", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, 420,
                                  120 + 32 * (int)fields->count, NULL, NULL, instance, NULL);
    if (window == NULL)
        return NULL;
    TileWindow *tile = new (std::nothrow) TileWindow();
    if (tile == NULL) {
        DestroyWindow(window);
        return NULL;
    }
    tile->credential = credential;
    tile->fields = *fields;
    tile->onSubmit = onSubmit;
    tile->filling = TRUE;
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(tile));
    HFONT font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));

    BOOL titled = FALSE;
    int y = 10;
    for (DWORD i = 0; i < fields->count; i++) {
        const CREDENTIAL_PROVIDER_FIELD_DESCRIPTOR *field = fields->descriptors[i];
        DWORD id = field->dwFieldID;
        CREDENTIAL_PROVIDER_FIELD_STATE state = CPFS_DISPLAY_IN_BOTH;
        CREDENTIAL_PROVIDER_FIELD_INTERACTIVE_STATE interactive = CPFIS_NONE;
        credential->GetFieldState(id, &state, &interactive);
        wchar_t *text = NULL;
        credential->GetStringValue(id, &text);
        const wchar_t *label = field->pszLabel != NULL ? field->pszLabel : L"";
        // The tile's first title names the window; nothing of ours is shown.
        if (field->cpft == CPFT_LARGE_TEXT && text != NULL && !titled)
            titled = SetWindowTextW(window, text);
        // The field's value as printed: a password by its length, a list with its choice in [].
        wchar_t value[600] = L"", flat[590];
        if (text != NULL && field->cpft == CPFT_PASSWORD_TEXT)
            _snwprintf(value, 600, L"%u characters", (unsigned)wcslen(text));
        else if (text != NULL && field->cpft != CPFT_TILE_IMAGE && field->cpft != CPFT_SUBMIT_BUTTON)
            _snwprintf(value, 600, L"\"%ls\"", OneLine(text, flat, 590));
        DWORD visible = state != CPFS_HIDDEN ? WS_VISIBLE : 0;
        // A child of the window in row y: the field's control (id CONTROL_BASE + field) or its label.
        auto child = [&](const wchar_t *className, const wchar_t *caption, DWORD style, int x, int dy, int width,
                         int height, int base) {
            return CreateWindowExW(0, className, caption, WS_CHILD | visible | style, x, y + dy, width, height,
                                   window, reinterpret_cast<HMENU>((INT_PTR)(base + id)), instance, NULL);
        };
        HWND control = NULL;
        int height = 24;
        switch (field->cpft) {
        case CPFT_TILE_IMAGE: {
            HBITMAP bitmap = NULL;
            control = child(L"STATIC", L"", SS_BITMAP, 10, 0, 128, 128, CONTROL_BASE);
            if (credential->GetBitmapValue(id, &bitmap) == S_OK && bitmap != NULL)
                SendMessageW(control, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(bitmap));
            height = 136;
            break;
        }
        case CPFT_LARGE_TEXT:
        case CPFT_SMALL_TEXT:
            control = child(L"STATIC", text != NULL ? text : L"", 0, 10, 0, 380, 20, CONTROL_BASE);
            break;
        case CPFT_EDIT_TEXT:
        case CPFT_PASSWORD_TEXT:
        case CPFT_COMBOBOX:
            child(L"STATIC", label, 0, 10, 3, 110, 20, LABEL_BASE);
            if (field->cpft == CPFT_COMBOBOX) {
                control = child(L"COMBOBOX", L"", WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST, 125, 0, 265, 200,
                                CONTROL_BASE);
                DWORD count = 0, selected = 0;
                value[0] = L'\0';
                if (credential->GetComboBoxValueCount(id, &count, &selected) == S_OK) {
                    for (DWORD item = 0; item < count; item++) {
                        wchar_t *entry = NULL;
                        if (credential->GetComboBoxValueAt(id, item, &entry) == S_OK && entry != NULL) {
                            SendMessageW(control, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry));
                            size_t used = wcslen(value);
                            _snwprintf(value + used, 600 - used, L"%ls%ls%ls%ls", item > 0 ? L", " : L"",
                                       item == selected ? L"[" : L"", entry, item == selected ? L"]" : L"");
                            value[599] = L'\0';
                        }
                        CoTaskMemFree(entry);
                    }
                    SendMessageW(control, CB_SETCURSEL, selected, 0);
                }
            } else {
                control = child(L"EDIT", text != NULL ? text : L"",
                                WS_TABSTOP | WS_BORDER | ES_AUTOHSCROLL |
                                    (field->cpft == CPFT_PASSWORD_TEXT ? ES_PASSWORD : 0),
                                125, 0, 265, 22, CONTROL_BASE);
            }
            break;
        case CPFT_SUBMIT_BUTTON:
        case CPFT_COMMAND_LINK:
        case CPFT_CHECKBOX: {
            BOOL submit = field->cpft == CPFT_SUBMIT_BUTTON;
            control = child(L"BUTTON", label[0] != L'\0' ? label : L"\x2192",
                            WS_TABSTOP | (field->cpft == CPFT_CHECKBOX ? BS_AUTOCHECKBOX : 0), submit ? 330 : 10, 0,
                            submit ? 60 : 380, 24, CONTROL_BASE);
            break;
        }
        default:
            break;
        }
        Out(L"field %lu: %ls \"%ls\" state %d/%d %ls", id, TypeName(field->cpft), label, state, interactive, value);
        if (text != NULL) {
            SecureZeroMemory(text, wcslen(text) * sizeof(wchar_t));
            CoTaskMemFree(text);
        }
        if (control != NULL && interactive == CPFIS_DISABLED)
            EnableWindow(control, FALSE);
        if (control != NULL && interactive == CPFIS_FOCUSED)
            SetFocus(control);
        y += height + 6;
    }
    for (HWND child = GetWindow(window, GW_CHILD); child != NULL; child = GetWindow(child, GW_HWNDNEXT))
        SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    tile->filling = FALSE;
    ShowWindow(window, show ? SW_SHOW : SW_HIDE);
    UpdateWindow(window);
    return window;
}
