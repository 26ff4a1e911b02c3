// CWdCredentialProviderCredential: the one tile. Its state from the registry, the field
// operations LogonUI calls, and the submit that runs the workflow and packs the logon.
#include "wardtile.h"

#include <new>
#include <shlwapi.h>

#include "registration.h"
#include "wardtile_res.h"

void WipeAndFreeString(LPWSTR *text)
{
    if (*text == NULL)
        return;
    SecureZeroMemory(*text, (SIZE_T)lstrlenW(*text) * sizeof(WCHAR));
    CoTaskMemFree(*text);
    *text = NULL;
}

static BOOL IsComboField(DWORD fieldId)
{
    return fieldId < FIELD_COUNT && g_fieldTable[fieldId].cpft == CPFT_COMBOBOX;
}

static BOOL IsEditableField(DWORD fieldId)
{
    return fieldId < FIELD_COUNT && (g_fieldTable[fieldId].cpft == CPFT_EDIT_TEXT ||
                                     g_fieldTable[fieldId].cpft == CPFT_PASSWORD_TEXT);
}

CWdCredentialProviderCredential::CWdCredentialProviderCredential()
    : m_refs(1), m_events(NULL), m_selectedDomain(0), m_submitting(FALSE)
{
    ModuleAddRef();
    ZeroMemory(m_descriptors, sizeof(m_descriptors));
    ZeroMemory(m_states, sizeof(m_states));
    ZeroMemory(m_strings, sizeof(m_strings));
    ZeroMemory(m_domains, sizeof(m_domains));
    m_snapUser[0] = m_snapPassword[0] = m_snapDomain[0] = L'\0';
}

CWdCredentialProviderCredential::~CWdCredentialProviderCredential()
{
    for (DWORD i = 0; i < FIELD_COUNT; i++) {
        WipeAndFreeString(&m_strings[i]);
        CoTaskMemFree(m_descriptors[i].pszLabel);
        m_descriptors[i].pszLabel = NULL;
    }
    for (DWORD i = 0; i < DOMAIN_SLOTS; i++) {
        CoTaskMemFree(m_domains[i]);
        m_domains[i] = NULL;
    }
    WipeSnapshot();
    ModuleRelease();
}

HRESULT CWdCredentialProviderCredential::Create(CWdCredentialProviderCredential **credential)
{
    *credential = new (std::nothrow) CWdCredentialProviderCredential();
    return *credential != NULL ? S_OK : E_OUTOFMEMORY;
}

// The configured domain names in enumeration order with the computer's own name before
// the first one that sorts after it, or at the end; so a local account can be chosen.
static HRESULT BuildDomainList(LPWSTR domains[DOMAIN_SLOTS])
{
    WCHAR computer[MAX_COMPUTERNAME_LENGTH + 1] = L"";
    DWORD computerChars = ARRAYSIZE(computer);
    if (!GetComputerNameW(computer, &computerChars))
        computer[0] = L'\0';
    BOOL computerPending = TRUE;

    WCHAR names[DOMAIN_LIST_MAX][CONFIG_TEXT_CHARS];
    int count = ReadDomainList(names);
    DWORD slot = 0;
    HRESULT hr = S_OK;
    for (int i = 0; i < count && SUCCEEDED(hr); i++) {
        if (computerPending && computer[0] != L'\0' && lstrcmpW(names[i], computer) > 0) {
            hr = SHStrDupW(computer, &domains[slot++]);
            computerPending = FALSE;
        }
        if (SUCCEEDED(hr))
            hr = SHStrDupW(names[i], &domains[slot++]);
    }
    if (SUCCEEDED(hr) && computerPending && computer[0] != L'\0')
        hr = SHStrDupW(computer, &domains[slot++]);
    return hr;
}

