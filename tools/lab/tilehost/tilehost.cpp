// tilehost: tries a credential provider's logon tile without logging off (USAGE says how).
// It never logs anyone on; a scripted mode fills the fields and answers the tile's message
// boxes, for tests and unattended checks.
#include "tilehost.h"
#include "registration.h"

#include <commctrl.h>
#include <ntsecapi.h>
#include <stdio.h>
#include <stdlib.h>

static const wchar_t USAGE[] =
    L"Usage: tilehost [--dll PATH] [--clsid CLSID]\n"
    L"       tilehost [--dll PATH] --user NAME --password TEXT [--domain NAME]\n"
    L"                [--answer ok|cancel] [--timeout SECONDS] [--clock-divisor N]\n"
    L"       tilehost --register PATH | --unregister\n"
    L"\n"
    L"Tries a credential provider's logon tile without logging off: finds the provider\n"
    L"as the logon screen does (HKLM\\" CREDENTIAL_PROVIDERS_KEY L",\n"
    L"then CoCreateInstance in an apartment) and reports every fault of its\n"
    L"registration, shows the tile's fields in a window and, on submit, prints the\n"
    L"outcome, the HRESULT, the authentication package and the logon buffer with the\n"
    L"password masked. Nothing is ever handed to Windows.\n"
    L"\n"
    L"  --dll PATH         load PATH directly (LoadLibrary + DllGetClassObject)\n"
    L"  --clsid CLSID      the provider's class (default: Portgate's " PROVIDER_CLSID_TEXT L")\n"
    L"  --user NAME        scripted: set the user name field, submit, print, exit\n"
    L"  --password TEXT    scripted: set the password field\n"
    L"  --domain NAME      scripted: select this \"Log on to\" entry (case ignored)\n"
    L"  --answer ok|cancel scripted: how message boxes are answered (default ok;\n"
    L"                     a box with only OK is always answered OK)\n"
    L"  --timeout SECONDS  scripted: give up when the submit has not returned (default 600)\n"
    L"  --clock-divisor N  the provider's clock (its waits and tick counts) runs N times\n"
    L"                     faster, for tests of long limits; --timeout is not divided\n"
    L"  --register PATH    register PATH as the Portgate tile, as the configuration tool does\n"
    L"  --unregister       remove that registration\n"
    L"\n"
    L"Every message box and progress step text is logged with the seconds since start;\n"
    L"line breaks in texts are shown as \\n.\n"
    L"\n"
    L"Exit codes:\n"
    L"  0  the tile returned a credential (the logon would go to Windows)\n"
    L"  1  the tile returned no credential (refused, a step failed, or cancelled)\n"
    L"  2  usage error\n"
    L"  3  registration fault, or the provider could not be loaded or created\n"
    L"  4  the provider refused the logon scenario, its fields or a field value\n"
    L"  5  the submit failed with an error HRESULT\n"
    L"  6  a credential was returned but its logon buffer is malformed\n"
    L"  7  after every release the provider still refused to unload (DllCanUnloadNow)\n"
    L"  8  the submit did not return within --timeout\n";

struct Options {
    const wchar_t *dll;
    CLSID clsid;
    BOOL scripted;
    const wchar_t *user;
    const wchar_t *password;
    const wchar_t *domain;
    BoxAnswer answer;
    DWORD timeoutSeconds;
    DWORD clockDivisor;
};

static Options g_options;
static ICredentialProviderCredential *g_credential;
static HWND g_window;
static int g_outcome = EXIT_NO_CREDENTIAL;
static BOOL g_submitting;

// ---- the logon buffer

