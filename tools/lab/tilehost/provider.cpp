// Finding and creating the provider as the logon screen does, reporting every fault of
// its registration on the way, and writing or removing that registration.
#include "tilehost.h"
#include "registration.h"

#include <stdio.h>

typedef HRESULT(STDAPICALLTYPE *DllGetClassObjectFn)(REFCLSID, REFIID, void **);
typedef HRESULT(STDAPICALLTYPE *DllCanUnloadNowFn)(void);

static void Fault(const wchar_t *what, const wchar_t *where, DWORD error)
{
    if (error == ERROR_SUCCESS) {
        Out(L"registration fault: %ls: HKLM\\%ls", what, where);
        return;
    }
    wchar_t message[256] = L"";
    FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL, error, 0, message, 256, NULL);
    // The system's text ends in a line break.
    for (size_t length = wcslen(message); length > 0 && (message[length - 1] == L'\n' || message[length - 1] == L'\r');)
        message[--length] = L'\0';
    Out(L"registration fault: %ls: HKLM\\%ls (error %lu %ls)", what, where, error, message);
}

// The keys of one registration under HKLM.
struct ProviderKeys {
    wchar_t clsid[64], entry[400], classKey[300], serverKey[340];
};

static void GetProviderKeys(REFCLSID clsid, ProviderKeys *keys)
{
    StringFromGUID2(clsid, keys->clsid, 64);
    _snwprintf(keys->entry, 400, L"%ls\\%ls", CREDENTIAL_PROVIDERS_KEY, keys->clsid);
    _snwprintf(keys->classKey, 300, L"%ls\\%ls", MACHINE_CLSID_KEY, keys->clsid);
    _snwprintf(keys->serverKey, 340, L"%ls\\InprocServer32", keys->classKey);
    keys->entry[399] = keys->classKey[299] = keys->serverKey[339] = L'\0';
}

// A REG_SZ or REG_EXPAND_SZ value (expanded); the registry result.
static LONG ReadText(const wchar_t *key, const wchar_t *name, wchar_t *out, DWORD chars)
{
    wchar_t raw[MAX_PATH];
    DWORD bytes = sizeof(raw);
    out[0] = L'\0';
    LONG result = RegGetValueW(HKEY_LOCAL_MACHINE, key, name,
                               RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, NULL, raw, &bytes);
    if (result == ERROR_SUCCESS && ExpandEnvironmentStringsW(raw, out, chars) == 0)
        result = (LONG)GetLastError();
    return result;
}

// Whether the key exists: the registry result of opening it.
static LONG OpenResult(const wchar_t *path)
{
    HKEY key;
    LONG result = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key);
    if (result == ERROR_SUCCESS)
        RegCloseKey(key);
    return result;
}

// The provider entry as the logon screen enumerates them.
static BOOL FindProviderEntry(const ProviderKeys &keys)
{
    HKEY key;
    LONG result = RegOpenKeyExW(HKEY_LOCAL_MACHINE, CREDENTIAL_PROVIDERS_KEY, 0, KEY_READ, &key);
    if (result != ERROR_SUCCESS) {
        Fault(L"no provider list", CREDENTIAL_PROVIDERS_KEY, (DWORD)result);
        return FALSE;
    }
    BOOL found = FALSE;
    wchar_t name[256];
    for (DWORD i = 0;; i++) {
        DWORD chars = 256;
        if (RegEnumKeyExW(key, i, name, &chars, NULL, NULL, NULL, NULL) != ERROR_SUCCESS)
            break;
        wchar_t label[260] = L"";
        DWORD bytes = sizeof(label) - sizeof(wchar_t);
        RegGetValueW(key, name, NULL, RRF_RT_REG_SZ, NULL, label, &bytes);
        Out(L"provider entry: %ls %ls", name, label);
        found = found || _wcsicmp(name, keys.clsid) == 0;
    }
    RegCloseKey(key);
    if (!found)
        Fault(L"provider entry missing", keys.entry, ERROR_SUCCESS);
    return found;
}