HRESULT CWdCredentialProviderCredential::Initialize(const CREDENTIAL_PROVIDER_FIELD_DESCRIPTOR *descriptors)
{
    if (descriptors == NULL)
        return E_INVALIDARG;
    HRESULT hr = S_OK;
    for (DWORD i = 0; i < FIELD_COUNT && SUCCEEDED(hr); i++) {
        m_states[i] = g_fieldTable[i].state;
        m_descriptors[i].dwFieldID = descriptors[i].dwFieldID;
        m_descriptors[i].cpft = descriptors[i].cpft;
        m_descriptors[i].guidFieldType = GUID_NULL;
        if (descriptors[i].pszLabel != NULL)
            hr = SHStrDupW(descriptors[i].pszLabel, &m_descriptors[i].pszLabel);
    }

    WCHAR userName[CONFIG_TEXT_CHARS];
    WCHAR domainName[CONFIG_TEXT_CHARS];
    // The last domain belongs to the last user; without a user it means nothing.
    if (ReadConfigString(NULL, VALUE_DEFAULT_USER_NAME, userName, ARRAYSIZE(userName)) == ERROR_SUCCESS)
        ReadConfigString(NULL, VALUE_DEFAULT_DOMAIN_NAME, domainName, ARRAYSIZE(domainName));
    else
        domainName[0] = L'\0';

    if (SUCCEEDED(hr)) {
        WCHAR title[CONFIG_TEXT_CHARS] = L"";
        LoadStringW(g_hinstModule, IDS_TILE_TITLE, title, ARRAYSIZE(title));
        hr = SHStrDupW(title, &m_strings[FIELD_TITLE]);
    }
    if (SUCCEEDED(hr)) {
        hr = SHStrDupW(userName, &m_strings[FIELD_USER_NAME]);
        // With a name filled in, the password field keeps the focus.
        if (userName[0] != L'\0')
            m_states[FIELD_USER_NAME].cpfis = CPFIS_NONE;
    }
    for (DWORD i = FIELD_PASSWORD; i < FIELD_COUNT && SUCCEEDED(hr); i++)
        hr = SHStrDupW(L"", &m_strings[i]);
    if (SUCCEEDED(hr))
        hr = BuildDomainList(m_domains);
    if (SUCCEEDED(hr)) {
        CharUpperW(domainName);
        for (DWORD i = 0; i < DOMAIN_SLOTS; i++) {
            if (m_domains[i] != NULL && lstrcmpW(m_domains[i], domainName) == 0) {
                m_selectedDomain = i;
                break;
            }
        }
    }
    return hr;
}

DWORD CWdCredentialProviderCredential::DomainCount() const
{
    DWORD count = 0;
    while (count < DOMAIN_SLOTS && m_domains[count] != NULL)
        count++;
    return count;
}

IFACEMETHODIMP CWdCredentialProviderCredential::QueryInterface(REFIID riid, void **ppv)
{
    if (ppv == NULL)
        return E_INVALIDARG;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_ICredentialProviderCredential)) {
        *ppv = static_cast<ICredentialProviderCredential *>(this);
        AddRef();
        return S_OK;
    }
    *ppv = NULL;
    return E_NOINTERFACE;
}

IFACEMETHODIMP_(ULONG) CWdCredentialProviderCredential::AddRef()
{
    return (ULONG)InterlockedIncrement(&m_refs);
}

IFACEMETHODIMP_(ULONG) CWdCredentialProviderCredential::Release()
{
    LONG refs = InterlockedDecrement(&m_refs);
    if (refs == 0)
        delete this;
    return (ULONG)refs;
}

IFACEMETHODIMP CWdCredentialProviderCredential::Advise(ICredentialProviderCredentialEvents *pcpce)
{
    if (pcpce == NULL)
        return E_INVALIDARG;
    pcpce->AddRef();
    if (m_events != NULL)
        m_events->Release();
    m_events = pcpce;
    return S_OK;
}

IFACEMETHODIMP CWdCredentialProviderCredential::UnAdvise()
{
    if (m_events != NULL) {
        m_events->Release();
        m_events = NULL;
    }
    return S_OK;
}

IFACEMETHODIMP CWdCredentialProviderCredential::SetSelected(BOOL *pbAutoLogon)
{
    if (pbAutoLogon == NULL)
        return E_INVALIDARG;
    *pbAutoLogon = FALSE;
    return S_OK;
}

IFACEMETHODIMP CWdCredentialProviderCredential::SetDeselected()
{
    if (m_strings[FIELD_PASSWORD] == NULL)
        return S_OK;
    WipeAndFreeString(&m_strings[FIELD_PASSWORD]);
    HRESULT hr = SHStrDupW(L"", &m_strings[FIELD_PASSWORD]);
    if (SUCCEEDED(hr) && m_events != NULL)
        hr = m_events->SetFieldString(this, FIELD_PASSWORD, m_strings[FIELD_PASSWORD]);
    return hr;
}

