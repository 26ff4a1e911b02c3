// Helpers shared by the tests; see test_support.h.
#include "test_support.h"
#include "string_tables.h"
#include "bench_support.h"
#include "dialogs.h"

#include <algorithm>
#include <stdarg.h>
#include <stdio.h>

namespace test {

std::wstring BinaryDir()
{
    std::wstring beside = bench::BesideMe(L"");
    return beside.substr(0, beside.size() - 1);  // without the separator
}

std::wstring BinaryPath(const wchar_t *fileName)
{
    return bench::BesideMe(fileName);
}

std::wstring ProgramString(const wchar_t *fileName, UINT id)
{
    ResourceImage image(BinaryPath(fileName));
    if (image.module == NULL)
        return L"<" + std::wstring(fileName) + L" not loadable>";
    return ModuleString(image.module, id);
}

std::wstring WardhostString(UINT id)
{
    return ProgramString(L"wardhost.exe", id);
}

std::wstring WardhostText(UINT id, ...)
{
    ResourceImage image(BinaryPath(L"wardhost.exe"));
    if (image.module == NULL)
        return L"<wardhost.exe not loadable>";
    va_list args;
    va_start(args, id);
    std::wstring text = ModuleTextV(image.module, id, args);
    va_end(args);
    return text;
}

HANDLE StartProcessWritingTo(const std::wstring &commandLine, HANDLE output)
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = output;
    startup.hStdError = output;
    PROCESS_INFORMATION process = {};
    if (!bench::CreateChild(commandLine, TRUE, &startup, &process))
        return NULL;
    CloseHandle(process.hThread);
    return process.hProcess;
}

HANDLE StartCapturedProcess(const std::wstring &commandLine, HANDLE *readEnd)
{
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), NULL, TRUE};
    HANDLE writeEnd;
    *readEnd = NULL;
    if (!CreatePipe(readEnd, &writeEnd, &inherit, 0))
        return NULL;
    SetHandleInformation(*readEnd, HANDLE_FLAG_INHERIT, 0);
    HANDLE process = StartProcessWritingTo(commandLine, writeEnd);
    // Only the child holds the write end now, so reads end when it does.
    CloseHandle(writeEnd);
    if (process == NULL) {
        CloseHandle(*readEnd);
        *readEnd = NULL;
    }
    return process;
}

ProcessResult RunProcess(const std::wstring &commandLine, DWORD timeoutMs)
{
    ProcessResult result;
    HANDLE readEnd;
    HANDLE process = StartCapturedProcess(commandLine, &readEnd);
    result.started = process != NULL;
    if (!result.started)
        return result;
    char buffer[4096];
    DWORD bytes;
    DWORD deadline = GetTickCount() + timeoutMs;
    while (ReadFile(readEnd, buffer, sizeof(buffer), &bytes, NULL) && bytes > 0) {
        result.output.append(buffer, bytes);
        if ((LONG)(GetTickCount() - deadline) > 0)
            break;
    }
    DWORD remaining = (LONG)(deadline - GetTickCount()) > 0 ? deadline - GetTickCount() : 0;
    result.finished = WaitForSingleObject(process, remaining) == WAIT_OBJECT_0;
    if (!result.finished)
        TerminateProcess(process, 1);
    GetExitCodeProcess(process, &result.exitCode);
    CloseHandle(process);
    CloseHandle(readEnd);
    return result;
}

LineProcess::LineProcess() : lineEvent_(CreateEventW(NULL, FALSE, FALSE, NULL)) {}

LineProcess::~LineProcess()
{
    Kill();
    CloseHandle(lineEvent_);
}

bool LineProcess::Start(const std::wstring &commandLine)
{
    Kill();
    lines_.clear();  // no reader runs after Kill()
    process_ = StartCapturedProcess(commandLine, &readEnd_);
    if (process_ == NULL)
        return false;
    reader_ = std::thread([this] { ReadLines(); });
    return true;
}

std::vector<std::string> LineProcess::Lines()
{
    std::lock_guard<std::mutex> guard(lock_);
    return lines_;
}

