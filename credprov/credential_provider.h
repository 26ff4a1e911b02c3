// The logon user interface's credential provider interfaces, declared here because the
// cross toolchain ships no header for them. Layouts, vtable order and IIDs are the
// platform's published ones (Windows Vista and 7); nothing here may be reordered.
#pragma once

#include <windows.h>
#include <unknwn.h>

typedef enum _CREDENTIAL_PROVIDER_USAGE_SCENARIO {
    CPUS_INVALID = 0,
    CPUS_LOGON,
    CPUS_UNLOCK_WORKSTATION,
    CPUS_CHANGE_PASSWORD,
    CPUS_CREDUI,
    CPUS_PLAP,
} CREDENTIAL_PROVIDER_USAGE_SCENARIO;

typedef enum _CREDENTIAL_PROVIDER_FIELD_TYPE {
    CPFT_INVALID = 0,
    CPFT_LARGE_TEXT,
    CPFT_SMALL_TEXT,
    CPFT_COMMAND_LINK,
    CPFT_EDIT_TEXT,
    CPFT_PASSWORD_TEXT,
    CPFT_TILE_IMAGE,
    CPFT_CHECKBOX,
    CPFT_COMBOBOX,
    CPFT_SUBMIT_BUTTON,
} CREDENTIAL_PROVIDER_FIELD_TYPE;

typedef enum _CREDENTIAL_PROVIDER_FIELD_STATE {
    CPFS_HIDDEN = 0,
    CPFS_DISPLAY_IN_SELECTED_TILE,
    CPFS_DISPLAY_IN_DESELECTED_TILE,
    CPFS_DISPLAY_IN_BOTH,
} CREDENTIAL_PROVIDER_FIELD_STATE;

typedef enum _CREDENTIAL_PROVIDER_FIELD_INTERACTIVE_STATE {
    CPFIS_NONE = 0,
    CPFIS_READONLY,
    CPFIS_DISABLED,
    CPFIS_FOCUSED,
} CREDENTIAL_PROVIDER_FIELD_INTERACTIVE_STATE;

typedef enum _CREDENTIAL_PROVIDER_GET_SERIALIZATION_RESPONSE {
    CPGSR_NO_CREDENTIAL_NOT_FINISHED = 0,
    CPGSR_NO_CREDENTIAL_FINISHED,
    CPGSR_RETURN_CREDENTIAL_FINISHED,
    CPGSR_RETURN_NO_CREDENTIAL_FINISHED,
} CREDENTIAL_PROVIDER_GET_SERIALIZATION_RESPONSE;

typedef enum _CREDENTIAL_PROVIDER_STATUS_ICON {
    CPSI_NONE = 0,
    CPSI_ERROR,
    CPSI_WARNING,
    CPSI_SUCCESS,
} CREDENTIAL_PROVIDER_STATUS_ICON;

typedef struct _CREDENTIAL_PROVIDER_FIELD_DESCRIPTOR {
    DWORD dwFieldID;
    CREDENTIAL_PROVIDER_FIELD_TYPE cpft;
    LPWSTR pszLabel;
    GUID guidFieldType;
} CREDENTIAL_PROVIDER_FIELD_DESCRIPTOR;

typedef struct _CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION {
    ULONG ulAuthenticationPackage;
    GUID clsidCredentialProvider;
    ULONG cbSerialization;
    BYTE *rgbSerialization;
} CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION;

#define CREDENTIAL_PROVIDER_NO_DEFAULT ((DWORD)-1)

struct ICredentialProviderCredential;

// {FA6FA76B-66B7-4B11-95F1-86171118E816}
struct ICredentialProviderCredentialEvents : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetFieldState(ICredentialProviderCredential *pcpc, DWORD dwFieldID,
                                                    CREDENTIAL_PROVIDER_FIELD_STATE cpfs) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetFieldInteractiveState(ICredentialProviderCredential *pcpc, DWORD dwFieldID,
                                                               CREDENTIAL_PROVIDER_FIELD_INTERACTIVE_STATE cpfis) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetFieldString(ICredentialProviderCredential *pcpc, DWORD dwFieldID,
                                                     LPCWSTR psz) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetFieldCheckbox(ICredentialProviderCredential *pcpc, DWORD dwFieldID,
                                                       BOOL bChecked, LPCWSTR pszLabel) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetFieldBitmap(ICredentialProviderCredential *pcpc, DWORD dwFieldID,
                                                     HBITMAP hbmp) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetFieldComboBoxSelectedItem(ICredentialProviderCredential *pcpc,
                                                                   DWORD dwFieldID, DWORD dwSelectedItem) = 0;
    virtual HRESULT STDMETHODCALLTYPE DeleteFieldComboBoxItem(ICredentialProviderCredential *pcpc, DWORD dwFieldID,
                                                              DWORD dwItem) = 0;
    virtual HRESULT STDMETHODCALLTYPE AppendFieldComboBoxItem(ICredentialProviderCredential *pcpc, DWORD dwFieldID,
                                                              LPCWSTR pszItem) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetFieldSubmitButton(ICredentialProviderCredential *pcpc, DWORD dwFieldID,
                                                           DWORD dwAdjacentTo) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnCreatingWindow(HWND *phwndOwner) = 0;
};

