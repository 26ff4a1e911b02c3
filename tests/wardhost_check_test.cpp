// "wardhost -check" against an installation made as the package makes it (service
// installed and running, the configuration imported by wardsetup -i, the tile in the
// system folder, the simulator as the DE-Zeruzu on loopback), then with one fault at a
// time. Expected lines come from wardhost.exe's own string table.
#include "test_support.h"
#include "fake_pipe.h"
#include "product_key.h"
#include "registration.h"
#include "setup_support.h"
#include "string_tables.h"
#include "wardhost_res.h"

#include <gtest/gtest.h>
#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

namespace {

using test::WardhostText;

struct CheckRun {
    DWORD exitCode = STILL_ACTIVE;
    std::vector<std::wstring> lines;
    std::string output;  // as written, for failure messages
};

CheckRun RunCheck(const std::wstring &arguments = L"-check")
{
    CheckRun run;
    test::ProcessResult result =
        test::RunProcess(L"\"" + test::BinaryPath(L"wardhost.exe") + L"\" " + arguments, 60000);
    EXPECT_TRUE(result.finished);
    run.exitCode = result.exitCode;
    run.output = result.output;
    // Redirected, the lines are UTF-8 with CR LF.
    int chars = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, result.output.data(),
                                    (int)result.output.size(), NULL, 0);
    EXPECT_TRUE(result.output.empty() || chars > 0) << "not UTF-8: " << result.output;
    std::wstring text(chars, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, result.output.data(), (int)result.output.size(), &text[0], chars);
    size_t start = 0, end;
    while ((end = text.find(L"\r\n", start)) != std::wstring::npos) {
        run.lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    EXPECT_EQ(text.size(), start) << "a line without CR LF: " << result.output;
    return run;
}

std::wstring Line(const std::wstring &label, const std::wstring &text)
{
    return WardhostText(IDS_CHECK_LINE, label.c_str(), text.c_str());
}

// Whether some number n in line makes build(n) equal to it: for texts that carry a time.
bool MatchesWithSomeNumber(const std::wstring &line, const std::function<std::wstring(int)> &build)
{
    for (size_t i = 0; i < line.size(); i++) {
        if (iswdigit(line[i]) && (i == 0 || !iswdigit(line[i - 1])) &&
            build(_wtoi(line.c_str() + i)) == line)
            return true;
    }
    return false;
}

bool HasLine(const CheckRun &run, const std::function<bool(const std::wstring &)> &wanted)
{
    return std::any_of(run.lines.begin(), run.lines.end(), wanted);
}

bool HasLine(const CheckRun &run, const std::wstring &wanted)
{
    return std::find(run.lines.begin(), run.lines.end(), wanted) != run.lines.end();
}

int Faults(const CheckRun &run)
{
    for (int faults = 1; faults < 40; faults++) {
        if (!run.lines.empty() && MatchesWithSomeNumber(run.lines.back(), [&](int total) {
                return WardhostText(IDS_CHECK_SUMMARY_FAULTS, faults, total);
            }))
            return faults;
    }
    return 0;
}

void SetServiceStartType(DWORD startType)
{
    SC_HANDLE manager = OpenSCManagerW(NULL, NULL, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service = OpenServiceW(manager, WARD_SERVICE_NAME, SERVICE_CHANGE_CONFIG);
    EXPECT_TRUE(ChangeServiceConfigW(service, SERVICE_NO_CHANGE, startType, SERVICE_NO_CHANGE,
                                     NULL, NULL, NULL, NULL, NULL, NULL, NULL));
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
}

const wchar_t INPROC_KEY[] = MACHINE_CLSID_KEY L"\\" PROVIDER_CLSID_TEXT L"\\InprocServer32";

void SetMachineString(const wchar_t *path, const wchar_t *name, const std::wstring &value)
{
    RegSetKeyValueW(HKEY_LOCAL_MACHINE, path, name, REG_SZ, value.c_str(),
                    (DWORD)((value.size() + 1) * sizeof(wchar_t)));
}

std::wstring AccountOf(const wchar_t *sidText)
{
    PSID sid = NULL;
    ConvertStringSidToSidW(sidText, &sid);
    wchar_t name[256], domain[256];
    DWORD nameChars = 256, domainChars = 256;
    SID_NAME_USE use;
    LookupAccountSidW(NULL, sid, name, &nameChars, domain, &domainChars, &use);
    LocalFree(sid);
    return domain[0] != L'\0' ? std::wstring(domain) + L"\\" + name : std::wstring(name);
}

// A folder with exactly this security descriptor; empty when Wine or Windows refuse it.
std::wstring MakeFolder(const std::wstring &parent, const wchar_t *name, const wchar_t *sddl)
{
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), NULL, FALSE};
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1,
                                                              &attributes.lpSecurityDescriptor, NULL))
        return L"";
    std::wstring path = parent + L"\\" + name;
    BOOL made = CreateDirectoryW(path.c_str(), &attributes);
    // Wine takes the entries only when they are set on an existing folder.
    BOOL present = FALSE, defaulted;
    PACL dacl = NULL;
    GetSecurityDescriptorDacl(attributes.lpSecurityDescriptor, &present, &dacl, &defaulted);
    if (made && SetNamedSecurityInfoW(&path[0], SE_FILE_OBJECT,
                                      DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                      NULL, NULL, dacl, NULL) != ERROR_SUCCESS)
        made = FALSE;
    LocalFree(attributes.lpSecurityDescriptor);
    return made ? path : L"";
}