static BOOL DecodeString(const BYTE *block, ULONG size, const UNICODE_STRING &field, const wchar_t *name,
                         BOOL mask)
{
    ULONG_PTR offset = reinterpret_cast<ULONG_PTR>(field.Buffer);
    if (field.Length % 2 != 0 || field.Length > field.MaximumLength || offset > size ||
        size - offset < field.Length) {
        Out(L"  %-9ls malformed: offset %llu, length %u, maximum %u in %lu bytes", name,
            (unsigned long long)offset, field.Length, field.MaximumLength, size);
        return FALSE;
    }
    static wchar_t text[32768];  // Length is at most 65534 bytes
    ULONG chars = field.Length / 2;
    for (ULONG i = 0; i < chars; i++)
        text[i] = mask ? L'*' : (wchar_t)(block[offset + 2 * i] | block[offset + 2 * i + 1] << 8);
    text[chars] = L'\0';
    Out(L"  %-9ls \"%ls\" (offset %llu, %u bytes)", name, text, (unsigned long long)offset, field.Length);
    return TRUE;
}

// The packed KERB_INTERACTIVE_LOGON: buffers are offsets from the block's start.
static BOOL DecodeLogonBuffer(const BYTE *block, ULONG size)
{
    KERB_INTERACTIVE_LOGON logon;
    if (block == NULL || size < sizeof(logon)) {
        Out(L"buffer: %lu bytes, shorter than KERB_INTERACTIVE_LOGON (%u)", size, (unsigned)sizeof(logon));
        return FALSE;
    }
    memcpy(&logon, block, sizeof(logon));
    Out(L"buffer: %lu bytes, MessageType %d%ls", size, logon.MessageType,
        logon.MessageType == KerbInteractiveLogon ? L" (KerbInteractiveLogon)" : L"");
    BOOL ok = DecodeString(block, size, logon.LogonDomainName, L"domain:", FALSE);
    ok = DecodeString(block, size, logon.UserName, L"user:", FALSE) && ok;
    ok = DecodeString(block, size, logon.Password, L"password:", TRUE) && ok;
    ULONG expected = (ULONG)sizeof(logon) + logon.LogonDomainName.Length + logon.UserName.Length +
                     logon.Password.Length;
    if (size != expected)
        Out(L"  size %lu is not %u + the three lengths (%lu)", size, (unsigned)sizeof(logon), expected);
    return ok && size == expected && logon.MessageType == KerbInteractiveLogon;
}

// ---- submit

static void CALLBACK SubmitTimedOut(PVOID, BOOLEAN)
{
    Log(L"outcome: the submit did not return within %lu s", g_options.timeoutSeconds);
    ExitProcess(EXIT_TIMED_OUT);
}

static void Submit(void)
{
    // The tile's modal dialog dispatches this window's messages: a second click must not
    // re-enter.
    if (g_submitting)
        return;
    g_submitting = TRUE;
    CREDENTIAL_PROVIDER_GET_SERIALIZATION_RESPONSE response = CPGSR_NO_CREDENTIAL_NOT_FINISHED;
    CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION serialization = {};
    wchar_t *status = NULL;
    CREDENTIAL_PROVIDER_STATUS_ICON icon = CPSI_NONE;
    HANDLE watchdog = NULL;
    // A person at the window decides for themselves how long to wait.
    if (g_options.scripted && g_options.timeoutSeconds > 0 &&
        !CreateTimerQueueTimer(&watchdog, NULL, SubmitTimedOut, NULL, g_options.timeoutSeconds * 1000, 0,
                               WT_EXECUTEONLYONCE))
        watchdog = NULL;
    Log(L"submit");
    ULONGLONG start = GetTickCount64();
    HRESULT hr = g_credential->GetSerialization(&response, &serialization, &status, &icon);
    ULONGLONG elapsed = GetTickCount64() - start;
    if (watchdog != NULL)
        DeleteTimerQueueTimer(NULL, watchdog, INVALID_HANDLE_VALUE);
    Log(L"GetSerialization: hr 0x%08lX, response %d, after %llu ms", (unsigned long)hr, response, elapsed);
    if (status != NULL) {
        wchar_t flat[600];
        OneLine(status, flat, 600);
        Out(L"status text: %ls (icon %d)", flat, icon);
        CoTaskMemFree(status);
    }
    if (FAILED(hr)) {
        Out(L"outcome: error");
        g_outcome = EXIT_SERIALIZATION_ERROR;
    } else if (response == CPGSR_RETURN_CREDENTIAL_FINISHED) {
        wchar_t clsidText[64];
        FormatGuid(serialization.clsidCredentialProvider, clsidText, 64);
        Out(L"package: %lu", serialization.ulAuthenticationPackage);
        Out(L"provider: %ls", clsidText);
        BOOL ok = DecodeLogonBuffer(serialization.rgbSerialization, serialization.cbSerialization);
        Out(L"outcome: %ls", ok ? L"credential" : L"credential with a malformed buffer");
        g_outcome = ok ? EXIT_CREDENTIAL : EXIT_BAD_BUFFER;
        // What the logon screen tells the tile after Windows answered; here nothing was tried.
        wchar_t *resultText = NULL;
        CREDENTIAL_PROVIDER_STATUS_ICON resultIcon = CPSI_NONE;
        HRESULT reported = g_credential->ReportResult(0, 0, &resultText, &resultIcon);
        Out(L"ReportResult: hr 0x%08lX", (unsigned long)reported);
        CoTaskMemFree(resultText);
    } else {
        Out(L"outcome: no credential");
        g_outcome = EXIT_NO_CREDENTIAL;
    }
    if (serialization.rgbSerialization != NULL) {
        SecureZeroMemory(serialization.rgbSerialization, serialization.cbSerialization);
        CoTaskMemFree(serialization.rgbSerialization);
    }
    g_submitting = FALSE;
    // The logon screen goes away once Windows has the credential.
    if (!g_options.scripted && g_outcome != EXIT_NO_CREDENTIAL && g_window != NULL)
        PostMessageW(g_window, WM_CLOSE, 0, 0);
}