IFACEMETHODIMP CWdCredentialProviderCredential::GetFieldState(DWORD dwFieldID,
                                                              CREDENTIAL_PROVIDER_FIELD_STATE *pcpfs,
                                                              CREDENTIAL_PROVIDER_FIELD_INTERACTIVE_STATE *pcpfis)
{
    if (dwFieldID >= FIELD_COUNT || pcpfs == NULL || pcpfis == NULL)
        return E_INVALIDARG;
    *pcpfs = m_states[dwFieldID].cpfs;
    *pcpfis = m_states[dwFieldID].cpfis;
    return S_OK;
}

IFACEMETHODIMP CWdCredentialProviderCredential::GetStringValue(DWORD dwFieldID, LPWSTR *ppsz)
{
    if (ppsz == NULL)
        return E_INVALIDARG;
    *ppsz = NULL;
    // The picture has no string.
    if (dwFieldID >= FIELD_COUNT || m_strings[dwFieldID] == NULL)
        return E_INVALIDARG;
    return SHStrDupW(m_strings[dwFieldID], ppsz);
}

IFACEMETHODIMP CWdCredentialProviderCredential::GetBitmapValue(DWORD dwFieldID, HBITMAP *phbmp)
{
    if (phbmp == NULL)
        return E_INVALIDARG;
    *phbmp = NULL;
    if (dwFieldID != FIELD_TILE_IMAGE)
        return E_INVALIDARG;
    HBITMAP bitmap = NULL;
    WCHAR path[CONFIG_TEXT_CHARS];
    ReadConfigString(NULL, VALUE_LOGON_IMAGE, path, ARRAYSIZE(path));
    if (path[0] != L'\0')
        bitmap = (HBITMAP)LoadImageW(NULL, path, IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE);
    // A missing file or one that is not a bitmap falls back to the built-in picture.
    if (bitmap == NULL)
        bitmap = (HBITMAP)LoadImageW(g_hinstModule, MAKEINTRESOURCEW(IDB_TILE), IMAGE_BITMAP, 0, 0, 0);
    if (bitmap == NULL) {
        DWORD error = GetLastError();
        return error != ERROR_SUCCESS ? HRESULT_FROM_WIN32(error) : E_FAIL;
    }
    *phbmp = bitmap;
    return S_OK;
}

IFACEMETHODIMP CWdCredentialProviderCredential::GetCheckboxValue(DWORD dwFieldID, BOOL *pbChecked,
                                                                 LPWSTR *ppszLabel)
{
    (void)dwFieldID;
    (void)pbChecked;
    (void)ppszLabel;
    return E_NOTIMPL;
}

IFACEMETHODIMP CWdCredentialProviderCredential::GetSubmitButtonValue(DWORD dwFieldID, DWORD *pdwAdjacentTo)
{
    if (dwFieldID != FIELD_SUBMIT || pdwAdjacentTo == NULL)
        return E_INVALIDARG;
    *pdwAdjacentTo = FIELD_DOMAIN;
    return S_OK;
}

IFACEMETHODIMP CWdCredentialProviderCredential::GetComboBoxValueCount(DWORD dwFieldID, DWORD *pcItems,
                                                                      DWORD *pdwSelectedItem)
{
    if (!IsComboField(dwFieldID) || pcItems == NULL || pdwSelectedItem == NULL)
        return E_INVALIDARG;
    *pcItems = DomainCount();
    *pdwSelectedItem = m_selectedDomain;
    return S_OK;
}

IFACEMETHODIMP CWdCredentialProviderCredential::GetComboBoxValueAt(DWORD dwFieldID, DWORD dwItem,
                                                                   LPWSTR *ppszItem)
{
    if (ppszItem == NULL)
        return E_INVALIDARG;
    *ppszItem = NULL;
    if (!IsComboField(dwFieldID) || dwItem >= DomainCount())
        return E_INVALIDARG;
    return SHStrDupW(m_domains[dwItem], ppszItem);
}

