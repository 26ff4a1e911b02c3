// A test-only LSA authentication package that answers to "Negotiate". Wine's secur32
// loads, at process start, every DLL named by a subkey of
// HKLM\System\CurrentControlSet\Control\Lsa (LoadLibrary of the subkey's name), calls its
// SpLsaModeInitialize and then the table's InitializePackage for the package's name and
// Initialize; LsaLookupAuthenticationPackage then finds the package by that name. Wine
// itself knows only "Kerberos", so with this package installed in the test prefix the
// credential provider's real lookup of "Negotiate" succeeds. It never logs anyone on.
// Never shipped.
#include <windows.h>
#include <ntsecapi.h>
#define SECURITY_WIN32
#include <sspi.h>
#include <ntsecpkg.h>

#ifndef STATUS_SUCCESS
#define STATUS_SUCCESS ((NTSTATUS)0x00000000L)
#endif
#define PACKAGE_STATUS_NOT_IMPLEMENTED ((NTSTATUS)0xC0000002L)

static char g_nameText[] = "Negotiate";
static LSA_STRING g_name = {sizeof(g_nameText) - 1, sizeof(g_nameText), g_nameText};

static NTSTATUS NTAPI InitializePackage(ULONG, PLSA_DISPATCH_TABLE, PLSA_STRING, PLSA_STRING,
                                        PLSA_STRING *name)
{
    *name = &g_name;
    return STATUS_SUCCESS;
}

static NTSTATUS NTAPI Initialize(ULONG_PTR, PSECPKG_PARAMETERS, PLSA_SECPKG_FUNCTION_TABLE)
{
    return STATUS_SUCCESS;
}

// Refused, so that secur32 does not add a second "Negotiate" to its SSPI packages beside
// its own: the package exists for the LSA lookup only.
static NTSTATUS NTAPI GetInfo(PSecPkgInfoW)
{
    return PACKAGE_STATUS_NOT_IMPLEMENTED;
}

static NTSTATUS NTAPI Shutdown(void)
{
    return STATUS_SUCCESS;
}

static SECPKG_FUNCTION_TABLE g_table;

extern "C" __declspec(dllexport) NTSTATUS NTAPI SpLsaModeInitialize(ULONG, PULONG packageVersion,
                                                                     PSECPKG_FUNCTION_TABLE *tables,
                                                                     PULONG tableCount)
{
    g_table.InitializePackage = InitializePackage;
    g_table.Initialize = Initialize;
    g_table.GetInfo = GetInfo;
    g_table.Shutdown = Shutdown;
    *packageVersion = SECPKG_INTERFACE_VERSION;
    *tables = &g_table;
    *tableCount = 1;
    return STATUS_SUCCESS;
}
