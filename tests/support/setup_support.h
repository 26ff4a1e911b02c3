// The configuration tool's test kit: the whole configuration (product key and registration
// entries) as a comparable snapshot, configuration files in either encoding, the provider's
// file in the system folder, and a key that refuses writes. No test framework inside, so
// that benchmarks and drivers use it too.
#pragma once

#include <windows.h>

#include "files.h"

#include <map>
#include <set>
#include <string>
#include <vector>

namespace test {

// Every key and value of the product key and of the registration, as path -> type and data.
typedef std::map<std::wstring, std::wstring> ConfigSnapshot;
ConfigSnapshot SnapshotConfiguration();
// Deletes the product key and every registration entry.
void ClearConfiguration();
std::set<std::wstring> GroupListSubkeys();

// A value of the product key as its readers see it (config/product_key.h), or the marker
// when it cannot be read.
enum : DWORD { MISSING_NUMBER = 0xDEADBEEF };
std::wstring StoredText(LPCWSTR subkey, LPCWSTR name);  // "<missing>" when unreadable
DWORD StoredNumber(LPCWSTR subkey, LPCWSTR name);

bool WriteUtf16File(const std::wstring &path, const std::wstring &text);  // with a BOM
bool WriteAnsiFile(const std::wstring &path, const std::wstring &text);   // system code page

// wardtile.dll in the system folder: the real one (if any) is moved aside while a
// ProviderFile lives and put back at its end.
class ProviderFile {
public:
    ProviderFile();
    ~ProviderFile();
    static std::wstring Path();
    // Copies the file at standIn there.
    bool Install(const std::wstring &standIn);
    bool Remove();
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

}  // namespace test
