// What the parts of wardtile.dll share: the module state, the tile's field table, the
// three COM classes, the packed logon and the logon workflow.
#pragma once

#include <windows.h>

#include "credential_provider.h"
#include "ward_client.h"
#include "product_key.h"

// ---- module (dll.cpp)

extern HINSTANCE g_hinstModule;
void ModuleAddRef(void);
void ModuleRelease(void);

// ---- the tile's fields

enum FieldId {
    FIELD_TILE_IMAGE = 0,
    FIELD_TITLE,
    FIELD_USER_NAME,
    FIELD_PASSWORD,
    FIELD_DOMAIN,
    FIELD_SUBMIT,
    FIELD_STATUS,
    FIELD_COUNT,
};

struct FieldStatePair {
    CREDENTIAL_PROVIDER_FIELD_STATE cpfs;
    CREDENTIAL_PROVIDER_FIELD_INTERACTIVE_STATE cpfis;
};

struct FieldTableEntry {
    CREDENTIAL_PROVIDER_FIELD_TYPE cpft;
    UINT labelId;   // 0: empty label
    FieldStatePair state;
};

extern const FieldTableEntry g_fieldTable[FIELD_COUNT];

// The domain list holds the DomainList names plus the computer name.
enum { DOMAIN_SLOTS = DOMAIN_LIST_MAX + 1 };

// ---- COM classes

class CWdCredentialProviderCredential : public ICredentialProviderCredential {
public:
    static HRESULT Create(CWdCredentialProviderCredential **credential);

    // Copies the provider's descriptors and the tile's state from the registry.
    HRESULT Initialize(const CREDENTIAL_PROVIDER_FIELD_DESCRIPTOR *descriptors);

    // IUnknown
    IFACEMETHODIMP QueryInterface(REFIID riid, void **ppv) override;
    IFACEMETHODIMP_(ULONG) AddRef() override;
    IFACEMETHODIMP_(ULONG) Release() override;

    // ICredentialProviderCredential
    IFACEMETHODIMP Advise(ICredentialProviderCredentialEvents *pcpce) override;
    IFACEMETHODIMP UnAdvise() override;
    IFACEMETHODIMP SetSelected(BOOL *pbAutoLogon) override;
    IFACEMETHODIMP SetDeselected() override;
    IFACEMETHODIMP GetFieldState(DWORD dwFieldID, CREDENTIAL_PROVIDER_FIELD_STATE *pcpfs,
                                 CREDENTIAL_PROVIDER_FIELD_INTERACTIVE_STATE *pcpfis) override;
    IFACEMETHODIMP GetStringValue(DWORD dwFieldID, LPWSTR *ppsz) override;
    IFACEMETHODIMP GetBitmapValue(DWORD dwFieldID, HBITMAP *phbmp) override;
    IFACEMETHODIMP GetCheckboxValue(DWORD dwFieldID, BOOL *pbChecked, LPWSTR *ppszLabel) override;
    IFACEMETHODIMP GetSubmitButtonValue(DWORD dwFieldID, DWORD *pdwAdjacentTo) override;
    IFACEMETHODIMP GetComboBoxValueCount(DWORD dwFieldID, DWORD *pcItems, DWORD *pdwSelectedItem) override;
    IFACEMETHODIMP GetComboBoxValueAt(DWORD dwFieldID, DWORD dwItem, LPWSTR *ppszItem) override;
    IFACEMETHODIMP SetStringValue(DWORD dwFieldID, LPCWSTR psz) override;
    IFACEMETHODIMP SetCheckboxValue(DWORD dwFieldID, BOOL bChecked) override;
    IFACEMETHODIMP SetComboBoxSelectedValue(DWORD dwFieldID, DWORD dwSelectedItem) override;
    IFACEMETHODIMP CommandLinkClicked(DWORD dwFieldID) override;
    IFACEMETHODIMP GetSerialization(CREDENTIAL_PROVIDER_GET_SERIALIZATION_RESPONSE *pcpgsr,
                                    CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION *pcpcs,
                                    LPWSTR *ppszOptionalStatusText,
                                    CREDENTIAL_PROVIDER_STATUS_ICON *pcpsiOptionalStatusIcon) override;
    IFACEMETHODIMP ReportResult(LONG ntsStatus, LONG ntsSubstatus, LPWSTR *ppszOptionalStatusText,
                                CREDENTIAL_PROVIDER_STATUS_ICON *pcpsiOptionalStatusIcon) override;

