// wardtray.exe driven through its windows, as a user sees it: starting hidden behind its
// icon, the pages from the state values, logon and logoff against the real service and
// the DE-Zeruzu simulator, the end of the session and the Config button.
#include "test_support.h"
#include "dialogs.h"
#include "fake_pipe.h"
#include "files.h"
#include "string_tables.h"
#include "tray_driver.h"
#include "main_window.h"
#include "product_key.h"
#include "time_limits.h"
#include "tray_icon.h"
#include "ward_client.h"
#include "wardtray_res.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

namespace {

using driver::WaitFor;
using test::ItemText;
using test::Joined;
using test::Simulator;

// Resource ids of wardhost.exe that the tests compare with (its header shares names with
// the client's).
enum { WARDHOST_AUTH_FAILED = 10005, WARDHOST_CANNOT_CONNECT = 10010 };
const DWORD WAIT_MS = 30000;

std::wstring TrayString(UINT id)
{
    return test::ProgramString(L"wardtray.exe", id);
}

DWORD Dword(const wchar_t *name)
{
    DWORD value;
    return test::GetConfigDword(NULL, name, &value) ? value : 0xFFFFFFFF;
}

// The date as the information page must show it: the bias in force on that date, as the
// client's _localtime64 takes it (FileTimeToLocalFileTime would take today's).
std::wstring ExpectedLogonDate(DWORD unixSeconds)
{
    ULONGLONG ticks = (ULONGLONG)unixSeconds * 10000000ULL + 116444736000000000ULL;
    FILETIME utc = {(DWORD)ticks, (DWORD)(ticks >> 32)};
    SYSTEMTIME utcTime, time;
    FileTimeToSystemTime(&utc, &utcTime);
    SystemTimeToTzSpecificLocalTime(NULL, &utcTime, &time);
    wchar_t date[128], clock[128];
    GetDateFormatW(LOCALE_USER_DEFAULT, 0, &time, NULL, date, 128);
    GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &time, NULL, clock, 128);
    return std::wstring(date) + L" " + clock;
}

TEST(TrayResources, EnglishAndJapaneseHoldTheSameIds)
{
    test::ResourceImage tray(test::BinaryPath(L"wardtray.exe"));
    ASSERT_NE(nullptr, tray.module);
    std::set<UINT> english = test::StringIdsOfLanguage(tray.module, test::ENGLISH);
    EXPECT_FALSE(english.empty());
    EXPECT_EQ(english, test::StringIdsOfLanguage(tray.module, test::JAPANESE));
    // Every dialog in both languages (the windows' tests show each of them).
    EXPECT_EQ(test::ResourceIdsOfLanguage(tray.module, RT_DIALOG, test::ENGLISH),
              test::ResourceIdsOfLanguage(tray.module, RT_DIALOG, test::JAPANESE));
    // The user interface's language picks the set the tests compare with; under a Japanese
    // one this must really be the Japanese set, or the run would prove nothing.
    LANGID language = test::ExpectedLanguage();
    EXPECT_EQ(test::StringOfLanguage(tray.module, IDS_TITLE, language), TrayString(IDS_TITLE));
    if (language != test::ENGLISH) {
        EXPECT_NE(test::StringOfLanguage(tray.module, IDS_TITLE, test::ENGLISH), TrayString(IDS_TITLE));
    }
}

// A message of the service's string table as the service may send it: the service runs
// in its own process, whose user-interface language need not be the client's.
std::vector<std::wstring> ServiceTexts(UINT id)
{
    test::ResourceImage service(test::BinaryPath(L"wardhost.exe"));
    std::vector<std::wstring> texts;
    for (LANGID language : {test::ENGLISH, test::JAPANESE}) {
        std::wstring text = service.module != NULL ? test::StringOfLanguage(service.module, id, language) : L"";
        if (!text.empty())
            texts.push_back(text);
    }
    return texts;
}

class TrayWindow : public ::testing::Test {
protected:
    void SetUp() override { test::ClearProductKey(); }
    void TearDown() override { test::ClearProductKey(); }
};