// The class key, its server path and threading model.
static BOOL CheckClassKey(const ProviderKeys &keys, wchar_t *path)
{
    LONG result = OpenResult(keys.classKey);
    if (result != ERROR_SUCCESS) {
        Fault(L"class key missing", keys.classKey, (DWORD)result);
        return FALSE;
    }
    if ((result = OpenResult(keys.serverKey)) != ERROR_SUCCESS) {
        Fault(L"server key missing", keys.serverKey, (DWORD)result);
        return FALSE;
    }
    result = ReadText(keys.serverKey, NULL, path, MAX_PATH);
    if (result != ERROR_SUCCESS || path[0] == L'\0') {
        Fault(L"server path missing", keys.serverKey, (DWORD)result);
        return FALSE;
    }
    Out(L"server: %ls", path);
    // The logon screen's thread is an apartment: a server of another model is reached
    // through a proxy, which no credential provider interface has.
    wchar_t model[64];
    result = ReadText(keys.serverKey, L"ThreadingModel", model, 64);
    if (result != ERROR_SUCCESS) {
        Fault(L"ThreadingModel missing (must be Apartment)", keys.serverKey, (DWORD)result);
        return FALSE;
    }
    if (_wcsicmp(model, L"Apartment") != 0 && _wcsicmp(model, L"Both") != 0) {
        wchar_t what[128];
        _snwprintf(what, 128, L"ThreadingModel is \"%ls\" (must be Apartment)", model);
        what[127] = L'\0';
        Fault(what, keys.serverKey, ERROR_SUCCESS);
        return FALSE;
    }
    Out(L"threading model: %ls", model);
    // Loadable as a 64-bit image, without running its entry point.
    HMODULE image = LoadLibraryExW(path, NULL, LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (image == NULL) {
        Out(L"registration fault: server not loadable: %ls (error %lu)", path, GetLastError());
        return FALSE;
    }
    FreeLibrary(image);
    return TRUE;
}

BOOL LoadRegisteredProvider(REFCLSID clsid, LoadedProvider *loaded)
{
    ZeroMemory(loaded, sizeof(*loaded));
    ProviderKeys keys;
    GetProviderKeys(clsid, &keys);
    if (!FindProviderEntry(keys) || !CheckClassKey(keys, loaded->path))
        return FALSE;
    HRESULT hr = CoCreateInstance(clsid, NULL, CLSCTX_INPROC_SERVER, IID_ICredentialProvider,
                                  reinterpret_cast<void **>(&loaded->provider));
    if (FAILED(hr)) {
        Out(L"CoCreateInstance(%ls): hr 0x%08lX", keys.clsid, (unsigned long)hr);
        loaded->provider = NULL;
        return FALSE;
    }
    loaded->module = GetModuleHandleW(loaded->path);
    Out(L"created: %ls in %ls", keys.clsid, loaded->path);
    return TRUE;
}

BOOL LoadProviderDll(const wchar_t *path, REFCLSID clsid, LoadedProvider *loaded)
{
    ZeroMemory(loaded, sizeof(*loaded));
    wcsncpy(loaded->path, path, MAX_PATH - 1);
    loaded->module = LoadLibraryW(path);
    if (loaded->module == NULL) {
        Out(L"LoadLibrary(%ls): error %lu", path, GetLastError());
        return FALSE;
    }
    loaded->loadedByUs = TRUE;
    DllGetClassObjectFn getClassObject = reinterpret_cast<DllGetClassObjectFn>(
        reinterpret_cast<void *>(GetProcAddress(loaded->module, "DllGetClassObject")));
    if (getClassObject == NULL) {
        Out(L"%ls exports no DllGetClassObject", path);
        return FALSE;
    }
    IClassFactory *factory = NULL;
    HRESULT hr = getClassObject(clsid, IID_IClassFactory, reinterpret_cast<void **>(&factory));
    if (FAILED(hr) || factory == NULL) {
        Out(L"DllGetClassObject: hr 0x%08lX", (unsigned long)hr);
        return FALSE;
    }
    hr = factory->CreateInstance(NULL, IID_ICredentialProvider,
                                 reinterpret_cast<void **>(&loaded->provider));
    factory->Release();
    if (FAILED(hr)) {
        Out(L"CreateInstance: hr 0x%08lX", (unsigned long)hr);
        loaded->provider = NULL;
        return FALSE;
    }
    Out(L"created from %ls", path);
    return TRUE;
}

BOOL UnloadProvider(LoadedProvider *loaded)
{
    BOOL free = TRUE;
    if (loaded->module != NULL) {
        DllCanUnloadNowFn canUnloadNow = reinterpret_cast<DllCanUnloadNowFn>(
            reinterpret_cast<void *>(GetProcAddress(loaded->module, "DllCanUnloadNow")));
        HRESULT hr = canUnloadNow != NULL ? canUnloadNow() : E_NOTIMPL;
        free = hr == S_OK;
        Out(L"DllCanUnloadNow: 0x%08lX (%ls)", (unsigned long)hr,
            free ? L"the module may go" : L"the module is still held");
        if (loaded->loadedByUs && free)
            FreeLibrary(loaded->module);
        loaded->module = NULL;
    }
    if (!loaded->loadedByUs && loaded->path[0] != L'\0') {
        // What COM does with a server nobody uses: the module leaves only when it agrees.
        CoFreeUnusedLibrariesEx(0, 0);
        Out(L"unloaded: %ls", GetModuleHandleW(loaded->path) == NULL ? L"yes" : L"no");
    }
    return free;
}

DWORD RegisterProvider(REFCLSID clsid, const wchar_t *className, const wchar_t *dllPath)
{
    ProviderKeys keys;
    GetProviderKeys(clsid, &keys);
    // The entry is the switch: written last, so the parts it needs exist whenever it does.
    const struct {
        const wchar_t *key, *name, *text;
    } values[] = {{keys.classKey, NULL, className}, {keys.serverKey, NULL, dllPath},
                  {keys.serverKey, L"ThreadingModel", L"Apartment"}, {keys.entry, NULL, className}};
    DWORD error = ERROR_SUCCESS;
    for (const auto &value : values) {
        if (error == ERROR_SUCCESS)
            error = (DWORD)RegSetKeyValueW(HKEY_LOCAL_MACHINE, value.key, value.name, REG_SZ, value.text,
                                           (DWORD)((wcslen(value.text) + 1) * sizeof(wchar_t)));
    }
    return error;
}

DWORD UnregisterProvider(REFCLSID clsid)
{
    ProviderKeys keys;
    GetProviderKeys(clsid, &keys);
    DWORD error = ERROR_SUCCESS;
    const wchar_t *const registered[] = {keys.entry, keys.classKey};
    for (const wchar_t *key : registered) {
        LONG result = RegDeleteTreeW(HKEY_LOCAL_MACHINE, key);
        if (error == ERROR_SUCCESS && result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND)
            error = (DWORD)result;
    }
    return error;
}