bool LineProcess::WaitUntil(const std::function<bool(const std::vector<std::string> &)> &done,
                            DWORD timeoutMs)
{
    ULONGLONG start = GetTickCount64();
    for (;;) {
        if (done(Lines()))
            return true;
        ULONGLONG elapsed = GetTickCount64() - start;
        if (elapsed >= timeoutMs)
            return false;
        WaitForSingleObject(lineEvent_, (DWORD)(timeoutMs - elapsed));
    }
}

std::string LineProcess::WaitFor(const std::function<bool(const std::string &)> &wanted,
                                 DWORD timeoutMs)
{
    std::string found;
    WaitUntil([&](const std::vector<std::string> &lines) {
        auto at = std::find_if(lines.begin(), lines.end(), wanted);
        found = at != lines.end() ? *at : "";
        return at != lines.end();
    }, timeoutMs);
    return found;
}

bool LineProcess::WaitForLine(const std::string &wanted, DWORD timeoutMs)
{
    return !WaitFor([&](const std::string &l) { return l == wanted; }, timeoutMs).empty();
}

std::string LineProcess::WaitForText(const std::string &part, DWORD timeoutMs)
{
    return WaitFor([&](const std::string &l) { return l.find(part) != std::string::npos; },
                   timeoutMs);
}

DWORD LineProcess::Finish(DWORD timeoutMs)
{
    DWORD code = STILL_ACTIVE;
    if (process_ != NULL && WaitForSingleObject(process_, timeoutMs) == WAIT_OBJECT_0)
        GetExitCodeProcess(process_, &code);
    Kill();
    return code;
}

std::vector<std::string> LineProcess::Kill()
{
    if (process_ != NULL) {
        TerminateProcess(process_, STILL_ACTIVE);
        WaitForSingleObject(process_, 10000);
        CloseHandle(process_);
        process_ = NULL;
    }
    if (reader_.joinable())
        reader_.join();
    if (readEnd_ != NULL) {
        CloseHandle(readEnd_);
        readEnd_ = NULL;
    }
    return Lines();
}

void LineProcess::ReadLines()
{
    std::string pending;
    char buffer[4096];
    DWORD bytes;
    while (ReadFile(readEnd_, buffer, sizeof(buffer), &bytes, NULL) && bytes > 0) {
        pending.append(buffer, bytes);
        size_t end;
        while ((end = pending.find('\n')) != std::string::npos) {
            std::string line = pending.substr(0, end);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            {
                std::lock_guard<std::mutex> guard(lock_);
                lines_.push_back(line);
            }
            pending.erase(0, end + 1);
            SetEvent(lineEvent_);
        }
    }
    SetEvent(lineEvent_);
}

bool Simulator::Start(const std::wstring &script, int connections)
{
    port_ = 0;
    std::wstring command = L"\"" + BinaryPath(L"dezsim.exe") + L"\" --script \"" + script +
                           L"\" --port 0 --connections " + std::to_wstring(connections);
    if (!LineProcess::Start(command))
        return false;
    std::string first = WaitForText("listening on ", 20000);
    port_ = first.empty() ? 0 : atoi(first.substr(first.rfind(':') + 1).c_str());
    if (port_ <= 0)
        fprintf(stderr, "dezsim gave no port within 20 s: \"%s\"\n", first.c_str());
    return port_ > 0;
}

std::vector<std::string> Simulator::Finish(DWORD timeoutMs)
{
    if (LineProcess::Finish(timeoutMs) == STILL_ACTIVE)
        ADD_FAILURE() << "dezsim did not end within " << timeoutMs << " ms";
    return Lines();
}

std::wstring ShippedScript(const wchar_t *name)
{
    return BinaryPath(L"dezsim-scripts\\") + name;
}

std::vector<std::string> Received(const std::vector<std::string> &lines)
{
    std::vector<std::string> received;
    for (const std::string &l : lines) {
        if (l.rfind("recv: ", 0) == 0)
            received.push_back(l.substr(6));
    }
    return received;
}