IFACEMETHODIMP CWdCredentialProviderCredential::SetStringValue(DWORD dwFieldID, LPCWSTR psz)
{
    if (!IsEditableField(dwFieldID) || psz == NULL)
        return E_INVALIDARG;
    LPWSTR copy = NULL;
    HRESULT hr = SHStrDupW(psz, &copy);
    if (SUCCEEDED(hr)) {
        WipeAndFreeString(&m_strings[dwFieldID]);
        m_strings[dwFieldID] = copy;
    }
    return hr;
}

IFACEMETHODIMP CWdCredentialProviderCredential::SetCheckboxValue(DWORD dwFieldID, BOOL bChecked)
{
    (void)dwFieldID;
    (void)bChecked;
    return E_NOTIMPL;
}

IFACEMETHODIMP CWdCredentialProviderCredential::SetComboBoxSelectedValue(DWORD dwFieldID, DWORD dwSelectedItem)
{
    if (!IsComboField(dwFieldID) || dwSelectedItem >= DomainCount())
        return E_INVALIDARG;
    m_selectedDomain = dwSelectedItem;
    return S_OK;
}

IFACEMETHODIMP CWdCredentialProviderCredential::CommandLinkClicked(DWORD dwFieldID)
{
    (void)dwFieldID;
    return E_NOTIMPL;
}

IFACEMETHODIMP CWdCredentialProviderCredential::ReportResult(LONG ntsStatus, LONG ntsSubstatus,
                                                             LPWSTR *ppszOptionalStatusText,
                                                             CREDENTIAL_PROVIDER_STATUS_ICON *pcpsiOptionalStatusIcon)
{
    (void)ntsStatus;
    (void)ntsSubstatus;
    // No status text or icon of our own for any result; both outputs are optional.
    if (ppszOptionalStatusText != NULL)
        *ppszOptionalStatusText = NULL;
    if (pcpsiOptionalStatusIcon != NULL)
        *pcpsiOptionalStatusIcon = CPSI_NONE;
    return S_OK;
}

// ---- submit

HWND CWdCredentialProviderCredential::OwnerWindow()
{
    HWND owner = NULL;
    if (m_events == NULL || FAILED(m_events->OnCreatingWindow(&owner)))
        owner = NULL;
    return owner;
}

void CWdCredentialProviderCredential::WipeSnapshot()
{
    SecureZeroMemory(m_snapUser, sizeof(m_snapUser));
    SecureZeroMemory(m_snapPassword, sizeof(m_snapPassword));
    SecureZeroMemory(m_snapDomain, sizeof(m_snapDomain));
}

// Warns while the machine has more than one address; FALSE when the user cancels.
static BOOL CheckMultipleInterfaces(HWND owner)
{
    WCHAR warning[CONFIG_TEXT_CHARS];
    if (!ReadMultiInterfaceWarning(warning, ARRAYSIZE(warning)))
        return TRUE;
    WCHAR caption[CONFIG_TEXT_CHARS] = L"";
    LoadStringW(g_hinstModule, IDS_PROVIDER_CAPTION, caption, ARRAYSIZE(caption));
    while (CountExternalIPv4Addresses() > 1) {
        // OK after unplugging a cable checks again. A box that cannot be shown (0, e.g.
        // an owner that has gone) ends the check as OK: asking again would spin on
        // LogonUI's thread, and it is no reason to keep the user from logging on.
        int answer = MessageBoxW(owner, warning, caption, MB_OKCANCEL | MB_ICONWARNING);
        if (answer == IDCANCEL)
            return FALSE;
        if (answer != IDOK)
            break;
    }
    return TRUE;
}