class CheckTest : public test::ServiceTestBase {
protected:
    void SetUp() override
    {
        ServiceTestBase::SetUp();
        InstallAndStart();
        ASSERT_TRUE(simulator_.Start(test::ShippedScript(L"silent.txt"), /*connections*/ 1000));
        dir_ = test::MakeTempDir(L"portgate-check");
        std::string port = std::to_string(simulator_.Port());
        std::string config = "[General]\r\nEnable=1\r\n[VLAN]\r\nVLANLogonServer=127.0.0.1\r\n"
                             "VLANLogonPort=" + port + "\r\nVLANLogoffServer=127.0.0.1\r\n"
                             "VLANLogoffPort=" + port + "\r\n[GroupList120]\r\n"
                             "VLANLogoffServer=127.0.0.1\r\nVLANLogoffPort=" + port +
                             "\r\n[DHCP]\r\nEnableDHCP=1\r\nWaitIpRenew=120\r\n";
        std::wstring file = dir_ + L"\\site.cfg";
        ASSERT_TRUE(test::WriteBytes(file, config.data(), (DWORD)config.size()));
        ASSERT_TRUE(provider_.Install(test::BinaryPath(L"wardtile.dll")));
        test::ProcessResult import = test::RunProcess(
            L"\"" + test::BinaryPath(SETUP_EXE_NAME) + L"\" -i \"" + file + L"\"");
        ASSERT_EQ(0u, import.exitCode) << import.output;
    }

    void TearDown() override
    {
        simulator_.Kill();
        test::ClearConfiguration();
        test::RemoveTree(dir_);
        ServiceTestBase::TearDown();
    }

    test::ProviderFile provider_;  // removed when the test ends
    test::Simulator simulator_;
    std::wstring dir_;
};