int Connections(const std::vector<std::string> &lines)
{
    int count = 0;
    for (const std::string &l : lines)
        count += l == "conn: open";
    return count;
}

std::string Joined(const std::vector<std::string> &items)
{
    std::string text;
    for (const std::string &item : items)
        text += "[" + item + "]";
    return text;
}

// wardhost opened with access, and the manager it came from; both closed when this goes.
struct Wardhost {
    explicit Wardhost(DWORD access)
        : manager(OpenSCManagerW(NULL, NULL, SC_MANAGER_ALL_ACCESS)),
          service(manager != NULL ? OpenServiceW(manager, WARD_SERVICE_NAME, access) : NULL)
    {
    }
    ~Wardhost()
    {
        if (service != NULL)
            CloseServiceHandle(service);
        if (manager != NULL)
            CloseServiceHandle(manager);
    }
    SC_HANDLE manager, service;
};

bool IsServiceInstalled()
{
    return Wardhost(SERVICE_QUERY_STATUS).service != NULL;
}

bool InstallService(const wchar_t *image)
{
    RunProcess(L"\"" + BinaryPath(image) + L"\" -install");
    return IsServiceInstalled();
}

// The service's current status; false when it can't be queried.
static bool QueryWardhostStatus(SERVICE_STATUS_PROCESS *status)
{
    Wardhost wardhost(SERVICE_QUERY_STATUS);
    DWORD needed;
    return wardhost.service != NULL &&
           QueryServiceStatusEx(wardhost.service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE *>(status),
                                sizeof(*status), &needed);
}

DWORD ServiceState()
{
    SERVICE_STATUS_PROCESS status = {};
    return QueryWardhostStatus(&status) ? status.dwCurrentState : 0;
}

DWORD ServiceProcessId()
{
    SERVICE_STATUS_PROCESS status = {};
    return QueryWardhostStatus(&status) ? status.dwProcessId : 0;
}

bool WaitForServiceState(DWORD state, DWORD timeoutMs)
{
    return PollUntil([&] { return ServiceState() == state; }, timeoutMs, 20);
}

// Whether the service control manager is starting any service, such as the prefix's own
// services it starts when a session begins.
static bool AnyServiceStarting()
{
    SC_HANDLE manager = OpenSCManagerW(NULL, NULL, SC_MANAGER_ENUMERATE_SERVICE);
    if (manager == NULL)
        return false;
    std::vector<BYTE> buffer(64 * 1024);
    DWORD needed = 0, count = 0, resume = 0;
    BOOL listed = EnumServicesStatusExW(manager, SC_ENUM_PROCESS_INFO, SERVICE_WIN32 | SERVICE_DRIVER, SERVICE_ACTIVE,
                                        buffer.data(), (DWORD)buffer.size(), &needed, &count, &resume, NULL);
    CloseServiceHandle(manager);
    auto services = reinterpret_cast<const ENUM_SERVICE_STATUS_PROCESSW *>(buffer.data());
    return listed && std::any_of(services, services + count, [](const ENUM_SERVICE_STATUS_PROCESSW &service) {
        return service.ServiceStatusProcess.dwCurrentState == SERVICE_START_PENDING;
    });
}

// One StartServiceW on wardhost; 0 when it started or ran already, else the error.
static DWORD StartWardhost()
{
    Wardhost wardhost(SERVICE_START);
    if (wardhost.service == NULL)
        return GetLastError();
    SetLastError(0xdeadbeef);
    BOOL started = StartServiceW(wardhost.service, 0, NULL);
    return started || GetLastError() == ERROR_SERVICE_ALREADY_RUNNING ? 0 : GetLastError();
}