// ---- the tile

static BOOL ReadFields(ICredentialProvider *provider, TileFields *fields)
{
    ULONGLONG start = GetTickCount64();
    DWORD count = 0;
    HRESULT hr = provider->GetFieldDescriptorCount(&count);
    if (FAILED(hr) || count > 32) {
        Out(L"GetFieldDescriptorCount: hr 0x%08lX, %lu fields", (unsigned long)hr, count);
        return FALSE;
    }
    fields->count = count;
    for (DWORD i = 0; i < count; i++) {
        hr = provider->GetFieldDescriptorAt(i, &fields->descriptors[i]);
        if (FAILED(hr) || fields->descriptors[i] == NULL) {
            Out(L"GetFieldDescriptorAt(%lu): hr 0x%08lX", i, (unsigned long)hr);
            fields->descriptors[i] = NULL;
            return FALSE;
        }
    }
    Log(L"descriptors: %lu ready in %llu ms", count, GetTickCount64() - start);
    return TRUE;
}

static void FreeFields(TileFields *fields)
{
    for (DWORD i = 0; i < fields->count; i++) {
        if (fields->descriptors[i] != NULL) {
            CoTaskMemFree(fields->descriptors[i]->pszLabel);
            CoTaskMemFree(fields->descriptors[i]);
            fields->descriptors[i] = NULL;
        }
    }
}

static const wchar_t *TypeName(CREDENTIAL_PROVIDER_FIELD_TYPE type)
{
    static const wchar_t *const names[] = {L"invalid", L"large text", L"small text", L"command link",
                                           L"edit", L"password", L"image", L"checkbox",
                                           L"combo box", L"submit"};
    return (unsigned)type < sizeof(names) / sizeof(names[0]) ? names[type] : L"unknown";
}

