// The interactive logon handed to Windows: one block, the string buffers as offsets from
// its start (LogonUI passes it across processes), and the "Negotiate" package number.
#include "wardtile.h"

#define WIN32_NO_STATUS
#include <ntsecapi.h>
#undef WIN32_NO_STATUS
#include <ntstatus.h>

static HRESULT MeasureString(LPCWSTR text, USHORT *bytes)
{
    if (text == NULL)
        return E_INVALIDARG;
    size_t length = (size_t)lstrlenW(text) * sizeof(WCHAR);
    if (length > 0xFFFF)
        return HRESULT_FROM_WIN32(ERROR_ARITHMETIC_OVERFLOW);
    *bytes = (USHORT)length;
    return S_OK;
}

HRESULT PackInteractiveLogon(LPCWSTR domain, LPCWSTR user, LPCWSTR password, BYTE **buffer, DWORD *bytes)
{
    if (buffer == NULL || bytes == NULL)
        return E_INVALIDARG;
    *buffer = NULL;
    *bytes = 0;
    USHORT domainBytes = 0, userBytes = 0, passwordBytes = 0;
    HRESULT hr = MeasureString(domain, &domainBytes);
    if (SUCCEEDED(hr))
        hr = MeasureString(user, &userBytes);
    if (SUCCEEDED(hr))
        hr = MeasureString(password, &passwordBytes);
    if (FAILED(hr))
        return hr;

    static_assert(sizeof(KERB_INTERACTIVE_LOGON) == KERB_LOGON_HEADER_BYTES, "64-bit logon layout");
    DWORD total = KERB_LOGON_HEADER_BYTES + domainBytes + userBytes + passwordBytes;
    BYTE *block = (BYTE *)CoTaskMemAlloc(total);
    if (block == NULL)
        return E_OUTOFMEMORY;
    ZeroMemory(block, KERB_LOGON_HEADER_BYTES);

    KERB_INTERACTIVE_LOGON *logon = (KERB_INTERACTIVE_LOGON *)block;
    logon->MessageType = KerbInteractiveLogon;
    DWORD offset = KERB_LOGON_HEADER_BYTES;
    struct {
        UNICODE_STRING *field;
        LPCWSTR text;
        USHORT bytes;
    } parts[] = {
        {&logon->LogonDomainName, domain, domainBytes},
        {&logon->UserName, user, userBytes},
        {&logon->Password, password, passwordBytes},
    };
    for (auto &part : parts) {
        part.field->Length = part.bytes;
        part.field->MaximumLength = part.bytes;
        part.field->Buffer = (PWSTR)(ULONG_PTR)offset;
        CopyMemory(block + offset, part.text, part.bytes);
        offset += part.bytes;
    }
    *buffer = block;
    *bytes = total;
    return S_OK;
}

HRESULT LookupNegotiatePackage(ULONG *package)
{
    HANDLE lsa = NULL;
    NTSTATUS status = LsaConnectUntrusted(&lsa);
    if (status != STATUS_SUCCESS)
        return HRESULT_FROM_NT(status);
    char name[] = "Negotiate";
    LSA_STRING packageName;
    packageName.Buffer = name;
    packageName.Length = (USHORT)(sizeof(name) - 1);
    packageName.MaximumLength = (USHORT)sizeof(name);
    status = LsaLookupAuthenticationPackage(lsa, &packageName, package);
    LsaDeregisterLogonProcess(lsa);
    return status == STATUS_SUCCESS ? S_OK : HRESULT_FROM_NT(status);
}