TEST_F(TrayWindow, StartsHiddenBehindItsIconUntilAClickOrASecondStart)
{
    driver::Taskbar taskbar;
    ASSERT_TRUE(taskbar.Ready());
    driver::Client client;
    HWND main = client.Open(L"-t");
    ASSERT_NE(nullptr, main);
    ASSERT_TRUE(taskbar.WaitForRecords(1, WAIT_MS));
    driver::IconRecord added = taskbar.Records()[0];
    EXPECT_EQ((DWORD)NIM_ADD, added.message);
    EXPECT_EQ(main, added.window);
    EXPECT_EQ((UINT)(NIF_MESSAGE | NIF_ICON | NIF_TIP), added.flags & (NIF_MESSAGE | NIF_ICON | NIF_TIP));
    EXPECT_EQ((UINT)WM_TRAY_NOTIFY, added.callback);
    EXPECT_EQ(TrayString(IDS_TITLE), added.tip);
    client.WaitUntilIdle();
    EXPECT_FALSE(IsWindowVisible(main));
    EXPECT_EQ(TrayString(IDS_TITLE), test::WindowText(main));

    // Only a left click restores; nothing else answers the icon.
    SendMessageW(main, WM_TRAY_NOTIFY, 0, WM_RBUTTONDOWN);
    SendMessageW(main, WM_TRAY_NOTIFY, 0, WM_LBUTTONDBLCLK);
    EXPECT_FALSE(IsWindowVisible(main));
    SendMessageW(main, WM_TRAY_NOTIFY, 0, WM_LBUTTONDOWN);
    EXPECT_TRUE(IsWindowVisible(main));

    // Cancel, Escape and the close button only hide: the process and its icon stay.
    PostMessageW(main, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_TRUE(WaitFor([&] { return !IsWindowVisible(main); }, WAIT_MS));
    EXPECT_FALSE(client.WaitForExit(0));

    // A second start restores the hidden window and ends. A message box of another program
    // with the same caption, on top of the first window, must not be taken for it.
    std::thread decoy([] { MessageBoxW(NULL, L"decoy", TrayString(IDS_TITLE).c_str(), MB_OK); });
    HWND decoyBox = test::WaitForDialog(GetCurrentProcessId(), test::IsMessageBox, WAIT_MS);
    ASSERT_NE(nullptr, decoyBox);
    ASSERT_EQ(TrayString(IDS_TITLE), test::WindowText(decoyBox));
    driver::Client second;
    ASSERT_TRUE(second.Start());
    DWORD exitCode = 99;
    ASSERT_TRUE(second.WaitForExit(WAIT_MS, &exitCode));
    EXPECT_EQ(0u, exitCode);
    EXPECT_TRUE(WaitFor([&] { return IsWindowVisible(main) != FALSE; }, WAIT_MS));
    EXPECT_EQ(1u, taskbar.Records().size());
    EXPECT_TRUE(test::AnswerDialog(decoyBox, IDOK));
    decoy.join();
}

TEST_F(TrayWindow, SwitchVariants)
{
    struct {
        const wchar_t *arguments;
        bool hidden;
    } cases[] = {{L"-T", true}, {L"/t", true}, {L"-tx", false}, {L"t", false},
                 {L"", false}, {L"x -t", false}};
    driver::Taskbar taskbar;
    for (const auto &c : cases) {
        SCOPED_TRACE(test::Narrow(c.arguments));
        size_t started = taskbar.Records().size() + 1;
        driver::Client client;
        HWND main = client.Open(c.arguments);
        ASSERT_NE(nullptr, main);
        // The icon is added at the end of the initialisation, after the first show.
        ASSERT_TRUE(taskbar.WaitForRecords(started, WAIT_MS));
        client.WaitUntilIdle();
        EXPECT_EQ(!c.hidden, IsWindowVisible(main) != FALSE);
    }
}

TEST_F(TrayWindow, SessionEndRemovesNoIconThatWasNotAdded)
{
    // No taskbar while the client starts: its attempts to add the icon all fail.
    driver::Client client;
    HWND main = client.Open(L"-t");
    ASSERT_NE(nullptr, main);
    driver::Taskbar taskbar;
    // Minimizing leaves the window on the taskbar when there is no icon to restore it from.
    SendMessageW(main, WM_SYSCOMMAND, SC_RESTORE, 0);
    ShowWindow(main, SW_SHOWMINIMIZED);
    EXPECT_TRUE(IsWindowVisible(main));
    // The icon would be removed inside the handler, before it returns.
    ASSERT_TRUE(driver::EndSession(main, WAIT_MS));
    EXPECT_EQ(0u, taskbar.Records().size());
}

TEST_F(TrayWindow, PagesFollowTheStateValues)
{
    const DWORD logonDate = 1700000000;
    struct {
        const char *name;
        DWORD vlanLogon;        // 0: missing
        const wchar_t *user;    // NULL: missing
        DWORD date;
        bool infoPage;
    } cases[] = {
        {"missing state: logon page", 0, NULL, 0, false},
        {"logged off: logon page", 1, L"alice", logonDate, false},
        {"logged on: name and date", 2, L"alice", logonDate, true},
        {"date 0 is the epoch in local time", 2, L"bob", 0, true},
        {"above 2^31 stays unsigned", 2, L"carol", 0xF0000000u, true},
        {"no user name: no date either", 2, NULL, logonDate, true},
    };
    driver::Taskbar taskbar;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        test::ClearProductKey();
        if (c.vlanLogon != 0)
            test::SetConfigDword(NULL, VALUE_VLAN_LOGON, c.vlanLogon);
        if (c.user != NULL)
            test::SetConfigString(NULL, VALUE_DEFAULT_USER_NAME, c.user);
        test::SetConfigDword(NULL, VALUE_LOGON_DATE, c.date);
        driver::Client client;
        HWND main = client.Open();
        ASSERT_NE(nullptr, main);
        HWND page = client.Page();
        EXPECT_EQ(TrayString(c.infoPage ? IDS_LOGOFF_BUTTON : IDS_LOGON_BUTTON), ItemText(main, IDOK));
        // The logon page has a password edit; the information page a date.
        EXPECT_EQ(!c.infoPage, GetDlgItem(page, IDC_PASSWORD) != NULL);
        if (c.infoPage) {
            EXPECT_EQ(c.user != NULL ? c.user : L"", ItemText(page, IDC_USER_NAME));
            EXPECT_EQ(c.user != NULL ? ExpectedLogonDate(c.date) : L"", ItemText(page, IDC_LOGON_DATE));
        }

        // Mode change alternates the pages without asking the service (none is running).
        SendMessageW(main, WM_COMMAND, IDC_MODE_CHANGE, 0);
        EXPECT_EQ(c.infoPage, GetDlgItem(client.Page(), IDC_PASSWORD) != NULL);
        EXPECT_EQ(TrayString(c.infoPage ? IDS_LOGON_BUTTON : IDS_LOGOFF_BUTTON), ItemText(main, IDOK));
        EXPECT_EQ(L"<no box>", client.WaitForMessageBox(0));
    }
}

