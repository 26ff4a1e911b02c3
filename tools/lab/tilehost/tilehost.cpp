// tilehost: tries a credential provider's logon tile without logging off (USAGE says how).
// It never logs anyone on; a scripted mode fills the fields and answers the tile's message
// boxes, for tests and unattended checks.
#include "tilehost.h"
#include "registration.h"

#include <commctrl.h>
#include <ntsecapi.h>
#include <stdlib.h>

// The options in brief; README.md ("Trying the logon tile") says what each run does.
static const wchar_t USAGE[] =
    L"Usage: tilehost [--dll PATH] [--clsid CLSID]\n"
    L"       tilehost [--dll PATH] --user NAME --password TEXT [--domain NAME]\n"
    L"                [--answer ok|cancel] [--timeout SECONDS] [--clock-divisor N]\n"
    L"       tilehost --register PATH | --unregister\n"
    L"Shows a credential provider's tile as the logon screen would; nothing is handed to Windows.\n"
    L"  --dll PATH         load PATH directly, not through its registration\n"
    L"  --clsid CLSID      the provider's class (default: Portgate's " PROVIDER_CLSID_TEXT L")\n"
    L"  --user, --password, --domain  fill the fields (the domain from \"Log on to\"), submit, exit\n"
    L"  --answer ok|cancel how message boxes are answered (default ok)\n"
    L"  --timeout SECONDS  give up when the submit has not returned (default 600)\n"
    L"  --clock-divisor N  the provider's waits and tick counts run N times faster\n"
    L"  --register PATH    register PATH as the Portgate tile; --unregister removes it\n"
    L"Exit codes: 0 credential, 1 no credential, 2 usage, 3 not loaded, 4 set-up refused,\n"
    L"5 error HRESULT, 6 malformed buffer, 7 module still held, 8 --timeout passed.\n";

struct Options {
    const wchar_t *dll;
    const wchar_t *registerPath;
    BOOL unregister;
    CLSID clsid;
    BOOL scripted;
    const wchar_t *user;
    const wchar_t *password;
    const wchar_t *domain;
    BoxAnswer answer;  // ANSWER_NONE when not scripted: a person answers
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
        Out(L"status text: %ls (icon %d)", OneLine(status, flat, 600), icon);
        CoTaskMemFree(status);
    }
    if (FAILED(hr)) {
        Out(L"outcome: error");
        g_outcome = EXIT_SERIALIZATION_ERROR;
    } else if (response == CPGSR_RETURN_CREDENTIAL_FINISHED) {
        wchar_t clsidText[64];
        StringFromGUID2(serialization.clsidCredentialProvider, clsidText, 64);
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
    g_window = CreateTileWindow(g_credential, &fields, !g_options.scripted, Submit);
    if (g_window == NULL)
        Out(L"the tile's window could not be created (error %lu)", GetLastError());
    else
        Log(L"window: %p", (void *)g_window);  // every control exists from here on

    if (g_options.scripted && !FillFields(&fields))
        goto cleanup;
    StartDialogWatcher(g_options.answer);
    if (g_options.scripted) {
        Submit();
        if (g_window != NULL)
            DestroyWindow(g_window);
    } else {
        MSG message;
        while (GetMessageW(&message, NULL, 0, 0) > 0) {
            if (!IsDialogMessageW(g_window, &message)) {
                TranslateMessage(&message);
                DispatchMessageW(&message);
            }
        }
    }
    StopDialogWatcher();
    result = g_outcome;
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

// Every option but --unregister takes a value, read as text first; --help is no option.
static BOOL ParseArguments(int argc, wchar_t **argv, Options *options)
{
    const wchar_t *clsid = NULL, *answer = L"ok", *timeout = L"600", *divisor = L"1";
    // The scripted ones make the run scripted.
    const struct {
        const wchar_t *name;
        const wchar_t **value;
        BOOL scripted;
    } texts[] = {{L"--dll", &options->dll, FALSE},      {L"--register", &options->registerPath, FALSE},
                 {L"--user", &options->user, TRUE},     {L"--password", &options->password, TRUE},
                 {L"--domain", &options->domain, TRUE}, {L"--answer", &answer, TRUE},
                 {L"--clsid", &clsid, FALSE},           {L"--timeout", &timeout, FALSE},
                 {L"--clock-divisor", &divisor, FALSE}};
    for (int i = 1; i < argc; i++) {
        if (wcscmp(argv[i], L"--unregister") == 0) {
            options->unregister = TRUE;
            continue;
        }
        BOOL known = FALSE;
        for (const auto &text : texts) {
            if (!known && i + 1 < argc && wcscmp(argv[i], text.name) == 0) {
                *text.value = argv[++i];
                options->scripted = options->scripted || text.scripted;
                known = TRUE;
            }
        }
        if (!known)
            return FALSE;
    }
    options->clsid = CLSID_WdCredentialProvider;
    options->timeoutSeconds = wcstoul(timeout, NULL, 10);
    options->clockDivisor = wcstoul(divisor, NULL, 10);
    options->answer = !options->scripted ? ANSWER_NONE : _wcsicmp(answer, L"ok") == 0 ? ANSWER_OK : ANSWER_CANCEL;
    return (clsid == NULL || SUCCEEDED(CLSIDFromString(clsid, &options->clsid))) && options->clockDivisor > 0 &&
           (_wcsicmp(answer, L"ok") == 0 || _wcsicmp(answer, L"cancel") == 0);
}

int wmain(int argc, wchar_t **argv)
{
    if (!ParseArguments(argc, argv, &g_options)) {
        Out(L"%ls", USAGE);
        return EXIT_USAGE;
    }
    const wchar_t *registerPath = g_options.registerPath;
    if (registerPath != NULL || g_options.unregister) {
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