TEST_F(CheckTest, HealthyInstallationHoldsWithoutSendingAnything)
{
    CheckRun run = RunCheck();
    ASSERT_GE(run.lines.size(), 2u) << run.output;
    EXPECT_EQ(0u, run.exitCode) << run.output;
    // Every line but the summary says OK.
    std::wstring ok = WardhostText(IDS_CHECK_OK);
    for (size_t i = 0; i + 1 < run.lines.size(); i++) {
        size_t at = run.lines[i].rfind(L": " + ok);
        EXPECT_TRUE(at != std::wstring::npos &&
                    (at + 2 + ok.size() == run.lines[i].size() || run.lines[i][at + 2 + ok.size()] == L' '))
            << test::Narrow(run.lines[i]);
    }
    EXPECT_EQ(WardhostText(IDS_CHECK_SUMMARY_OK, (int)run.lines.size() - 1), run.lines.back());
    // The pipe was answered by the service's own process.
    EXPECT_TRUE(HasLine(run, Line(WardhostText(IDS_LABEL_PIPE),
                                  WardhostText(IDS_PIPE_OK, (int)test::ServiceProcessId()))))
        << run.output;
    // Logon, logoff and the VLAN's logoff server: connected, timed, within the bound.
    std::wstring labels[] = {
        WardhostText(IDS_LABEL_LOGON_SERVER, L"127.0.0.1", simulator_.Port()),
        WardhostText(IDS_LABEL_LOGOFF_SERVER, L"127.0.0.1", simulator_.Port()),
        WardhostText(IDS_LABEL_GROUP_SERVER, L"120", L"127.0.0.1", simulator_.Port()),
    };
    for (const std::wstring &label : labels) {
        EXPECT_TRUE(HasLine(run, [&](const std::wstring &line) {
            return line.rfind(label, 0) == 0 &&
                   MatchesWithSomeNumber(line, [&](int ms) {
                       return ms <= 5000 ? Line(label, WardhostText(IDS_NET_OK, ms)) : L"";
                   });
        })) << test::Narrow(label) << "\n" << run.output;
    }
    // Three connections, each closed without a byte sent.
    EXPECT_TRUE(simulator_.WaitUntil(
        [](const std::vector<std::string> &l) { return std::count(l.begin(), l.end(), "conn: closed") == 3; },
        10000))
        << test::Joined(simulator_.Lines());
    EXPECT_EQ(3, test::Connections(simulator_.Lines()));
    EXPECT_EQ("", test::Joined(test::Received(simulator_.Lines())));
}

struct FaultCase {
    const char *name;
    std::function<void()> make;
    std::function<bool(const std::wstring &)> line;  // the line that names the fault
    int faults;  // 0: the check holds and exits 0
    std::function<void()> undo;
};

