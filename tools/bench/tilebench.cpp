// tilebench: figures of the logon tile, wardtile.dll loaded from beside this program.
//   tilebench submit [N]   N submits (EnableDHCP off) against dezsim, each beside one
//                          "logon" sent straight to the service: the tile's overhead.
//                          wardhost must be installed and running.
//   tilebench load [N]     module load to seven field descriptors ready, N times
//   tilebench cycles [N]   N create / scenario / credential / field reads / release cycles,
//                          with the commit charge, handle and GDI object counts before and after.
#include "bench_support.h"

#include <windows.h>
#include <psapi.h>

#include <stdarg.h>
#include <stdio.h>
#include <string>
#include <vector>

#include "credential_provider.h"
#include "registration.h"

using namespace bench;

// Reports what failed, as printf would; the exit code of a failed run.
static int Fail(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    vfprintf(stderr, format, args);
    va_end(args);
    fputc('\n', stderr);
    return 1;
}

struct Module {
    HMODULE module;
    decltype(&DllGetClassObject) getClassObject;  // the exports, as the platform declares them
    decltype(&DllCanUnloadNow) canUnloadNow;
};

static bool LoadTile(Module *m)
{
    m->module = LoadLibraryW(BesideMe(L"wardtile.dll").c_str());
    if (m->module == NULL)
        return false;
    m->getClassObject = (decltype(&DllGetClassObject))(void *)GetProcAddress(m->module, "DllGetClassObject");
    m->canUnloadNow = (decltype(&DllCanUnloadNow))(void *)GetProcAddress(m->module, "DllCanUnloadNow");
    return m->getClassObject != NULL && m->canUnloadNow != NULL;
}

// A new provider with its scenario set, and its one credential; NULL on any failure.
static ICredentialProviderCredential *OpenTile(const Module &m, ICredentialProvider **provider)
{
    IClassFactory *factory = NULL;
    ICredentialProviderCredential *credential = NULL;
    *provider = NULL;
    if (FAILED(m.getClassObject(CLSID_WdCredentialProvider, IID_IClassFactory, (void **)&factory)))
        return NULL;
    factory->CreateInstance(NULL, IID_ICredentialProvider, (void **)provider);
    factory->Release();
    if (*provider == NULL || FAILED((*provider)->SetUsageScenario(CPUS_LOGON, 0)) ||
        FAILED((*provider)->GetCredentialAt(0, &credential)))
        return NULL;
    return credential;
}

static void PrintCounts(const char *when)
{
    PROCESS_MEMORY_COUNTERS memory = {};
    memory.cb = sizeof(memory);
    GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof(memory));
    // The commit charge is the process's private memory; Wine fills only PagefileUsage.
    // GetGuiResources answers 0 under Wine: shown as measured.
    printf("%-7s commit charge %llu KiB, handles %u, GDI objects %lu, USER objects %lu\n", when,
           (unsigned long long)(memory.PagefileUsage / 1024), CountHandles(),
           GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS), GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS));
}

// ---- submit

static int BenchSubmit(const Module &m, int count)
{
    if (!WaitForService(60000))
        return Fail("wardhost is not listening");
    HANDLE simulator = NULL;
    if (!StartSwitch(L"logon-group.txt", 2 * count, false, &simulator))
        return 1;
    if (!SetKeyDword(VALUE_ENABLE_DHCP, 0) || !SetKeyDword(VALUE_MULTI_INTERFACE_CHECK, 0))
        return Fail("cannot write the product key");

    std::vector<double> tile, service;
    const wchar_t request[] = L"logon benchuser benchpassword";
    for (int i = 0; i < count; i++) {
        // The service's own logon, as a client that is already connected sees it.
        service.push_back(TimeCall(request, L"OK"));
        if (service.back() < 0)
            return Fail("logon %d failed", i + 1);
        // The tile: submit to serialization, the workflow's dialog and worker included.
        ICredentialProvider *provider;
        ICredentialProviderCredential *credential = OpenTile(m, &provider);
        if (credential == NULL || FAILED(credential->SetStringValue(2, L"benchuser")) ||
            FAILED(credential->SetStringValue(3, L"benchpassword")))
            return Fail("the tile did not open");
        CREDENTIAL_PROVIDER_GET_SERIALIZATION_RESPONSE response = CPGSR_NO_CREDENTIAL_NOT_FINISHED;
        CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION serialization = {};
        LPWSTR text = NULL;
        CREDENTIAL_PROVIDER_STATUS_ICON icon = CPSI_NONE;
        double start = NowMs();
        HRESULT hr = credential->GetSerialization(&response, &serialization, &text, &icon);
        tile.push_back(NowMs() - start);
        if (hr != S_OK || response != CPGSR_RETURN_CREDENTIAL_FINISHED)
            return Fail("submit %d: hr 0x%08lX, response %d", i + 1, (unsigned long)hr, response);
        SecureZeroMemory(serialization.rgbSerialization, serialization.cbSerialization);
        CoTaskMemFree(serialization.rgbSerialization);
        CoTaskMemFree(text);
        credential->Release();
        provider->Release();
    }
    WaitForSingleObject(simulator, 10000);
    CloseHandle(simulator);
    printf("submits: %d\n", count);
    PrintStats("tile submit:", tile);
    PrintStats("service logon:", service);
    printf("ratio: %.3f x the service's own logon\n", Median(tile) / Median(service));
    return 0;
}