bool StartService()
{
    // Wine's service manager refuses a start with ERROR_SERVICE_DATABASE_LOCKED when it
    // has been busy starting another service for 3 s, as it is with the prefix's own
    // services at the beginning of a session in a fresh prefix on a loaded machine: wait
    // until it starts none, then ask again. Any other refusal fails at once.
    DWORD start = GetTickCount();
    for (DWORD error; (error = StartWardhost()) != 0;) {
        fprintf(stderr, "StartService failed - %lu\n", error);
        if (error != ERROR_SERVICE_DATABASE_LOCKED || GetTickCount() - start > 60000)
            return false;
        while (AnyServiceStarting() && GetTickCount() - start <= 60000)
            Sleep(20);
    }
    return WaitForServiceState(SERVICE_RUNNING, 20000) && WaitNamedPipeW(WARD_PIPE_NAME, 10000);
}

bool StopService()
{
    Wardhost wardhost(SERVICE_STOP | SERVICE_QUERY_STATUS);
    if (wardhost.service == NULL)
        return false;
    SERVICE_STATUS status;
    ControlService(wardhost.service, SERVICE_CONTROL_STOP, &status);
    return WaitForServiceState(SERVICE_STOPPED, 60000);
}

bool StartStandInService(const std::wstring &report, const std::vector<std::wstring> &mode)
{
    Wardhost standIn(SERVICE_ALL_ACCESS);  // with none installed, only the manager opens
    if (standIn.manager == NULL || standIn.service != NULL)
        return false;
    std::wstring binary = L"\"" + BinaryPath(L"standin_service.exe") + L"\"";
    standIn.service = CreateServiceW(standIn.manager, WARD_SERVICE_NAME, WARD_SERVICE_NAME, SERVICE_ALL_ACCESS,
                                     SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                     binary.c_str(), NULL, NULL, NULL, NULL, NULL);
    std::vector<const wchar_t *> arguments = {report.c_str()};
    for (const std::wstring &m : mode)
        arguments.push_back(m.c_str());
    return standIn.service != NULL && StartServiceW(standIn.service, (DWORD)arguments.size(), arguments.data()) &&
           WaitForServiceState(SERVICE_RUNNING, 20000) && WaitNamedPipeW(WARD_PIPE_NAME, 10000);
}

void UninstallService()
{
    if (!IsServiceInstalled())
        return;
    DWORD state = ServiceState();
    if (state != SERVICE_STOPPED && state != 0)
        StopService();
    // The handles close at the end of the statement: deletion completes once the last is gone.
    DeleteService(Wardhost(DELETE).service);
    PollUntil([] { return !IsServiceInstalled(); }, 10000, 20);
}

bool CallPipeRaw(const void *request, DWORD bytes, std::wstring *reply, DWORD *error,
                 DWORD timeout)
{
    wchar_t buffer[261] = {};
    DWORD read = 0;
    SetLastError(0xdeadbeef);
    if (!CallNamedPipeW(WARD_PIPE_NAME, const_cast<void *>(request), bytes, buffer, 520, &read,
                        timeout)) {
        *error = GetLastError();
        return false;
    }
    *error = 0;
    reply->assign(buffer, read / sizeof(wchar_t));
    if (read % sizeof(wchar_t) != 0)
        reply->push_back(L'\xfffd');  // an odd byte count is itself a fault to report
    return true;
}

std::wstring CallPipe(const std::wstring &request)
{
    std::wstring reply;
    DWORD error;
    // The service has one pipe instance: right after a reply to another client it may not
    // be listening yet. Like the clients, which retry such a refusal, this waits for the
    // instance (bounded) instead of failing.
    if (!CallPipeRaw(request.data(), (DWORD)(request.size() * sizeof(wchar_t)), &reply, &error,
                     5000))
        return L"<error " + std::to_wstring(error) + L">";
    return reply;
}

void ClearProductKey()
{
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, PRODUCT_KEY_PATH);
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, PRODUCT_KEY_PATH);
}

void SetConfigString(const wchar_t *subkey, const wchar_t *name, const std::wstring &value)
{
    WriteConfigString(subkey, name, value.c_str(), TRUE, TRUE);
}

void SetConfigDword(const wchar_t *subkey, const wchar_t *name, DWORD value)
{
    WriteConfigDword(subkey, name, value, TRUE);
}

