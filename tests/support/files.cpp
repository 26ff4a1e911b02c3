// Files the tests hand to the programs; see files.h.
#include "files.h"

namespace test {

bool WriteBytes(const std::wstring &path, const void *data, DWORD bytes)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    bool ok = WriteFile(file, data, bytes, &written, NULL) && written == bytes;
    return CloseHandle(file) && ok;
}

std::wstring WriteScript(const std::wstring &dir, const std::string &text)
{
    static LONG count = 0;
    std::wstring path = dir + L"\\script" + std::to_wstring(InterlockedIncrement(&count)) + L".txt";
    return WriteBytes(path, text.data(), (DWORD)text.size()) ? path : L"<" + path + L" not written>";
}

std::string Narrow(const std::wstring &text)
{
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), (int)text.size(), NULL, 0, NULL, NULL);
    std::string result(bytes, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), (int)text.size(), &result[0], bytes, NULL, NULL);
    return result;
}

}  // namespace test