// ---- load

static int BenchLoad(int count)
{
    std::vector<double> times;
    for (int i = 0; i < count; i++) {
        double start = NowMs();
        Module m;
        if (!LoadTile(&m))
            return Fail("wardtile.dll did not load");
        ICredentialProvider *provider;
        ICredentialProviderCredential *credential = OpenTile(m, &provider);
        DWORD fields = 0;
        if (credential == NULL || FAILED(provider->GetFieldDescriptorCount(&fields)) || fields != 7)
            return Fail("the tile did not open");
        for (DWORD f = 0; f < fields; f++) {
            CREDENTIAL_PROVIDER_FIELD_DESCRIPTOR *descriptor = NULL;
            if (FAILED(provider->GetFieldDescriptorAt(f, &descriptor)))
                return 1;
            CoTaskMemFree(descriptor->pszLabel);
            CoTaskMemFree(descriptor);
        }
        times.push_back(NowMs() - start);
        credential->Release();
        provider->Release();
        if (m.canUnloadNow() != S_OK)
            return Fail("the module stays held after the release");
        FreeLibrary(m.module);
    }
    printf("loads: %d\n", count);
    PrintStats("to seven descriptors:", times);
    return 0;
}

// ---- cycles

static int BenchCycles(const Module &m, int count)
{
    // Cycle 0 warms up: the first use allocates what the process keeps (heaps, classes).
    for (int i = 0; i <= count; i++) {
        if (i == 1)
            PrintCounts("before:");
        ICredentialProvider *provider;
        ICredentialProviderCredential *credential = OpenTile(m, &provider);
        if (credential == NULL)
            return Fail("cycle %d: the tile did not open", i);
        HBITMAP bitmap = NULL;
        if (SUCCEEDED(credential->GetBitmapValue(0, &bitmap)) && bitmap != NULL)
            DeleteObject(bitmap);
        LPWSTR text = NULL;
        if (SUCCEEDED(credential->GetStringValue(1, &text)))
            CoTaskMemFree(text);
        credential->SetStringValue(3, L"cyclepassword");
        BOOL autoLogon;
        credential->SetSelected(&autoLogon);
        credential->SetDeselected();
        credential->Release();
        provider->Release();
    }
    PrintCounts("after:");
    printf("cycles: %d, DllCanUnloadNow 0x%08lX\n", count, (unsigned long)m.canUnloadNow());
    return 0;
}

int wmain(int argc, wchar_t **argv)
{
    const std::wstring what = argc > 1 ? argv[1] : L"";
    if (FAILED(CoInitializeEx(NULL, COINIT_APARTMENTTHREADED)))
        return 1;
    if (what == L"load")
        return BenchLoad(CountArg(argc, argv, 2, 100));
    Module m;
    if (!LoadTile(&m))
        return Fail("wardtile.dll did not load beside tilebench.exe");
    if (what == L"submit")
        return BenchSubmit(m, CountArg(argc, argv, 2, 20));
    if (what == L"cycles")
        return BenchCycles(m, CountArg(argc, argv, 2, 1000));
    fprintf(stderr, "usage: tilebench submit|load|cycles [N]\n");
    return 2;
}
