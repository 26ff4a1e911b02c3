// The module frame of wardtile.dll: entry point, the two COM exports, the module lock
// count and the class factory that makes providers.
#include "wardtile.h"

#include <new>

#include "registration.h"

HINSTANCE g_hinstModule = NULL;

// The module's objects come from the process heap. Defining the allocation operators here
// keeps the C++ runtime's versions, and the exception and demangling code they bring with
// them, out of a DLL that the logon screen loads.
void *operator new(size_t bytes, const std::nothrow_t &) noexcept
{
    return HeapAlloc(GetProcessHeap(), 0, bytes != 0 ? bytes : 1);
}

void operator delete(void *memory) noexcept
{
    if (memory != NULL)
        HeapFree(GetProcessHeap(), 0, memory);
}

void operator delete(void *memory, size_t) noexcept
{
    operator delete(memory);
}

// Live providers and credentials, plus outstanding LockServer(TRUE) calls. COM may ask
// DllCanUnloadNow from another thread, hence interlocked.
static LONG s_moduleLocks = 0;

void ModuleAddRef(void)
{
    InterlockedIncrement(&s_moduleLocks);
}

void ModuleRelease(void)
{
    InterlockedDecrement(&s_moduleLocks);
}

namespace {

class CClassFactory final : public IClassFactory {
public:
    CClassFactory() : m_refs(1) {}

    IFACEMETHODIMP QueryInterface(REFIID riid, void **ppv) override
    {
        if (ppv == NULL)
            return E_INVALIDARG;
        if (IsEqualIID(riid, IID_IClassFactory) || IsEqualIID(riid, IID_IUnknown)) {
            *ppv = static_cast<IClassFactory *>(this);
            AddRef();
            return S_OK;
        }
        *ppv = NULL;
        return E_NOINTERFACE;
    }

    IFACEMETHODIMP_(ULONG) AddRef() override
    {
        return (ULONG)InterlockedIncrement(&m_refs);
    }

    IFACEMETHODIMP_(ULONG) Release() override
    {
        LONG refs = InterlockedDecrement(&m_refs);
        if (refs == 0)
            delete this;
        return (ULONG)refs;
    }

    IFACEMETHODIMP CreateInstance(IUnknown *pUnkOuter, REFIID riid, void **ppv) override
    {
        if (ppv == NULL)
            return E_INVALIDARG;
        *ppv = NULL;
        if (pUnkOuter != NULL)
            return CLASS_E_NOAGGREGATION;
        CWdCredentialProvider *provider = NULL;
        HRESULT hr = CWdCredentialProvider::Create(&provider);
        if (SUCCEEDED(hr)) {
            hr = provider->QueryInterface(riid, ppv);
            provider->Release();
        }
        return hr;
    }

    IFACEMETHODIMP LockServer(BOOL fLock) override
    {
        if (fLock)
            ModuleAddRef();
        else
            ModuleRelease();
        return S_OK;
    }

private:
    ~CClassFactory() {}
    LONG m_refs;
};

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE hinstDll, DWORD reason, LPVOID reserved)
{
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH)
        DisableThreadLibraryCalls(hinstDll);
    g_hinstModule = hinstDll;
    return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID rclsid, REFIID riid, void **ppv)
{
    if (ppv == NULL)
        return E_INVALIDARG;
    *ppv = NULL;
    if (!IsEqualCLSID(rclsid, CLSID_WdCredentialProvider))
        return CLASS_E_CLASSNOTAVAILABLE;
    CClassFactory *factory = new (std::nothrow) CClassFactory();
    if (factory == NULL)
        return E_OUTOFMEMORY;
    HRESULT hr = factory->QueryInterface(riid, ppv);
    factory->Release();
    return hr;
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow(void)
{
    return InterlockedCompareExchange(&s_moduleLocks, 0, 0) > 0 ? S_FALSE : S_OK;
}