// {63913A93-40C1-481A-818D-4072FF8C70CC}
struct ICredentialProviderCredential : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Advise(ICredentialProviderCredentialEvents *pcpce) = 0;
    virtual HRESULT STDMETHODCALLTYPE UnAdvise() = 0;
    virtual HRESULT STDMETHODCALLTYPE SetSelected(BOOL *pbAutoLogon) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetDeselected() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetFieldState(DWORD dwFieldID, CREDENTIAL_PROVIDER_FIELD_STATE *pcpfs,
                                                    CREDENTIAL_PROVIDER_FIELD_INTERACTIVE_STATE *pcpfis) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetStringValue(DWORD dwFieldID, LPWSTR *ppsz) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetBitmapValue(DWORD dwFieldID, HBITMAP *phbmp) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCheckboxValue(DWORD dwFieldID, BOOL *pbChecked, LPWSTR *ppszLabel) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetSubmitButtonValue(DWORD dwFieldID, DWORD *pdwAdjacentTo) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetComboBoxValueCount(DWORD dwFieldID, DWORD *pcItems,
                                                            DWORD *pdwSelectedItem) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetComboBoxValueAt(DWORD dwFieldID, DWORD dwItem, LPWSTR *ppszItem) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetStringValue(DWORD dwFieldID, LPCWSTR psz) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetCheckboxValue(DWORD dwFieldID, BOOL bChecked) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetComboBoxSelectedValue(DWORD dwFieldID, DWORD dwSelectedItem) = 0;
    virtual HRESULT STDMETHODCALLTYPE CommandLinkClicked(DWORD dwFieldID) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetSerialization(CREDENTIAL_PROVIDER_GET_SERIALIZATION_RESPONSE *pcpgsr,
                                                       CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION *pcpcs,
                                                       LPWSTR *ppszOptionalStatusText,
                                                       CREDENTIAL_PROVIDER_STATUS_ICON *pcpsiOptionalStatusIcon) = 0;
    virtual HRESULT STDMETHODCALLTYPE ReportResult(LONG ntsStatus, LONG ntsSubstatus,
                                                   LPWSTR *ppszOptionalStatusText,
                                                   CREDENTIAL_PROVIDER_STATUS_ICON *pcpsiOptionalStatusIcon) = 0;
};

// {34201E5A-A787-41A3-A5A4-BD6DCF2A854E}
struct ICredentialProviderEvents : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE CredentialsChanged(UINT_PTR upAdviseContext) = 0;
};

// {D27C3481-5A1C-45B2-8AAA-C20EBBE8229E}
struct ICredentialProvider : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetUsageScenario(CREDENTIAL_PROVIDER_USAGE_SCENARIO cpus, DWORD dwFlags) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetSerialization(const CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION *pcpcs) = 0;
    virtual HRESULT STDMETHODCALLTYPE Advise(ICredentialProviderEvents *pcpe, UINT_PTR upAdviseContext) = 0;
    virtual HRESULT STDMETHODCALLTYPE UnAdvise() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetFieldDescriptorCount(DWORD *pdwCount) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetFieldDescriptorAt(DWORD dwIndex,
                                                           CREDENTIAL_PROVIDER_FIELD_DESCRIPTOR **ppcpfd) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCredentialCount(DWORD *pdwCount, DWORD *pdwDefault,
                                                         BOOL *pbAutoLogonWithDefault) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCredentialAt(DWORD dwIndex, ICredentialProviderCredential **ppcpc) = 0;
};

// The IIDs under their usual names, and __uuidof for IID_PPV_ARGS-style callers.
static const IID IID_ICredentialProvider =
    {0xD27C3481, 0x5A1C, 0x45B2, {0x8A, 0xAA, 0xC2, 0x0E, 0xBB, 0xE8, 0x22, 0x9E}};
static const IID IID_ICredentialProviderCredential =
    {0x63913A93, 0x40C1, 0x481A, {0x81, 0x8D, 0x40, 0x72, 0xFF, 0x8C, 0x70, 0xCC}};
static const IID IID_ICredentialProviderCredentialEvents =
    {0xFA6FA76B, 0x66B7, 0x4B11, {0x95, 0xF1, 0x86, 0x17, 0x11, 0x18, 0xE8, 0x16}};
static const IID IID_ICredentialProviderEvents =
    {0x34201E5A, 0xA787, 0x41A3, {0xA5, 0xA4, 0xBD, 0x6D, 0xCF, 0x2A, 0x85, 0x4E}};

__CRT_UUID_DECL(ICredentialProvider, 0xD27C3481, 0x5A1C, 0x45B2, 0x8A, 0xAA, 0xC2, 0x0E, 0xBB, 0xE8, 0x22, 0x9E)
__CRT_UUID_DECL(ICredentialProviderCredential, 0x63913A93, 0x40C1, 0x481A, 0x81, 0x8D, 0x40, 0x72, 0xFF, 0x8C,
                0x70, 0xCC)
__CRT_UUID_DECL(ICredentialProviderCredentialEvents, 0xFA6FA76B, 0x66B7, 0x4B11, 0x95, 0xF1, 0x86, 0x17, 0x11,
                0x18, 0xE8, 0x16)
__CRT_UUID_DECL(ICredentialProviderEvents, 0x34201E5A, 0xA787, 0x41A3, 0xA5, 0xA4, 0xBD, 0x6D, 0xCF, 0x2A, 0x85,
                0x4E)