HRESULT CWdCredentialProviderCredential::SubmitSnapshot(CREDENTIAL_PROVIDER_GET_SERIALIZATION_RESPONSE *pcpgsr,
                                                        CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION *pcpcs)
{
    // The snapshot comes first: every box below runs a modal loop, and a SetStringValue or
    // SetDeselected dispatched in it frees the field strings. A word cut to fit its copy
    // still makes the request too long, which FormatLogonRequest refuses.
    LPCWSTR user = m_strings[FIELD_USER_NAME] != NULL ? m_strings[FIELD_USER_NAME] : L"";
    LPCWSTR password = m_strings[FIELD_PASSWORD] != NULL ? m_strings[FIELD_PASSWORD] : L"";
    LPCWSTR domain = m_selectedDomain < DomainCount() ? m_domains[m_selectedDomain] : L"";
    lstrcpynW(m_snapUser, user, ARRAYSIZE(m_snapUser));
    lstrcpynW(m_snapPassword, password, ARRAYSIZE(m_snapPassword));
    lstrcpynW(m_snapDomain, domain, ARRAYSIZE(m_snapDomain));

    HWND owner = OwnerWindow();
    // Words with blanks would shift the request's words at the service, and an empty
    // domain list leaves nothing to log on to: refuse before anything is sent.
    WCHAR request[WARD_REQUEST_CHARS];
    LogonWordsResult words = FormatLogonRequest(m_snapUser, m_snapPassword, m_snapDomain, request);
    SecureZeroMemory(request, sizeof(request));
    if (m_snapDomain[0] == L'\0')
        words = LOGON_WORDS_BLANK;
    if (words != LOGON_WORDS_OK) {
        ShowTableMessage(owner, words == LOGON_WORDS_BLANK ? IDS_CREDENTIALS_BLANK : IDS_CREDENTIALS_TOO_LONG,
                         IDS_PROVIDER_CAPTION, MB_OK | MB_ICONWARNING);
        return S_FALSE;
    }
    if (!CheckMultipleInterfaces(owner))
        return S_FALSE;
    // The warning's loop may have seen LogonUI's window go: the dialog then has no owner.
    owner = OwnerWindow();
    if (owner != NULL && !IsWindow(owner))
        owner = NULL;

    LogonRequest logon = {m_snapUser, m_snapPassword, m_snapDomain};
    int result = WORKFLOW_FAILED;
    HRESULT hr = RunLogonWorkflow(owner, &logon, &result);
    if (FAILED(hr))
        return hr;
    if (result != WORKFLOW_SUCCEEDED)
        return S_FALSE;

    BYTE *buffer = NULL;
    DWORD bytes = 0;
    hr = PackInteractiveLogon(m_snapDomain, m_snapUser, m_snapPassword, &buffer, &bytes);
    if (FAILED(hr))
        return hr;
    ULONG package = 0;
    hr = LookupNegotiatePackage(&package);
    if (FAILED(hr)) {
        SecureZeroMemory(buffer, bytes);
        CoTaskMemFree(buffer);
        return hr;
    }
    pcpcs->ulAuthenticationPackage = package;
    pcpcs->clsidCredentialProvider = CLSID_WdCredentialProvider;
    pcpcs->cbSerialization = bytes;
    pcpcs->rgbSerialization = buffer;
    *pcpgsr = CPGSR_RETURN_CREDENTIAL_FINISHED;
    return S_OK;
}

IFACEMETHODIMP CWdCredentialProviderCredential::GetSerialization(
    CREDENTIAL_PROVIDER_GET_SERIALIZATION_RESPONSE *pcpgsr, CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION *pcpcs,
    LPWSTR *ppszOptionalStatusText, CREDENTIAL_PROVIDER_STATUS_ICON *pcpsiOptionalStatusIcon)
{
    // Every output is written before anything else, so that no path leaves one as the
    // caller left it: no credential, no status text, no icon.
    if (pcpgsr != NULL)
        *pcpgsr = CPGSR_NO_CREDENTIAL_NOT_FINISHED;
    if (pcpcs != NULL)
        ZeroMemory(pcpcs, sizeof(*pcpcs));
    if (ppszOptionalStatusText != NULL)
        *ppszOptionalStatusText = NULL;
    if (pcpsiOptionalStatusIcon != NULL)
        *pcpsiOptionalStatusIcon = CPSI_NONE;
    if (pcpgsr == NULL || pcpcs == NULL)
        return E_INVALIDARG;
    // The workflow's modal loop dispatches LogonUI's messages; a second submit arriving
    // through it must not start a second workflow over the same snapshot.
    if (m_submitting)
        return HRESULT_FROM_WIN32(ERROR_BUSY);
    m_submitting = TRUE;
    // LogonUI may drop its references while the workflow runs.
    AddRef();
    HRESULT hr = SubmitSnapshot(pcpgsr, pcpcs);
    WipeSnapshot();
    m_submitting = FALSE;
    Release();
    return hr;
}
