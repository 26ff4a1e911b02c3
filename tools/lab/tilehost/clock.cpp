// --clock-divisor: the provider's own clock runs N times faster, so that a test sees a
// wait of minutes end in seconds. Its imports of WaitForSingleObject and Sleep from
// kernel32 are pointed at versions that wait 1/N of what was asked (at least 1 ms;
// 0 and INFINITE unchanged), and GetTickCount64 and GetTickCount at a count that runs
// N times faster from the moment of patching, so that limits it measures by the tick
// count shrink alike. Nothing else of the provider changes.
#include "tilehost.h"

#include <string.h>

static DWORD g_divisor = 1;
static ULONGLONG g_patchedAt;

static DWORD Shorten(DWORD ms)
{
    if (ms == 0 || ms == INFINITE)
        return ms;
    return ms / g_divisor > 0 ? ms / g_divisor : 1;
}

static DWORD WINAPI FastWaitForSingleObject(HANDLE handle, DWORD ms)
{
    return WaitForSingleObject(handle, Shorten(ms));
}

static VOID WINAPI FastSleep(DWORD ms)
{
    Sleep(Shorten(ms));
}

static ULONGLONG WINAPI FastGetTickCount64(void)
{
    return g_patchedAt + (GetTickCount64() - g_patchedAt) * g_divisor;
}

static DWORD WINAPI FastGetTickCount(void)
{
    return (DWORD)FastGetTickCount64();
}

int SpeedUpModuleClock(HMODULE module, DWORD divisor)
{
    if (module == NULL || divisor == 0)
        return 0;
    g_divisor = divisor;
    g_patchedAt = GetTickCount64();
    BYTE *base = reinterpret_cast<BYTE *>(module);
    const IMAGE_NT_HEADERS *nt =
        reinterpret_cast<const IMAGE_NT_HEADERS *>(base + reinterpret_cast<const IMAGE_DOS_HEADER *>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY &imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (imports.VirtualAddress == 0)
        return 0;
    int patched = 0;
    for (const IMAGE_IMPORT_DESCRIPTOR *dll = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR *>(base + imports.VirtualAddress);
         dll->Name != 0; dll++) {
        // Without the name table the slots hold only addresses: nothing to match by name.
        if (_stricmp(reinterpret_cast<const char *>(base + dll->Name), "kernel32.dll") != 0 ||
            dll->OriginalFirstThunk == 0)
            continue;
        const IMAGE_THUNK_DATA *names = reinterpret_cast<const IMAGE_THUNK_DATA *>(base + dll->OriginalFirstThunk);
        IMAGE_THUNK_DATA *slots = reinterpret_cast<IMAGE_THUNK_DATA *>(base + dll->FirstThunk);
        for (; names->u1.AddressOfData != 0; names++, slots++) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                continue;
            const char *name = reinterpret_cast<const IMAGE_IMPORT_BY_NAME *>(base + names->u1.AddressOfData)->Name;
            ULONG_PTR replacement = 0;
            if (strcmp(name, "WaitForSingleObject") == 0)
                replacement = reinterpret_cast<ULONG_PTR>(&FastWaitForSingleObject);
            else if (strcmp(name, "Sleep") == 0)
                replacement = reinterpret_cast<ULONG_PTR>(&FastSleep);
            else if (strcmp(name, "GetTickCount64") == 0)
                replacement = reinterpret_cast<ULONG_PTR>(&FastGetTickCount64);
            else if (strcmp(name, "GetTickCount") == 0)
                replacement = reinterpret_cast<ULONG_PTR>(&FastGetTickCount);
            DWORD protection = 0;
            if (replacement == 0 ||
                !VirtualProtect(&slots->u1.Function, sizeof(slots->u1.Function), PAGE_READWRITE, &protection))
                continue;
            slots->u1.Function = replacement;
            VirtualProtect(&slots->u1.Function, sizeof(slots->u1.Function), protection, &protection);
            patched++;
        }
    }
    return patched;
}