    virtual ~CWdCredentialProviderCredential();

private:
    CWdCredentialProviderCredential();
    DWORD DomainCount() const;
    HWND OwnerWindow();
    HRESULT SubmitSnapshot(CREDENTIAL_PROVIDER_GET_SERIALIZATION_RESPONSE *pcpgsr,
                           CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION *pcpcs);
    void WipeSnapshot();

    LONG m_refs;
    CREDENTIAL_PROVIDER_FIELD_DESCRIPTOR m_descriptors[FIELD_COUNT];
    FieldStatePair m_states[FIELD_COUNT];
    LPWSTR m_strings[FIELD_COUNT];
    ICredentialProviderCredentialEvents *m_events;
    LPWSTR m_domains[DOMAIN_SLOTS];
    DWORD m_selectedDomain;
    // Set for the whole of GetSerialization: the modal workflow dispatches LogonUI's
    // messages, so a second submit can arrive on this thread while the first still runs.
    BOOL m_submitting;
    // What the user submitted, copied at submit: the workers and the packing read only
    // this, whatever LogonUI does to the fields meanwhile.
    WCHAR m_snapUser[CONFIG_TEXT_CHARS];
    WCHAR m_snapPassword[CONFIG_TEXT_CHARS];
    WCHAR m_snapDomain[CONFIG_TEXT_CHARS];
};

class CWdCredentialProvider final : public ICredentialProvider {
public:
    static HRESULT Create(CWdCredentialProvider **provider);

    // IUnknown
    IFACEMETHODIMP QueryInterface(REFIID riid, void **ppv) override;
    IFACEMETHODIMP_(ULONG) AddRef() override;
    IFACEMETHODIMP_(ULONG) Release() override;

    // ICredentialProvider
    IFACEMETHODIMP SetUsageScenario(CREDENTIAL_PROVIDER_USAGE_SCENARIO cpus, DWORD dwFlags) override;
    IFACEMETHODIMP SetSerialization(const CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION *pcpcs) override;
    IFACEMETHODIMP Advise(ICredentialProviderEvents *pcpe, UINT_PTR upAdviseContext) override;
    IFACEMETHODIMP UnAdvise() override;
    IFACEMETHODIMP GetFieldDescriptorCount(DWORD *pdwCount) override;
    IFACEMETHODIMP GetFieldDescriptorAt(DWORD dwIndex, CREDENTIAL_PROVIDER_FIELD_DESCRIPTOR **ppcpfd) override;
    IFACEMETHODIMP GetCredentialCount(DWORD *pdwCount, DWORD *pdwDefault, BOOL *pbAutoLogonWithDefault) override;
    IFACEMETHODIMP GetCredentialAt(DWORD dwIndex, ICredentialProviderCredential **ppcpc) override;

private:
    CWdCredentialProvider();
    ~CWdCredentialProvider();
    HRESULT LoadLabels();

    LONG m_refs;
    CWdCredentialProviderCredential *m_credential;
    CREDENTIAL_PROVIDER_FIELD_DESCRIPTOR m_descriptors[FIELD_COUNT];
};

// ---- helpers shared by the classes

// Overwrites a string's characters, whatever its length, and frees it; *text becomes NULL.
void WipeAndFreeString(LPWSTR *text);
// A COM task allocator copy of a descriptor, its label duplicated.
HRESULT CopyFieldDescriptor(const CREDENTIAL_PROVIDER_FIELD_DESCRIPTOR *source,
                            CREDENTIAL_PROVIDER_FIELD_DESCRIPTOR **copy);

// ---- packed logon (logon_buffer.cpp)

enum { KERB_LOGON_HEADER_BYTES = 56 };

// Packs the three strings as a KERB_INTERACTIVE_LOGON in one COM task allocator block whose
// string buffers hold offsets from the block's start. Strings longer than 16 bits of bytes
// fail with ERROR_ARITHMETIC_OVERFLOW, a missing one with E_INVALIDARG.
HRESULT PackInteractiveLogon(LPCWSTR domain, LPCWSTR user, LPCWSTR password, BYTE **buffer, DWORD *bytes);
// Looks up the "Negotiate" package through an untrusted LSA connection.
HRESULT LookupNegotiatePackage(ULONG *package);

// ---- workflow (workflow.cpp)

struct LogonRequest {
    LPCWSTR user;
    LPCWSTR password;
    LPCWSTR domain;
};

enum {
    WORKFLOW_SUCCEEDED = 1,
    WORKFLOW_FAILED = 2,
};

// Runs the "Please wait..." dialog over the service's logon, renewal and search steps.
// The request's strings must stay unchanged until it returns; every worker thread has
// ended when it returns. 1 or 2 in *result and S_OK, or the failure to show the dialog.
HRESULT RunLogonWorkflow(HWND owner, const LogonRequest *request, int *result);
