// The real wardhost.exe under the service control manager of the test prefix.
#include "test_support.h"
#include "fake_pipe.h"
#include "ward_names.h"
#include "wardhost_res.h"

#include <gtest/gtest.h>
#include <aclapi.h>
#include <psapi.h>
#include <sddl.h>

#include <algorithm>
#include <memory>
#include <random>
#include <regex>
#include <thread>
#include <vector>

namespace {

std::string Wardhost(const std::wstring &arguments,
                     const std::wstring &image = test::BinaryPath(L"wardhost.exe"))
{
    test::ProcessResult result = test::RunProcess(L"\"" + image + L"\" " + arguments);
    EXPECT_TRUE(result.started);
    EXPECT_TRUE(result.finished);
    EXPECT_EQ(0u, result.exitCode);
    // Text-mode output: compare without the carriage returns.
    result.output.erase(std::remove(result.output.begin(), result.output.end(), '\r'),
                        result.output.end());
    return result.output;
}

using ServiceTest = test::ServiceTestBase;

// ---- console switches

TEST_F(ServiceTest, SwitchWordsInEveryRecognisedSpellingAndState)
{
    const std::string installed = "Portgate for Vista Service installed\\.\n";
    const std::string uninstalled = "Portgate for Vista Service uninstalled\\.\n";
    enum { ABSENT, INSTALLED, RUNNING };
    struct {
        int before;
        const wchar_t *arguments;
        std::string output;  // a regular expression
    } cases[] = {
        {ABSENT, L"-install", installed},
        {ABSENT, L"-INSTALL", installed},
        {ABSENT, L"/Install", installed},
        // Again over the installed service: its registration is made right, not refused.
        {INSTALLED, L"-install", installed},
        {INSTALLED, L"/uninstall", uninstalled},
        {INSTALLED, L"-UnInstall extra words", uninstalled},  // further arguments are never looked at
        {RUNNING, L"-uninstall",
         "Stopping Portgate for Vista Service\\.\\.*\nPortgate for Vista Service stopped\\.\n" + uninstalled},
        {ABSENT, L"-uninstall", "OpenService failed - 1060\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(test::Narrow(c.arguments));
        test::UninstallService();  // waits until the deletion has completed
        if (c.before == RUNNING) {
            InstallAndStart();
        } else if (c.before == INSTALLED) {
            ASSERT_TRUE(test::InstallService());
        }
        std::string output = Wardhost(c.arguments);
        EXPECT_TRUE(std::regex_match(output, std::regex(c.output))) << output;
        if (c.output == installed) {
            EXPECT_TRUE(test::IsServiceInstalled());
        }
    }
}

TEST_F(ServiceTest, UnrecognisedSwitchesStartTheDispatcher)
{
    const wchar_t *words[] = {L"install", L"--install", L"-install1", L"-instal",
                              L"/uninstal", L"uninstall", L"-", L""};
    // A dispatcher that finds no service control manager connection can take seconds to
    // give up, so the words run side by side.
    std::vector<std::thread> runs;
    std::string outputs[ARRAYSIZE(words)];
    for (size_t i = 0; i < ARRAYSIZE(words); i++)
        runs.emplace_back([&, i] { outputs[i] = Wardhost(words[i]); });
    for (std::thread &run : runs)
        run.join();
    for (size_t i = 0; i < ARRAYSIZE(words); i++) {
        EXPECT_EQ("StartServiceCtrlDispatcher failed - 1063\n", outputs[i])
            << "argument \"" << test::Narrow(words[i]) << "\"";
    }
    EXPECT_FALSE(test::IsServiceInstalled());
}

// The image path and start type the service control manager holds for the service.
std::wstring RegisteredImage(DWORD *startType)
{
    SC_HANDLE manager = OpenSCManagerW(NULL, NULL, SC_MANAGER_CONNECT);
    SC_HANDLE service = OpenServiceW(manager, WARD_SERVICE_NAME, SERVICE_QUERY_CONFIG);
    union {
        QUERY_SERVICE_CONFIGW config;
        BYTE bytes[8192];
    } buffer;
    DWORD needed = 0;
    bool read = service != NULL && QueryServiceConfigW(service, &buffer.config, sizeof(buffer), &needed);
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    *startType = read ? buffer.config.dwStartType : 0;
    return read ? buffer.config.lpBinaryPathName : L"<not registered>";
}

TEST_F(ServiceTest, ImagePathWithABlankIsQuoted)
{
    // Unquoted, "C:\\Program Files\\..." lets the system start C:\\Program.exe as LocalSystem.
    std::wstring dir = test::MakeTempDir(L"portgate service dir");
    std::wstring image = dir + L"\\wardhost.exe";
    ASSERT_TRUE(CopyFileW(test::BinaryPath(L"wardhost.exe").c_str(), image.c_str(), FALSE));
    EXPECT_EQ("Portgate for Vista Service installed.\n", Wardhost(L"-install", image));
    DWORD startType;
    EXPECT_EQ(L"\"" + image + L"\"", RegisteredImage(&startType));
    // The quoted path is one the service control manager starts.
    EXPECT_TRUE(test::StartService());  // it waits for the pipe too
    test::UninstallService();

    // Registered unquoted by someone else (an installer's service table, say): -install
    // quotes it in the service control manager's own record.
    SC_HANDLE manager = OpenSCManagerW(NULL, NULL, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service = CreateServiceW(manager, WARD_SERVICE_NAME, L"Portgate for Vista Service",
                                       SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                       SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, image.c_str(),
                                       NULL, NULL, NULL, NULL, NULL);
    ASSERT_NE(nullptr, service) << GetLastError();
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    Wardhost(L"-install", image);
    EXPECT_EQ(L"\"" + image + L"\"", RegisteredImage(&startType));
    EXPECT_EQ((DWORD)SERVICE_AUTO_START, startType);
    test::UninstallService();
    test::RemoveTree(dir);
}

// ---- service control manager

TEST_F(ServiceTest, StatusSequenceInterrogateAndStop)
{
    ASSERT_TRUE(test::InstallService());
    SC_HANDLE manager = OpenSCManagerW(NULL, NULL, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service = OpenServiceW(manager, WARD_SERVICE_NAME, SERVICE_ALL_ACCESS);
    ASSERT_NE(nullptr, service);
    ASSERT_TRUE(StartServiceW(service, 0, NULL));

    // Every status seen on the way up must be one the service reports.
    SERVICE_STATUS status;
    DWORD start = GetTickCount();
    for (;;) {
        ASSERT_TRUE(QueryServiceStatus(service, &status));
        if (status.dwCurrentState == SERVICE_RUNNING)
            break;
        ASSERT_EQ((DWORD)SERVICE_START_PENDING, status.dwCurrentState);
        EXPECT_EQ(0u, status.dwControlsAccepted);
        if (status.dwCheckPoint != 0) {  // 0 only before the first report
            EXPECT_LE(status.dwCheckPoint, 2u);
            EXPECT_EQ(3000u, status.dwWaitHint);
        }
        ASSERT_LT(GetTickCount() - start, 20000u);
        Sleep(5);
    }
    EXPECT_EQ(0u, status.dwCheckPoint);
    EXPECT_EQ(0u, status.dwWaitHint);
    EXPECT_EQ((DWORD)SERVICE_ACCEPT_STOP, status.dwControlsAccepted);
    EXPECT_EQ((DWORD)SERVICE_WIN32_OWN_PROCESS, status.dwServiceType);

    ASSERT_TRUE(ControlService(service, SERVICE_CONTROL_INTERROGATE, &status));
    EXPECT_EQ((DWORD)SERVICE_RUNNING, status.dwCurrentState);

    ASSERT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status));
    if (status.dwCurrentState == SERVICE_STOP_PENDING) {
        EXPECT_EQ(3u, status.dwCheckPoint);  // the counter goes on after the two starts
        EXPECT_EQ(0u, status.dwWaitHint);
    } else {
        EXPECT_EQ((DWORD)SERVICE_STOPPED, status.dwCurrentState);
    }
    ASSERT_TRUE(test::WaitForServiceState(SERVICE_STOPPED, 20000));
    ASSERT_TRUE(QueryServiceStatus(service, &status));
    EXPECT_EQ(0u, status.dwCheckPoint);
    EXPECT_EQ(0u, status.dwWin32ExitCode);
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
}

// ---- pipe grammar and replies

// With the log in a missing folder, which changes nothing: the service serves on and makes
// no folder.
TEST_F(ServiceTest, RepliesAreExactBytes)
{
    std::wstring dir = test::MakeTempDir(L"portgate-service-log");
    test::SetLogFile(dir + L"\\missing\\wardhost.log");
    // The search is switched off, so "finddomain" answers at once, with trace lines.
    test::SetConfigDword(NULL, VALUE_NOT_FIND_DOMAIN, 1);
    InstallAndStart();
    auto bytes = [](const std::wstring &text) {
        return std::string(reinterpret_cast<const char *>(text.data()), text.size() * 2);
    };
    struct {
        std::string request;
        std::wstring reply;
    } cases[] = {
        {bytes(L""), L"NG"},
        {bytes(std::wstring(L"finddomain\0", 11)), L"OK"},  // a trailing terminator is harmless
        {bytes(std::wstring(L"\0logon", 6)), L"NG"},        // the text ends at the first NUL
        {bytes(std::wstring(259, L'x')), L"NG"},
        {bytes(std::wstring(300, L'x')), L"NG"},
        {"logon a b c", L"NG"},  // odd byte counts are refused, not half-read
        // A message belongs to its own request only: with no logon server configured the
        // logon fails with its reason, and the next request's reply carries none of it.
        {bytes(L"logon alice secret"), L"NG" + test::WardhostString(IDS_NO_LOGON_SERVER)},
        {bytes(L"hello"), L"NG"},
        {bytes(L"LogOff"), L"NG" + test::WardhostString(IDS_NO_LOGOFF_SERVER)},
        {bytes(L""), L"NG"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE("a request of " + std::to_string(c.request.size()) + " bytes");
        std::wstring reply;
        DWORD error;
        ASSERT_TRUE(test::CallPipeRaw(c.request.data(), (DWORD)c.request.size(), &reply, &error, 5000))
            << "error " << error;
        EXPECT_EQ(c.reply, reply);
    }
    EXPECT_EQ((DWORD)SERVICE_RUNNING, test::ServiceState());
    ASSERT_TRUE(test::StopService());
    EXPECT_FALSE(test::FileExists(dir + L"\\missing"));
    test::RemoveTree(dir);
}

TEST_F(ServiceTest, PipeRefusesSecurityChangesByOrdinaryAccounts)
{
    InstallAndStart();
    HANDLE pipe = CreateFileW(WARD_PIPE_NAME, GENERIC_READ | GENERIC_WRITE | READ_CONTROL, 0, NULL,
                              OPEN_EXISTING, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, pipe) << GetLastError();
    PACL dacl = NULL;
    PSECURITY_DESCRIPTOR descriptor = NULL;
    DWORD rc = GetSecurityInfo(pipe, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, NULL, NULL,
                               &dacl, NULL, &descriptor);
    CloseHandle(pipe);
    ASSERT_EQ(0u, rc);
    ASSERT_NE(nullptr, dacl) << "a null DACL lets every account rewrite the pipe's security";
    bool networkDenied = false, interactiveCanWrite = false;
    for (WORD i = 0; i < dacl->AceCount; i++) {
        ACE_HEADER *header;
        ASSERT_TRUE(GetAce(dacl, i, reinterpret_cast<void **>(&header)));
        ACCESS_MASK mask = reinterpret_cast<ACCESS_ALLOWED_ACE *>(header)->Mask;
        PSID sid = &reinterpret_cast<ACCESS_ALLOWED_ACE *>(header)->SidStart;
        LPWSTR text = NULL;
        ConvertSidToStringSidW(sid, &text);
        std::wstring name = text ? text : L"";
        LocalFree(text);
        if (header->AceType == ACCESS_DENIED_ACE_TYPE && name == L"S-1-5-2")
            networkDenied = true;
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE)
            continue;
        if (name == L"S-1-5-18" || name == L"S-1-5-32-544")
            continue;
        EXPECT_EQ(0u, mask & (WRITE_DAC | WRITE_OWNER)) << test::Narrow(name);
        // Service accounts, batch and network logons could hold the only instance.
        EXPECT_EQ(L"S-1-5-4", name) << "only the clients' accounts may use the pipe";
        if (name == L"S-1-5-4" && (mask & FILE_READ_DATA) && (mask & FILE_WRITE_DATA))
            interactiveCanWrite = true;
    }
    LocalFree(descriptor);
    EXPECT_TRUE(networkDenied);
    EXPECT_TRUE(interactiveCanWrite);
    EXPECT_EQ(L"NG", test::CallPipe(L"still serving"));
}

TEST_F(ServiceTest, SilentClientOrHugeRequestDoesNotHoldThePipe)
{
    InstallAndStart();
    HANDLE silent = CreateFileW(WARD_PIPE_NAME, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                                0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, silent);
    DWORD start = GetTickCount();
    // The next client waits for the instance, which the server frees within a second:
    // the clients write at once, so a silent one is holding the pipe.
    EXPECT_EQ(L"NG", test::CallPipe(L"next"));
    EXPECT_LE(GetTickCount() - start, 2500u);
    // The silent client's connection has been ended by the server.
    char byte;
    DWORD bytes;
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(ReadFile(silent, &byte, 1, &bytes, NULL));
    EXPECT_TRUE(GetLastError() == ERROR_PIPE_NOT_CONNECTED || GetLastError() == ERROR_BROKEN_PIPE)
        << GetLastError();
    CloseHandle(silent);

    // A message of any size is read, or its client dropped, within the request's bound: the
    // next client is served soon after, not once the last byte has been read and discarded.
    std::vector<char> request(128u << 20, 'x');
    start = GetTickCount();
    std::wstring reply;
    DWORD error;
    bool answered = test::CallPipeRaw(request.data(), (DWORD)request.size(), &reply, &error, 5000);
    EXPECT_TRUE(!answered || reply == L"NG") << test::Narrow(reply);
    EXPECT_EQ(L"NG", test::CallPipe(L"next"));
    EXPECT_LE(GetTickCount() - start, 5000u);
}

// A pipe of the service's name made while the service was down: the service does not
// serve beside it, and says why.
TEST_F(ServiceTest, SquattedPipeNameFailsTheStartWithItsErrorInTheLog)
{
    std::wstring dir;
    std::wstring path = test::LogToTempFile(L"portgate-squat", &dir);
    auto squatter = std::make_unique<test::FakePipe>();
    ASSERT_TRUE(squatter->Listening()) << squatter->CreateError();
    ASSERT_TRUE(test::InstallService());
    SC_HANDLE manager = OpenSCManagerW(NULL, NULL, SC_MANAGER_CONNECT);
    SC_HANDLE service = OpenServiceW(manager, WARD_SERVICE_NAME, SERVICE_START | SERVICE_QUERY_STATUS);
    ASSERT_NE(nullptr, service);
    StartServiceW(service, 0, NULL);  // its result is no proof either way under Wine
    // Bounded: STOPPED follows the failed set-up at once.
    SERVICE_STATUS status = {};
    for (DWORD start = GetTickCount(); GetTickCount() - start < 20000; Sleep(20)) {
        ASSERT_TRUE(QueryServiceStatus(service, &status));
        if (status.dwCurrentState == SERVICE_STOPPED && status.dwWin32ExitCode != 0)
            break;
    }
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    squatter.reset();
    EXPECT_EQ((DWORD)SERVICE_STOPPED, status.dwCurrentState);
    EXPECT_NE(0u, status.dwWin32ExitCode) << "a failed start reported as success";
    // The failing call and the exit code, on one line.
    std::string log = test::ReadFileBytes(path);
    EXPECT_TRUE(std::regex_search(log, std::regex("\\] +CreateNamedPipeW\\(\\)[^\r\n]* error = " +
                                                  std::to_string(status.dwWin32ExitCode) + "\r\n")))
        << log;
    test::UninstallService();
    test::RemoveTree(dir);
}

// ---- malformed requests

SIZE_T PrivateBytes(DWORD processId)
{
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId);
    if (process == NULL)
        return 0;
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof(counters);
    BOOL ok = GetProcessMemoryInfo(process, &counters, sizeof(counters));
    CloseHandle(process);
    // The commit charge is the process's private memory; Wine fills only this field.
    return ok ? counters.PagefileUsage : 0;
}

// Logged as well: the banners stand around the run's lines, and the password in none.
TEST_F(ServiceTest, OverLongRequestLeavesNoPasswordInTheServiceOrItsLog)
{
    std::wstring dir;
    std::wstring path = test::LogToTempFile(L"portgate-service-log", &dir);
    InstallAndStart();
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, test::ServiceProcessId());
    ASSERT_NE(nullptr, process) << GetLastError();
    // The first 260 units fill the request buffer; the password sits in the rest, which
    // the service reads only to discard it.
    const std::wstring password = L"pw-7431-xyzzy-";
    std::wstring request = L"logon alice ";
    request.resize(260, L' ');
    while (request.size() + password.size() <= 520)
        request += password;
    ASSERT_FALSE(test::ProcessMemoryHolds(process, password)) << "found before it was sent";
    EXPECT_EQ(L"NG", test::CallPipe(request));
    EXPECT_EQ(L"NG", test::CallPipe(L"hello"));
    EXPECT_FALSE(test::ProcessMemoryHolds(process, password));
    CloseHandle(process);
    ASSERT_TRUE(test::StopService());
    std::string log = test::ReadFileBytes(path);
    const std::string stamp = "\\d\\d:\\d\\d:\\d\\d\\.\\d{3} \\[SERVICE \\] ";
    std::regex whole(stamp + "\\*\\*\\* START Portgate for Vista Service \\*\\*\\*\r\n" +
                     "(" + stamp + "[^\r\n]*\r\n)*" +
                     stamp + "\\*\\*\\* STOP Portgate for Vista Service \\*\\*\\*\r\n");
    EXPECT_TRUE(std::regex_match(log, whole)) << log;
    EXPECT_EQ(std::string::npos, log.find("pw-7431")) << log;
    test::RemoveTree(dir);
}

