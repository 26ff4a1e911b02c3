// Helpers of the wardsetup tests: the whole configuration as a comparable snapshot (product
// key and registration entries), files in either encoding, and the tool's windows.
#pragma once

#include "test_support.h"
#include "wardsetup.h"
#include "registration.h"
#include "wardsetup_res.h"

#include <map>
#include <set>
#include <string>
#include <vector>

namespace wtest {

// Every key and value of the product key and of the registration, as path -> type and data.
typedef std::map<std::wstring, std::wstring> RegistrySnapshot;
RegistrySnapshot Snapshot();
// Deletes the product key and every registration entry.
void ClearConfiguration();
std::set<std::wstring> GroupListSubkeys();

void WriteBytes(const std::wstring &path, const void *data, DWORD bytes);
void WriteUtf16File(const std::wstring &path, const std::wstring &text);  // with a BOM
void WriteAnsiFile(const std::wstring &path, const std::wstring &text);   // system code page

// wardtile.dll in the system folder: the real one (if any) is moved aside while a
// ProviderFile lives and put back at its end; InstallStandIn copies the stand-in there.
class ProviderFile {
public:
    ProviderFile();
    ~ProviderFile();
    static std::wstring Path();
    void InstallStandIn();
private:
    std::wstring backup;
    bool moved;
};

// A key of HKLM that refuses every write while this lives: its access list grants reading
// only. The handle that set it keeps the right to put the old list back.
class WriteProtectedKey {
public:
    explicit WriteProtectedKey(const wchar_t *path);
    ~WriteProtectedKey();
    bool protectedNow;
private:
    HKEY key;
    std::vector<BYTE> old;
};

// A string of the tool's own table, as the running user interface picks it.
std::wstring LoadText(UINT id);

// Waits up to timeoutMs for a visible top-level dialog of this process for which match
// is true; NULL when none appeared.
HWND WaitForDialog(bool (*match)(HWND dialog), DWORD timeoutMs = 20000);
std::wstring WindowText(HWND window);

}  // namespace wtest
