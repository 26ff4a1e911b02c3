// CWdCredentialProvider: accepts only the logon scenario, publishes the tile's field
// table and hands out its one credential.
#include "wardtile.h"

#include <new>
#include <shlwapi.h>

HRESULT CopyFieldDescriptor(const CREDENTIAL_PROVIDER_FIELD_DESCRIPTOR *source,
                            CREDENTIAL_PROVIDER_FIELD_DESCRIPTOR **copy)
{
    *copy = NULL;
    CREDENTIAL_PROVIDER_FIELD_DESCRIPTOR *block =
        (CREDENTIAL_PROVIDER_FIELD_DESCRIPTOR *)CoTaskMemAlloc(sizeof(*block));
    if (block == NULL)
        return E_OUTOFMEMORY;
    block->dwFieldID = source->dwFieldID;
    block->cpft = source->cpft;
    block->guidFieldType = GUID_NULL;
    block->pszLabel = NULL;
    HRESULT hr = S_OK;
    if (source->pszLabel != NULL)
        hr = SHStrDupW(source->pszLabel, &block->pszLabel);
    if (FAILED(hr)) {
        CoTaskMemFree(block);
        return hr;
    }
    *copy = block;
    return S_OK;
}

CWdCredentialProvider::CWdCredentialProvider() : m_refs(1), m_credential(NULL)
{
    ModuleAddRef();
    for (DWORD i = 0; i < FIELD_COUNT; i++) {
        m_descriptors[i].dwFieldID = i;
        m_descriptors[i].cpft = g_fieldTable[i].cpft;
        m_descriptors[i].pszLabel = NULL;
        m_descriptors[i].guidFieldType = GUID_NULL;
    }
}

CWdCredentialProvider::~CWdCredentialProvider()
{
    if (m_credential != NULL) {
        m_credential->Release();
        m_credential = NULL;
    }
    for (DWORD i = 0; i < FIELD_COUNT; i++) {
        CoTaskMemFree(m_descriptors[i].pszLabel);
        m_descriptors[i].pszLabel = NULL;
    }
    ModuleRelease();
}

HRESULT CWdCredentialProvider::LoadLabels()
{
    HRESULT hr = S_OK;
    for (DWORD i = 0; i < FIELD_COUNT && SUCCEEDED(hr); i++) {
        WCHAR label[CONFIG_TEXT_CHARS] = L"";
        if (g_fieldTable[i].labelId != 0)
            LoadStringW(g_hinstModule, g_fieldTable[i].labelId, label, ARRAYSIZE(label));
        hr = SHStrDupW(label, &m_descriptors[i].pszLabel);
    }
    return hr;
}

HRESULT CWdCredentialProvider::Create(CWdCredentialProvider **provider)
{
    *provider = NULL;
    CWdCredentialProvider *made = new (std::nothrow) CWdCredentialProvider();
    if (made == NULL)
        return E_OUTOFMEMORY;
    HRESULT hr = made->LoadLabels();
    if (FAILED(hr)) {
        made->Release();
        return hr;
    }
    *provider = made;
    return S_OK;
}

IFACEMETHODIMP CWdCredentialProvider::QueryInterface(REFIID riid, void **ppv)
{
    if (ppv == NULL)
        return E_INVALIDARG;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_ICredentialProvider)) {
        *ppv = static_cast<ICredentialProvider *>(this);
        AddRef();
        return S_OK;
    }
    *ppv = NULL;
    return E_NOINTERFACE;
}

IFACEMETHODIMP_(ULONG) CWdCredentialProvider::AddRef()
{
    return (ULONG)InterlockedIncrement(&m_refs);
}

IFACEMETHODIMP_(ULONG) CWdCredentialProvider::Release()
{
    LONG refs = InterlockedDecrement(&m_refs);
    if (refs == 0)
        delete this;
    return (ULONG)refs;
}

IFACEMETHODIMP CWdCredentialProvider::SetUsageScenario(CREDENTIAL_PROVIDER_USAGE_SCENARIO cpus, DWORD dwFlags)
{
    (void)dwFlags;
    switch (cpus) {
    case CPUS_LOGON:
        break;
    case CPUS_UNLOCK_WORKSTATION:
    case CPUS_CHANGE_PASSWORD:
    case CPUS_CREDUI:
        return E_NOTIMPL;
    default:
        return E_INVALIDARG;
    }

    // A repeated logon scenario starts from a fresh tile; the old one goes.
    if (m_credential != NULL) {
        m_credential->Release();
        m_credential = NULL;
    }
    CWdCredentialProviderCredential *credential = NULL;
    HRESULT hr = CWdCredentialProviderCredential::Create(&credential);
    if (SUCCEEDED(hr)) {
        hr = credential->Initialize(m_descriptors);
        if (SUCCEEDED(hr))
            m_credential = credential;
        else
            credential->Release();
    }
    return hr;
}

IFACEMETHODIMP CWdCredentialProvider::SetSerialization(const CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION *pcpcs)
{
    (void)pcpcs;
    return E_NOTIMPL;
}

IFACEMETHODIMP CWdCredentialProvider::Advise(ICredentialProviderEvents *pcpe, UINT_PTR upAdviseContext)
{
    (void)pcpe;
    (void)upAdviseContext;
    return E_NOTIMPL;
}

IFACEMETHODIMP CWdCredentialProvider::UnAdvise()
{
    return E_NOTIMPL;
}

IFACEMETHODIMP CWdCredentialProvider::GetFieldDescriptorCount(DWORD *pdwCount)
{
    if (pdwCount == NULL)
        return E_INVALIDARG;
    *pdwCount = FIELD_COUNT;
    return S_OK;
}

IFACEMETHODIMP CWdCredentialProvider::GetFieldDescriptorAt(DWORD dwIndex,
                                                           CREDENTIAL_PROVIDER_FIELD_DESCRIPTOR **ppcpfd)
{
    if (ppcpfd == NULL)
        return E_INVALIDARG;
    *ppcpfd = NULL;
    if (dwIndex >= FIELD_COUNT)
        return E_INVALIDARG;
    return CopyFieldDescriptor(&m_descriptors[dwIndex], ppcpfd);
}

IFACEMETHODIMP CWdCredentialProvider::GetCredentialCount(DWORD *pdwCount, DWORD *pdwDefault,
                                                         BOOL *pbAutoLogonWithDefault)
{
    if (pdwCount == NULL || pdwDefault == NULL || pbAutoLogonWithDefault == NULL)
        return E_INVALIDARG;
    *pdwCount = 1;
    *pdwDefault = 0;
    *pbAutoLogonWithDefault = FALSE;
    return S_OK;
}

IFACEMETHODIMP CWdCredentialProvider::GetCredentialAt(DWORD dwIndex, ICredentialProviderCredential **ppcpc)
{
    if (ppcpc == NULL)
        return E_INVALIDARG;
    *ppcpc = NULL;
    if (dwIndex != 0)
        return E_INVALIDARG;
    // Only a successful logon scenario makes the credential.
    if (m_credential == NULL)
        return E_UNEXPECTED;
    return m_credential->QueryInterface(IID_ICredentialProviderCredential, (void **)ppcpc);
}