void PointSwitchAt(int port, bool logoff, const std::wstring &server)
{
    bench::PointSwitchAt(port, logoff, server.c_str());
}

bool StartSwitch(Simulator *simulator, const std::wstring &script, bool logoff, int connections)
{
    if (!simulator->Start(script, connections))
        return false;
    PointSwitchAt(simulator->Port(), logoff);
    return true;
}

void SetLogFile(const std::wstring &path)
{
    std::string value = Narrow(path);
    RegSetKeyValueA(HKEY_LOCAL_MACHINE, PRODUCT_KEY_PATH_A, VALUE_LOG_FILE_A, REG_SZ, value.c_str(),
                    (DWORD)value.size() + 1);
}

std::wstring LogToTempFile(const wchar_t *prefix, std::wstring *dir)
{
    *dir = MakeTempDir(prefix);
    std::wstring path = *dir + L"\\wardhost.log";
    SetLogFile(path);
    return path;
}

bool GetConfigDword(const wchar_t *subkey, const wchar_t *name, DWORD *value)
{
    return ReadConfigDword(subkey, name, value) == ERROR_SUCCESS;
}

bool GetConfigString(const wchar_t *subkey, const wchar_t *name, std::wstring *value)
{
    wchar_t buffer[1024];
    if (ReadConfigString(subkey, name, buffer, ARRAYSIZE(buffer)) != ERROR_SUCCESS)
        return false;
    *value = buffer;
    return true;
}

void ServiceTestBase::SetUp()
{
    UninstallService();
    ClearProductKey();
}

void ServiceTestBase::TearDown()
{
    UninstallService();
    ClearProductKey();
}

void ServiceTestBase::InstallAndStart()
{
    ASSERT_TRUE(InstallService());
    ASSERT_TRUE(StartService());
}

std::wstring MakeTempDir(const wchar_t *prefix)
{
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    for (unsigned attempt = 0;; attempt++) {
        std::wstring dir = std::wstring(base) + prefix + L"-" +
                           std::to_wstring(GetCurrentProcessId()) + L"-" +
                           std::to_wstring(attempt);
        if (CreateDirectoryW(dir.c_str(), NULL))
            return dir;
    }
}

void RemoveTree(const std::wstring &path)
{
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = found.cFileName;
            if (name == L"." || name == L"..")
                continue;
            std::wstring child = path + L"\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(child);
            else
                DeleteFileW(child.c_str());
        } while (FindNextFileW(find, &found));
        FindClose(find);
    }
    RemoveDirectoryW(path.c_str());
}

std::string ReadFileBytes(const std::wstring &path)
{
    std::string data;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                              OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return data;
    char buffer[4096];
    DWORD bytes;
    while (ReadFile(file, buffer, sizeof(buffer), &bytes, NULL) && bytes > 0)
        data.append(buffer, bytes);
    CloseHandle(file);
    return data;
}

bool FileExists(const std::wstring &path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool ProcessMemoryHolds(HANDLE process, const std::wstring &text)
{
    const char *wanted = reinterpret_cast<const char *>(text.data());
    const size_t wantedBytes = text.size() * sizeof(wchar_t);
    const DWORD readable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                           PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
    std::vector<char> block;
    MEMORY_BASIC_INFORMATION region;
    for (BYTE *at = NULL; VirtualQueryEx(process, at, &region, sizeof(region)) == sizeof(region);
         at = static_cast<BYTE *>(region.BaseAddress) + region.RegionSize) {
        if (region.State != MEM_COMMIT || !(region.Protect & readable) || (region.Protect & PAGE_GUARD) ||
            region.Type == MEM_IMAGE)
            continue;
        block.resize(region.RegionSize);
        SIZE_T read = 0;
        if (ReadProcessMemory(process, region.BaseAddress, block.data(), block.size(), &read) &&
            std::search(block.begin(), block.begin() + read, wanted, wanted + wantedBytes) != block.begin() + read)
            return true;
    }
    return false;
}

}  // namespace test