TEST_F(CheckTest, EachFaultIsNamedCountedAndExitsOne)
{
    const std::wstring module = test::ProviderFile::Path();
    const std::wstring tileModule = WardhostText(IDS_LABEL_TILE_MODULE);
    auto is = [](const std::wstring &expected) {
        return [expected](const std::wstring &line) { return line == expected; };
    };
    auto patchMachine = [module](WORD machine) {
        HANDLE file = CreateFileW(module.c_str(), GENERIC_READ | GENERIC_WRITE, 0, NULL,
                                  OPEN_EXISTING, 0, NULL);
        IMAGE_DOS_HEADER dos;
        DWORD bytes;
        ReadFile(file, &dos, sizeof(dos), &bytes, NULL);
        SetFilePointer(file, dos.e_lfanew + 4, NULL, FILE_BEGIN);
        WriteFile(file, &machine, sizeof(machine), &bytes, NULL);
        CloseHandle(file);
    };
    auto restoreModule = [this] { provider_.Install(test::BinaryPath(L"wardtile.dll")); };
    const DWORD port = simulator_.Port();
    const wchar_t *unquoted = L"C:\\Program Files\\Portgate\\wardtray.exe -t";
    const std::wstring run = test::SnapshotConfiguration()[L"Run|" RUN_VALUE_NAME];  // as imported
    ASSERT_NE(L"", run);
    const std::wstring threading = std::wstring(L"HKLM\\") + INPROC_KEY + L"\\ThreadingModel";
    const std::wstring logonLabel = WardhostText(IDS_LABEL_LOGON_SERVER, L"127.0.0.1", port);
    // Log folders with owner and entries as given, nothing inherited. (Wine keeps no
    // descriptor: it shows the user who runs the test, an administrator, as the owner, and
    // the folder's permissions for others as Everyone's entry.)
    const std::wstring safe = MakeFolder(dir_, L"safe", L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)");
    const std::wstring open =
        MakeFolder(dir_, L"open", L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1201bf;;;WD)");
    ASSERT_FALSE(safe.empty());
    ASSERT_FALSE(open.empty());
    const std::wstring safeLog = safe + L"\\wardhost.log", target = dir_ + L"\\target.bat";
    const std::wstring logLabel = WardhostText(IDS_LABEL_LOG);
    CloseHandle(CreateFileW(target.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL));
    std::unique_ptr<test::FakePipe> squatter;

    FaultCase cases[] = {
        {"wardtile.dll removed", [&] { DeleteFileW(module.c_str()); },
         is(Line(tileModule, WardhostText(IDS_TILE_MODULE_MISSING, module.c_str()))), 1, restoreModule},
        {"wardtile.dll 32-bit", [&] { patchMachine(IMAGE_FILE_MACHINE_I386); },
         is(Line(tileModule, WardhostText(IDS_TILE_NOT_64BIT, module.c_str(), 0x14c))), 1, restoreModule},
        {"a module without the exports",
         [&] { CopyFileW(test::BinaryPath(L"wardhost.exe").c_str(), module.c_str(), FALSE); },
         is(Line(tileModule, WardhostText(IDS_TILE_NO_EXPORT, module.c_str(), L"DllGetClassObject"))), 1,
         restoreModule},
        {"ThreadingModel Both", [] { SetMachineString(INPROC_KEY, L"ThreadingModel", L"Both"); },
         is(Line(WardhostText(IDS_LABEL_TILE_CLASS),
                 WardhostText(IDS_REG_VALUE_MISMATCH, threading.c_str(), L"Both", L"Apartment"))),
         1, [] { SetMachineString(INPROC_KEY, L"ThreadingModel", L"Apartment"); }},
        {"Run entry unquoted with a blank", [&] { SetMachineString(RUN_KEY, RUN_VALUE_NAME, unquoted); },
         is(Line(WardhostText(IDS_LABEL_TRAY), WardhostText(IDS_TRAY_PATH_UNQUOTED, unquoted))), 1,
         [&] { SetMachineString(RUN_KEY, RUN_VALUE_NAME, run); }},
        {"service stopped", [] { ASSERT_TRUE(test::StopService()); },
         is(Line(WardhostText(IDS_LABEL_SERVICE_STATE),
                 WardhostText(IDS_SERVICE_NOT_RUNNING, SERVICE_STOPPED))),
         2 /* and the pipe */, [] { ASSERT_TRUE(test::StartService()); }},
        {"service on demand", [] { SetServiceStartType(SERVICE_DEMAND_START); },
         is(Line(WardhostText(IDS_LABEL_SERVICE_START),
                 WardhostText(IDS_SERVICE_NOT_AUTO, SERVICE_DEMAND_START))),
         1, [] { SetServiceStartType(SERVICE_AUTO_START); }},
        {"WaitIpRenew 4294967295", [] { test::SetConfigDword(NULL, VALUE_WAIT_IP_RENEW, 4294967295u); },
         is(Line(VALUE_WAIT_IP_RENEW,
                 WardhostText(IDS_WAIT_TOO_LONG, 4294967295u, WAIT_SECONDS_MAX, WAIT_SECONDS_MAX))),
         1, [] { test::SetConfigDword(NULL, VALUE_WAIT_IP_RENEW, WAIT_SECONDS_MAX); }},
        {"logon port 65536", [] { test::SetConfigDword(NULL, VALUE_VLAN_LOGON_PORT, 65536); },
         is(Line(VALUE_VLAN_LOGON_PORT, WardhostText(IDS_PORT_OUT_OF_RANGE, 65536u, PORT_MIN, PORT_MAX))),
         1, [&] { test::SetConfigDword(NULL, VALUE_VLAN_LOGON_PORT, port); }},
        {"logoff port stored as text",
         [&] { test::SetConfigString(NULL, VALUE_VLAN_LOGOFF_PORT, std::to_wstring(port)); },
         is(Line(VALUE_VLAN_LOGOFF_PORT, WardhostText(IDS_VALUE_WRONG_TYPE, REG_SZ, L"REG_DWORD"))), 1,
         [&] { test::SetConfigDword(NULL, VALUE_VLAN_LOGOFF_PORT, port); }},
        {"logon server in a numeric short form",
         [] { test::SetConfigString(NULL, VALUE_VLAN_LOGON_SERVER, L"127.0.18"); },
         is(Line(VALUE_VLAN_LOGON_SERVER, WardhostText(IDS_SERVER_NOT_DOTTED, L"127.0.18"))), 1,
         [] { test::SetConfigString(NULL, VALUE_VLAN_LOGON_SERVER, L"127.0.0.1"); }},
        {"GroupList entry with leading zero and without port",
         [] { test::SetConfigString(SUBKEY_GROUP_LIST L"\\0120", VALUE_VLAN_LOGOFF_SERVER, L"127.0.0.1"); },
         is(Line(WardhostText(IDS_LABEL_GROUP_ENTRY, L"0120"), WardhostText(IDS_GROUP_NAME))), 1,
         [] { RegDeleteTreeW(HKEY_LOCAL_MACHINE, PRODUCT_KEY_PATH L"\\" SUBKEY_GROUP_LIST L"\\0120"); }},
        {"GroupList entry without port",
         [] { test::SetConfigString(SUBKEY_GROUP_LIST L"\\7", VALUE_VLAN_LOGOFF_SERVER, L"127.0.0.1"); },
         is(Line(WardhostText(IDS_LABEL_GROUP_ENTRY, L"7"),
                 Line(VALUE_VLAN_LOGOFF_PORT, WardhostText(IDS_VALUE_NOT_SET)))),
         1, [] { RegDeleteTreeW(HKEY_LOCAL_MACHINE, PRODUCT_KEY_PATH L"\\" SUBKEY_GROUP_LIST L"\\7"); }},
        {"log in a safe folder", [&] { test::SetLogFile(safeLog); },
         is(Line(logLabel, WardhostText(IDS_CHECK_OK_DETAIL, safeLog.c_str()))), 0, [] {}},
        {"a hard link planted at the log's name",
         [&] { ASSERT_TRUE(CreateHardLinkW(safeLog.c_str(), target.c_str(), NULL)); },
         is(Line(logLabel, WardhostText(IDS_LOG_LINK, safeLog.c_str()))), 1,
         [&] { DeleteFileW(safeLog.c_str()); }},
        {"log in a folder others may write", [&] { test::SetLogFile(open + L"\\wardhost.log"); },
         is(Line(logLabel, WardhostText(IDS_LOG_FOLDER_UNSAFE, AccountOf(L"S-1-1-0").c_str(), open.c_str()))),
         1, [] { RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, PRODUCT_KEY_PATH_A, VALUE_LOG_FILE_A); }},
        {"pipe held by another process",
         [&] {
             ASSERT_TRUE(test::StopService());
             squatter = std::make_unique<test::FakePipe>();
             ASSERT_TRUE(squatter->Listening()) << squatter->CreateError();
         },
         is(Line(WardhostText(IDS_LABEL_PIPE),
                 WardhostText(IDS_PIPE_SQUATTED, WARD_PIPE_NAME, (int)GetCurrentProcessId(), 0))),
         2 /* and the service's state */,
         [&] {
             // The check connected and went without writing a byte.
             ASSERT_NE(nullptr, squatter);
             squatter->Stop();
             EXPECT_GE(squatter->Connections(), 1);
             EXPECT_EQ("", squatter->Received());
             squatter.reset();
             ASSERT_TRUE(test::StartService());
         }},
        {"the simulator's port closed", [this] { simulator_.Kill(); },
         [&](const std::wstring &line) {
             return MatchesWithSomeNumber(line, [&](int ms) {
                 return Line(logonLabel, WardhostText(IDS_NET_FAILED, WSAECONNREFUSED, ms));
             });
         },
         3 /* logon, logoff, VLAN 120 */, [] {}},
    };
    for (const FaultCase &c : cases) {
        SCOPED_TRACE(c.name);
        c.make();
        CheckRun result = RunCheck();
        EXPECT_EQ(c.faults > 0 ? 1u : 0u, result.exitCode) << result.output;
        EXPECT_TRUE(HasLine(result, c.line)) << result.output;
        EXPECT_EQ(c.faults, Faults(result)) << result.output;
        c.undo();
    }
}