// The password edit's buffer is wiped when its text goes: after a refused logon, and
// when the page goes, the password is nowhere in the client's memory.
TEST_F(TrayWindow, PasswordLeavesNoCopyInTheEdit)
{
    driver::Taskbar taskbar;
    driver::Client client;
    HWND main = client.Open();
    ASSERT_NE(nullptr, main);
    client.WaitUntilIdle();
    const std::wstring password = L"Pw-7f3Q-xK9m-Lr2Z-vB8n-Tq4W-hJ6s-Yc1D";
    HWND edit = GetDlgItem(client.Page(), IDC_PASSWORD);
    ASSERT_NE(nullptr, edit);
    // Typed key by key, so that no message carries the whole text.
    auto typed = [&] {
        for (wchar_t c : password)
            PostMessageW(edit, WM_CHAR, c, 1);
        return WaitFor([&] { return SendMessageW(edit, WM_GETTEXTLENGTH, 0, 0) == (LRESULT)password.size(); },
                       WAIT_MS);
    };
    ASSERT_TRUE(typed());
    // The start of a freed block holds the heap's own links: look for the rest.
    const std::wstring tail = password.substr(16);
    ASSERT_TRUE(test::ProcessMemoryHolds(client.Process(), tail))
        << "the edit's text is not where it is looked for";
    // No switch is configured: whatever answers, the logon fails and the edits are emptied.
    PostMessageW(main, WM_COMMAND, IDOK, 0);
    EXPECT_NE(L"<no box>", client.AnswerMessageBox());
    EXPECT_TRUE(WaitFor([&] { return SendMessageW(edit, WM_GETTEXTLENGTH, 0, 0) == 0; }, WAIT_MS));
    EXPECT_FALSE(test::ProcessMemoryHolds(client.Process(), tail));
    ASSERT_TRUE(typed());
    SendMessageW(main, WM_COMMAND, IDC_MODE_CHANGE, 0);
    ASSERT_EQ(nullptr, GetDlgItem(client.Page(), IDC_PASSWORD));
    EXPECT_FALSE(test::ProcessMemoryHolds(client.Process(), tail));
}

TEST_F(TrayWindow, ConfigButtonStartsTheToolBesideTheClient)
{
    std::wstring dir = test::MakeTempDir(L"portgate-tray-config");
    // A folder that leaves no room for "\wardsetup.exe" within 260 characters (the client's
    // own path still fits), in parts of 40 characters.
    std::wstring deep = dir + L"\\";
    deep.resize(246, L'd');
    for (size_t at = dir.size() + 41; at + 1 < deep.size(); at += 41) {
        deep[at] = L'\\';
        CreateDirectoryW(deep.substr(0, at).c_str(), NULL);
    }
    CreateDirectoryW(deep.c_str(), NULL);
    ASSERT_EQ(259u, (deep + L"\\wardtray.exe").size());
    struct {
        const char *name;
        std::wstring folder;
        bool tool;
    } cases[] = {
        {"no tool beside the client", dir, false},
        {"a stand-in tool beside the client", dir, true},
        {"a folder too long for the tool's path", deep, false},
    };
    // The client runs with this test's token: the button is there for administrators only
    // (the check itself is tested at the shared client).
    const BOOL isAdministrator = IsAdministrator();
    driver::Taskbar taskbar;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        std::wstring client = c.folder + L"\\wardtray.exe";
        ASSERT_TRUE(CopyFileW(test::BinaryPath(L"wardtray.exe").c_str(), client.c_str(), FALSE));
        // The stand-in leaves "started.txt" beside itself.
        if (c.tool) {
            ASSERT_TRUE(CopyFileW(test::BinaryPath(L"wardtray_standin.exe").c_str(),
                                  (c.folder + L"\\wardsetup.exe").c_str(), FALSE));
        }
        driver::Client tray;
        HWND main = tray.Open(L"", client);
        ASSERT_NE(nullptr, main);
        EXPECT_EQ(isAdministrator, IsWindowEnabled(GetDlgItem(main, IDC_CONFIG)));
        if (!isAdministrator)
            continue;
        PostMessageW(main, WM_COMMAND, IDC_CONFIG, 0);
        if (c.tool) {
            EXPECT_TRUE(WaitFor([&] { return test::FileExists(dir + L"\\started.txt"); }, WAIT_MS));
        }
        EXPECT_EQ(c.tool ? L"<no box>" : TrayString(IDS_CONFIG_NOT_STARTED),
                  tray.AnswerMessageBox(IDOK, c.tool ? 0 : WAIT_MS));
    }
    test::RemoveTree(dir);
}