// Prints each field as the tile offers it: type, label, state and value.
static void PrintFields(const TileFields *fields)
{
    for (DWORD i = 0; i < fields->count; i++) {
        const CREDENTIAL_PROVIDER_FIELD_DESCRIPTOR *field = fields->descriptors[i];
        CREDENTIAL_PROVIDER_FIELD_STATE state = CPFS_HIDDEN;
        CREDENTIAL_PROVIDER_FIELD_INTERACTIVE_STATE interactive = CPFIS_NONE;
        g_credential->GetFieldState(field->dwFieldID, &state, &interactive);
        wchar_t value[600] = L"";
        if (field->cpft == CPFT_COMBOBOX) {
            DWORD count = 0, selected = 0;
            g_credential->GetComboBoxValueCount(field->dwFieldID, &count, &selected);
            for (DWORD item = 0; item < count; item++) {
                wchar_t *text = NULL;
                if (g_credential->GetComboBoxValueAt(field->dwFieldID, item, &text) == S_OK && text != NULL) {
                    size_t used = wcslen(value);
                    _snwprintf(value + used, 600 - used, L"%ls%ls%ls%ls", item > 0 ? L", " : L"",
                               item == selected ? L"[" : L"", text, item == selected ? L"]" : L"");
                    value[599] = L'\0';
                }
                CoTaskMemFree(text);
            }
        } else if (field->cpft != CPFT_TILE_IMAGE && field->cpft != CPFT_SUBMIT_BUTTON) {
            wchar_t *text = NULL;
            if (g_credential->GetStringValue(field->dwFieldID, &text) == S_OK && text != NULL) {
                if (field->cpft == CPFT_PASSWORD_TEXT) {
                    _snwprintf(value, 600, L"%u characters", (unsigned)wcslen(text));
                    SecureZeroMemory(text, wcslen(text) * sizeof(wchar_t));
                } else {
                    OneLine(text, value + 1, 597);
                    value[0] = L'"';
                    wcscat(value, L"\"");
                }
            }
            CoTaskMemFree(text);
        }
        Out(L"field %lu: %ls \"%ls\" state %d/%d %ls", field->dwFieldID, TypeName(field->cpft),
            field->pszLabel != NULL ? field->pszLabel : L"", state, interactive, value);
    }
}

static const CREDENTIAL_PROVIDER_FIELD_DESCRIPTOR *FieldOfType(const TileFields *fields,
                                                               CREDENTIAL_PROVIDER_FIELD_TYPE type)
{
    for (DWORD i = 0; i < fields->count; i++) {
        if (fields->descriptors[i]->cpft == type)
            return fields->descriptors[i];
    }
    return NULL;
}

// Scripted input, through the same calls the logon screen makes.
static BOOL FillFields(const TileFields *fields)
{
    const struct {
        CREDENTIAL_PROVIDER_FIELD_TYPE type;
        const wchar_t *value;
    } texts[] = {{CPFT_EDIT_TEXT, g_options.user}, {CPFT_PASSWORD_TEXT, g_options.password}};
    for (const auto &text : texts) {
        if (text.value == NULL)
            continue;
        const CREDENTIAL_PROVIDER_FIELD_DESCRIPTOR *field = FieldOfType(fields, text.type);
        HRESULT hr = field != NULL ? g_credential->SetStringValue(field->dwFieldID, text.value) : E_NOTIMPL;
        Log(L"SetStringValue(%ls): hr 0x%08lX", text.type == CPFT_EDIT_TEXT ? L"user" : L"password",
            (unsigned long)hr);
        if (FAILED(hr))
            return FALSE;
        UpdateFieldControl(g_window, field->dwFieldID, text.value);
    }
    if (g_options.domain != NULL) {
        const CREDENTIAL_PROVIDER_FIELD_DESCRIPTOR *field = FieldOfType(fields, CPFT_COMBOBOX);
        DWORD count = 0, selected = 0;
        if (field == NULL || FAILED(g_credential->GetComboBoxValueCount(field->dwFieldID, &count, &selected))) {
            Out(L"the tile has no \"Log on to\" list");
            return FALSE;
        }
        DWORD found = count;
        for (DWORD item = 0; item < count && found == count; item++) {
            wchar_t *text = NULL;
            if (g_credential->GetComboBoxValueAt(field->dwFieldID, item, &text) == S_OK && text != NULL &&
                _wcsicmp(text, g_options.domain) == 0)
                found = item;
            CoTaskMemFree(text);
        }
        if (found == count) {
            Out(L"\"%ls\" is not in the \"Log on to\" list", g_options.domain);
            return FALSE;
        }
        HRESULT hr = g_credential->SetComboBoxSelectedValue(field->dwFieldID, found);
        Log(L"SetComboBoxSelectedValue(%lu): hr 0x%08lX", found, (unsigned long)hr);
        if (FAILED(hr))
            return FALSE;
        SendDlgItemMessageW(g_window, 100 + field->dwFieldID, CB_SETCURSEL, found, 0);
    }
    return TRUE;
}