void SetGroupEntryDacl(const wchar_t *entry, const wchar_t *sddl)
{
    std::wstring path = std::wstring(PRODUCT_KEY_PATH L"\\" SUBKEY_GROUP_LIST L"\\") + entry;
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, WRITE_DAC, &key));
    PSECURITY_DESCRIPTOR descriptor = NULL;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor,
                                                                     NULL));
    EXPECT_EQ(ERROR_SUCCESS, RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor));
    RegCloseKey(key);
    LocalFree(descriptor);
}

TEST_F(CheckTest, WhatCannotBeReadIsSaidAndIsNoFault)
{
    // An entry only administrators could read, seen as an account without the right.
    test::SetConfigString(SUBKEY_GROUP_LIST L"\\5", VALUE_VLAN_LOGOFF_SERVER, L"127.0.0.1");
    SetGroupEntryDacl(L"5", L"D:P(D;;KA;;;WD)");
    CheckRun run = RunCheck();
    EXPECT_EQ(0u, run.exitCode) << run.output;
    EXPECT_TRUE(HasLine(run, Line(WardhostText(IDS_LABEL_GROUP_ENTRY, L"5"),
                                  WardhostText(IDS_CHECK_NEEDS_ADMIN))))
        << run.output;
    EXPECT_EQ(WardhostText(IDS_CHECK_SUMMARY_NOT_MADE, 1), run.lines.back()) << run.output;
    // The product key goes with its subkeys in the tear-down: give the entry back first.
    SetGroupEntryDacl(L"5", L"D:(A;;KA;;;WD)");
}