// A random text of `units` UTF-16 units drawn from `pool`.
std::wstring RandomText(std::mt19937 &random, const std::wstring &pool, size_t units)
{
    std::wstring text;
    for (size_t i = 0; i < units; i++)
        text += pool[random() % pool.size()];
    return text;
}

// Well-formed and malformed requests of every command word, interleaved, against running
// simulators: every reply is "OK"/"NG" within the client's buffer, each command word
// reaches its operation, the service keeps running in one process without growing, and
// no password reaches the log.
TEST_F(ServiceTest, RandomRequestsAreAnsweredOrRefusedAndTheServiceLives)
{
    test::Simulator logonServer, logoffServer;
    ASSERT_TRUE(test::StartSwitch(&logonServer, test::ShippedScript(L"logon-group.txt"), false, 100000));
    ASSERT_TRUE(test::StartSwitch(&logoffServer, test::ShippedScript(L"logoff.txt"), true, 100000));
    test::SetConfigDword(NULL, VALUE_NOT_FIND_DOMAIN, 1);  // answered at its first tick
    test::SetConfigDword(NULL, VALUE_ENABLE_DHCP, 0);     // answered after its delay
    std::wstring dir;
    std::wstring logPath = test::LogToTempFile(L"portgate-random", &dir);
    // The same code with its limits scaled: a renewal takes 200 ms, not 4 s.
    ASSERT_TRUE(test::InstallService(L"wardhost_scaled.exe"));
    ASSERT_TRUE(test::StartService());
    DWORD processId = test::ServiceProcessId();
    ASSERT_NE(0u, processId);

    std::mt19937 random(20261209);
    const std::wstring words[] = {L"logon", L"LOGOFF", L"iprenew", L"FindDomain"};
    // Names and domains: ASCII, Japanese, a tab; never the password's mark "Zq".
    const std::wstring pool = L"abcdxyz0189._-\\@\t\x3042\x30ab\x6f22\x00e9";
    // Passwords start with the mark, so that any trace of one in the log is found.
    const std::wstring mark = L"Zq";
    SIZE_T before = 0;
    int ok[4] = {}, renewals = 0;
    for (int i = 0; i < 400; i++) {
        std::string request;  // the raw bytes sent
        int word = random() % 4;
        int kind = random() % 3;
        if (word == 2 && renewals >= 4)
            word = 3;  // each renewal waits its delay: a few are enough
        if (kind < 2) {
            // Well formed: a command word, blanks, random arguments, the whole at most
            // 259 units; some end in a NUL followed by anything.
            std::wstring text(random() % 3, L' ');
            text += words[word];
            for (int token = 0, count = random() % 5; token < count; token++) {
                text += std::wstring(1 + random() % 3, L' ');
                size_t units = random() % 80;
                text += token == 1 && word == 0 ? mark + RandomText(random, pool, units)
                                                : RandomText(random, pool, units);
            }
            if (random() % 8 == 0)
                text += std::wstring(1, L'\0') + RandomText(random, pool, random() % 20);
            text.resize(std::min<size_t>(text.size(), random() % 260));
            if (word == 2 && text.find(L"iprenew") != std::wstring::npos)
                renewals++;
            request.assign(reinterpret_cast<const char *>(text.data()), text.size() * 2);
        } else {
            // Malformed: a command word followed by random bytes, an odd count, an unpaired
            // surrogate, or more than 259 units.
            std::wstring prefix = words[word] + L" ";
            request.assign(reinterpret_cast<const char *>(prefix.data()), prefix.size() * 2);
            size_t bytes = random() % 700;
            for (size_t b = 0; b < bytes; b++)
                request += (char)(random() % 256);
            if (random() % 2 == 0 && request.size() >= 4)
                request.replace(request.size() - 2, 2, "\x00\xd8", 2);
        }
        std::wstring reply;
        DWORD error;
        ASSERT_TRUE(test::CallPipeRaw(request.data(), (DWORD)request.size(), &reply, &error,
                                      10000))
            << "request " << i << " failed with " << error;
        ASSERT_LE(reply.size(), 260u) << "request " << i;
        ASSERT_GE(reply.size(), 2u) << "request " << i;
        bool accepted = reply.compare(0, 2, L"OK") == 0;
        ASSERT_TRUE(accepted || reply.compare(0, 2, L"NG") == 0) << test::Narrow(reply);
        if (accepted)
            ok[word]++;
        if (i % 50 == 49) {
            ASSERT_EQ((DWORD)SERVICE_RUNNING, test::ServiceState()) << "after request " << i;
        }
        // The first operations of each kind set up what the process keeps (the window
        // class, Winsock, heaps): growth is measured from there on.
        if (i == 99)
            before = PrivateBytes(processId);
    }
    SIZE_T after = PrivateBytes(processId);
    EXPECT_EQ((DWORD)SERVICE_RUNNING, test::ServiceState());
    EXPECT_EQ(processId, test::ServiceProcessId());
    for (int word = 0; word < 4; word++)
        EXPECT_GT(ok[word], 0) << test::Narrow(words[word]) << " never ran to success";
    if (before != 0 && after != 0) {
        EXPECT_LT(after, before + 512 * 1024) << "private memory grew over 300 requests from " << before;
    }
    ASSERT_TRUE(test::StopService());
    std::string log = test::ReadFileBytes(logPath);
    EXPECT_NE(std::string::npos, log.find("password: ********"));
    EXPECT_EQ(std::string::npos, log.find("Zq")) << "a password reached the log";
    test::RemoveTree(dir);
}

}  // namespace