// Runs the tile from the scenario to the release; the exit code.
static int RunTile(ICredentialProvider *provider)
{
    TileFields fields = {};
    ICredentialProviderCredentialEvents *sink = NULL;
    BOOL advised = FALSE, selected = FALSE;
    int result = EXIT_SETUP_FAILED;
    DWORD count = 0, defaultIndex = 0;
    BOOL autoLogon = FALSE;

    HRESULT hr = provider->SetUsageScenario(CPUS_LOGON, 0);
    Log(L"SetUsageScenario(CPUS_LOGON): hr 0x%08lX", (unsigned long)hr);
    if (FAILED(hr) || !ReadFields(provider, &fields))
        goto cleanup;
    hr = provider->GetCredentialCount(&count, &defaultIndex, &autoLogon);
    Out(L"GetCredentialCount: hr 0x%08lX, %lu tile(s), default %ld, auto logon %d", (unsigned long)hr,
        count, (long)defaultIndex, autoLogon);
    if (FAILED(hr) || count == 0)
        goto cleanup;
    hr = provider->GetCredentialAt(defaultIndex == CREDENTIAL_PROVIDER_NO_DEFAULT ? 0 : defaultIndex,
                                   &g_credential);
    if (FAILED(hr) || g_credential == NULL) {
        Out(L"GetCredentialAt: hr 0x%08lX", (unsigned long)hr);
        g_credential = NULL;
        goto cleanup;
    }
    sink = CreateEventsSink(&g_window, &fields);
    hr = sink != NULL ? g_credential->Advise(sink) : E_OUTOFMEMORY;
    Log(L"Advise: hr 0x%08lX", (unsigned long)hr);
    advised = SUCCEEDED(hr);
    hr = g_credential->SetSelected(&autoLogon);
    Log(L"SetSelected: hr 0x%08lX, auto logon %d", (unsigned long)hr, autoLogon);
    selected = SUCCEEDED(hr);
    PrintFields(&fields);
    g_window = CreateTileWindow(g_credential, &fields, !g_options.scripted, Submit);
    if (g_window == NULL)
        Out(L"the tile's window could not be created (error %lu)", GetLastError());
    else
        Log(L"window: %p", (void *)g_window);  // every control exists from here on

    if (g_options.scripted) {
        if (!FillFields(&fields))
            goto cleanup;
        StartDialogWatcher(g_options.answer);
        Submit();
        StopDialogWatcher();
        result = g_outcome;
        if (g_window != NULL)
            DestroyWindow(g_window);
    } else {
        StartDialogWatcher(ANSWER_NONE);
        MSG message;
        while (GetMessageW(&message, NULL, 0, 0) > 0) {
            if (!IsDialogMessageW(g_window, &message)) {
                TranslateMessage(&message);
                DispatchMessageW(&message);
            }
        }
        StopDialogWatcher();
        result = g_outcome;
    }
    g_window = NULL;

cleanup:
    if (selected)
        Log(L"SetDeselected: hr 0x%08lX", (unsigned long)g_credential->SetDeselected());
    if (advised)
        Log(L"UnAdvise: hr 0x%08lX", (unsigned long)g_credential->UnAdvise());
    if (sink != NULL)
        sink->Release();
    if (g_credential != NULL) {
        g_credential->Release();
        g_credential = NULL;
    }
    FreeFields(&fields);
    return result;
}

// ---- command line