TEST(CheckCommandLine, FurtherArgumentsAreMalformed)
{
    // The Japanese entry says what it runs under, so that it cannot pass in English.
    bool japanese = PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_JAPANESE;
    ASSERT_EQ(test::ExpectedLanguage() == test::JAPANESE, japanese);
    for (const wchar_t *arguments : {L"-check extra", L"/CHECK -check", L"-Check \"\""}) {
        CheckRun run = RunCheck(arguments);
        EXPECT_EQ(2u, run.exitCode) << test::Narrow(arguments);
        ASSERT_EQ(1u, run.lines.size()) << run.output;
        EXPECT_EQ(WardhostText(IDS_CHECK_USAGE), run.lines[0]);
        // Japanese text came through the redirection whole.
        if (japanese) {
            EXPECT_NE(std::wstring::npos, run.lines[0].find_first_of(L"使引数")) << run.output;
        }
    }
}

TEST(CheckConsole, LinesReachAConsoleAsWritten)
{
    // A console of this test's own, given to the check as its output: what the console
    // holds afterwards is what a user sees, whatever the code pages.
    FreeConsole();
    ASSERT_TRUE(AllocConsole());
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), NULL, TRUE};
    HANDLE console = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, console);
    COORD origin = {0, 0};
    DWORD count;
    CONSOLE_SCREEN_BUFFER_INFO screen;
    ASSERT_TRUE(GetConsoleScreenBufferInfo(console, &screen));
    FillConsoleOutputCharacterW(console, L' ', screen.dwSize.X * screen.dwSize.Y, origin, &count);
    SetConsoleCursorPosition(console, origin);

    HANDLE process = test::StartProcessWritingTo(L"\"" + test::BinaryPath(L"wardhost.exe") + L"\" -check extra", console);
    ASSERT_NE(nullptr, process);
    EXPECT_EQ((DWORD)WAIT_OBJECT_0, WaitForSingleObject(process, 30000));
    DWORD exitCode = 0;
    GetExitCodeProcess(process, &exitCode);
    EXPECT_EQ(2u, exitCode);
    CloseHandle(process);

    std::vector<wchar_t> cells(screen.dwSize.X * 2);
    ASSERT_TRUE(ReadConsoleOutputCharacterW(console, cells.data(), (DWORD)cells.size(), origin, &count));
    std::wstring shown(cells.data(), count);
    std::wstring usage = WardhostText(IDS_CHECK_USAGE);
    EXPECT_EQ(0u, shown.find(usage)) << test::Narrow(shown);
    CloseHandle(console);
    FreeConsole();
}

}  // namespace