class TrayInterfaces : public TrayWindow {};

TEST_F(TrayInterfaces, WarningRepeatsUntilCancelledAndNeverStacks)
{
    int addresses = CountExternalIPv4Addresses();
    if (addresses < 2)
        GTEST_SKIP() << "only " << addresses << " IPv4 address(es) besides 127.0.0.1; "
                     << "tests/tray-interfaces.sh runs this with two more";
    test::SetConfigDword(NULL, VALUE_MULTI_INTERFACE_CHECK, 1);
    test::SetConfigString(NULL, VALUE_MULTI_INTERFACE_MESSAGE, L"Two networks\\nUnplug one");
    driver::Taskbar taskbar;
    driver::Client client;
    HWND main = client.Open();
    ASSERT_NE(nullptr, main);
    EXPECT_EQ(L"Two networks\nUnplug one", client.WaitForMessageBox(WAIT_MS));
    // A click on the icon and a second start while it is shown add no second warning.
    PostMessageW(main, WM_TRAY_NOTIFY, 0, WM_LBUTTONDOWN);
    driver::Client second;
    ASSERT_TRUE(second.Start());
    EXPECT_TRUE(second.WaitForExit(WAIT_MS));
    // Posted messages are taken in order: once the page has changed, the checks posted
    // before it have run.
    PostMessageW(main, WM_CHECK_INTERFACES, 0, 0);
    PostMessageW(main, WM_COMMAND, IDC_MODE_CHANGE, 0);
    EXPECT_TRUE(WaitFor([&] { return GetDlgItem(client.Page(), IDC_PASSWORD) == NULL; }, WAIT_MS));
    EXPECT_EQ(1, client.CountMessageBoxes());
    // OK with nothing changed: the warning again. Cancel: the window hides.
    ASSERT_NE(L"<no box>", client.AnswerMessageBox());
    EXPECT_EQ(L"Two networks\nUnplug one", client.WaitForMessageBox(WAIT_MS));
    EXPECT_EQ(1, client.CountMessageBoxes());
    ASSERT_NE(L"<no box>", client.AnswerMessageBox(IDCANCEL));
    EXPECT_TRUE(WaitFor([&] { return !IsWindowVisible(main); }, WAIT_MS));
    // Switched off: a restore checks again and shows nothing (the handler would not
    // return while a box was open).
    test::SetConfigDword(NULL, VALUE_MULTI_INTERFACE_CHECK, 0);
    DWORD_PTR answer;
    EXPECT_NE(0, SendMessageTimeoutW(main, WM_TRAY_NOTIFY, 0, WM_LBUTTONDOWN, SMTO_NORMAL, WAIT_MS, &answer));
    EXPECT_NE(0, SendMessageTimeoutW(main, WM_CHECK_INTERFACES, 0, 0, SMTO_NORMAL, WAIT_MS, &answer));
    EXPECT_EQ(0, client.CountMessageBoxes());
}

// The logoff switch took one "2" on one connection, and the state says logged off.
void ExpectOneLogoff(Simulator *logoffSwitch)
{
    std::vector<std::string> lines = logoffSwitch->Kill();
    EXPECT_EQ(1, test::Connections(lines));
    EXPECT_EQ(Joined({"2\\r\\n"}), Joined(test::Received(lines)));
    EXPECT_EQ(1u, Dword(VALUE_VLAN_LOGON));
}

class TrayWorkflow : public test::ServiceTestBase {
protected:
    void SetUp() override
    {
        ServiceTestBase::SetUp();
        InstallAndStart();
        scriptDir_ = test::MakeTempDir(L"portgate-tray-scripts");
    }
    void TearDown() override
    {
        client_.Kill();
        test::RemoveTree(scriptDir_);
        ServiceTestBase::TearDown();
    }