static BOOL ParseArguments(int argc, wchar_t **argv, Options *options, const wchar_t **registerPath,
                           BOOL *unregister)
{
    options->clsid = CLSID_WdCredentialProvider;
    options->answer = ANSWER_OK;
    options->timeoutSeconds = 600;
    options->clockDivisor = 1;
    // The options that take their value as it is; the scripted ones make the run scripted.
    const struct {
        const wchar_t *name;
        const wchar_t **value;
        BOOL scripted;
    } texts[] = {{L"--dll", &options->dll, FALSE},       {L"--register", registerPath, FALSE},
                 {L"--user", &options->user, TRUE},      {L"--password", &options->password, TRUE},
                 {L"--domain", &options->domain, TRUE}};
    for (int i = 1; i < argc; i++) {
        const wchar_t *arg = argv[i];
        const wchar_t *value = i + 1 < argc ? argv[i + 1] : NULL;
        if (wcscmp(arg, L"--unregister") == 0) {
            *unregister = TRUE;
            continue;
        }
        if (wcscmp(arg, L"--help") == 0 || wcscmp(arg, L"-h") == 0 || value == NULL)
            return FALSE;
        i++;
        BOOL known = FALSE;
        for (const auto &text : texts) {
            if (wcscmp(arg, text.name) == 0) {
                *text.value = value;
                options->scripted = options->scripted || text.scripted;
                known = TRUE;
            }
        }
        if (known)
            continue;
        if (wcscmp(arg, L"--clsid") == 0) {
            if (FAILED(CLSIDFromString(value, &options->clsid)))
                return FALSE;
        } else if (wcscmp(arg, L"--answer") == 0) {
            if (_wcsicmp(value, L"ok") != 0 && _wcsicmp(value, L"cancel") != 0)
                return FALSE;
            options->answer = _wcsicmp(value, L"ok") == 0 ? ANSWER_OK : ANSWER_CANCEL;
            options->scripted = TRUE;
        } else if (wcscmp(arg, L"--timeout") == 0) {
            options->timeoutSeconds = wcstoul(value, NULL, 10);
        } else if (wcscmp(arg, L"--clock-divisor") == 0) {
            if ((options->clockDivisor = wcstoul(value, NULL, 10)) == 0)
                return FALSE;
        } else {
            return FALSE;
        }
    }
    return TRUE;
}

int wmain(int argc, wchar_t **argv)
{
    const wchar_t *registerPath = NULL;
    BOOL unregister = FALSE;
    if (!ParseArguments(argc, argv, &g_options, &registerPath, &unregister)) {
        Out(L"%ls", USAGE);
        return EXIT_USAGE;
    }
    if (registerPath != NULL || unregister) {
        wchar_t full[MAX_PATH];
        DWORD error;
        if (registerPath == NULL)
            error = UnregisterProvider(CLSID_WdCredentialProvider);
        else if (GetFullPathNameW(registerPath, MAX_PATH, full, NULL) == 0)
            error = GetLastError();
        else
            error = RegisterProvider(CLSID_WdCredentialProvider, PROVIDER_CLASS_NAME, full);
        Out(L"%ls: error %lu", registerPath != NULL ? L"register" : L"unregister", error);
        return error == ERROR_SUCCESS ? EXIT_CREDENTIAL : EXIT_NOT_LOADED;
    }

    // The logon screen's thread: an apartment with the common controls of version 6.
    HRESULT hr = CoInitializeEx(NULL, COINIT_APARTMENTTHREADED);
    if (FAILED(hr)) {
        Out(L"CoInitializeEx: hr 0x%08lX", (unsigned long)hr);
        return EXIT_NOT_LOADED;
    }
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);

    LoadedProvider loaded;
    BOOL created = g_options.dll != NULL ? LoadProviderDll(g_options.dll, g_options.clsid, &loaded)
                                         : LoadRegisteredProvider(g_options.clsid, &loaded);
    int result = EXIT_NOT_LOADED;
    if (created && g_options.clockDivisor > 1)
        Log(L"clock: waits %lu times faster (%d imports)", g_options.clockDivisor,
            SpeedUpModuleClock(loaded.module, g_options.clockDivisor));
    if (created) {
        result = RunTile(loaded.provider);
        ULONG left = loaded.provider->Release();
        Out(L"provider released: %lu reference(s) left", left);
    }
    if ((created || loaded.module != NULL) && !UnloadProvider(&loaded) && created &&
        (result == EXIT_CREDENTIAL || result == EXIT_NO_CREDENTIAL))
        result = EXIT_MODULE_HELD;
    CoUninitialize();
    Out(L"exit: %d", result);
    return result;
}