    // A stand-in service under the real one's name (see standin_service.cpp); the file where
    // it counts the requests it took.
    std::wstring StandIn(const std::vector<std::wstring> &mode)
    {
        test::UninstallService();
        std::wstring report = scriptDir_ + L"\\requests.txt";
        EXPECT_TRUE(test::StartStandInService(report, mode));
        return report;
    }

    // Returns once the client waits for input, as a user would find it: the dialog box
    // shows its window only when its queue first runs empty, and input posted before that
    // would be handled before the first show.
    HWND StartClient()
    {
        HWND main = client_.Open();
        client_.WaitUntilIdle();
        return main;
    }

    driver::Taskbar taskbar_;
    driver::Client client_;
    std::wstring scriptDir_;
};

TEST_F(TrayWorkflow, LogonShowsTheStoredLogonAndLogoffReturnsToTheLogonPage)
{
    Simulator logonSwitch, logoffSwitch;
    ASSERT_TRUE(test::StartSwitch(&logonSwitch, test::ShippedScript(L"logon-group.txt")));
    ASSERT_TRUE(test::StartSwitch(&logoffSwitch, test::ShippedScript(L"logoff.txt"), true));
    HWND main = StartClient();
    ASSERT_NE(nullptr, main);
    ASSERT_TRUE(taskbar_.WaitForRecords(1, WAIT_MS));
    client_.SubmitLogon(L"alice", L"secret");
    HWND box = NULL;
    EXPECT_EQ(TrayString(IDS_LOGON_DONE), client_.WaitForMessageBox(WAIT_MS, &box));
    // The password edit is wiped before the box.
    EXPECT_EQ(L"", ItemText(client_.Page(), IDC_PASSWORD));
    ASSERT_TRUE(test::AnswerDialog(box, IDOK));
    EXPECT_EQ(Joined({"1\\r\\n", "alice\\r\\n", "secret\\r\\n"}), Joined(test::Received(logonSwitch.Kill())));
    EXPECT_EQ(2u, Dword(VALUE_VLAN_LOGON));
    // The information page replaces the logon page after the box, and its texts follow it.
    EXPECT_TRUE(client_.WaitForPage(IDC_LOGON_DATE, WAIT_MS));
    EXPECT_EQ(L"alice", ItemText(client_.Page(), IDC_USER_NAME));
    EXPECT_EQ(ExpectedLogonDate(Dword(VALUE_LOGON_DATE)), ItemText(client_.Page(), IDC_LOGON_DATE));
    EXPECT_EQ(TrayString(IDS_LOGOFF_BUTTON), ItemText(main, IDOK));
    // With the icon in place, a success hides the window.
    EXPECT_TRUE(WaitFor([&] { return !IsWindowVisible(main); }, WAIT_MS));

    SendMessageW(main, WM_TRAY_NOTIFY, 0, WM_LBUTTONDOWN);
    PostMessageW(main, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(TrayString(IDS_LOGOFF_DONE), client_.AnswerMessageBox());
    ExpectOneLogoff(&logoffSwitch);
    EXPECT_TRUE(client_.WaitForPage(IDC_PASSWORD, WAIT_MS));
    EXPECT_EQ(TrayString(IDS_LOGON_BUTTON), ItemText(main, IDOK));
}

TEST_F(TrayWorkflow, LogonRefusalsAndFailures)
{
    // The service quotes an unreachable server's 251-character name: its reply does not fit
    // 520 bytes, yet it is a refusal, not a stopped service.
    const std::wstring label = std::wstring(60, L'h') + L".";
    const std::wstring farServer = label + label + label + label + L"invalid";
    std::vector<std::wstring> cannotConnect = ServiceTexts(WARDHOST_CANNOT_CONNECT);
    for (std::wstring &text : cannotConnect)
        text.replace(text.find(L"%s"), 2, farServer);
    enum Service { REAL, STAND_IN, ABSENT, BUSY, IMPOSTOR };
    struct {
        const char *name;
        Service service;
        const wchar_t *script;              // REAL: the switch's; NULL: farServer
        std::vector<std::wstring> standIn;  // STAND_IN: its mode
        bool dhcp;
        std::vector<std::wstring> box;      // any of these, or its start past 250 characters
    } cases[] = {
        {"switch refuses: the service's own message", REAL, L"logon-failed.txt", {}, false,
         ServiceTexts(WARDHOST_AUTH_FAILED)},
        {"reply longer than the client's buffer", REAL, NULL, {}, false, cannotConnect},
        {"renewal refused after an accepted logon", STAND_IN, NULL, {L"replies", L"OK", L"NG"}, true,
         {TrayString(IDS_DHCP_ERROR)}},
        {"service absent", ABSENT, NULL, {}, false, {TrayString(IDS_SERVICE_NOT_RUNNING)}},
        // Another client holds the service's only pipe instance.
        {"service busy", BUSY, NULL, {}, false, {TrayString(IDS_SERVICE_NOT_RUNNING)}},
        // With the service gone, another program serves a pipe of the service's name: the
        // password goes only to the service.
        {"impostor on the service's pipe", IMPOSTOR, NULL, {}, false, {TrayString(IDS_SERVICE_NOT_RUNNING)}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        test::UninstallService();
        test::ClearProductKey();
        Simulator simulator;
        std::wstring report;
        std::optional<test::FakePipe> impostor;
        HANDLE other = INVALID_HANDLE_VALUE;
        if (c.service == REAL || c.service == BUSY)
            InstallAndStart();
        if (c.script != NULL) {
            ASSERT_TRUE(test::StartSwitch(&simulator, test::ShippedScript(c.script)));
        } else if (c.service == REAL) {
            test::PointSwitchAt(5, false, farServer);
        } else if (c.service == STAND_IN) {
            report = StandIn(c.standIn);
        } else if (c.service == BUSY) {
            other = CreateFileW(WARD_PIPE_NAME, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
            ASSERT_NE(INVALID_HANDLE_VALUE, other);
        } else if (c.service == IMPOSTOR) {
            impostor.emplace();
            ASSERT_TRUE(impostor->Listening()) << impostor->CreateError();
        }
        if (c.dhcp)
            test::SetConfigDword(NULL, VALUE_ENABLE_DHCP, 1);
        HWND main = StartClient();
        ASSERT_NE(nullptr, main);
        client_.SubmitLogon(L"alice", L"secret");
        std::wstring box = client_.AnswerMessageBox();
        EXPECT_TRUE(std::any_of(c.box.begin(), c.box.end(), [&](const std::wstring &text) {
            return text == box || (box.size() >= 250 && text.compare(0, box.size(), box) == 0);
        })) << test::Narrow(box);
        // A failed sequence empties both edits and stays on the logon page.
        HWND page = client_.Page();
        EXPECT_TRUE(WaitFor([&] { return ItemText(page, IDC_USER_NAME).empty(); }, WAIT_MS));
        EXPECT_EQ(L"", ItemText(page, IDC_PASSWORD));
        EXPECT_EQ(TrayString(IDS_LOGON_BUTTON), ItemText(main, IDOK));
        EXPECT_EQ(0xFFFFFFFF, Dword(VALUE_VLAN_LOGON));
        EXPECT_TRUE(IsWindowVisible(main));
        client_.Kill();  // its end of a pipe, if it still held one, goes with it
        if (!report.empty()) {
            EXPECT_EQ("requests " + std::to_string(c.standIn.size() - 1) + "\n", test::ReadFileBytes(report));
        }
        if (impostor) {
            impostor->Stop();
            EXPECT_GE(impostor->Connections(), 1) << "the client never looked at the pipe";
            EXPECT_EQ("", impostor->Received());
        }
        if (other != INVALID_HANDLE_VALUE)
            CloseHandle(other);
    }
}

TEST_F(TrayWorkflow, InputThatDoesNotFitIsRefusedBeforeSending)
{
    Simulator simulator;
    ASSERT_TRUE(test::StartSwitch(&simulator, test::ShippedScript(L"logon-group.txt")));
    ASSERT_NE(nullptr, StartClient());
    struct {
        const char *name;
        std::wstring user, password;
        UINT box;
    } cases[] = {
        // The words' rules are the shared client's: one case of each refusal shows its box.
        {"blank in the password", L"alice", L"sec ret", IDS_BLANK_IN_CREDENTIALS},
        // "logon " + 200 + " " + 53 = 260 characters: one more than a request holds.
        {"too long together", std::wstring(200, L'u'), std::wstring(53, L'p'), IDS_AUTH_FAILED},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        client_.SubmitLogon(c.user, c.password);
        HWND box = NULL;
        EXPECT_EQ(TrayString(c.box), client_.WaitForMessageBox(WAIT_MS, &box));
        EXPECT_EQ(L"", ItemText(client_.Page(), IDC_PASSWORD));
        ASSERT_TRUE(test::AnswerDialog(box, IDOK));
    }
    // The switch has seen nothing yet: its one connection goes to the logon that fits.
    EXPECT_EQ(0, test::Connections(simulator.Lines()));
    client_.SubmitLogon(std::wstring(200, L'u'), std::wstring(52, L'p'));
    EXPECT_EQ(TrayString(IDS_LOGON_DONE), client_.AnswerMessageBox());
    EXPECT_EQ(Joined({"1\\r\\n", std::string(200, 'u') + "\\r\\n", std::string(52, 'p') + "\\r\\n"}),
              Joined(test::Received(simulator.Kill())));
}

TEST_F(TrayWorkflow, OneRequestAtATime)
{
    // The switch takes its time with the answer, so the progress window stays open.
    const char *slow = "send \"Connect(1) / Disconnect(2): \"\nexpect \"1\"\n"
                       "send \"Login Name? \"\nexpectany\nsend \"Password? \"\nexpectany\n"
                       "sleep 1500\nsend \"\\r\\nAuthentication Succeeded\\r\\n\"\n";
    Simulator simulator;
    ASSERT_TRUE(test::StartSwitch(&simulator, test::WriteScript(scriptDir_, slow), false, 2));
    HWND main = StartClient();
    ASSERT_NE(nullptr, main);
    client_.SubmitLogon(L"alice", L"secret");
    ASSERT_TRUE(simulator.WaitForLine("conn: open", WAIT_MS));
    PostMessageW(main, WM_COMMAND, IDOK, 0);
    PostMessageW(main, WM_COMMAND, IDC_MODE_CHANGE, 0);
    ASSERT_TRUE(simulator.WaitForLine("recv: secret\\r\\n", WAIT_MS));
    EXPECT_EQ(TrayString(IDS_LOGON_DONE), client_.AnswerMessageBox());
    EXPECT_TRUE(WaitFor([&] { return client_.FindProgressWindow() == NULL; }, WAIT_MS));
    EXPECT_EQ(L"<no box>", client_.WaitForMessageBox(0));
    EXPECT_EQ(1, test::Connections(simulator.Kill()));
    EXPECT_EQ(TrayString(IDS_LOGOFF_BUTTON), ItemText(main, IDOK));
}

TEST_F(TrayWorkflow, EscapeDropsTheLogoffOutcome)
{
    // The switch answers late and then hangs up: the service refuses the logoff, but by
    // then nobody is waiting for it.
    Simulator simulator;
    ASSERT_TRUE(test::StartSwitch(&simulator, test::WriteScript(scriptDir_, "sleep 2000\nclose\n"), true));
    test::SetConfigDword(NULL, VALUE_VLAN_LOGON, 2);
    HWND main = StartClient();
    ASSERT_NE(nullptr, main);
    PostMessageW(main, WM_COMMAND, IDOK, 0);
    // Escape once the request is with the service: the window closes at once, while the
    // switch still keeps the service waiting.
    ASSERT_TRUE(simulator.WaitForLine("conn: open", WAIT_MS));
    HWND progress = client_.FindProgressWindow();
    ASSERT_NE(nullptr, progress);
    PostMessageW(progress, WM_COMMAND, IDCANCEL, 0);
    EXPECT_TRUE(WaitFor([&] { return !IsWindow(progress); }, WAIT_MS));
    EXPECT_FALSE(simulator.WaitForLine("conn: closed", 0));
    EXPECT_TRUE(simulator.WaitForLine("conn: closed", WAIT_MS));
    // The service's reply reaches the worker after the window has gone: no box for it.
    ASSERT_TRUE(WaitFor([&] { return test::CallPipe(L"hello") == L"NG"; }, WAIT_MS));
    EXPECT_EQ(L"<no box>", client_.WaitForMessageBox(1000));
    EXPECT_EQ(TrayString(IDS_LOGOFF_BUTTON), ItemText(main, IDOK));
    EXPECT_EQ(2u, Dword(VALUE_VLAN_LOGON));
}

// A service that takes the logoff and never answers: the client's own bound ends the
// session's logoff, in real time (the one check of that limit at its real value).
TEST_F(TrayWorkflow, SessionEndWithAHungServiceIsBounded)
{
    std::wstring report = StandIn({L"hang"});
    test::SetConfigDword(NULL, VALUE_VLAN_LOGON, 2);
    HWND main = StartClient();
    ASSERT_NE(nullptr, main);
    ASSERT_TRUE(taskbar_.WaitForRecords(1, WAIT_MS));
    EXPECT_TRUE(driver::EndSession(main, SESSION_END_BUDGET_MS + 10000));
    EXPECT_EQ("requests 1\n", test::ReadFileBytes(report));
    EXPECT_EQ(L"<no box>", client_.WaitForMessageBox(0));
    // The icon that was added is removed all the same.
    ASSERT_TRUE(taskbar_.WaitForRecords(2, WAIT_MS));
    EXPECT_EQ((DWORD)NIM_DELETE, taskbar_.Records()[1].message);
}

// The session ends while a logon runs on after its accepted "logon", waiting before its
// renewal (a wait stored as "-1", held to two minutes): the request is given up and the
// workstation is logged off within the bound.
TEST_F(TrayWorkflow, SessionEndDuringALogonLogsOff)
{
    Simulator logonSwitch, logoffSwitch;
    ASSERT_TRUE(test::StartSwitch(&logonSwitch, test::ShippedScript(L"logon-group.txt")));
    ASSERT_TRUE(test::StartSwitch(&logoffSwitch, test::ShippedScript(L"logoff.txt"), true));
    test::SetConfigDword(NULL, VALUE_ENABLE_DHCP, 1);
    test::SetConfigDword(NULL, VALUE_WAIT_IP_RENEW, 0xFFFFFFFF);
    HWND main = StartClient();
    ASSERT_NE(nullptr, main);
    client_.SubmitLogon(L"alice", L"secret");
    ASSERT_TRUE(WaitFor([&] {
        return ItemText(client_.FindProgressWindow(), IDC_PROGRESS_TEXT) == TrayString(IDS_REQUESTING_ADDRESS);
    }, WAIT_MS));
    EXPECT_EQ(2u, Dword(VALUE_VLAN_LOGON));
    // The logoff that follows goes without a renewal of its own.
    test::SetConfigDword(NULL, VALUE_ENABLE_DHCP, 0);
    ASSERT_TRUE(driver::EndSession(main, SESSION_END_BUDGET_MS + 15000));
    ExpectOneLogoff(&logoffSwitch);
    EXPECT_EQ(0, client_.CountMessageBoxes());
    EXPECT_EQ(1, test::Connections(logonSwitch.Kill()));
}

// The same with the renewal's refusal on screen (a stand-in refuses it): the box may stay,
// the logoff still goes once and adds none.
TEST_F(TrayWorkflow, SessionEndWithTheRenewalsRefusalOnScreenLogsOff)
{
    std::wstring report = StandIn({L"replies", L"OK", L"NGno lease", L"OK"});
    test::SetConfigDword(NULL, VALUE_ENABLE_DHCP, 1);
    HWND main = StartClient();
    ASSERT_NE(nullptr, main);
    client_.SubmitLogon(L"alice", L"secret");
    EXPECT_EQ(L"no lease", client_.WaitForMessageBox(WAIT_MS));
    // What the service records after an accepted logon.
    test::SetConfigDword(NULL, VALUE_VLAN_LOGON, 2);
    test::SetConfigDword(NULL, VALUE_ENABLE_DHCP, 0);
    ASSERT_TRUE(driver::EndSession(main, SESSION_END_BUDGET_MS + 15000));
    EXPECT_EQ("requests 3\n", test::ReadFileBytes(report));
    EXPECT_EQ(1, client_.CountMessageBoxes());
}

// The client handles sent messages while it waits for the taskbar to take its icon, so the
// end of the session can come before the icon counts as added: it logs off once, without
// boxes, and the icon is removed once it is added.
TEST_F(TrayWorkflow, SessionEndLogsOffOnceWithoutBoxesWhileTheIconIsBeingAdded)
{
    Simulator simulator;
    ASSERT_TRUE(test::StartSwitch(&simulator, test::ShippedScript(L"logoff.txt"), true, 2));
    test::SetConfigDword(NULL, VALUE_VLAN_LOGON, 2);
    taskbar_.HoldNextAdd();
    HWND main = client_.Open();
    ASSERT_NE(nullptr, main);
    ASSERT_TRUE(taskbar_.WaitForRecords(1, WAIT_MS));  // the client now waits in its add

    // Asked, the client agrees; but the end is cancelled: the session goes on, still logged on.
    ASSERT_TRUE(driver::EndSession(main, WAIT_MS, FALSE, true));
    EXPECT_EQ(0, test::Connections(simulator.Lines()));
    // A message box would hold the handler until this time-out; a second end sends nothing.
    ASSERT_TRUE(driver::EndSession(main, 45000));
    EXPECT_EQ(1u, Dword(VALUE_VLAN_LOGON));
    ASSERT_TRUE(driver::EndSession(main, WAIT_MS));
    ExpectOneLogoff(&simulator);
    EXPECT_EQ(1u, taskbar_.Records().size());
    taskbar_.ReleaseHeld();
    ASSERT_TRUE(taskbar_.WaitForRecords(2, WAIT_MS));
    std::vector<driver::IconRecord> records = taskbar_.Records();
    EXPECT_EQ((DWORD)NIM_DELETE, records[1].message);
    EXPECT_EQ(main, records[1].window);
    // Once is all: nothing more follows by the time the client waits for input.
    client_.WaitUntilIdle();
    EXPECT_EQ(2u, taskbar_.Records().size());
    EXPECT_EQ(L"<no box>", client_.WaitForMessageBox(0));
}

// The real end of a session under Wine: wineboot sends the messages to every program with
// windows and ends them. The test itself has none here, so no taskbar stand-in.
class TraySessionEnd : public test::ServiceTestBase {};

TEST_F(TraySessionEnd, WinebootEndsTheSessionAfterTheLogoff)
{
    InstallAndStart();
    Simulator simulator;
    ASSERT_TRUE(test::StartSwitch(&simulator, test::ShippedScript(L"logoff.txt"), true));
    test::SetConfigDword(NULL, VALUE_VLAN_LOGON, 2);
    driver::Client client;
    ASSERT_NE(nullptr, client.Open(L"-t"));
    test::ProcessResult wineboot = test::RunProcess(L"wineboot.exe -e", 60000);
    EXPECT_TRUE(wineboot.finished) << wineboot.output;
    EXPECT_TRUE(client.WaitForExit(WAIT_MS));
    ExpectOneLogoff(&simulator);
}

}  // namespace
