// wardtray.exe driven through its windows, as a user sees it: starting hidden behind its
// icon, the pages from the state values, logon and logoff against the real service and
// the DE-Zeruzu simulator, the end of the session and the Config button.
#include "tray_support.h"
#include "dialogs.h"
#include "fake_pipe.h"
#include "string_tables.h"
#include "main_window.h"
#include "product_key.h"
#include "time_limits.h"
#include "tray_icon.h"
#include "ward_client.h"
#include "wardtray_res.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using test::Joined;
using tray::Simulator;
using tray::TrayClient;
using tray::TrayString;

// Resource ids of wardhost.exe that the tests compare with (its header shares names with
// the client's).
enum {
    WARDHOST_AUTH_FAILED = 10005, WARDHOST_DHCP_ERROR = 10013, WARDHOST_CANNOT_CONNECT = 10010,
};
const DWORD WAIT_MS = 30000;

// The test program copied as wardsetup.exe stands in for the configuration tool: started
// under that name, it leaves a marker file beside itself and ends.
struct ConfigToolStandIn {
    ConfigToolStandIn()
    {
        wchar_t path[MAX_PATH];
        DWORD length = GetModuleFileNameW(NULL, path, MAX_PATH);
        std::wstring self(path, length);
        size_t slash = self.find_last_of(L'\\');
        if (lstrcmpiW(self.c_str() + slash + 1, L"wardsetup.exe") != 0)
            return;
        HANDLE marker = CreateFileW((self.substr(0, slash) + L"\\started.txt").c_str(),
                                    GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
        CloseHandle(marker);
        ExitProcess(0);
    }
} standIn;

DWORD Dword(const wchar_t *name)
{
    DWORD value;
    return test::GetConfigDword(NULL, name, &value) ? value : 0xFFFFFFFF;
}

// The date as the information page must show it, worked out through the file-time route.
std::wstring ExpectedLogonDate(DWORD unixSeconds)
{
    ULONGLONG ticks = (ULONGLONG)unixSeconds * 10000000ULL + 116444736000000000ULL;
    FILETIME utc = {(DWORD)ticks, (DWORD)(ticks >> 32)};
    FILETIME local;
    SYSTEMTIME time;
    FileTimeToLocalFileTime(&utc, &local);
    FileTimeToSystemTime(&local, &time);
    wchar_t date[128], clock[128];
    GetDateFormatW(LOCALE_USER_DEFAULT, 0, &time, NULL, date, 128);
    GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &time, NULL, clock, 128);
    return std::wstring(date) + L" " + clock;
}

// ---- resources

TEST(TrayResources, EnglishAndJapaneseHoldTheSameIds)
{
    test::ResourceImage tray(test::BinaryPath(L"wardtray.exe"));
    ASSERT_NE(nullptr, tray.module);
    std::set<UINT> english = test::StringIdsOfLanguage(tray.module, test::ENGLISH);
    EXPECT_FALSE(english.empty());
    EXPECT_EQ(english, test::StringIdsOfLanguage(tray.module, test::JAPANESE));
    std::set<UINT_PTR> dialogs = test::ResourceIdsOfLanguage(tray.module, RT_DIALOG, test::ENGLISH);
    EXPECT_EQ(dialogs, test::ResourceIdsOfLanguage(tray.module, RT_DIALOG, test::JAPANESE));
    for (UINT_PTR dialog : {IDD_MAIN, IDD_LOGON_PAGE, IDD_LOGON_INFO_PAGE})
        EXPECT_EQ(1u, dialogs.count(dialog)) << dialog;
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

bool IsOneOf(const std::wstring &text, const std::vector<std::wstring> &choices)
{
    for (const std::wstring &choice : choices) {
        if (text == choice)
            return true;
    }
    return false;
}

// ---- window, icon, single instance (no service needed)

class TrayWindow : public ::testing::Test {
protected:
    void SetUp() override { test::ClearProductKey(); }
    void TearDown() override { test::ClearProductKey(); }
};

TEST_F(TrayWindow, StartsHiddenBehindItsIconAndRestoresOnClick)
{
    tray::FakeTaskbar taskbar;
    ASSERT_TRUE(taskbar.Ready());
    TrayClient client;
    ASSERT_TRUE(client.Start(L"-t"));
    HWND main = client.WaitForMainWindow();
    ASSERT_NE(nullptr, main);
    ASSERT_TRUE(taskbar.WaitForRecords(1, WAIT_MS));
    tray::IconRecord added = taskbar.Records()[0];
    EXPECT_EQ((DWORD)NIM_ADD, added.message);
    EXPECT_EQ(main, added.window);
    EXPECT_EQ((UINT)(NIF_MESSAGE | NIF_ICON | NIF_TIP), added.flags & (NIF_MESSAGE | NIF_ICON | NIF_TIP));
    EXPECT_EQ((UINT)WM_TRAY_NOTIFY, added.callback);
    EXPECT_EQ(TrayString(IDS_TITLE), added.tip);
    client.WaitUntilIdle();
    EXPECT_FALSE(IsWindowVisible(main));
    wchar_t title[260] = L"";
    GetWindowTextW(main, title, 260);
    EXPECT_EQ(TrayString(IDS_TITLE), title);

    // Only a left click restores; nothing else answers the icon.
    SendMessageW(main, WM_TRAY_NOTIFY, 0, WM_RBUTTONDOWN);
    SendMessageW(main, WM_TRAY_NOTIFY, 0, WM_LBUTTONDBLCLK);
    EXPECT_FALSE(IsWindowVisible(main));
    SendMessageW(main, WM_TRAY_NOTIFY, 0, WM_LBUTTONDOWN);
    EXPECT_TRUE(IsWindowVisible(main));

    // Cancel, Escape and the close button only hide: the process and its icon stay.
    PostMessageW(main, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_TRUE(tray::WaitUntil([&] { return !IsWindowVisible(main); }, WAIT_MS));
    EXPECT_FALSE(client.WaitForExit(0));
    EXPECT_EQ(1u, taskbar.Records().size());
}

TEST_F(TrayWindow, SecondStartRestoresTheFirstWindow)
{
    tray::FakeTaskbar taskbar;
    TrayClient first;
    ASSERT_TRUE(first.Start(L"/t"));
    HWND main = first.WaitForMainWindow();
    ASSERT_NE(nullptr, main);
    ASSERT_TRUE(taskbar.WaitForRecords(1, WAIT_MS));
    first.WaitUntilIdle();
    ASSERT_FALSE(IsWindowVisible(main));

    // A message box of another program with the same caption, on top of the first window,
    // must not be taken for it.
    std::thread decoy([] { MessageBoxW(NULL, L"decoy", TrayString(IDS_TITLE).c_str(), MB_OK); });
    HWND decoyBox = test::WaitForDialog(GetCurrentProcessId(), test::IsMessageBox, WAIT_MS);
    ASSERT_NE(nullptr, decoyBox);
    ASSERT_EQ(TrayString(IDS_TITLE), test::WindowText(decoyBox));
    TrayClient second;
    ASSERT_TRUE(second.Start());
    DWORD exitCode = 99;
    ASSERT_TRUE(second.WaitForExit(WAIT_MS, &exitCode));
    EXPECT_EQ(0u, exitCode);
    EXPECT_TRUE(tray::WaitUntil([&] { return IsWindowVisible(main) != FALSE; }, WAIT_MS));
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
    tray::FakeTaskbar taskbar;
    size_t started = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(test::Narrow(c.arguments));
        started++;
        TrayClient client;
        ASSERT_TRUE(client.Start(c.arguments));
        HWND main = client.WaitForMainWindow();
        ASSERT_NE(nullptr, main);
        // The icon is added at the end of the initialisation, after the first show.
        ASSERT_TRUE(taskbar.WaitForRecords(started, WAIT_MS));
        client.WaitUntilIdle();
        EXPECT_EQ(!c.hidden, IsWindowVisible(main) != FALSE);
        client.Kill();
    }
}

TEST_F(TrayWindow, SessionEndRemovesNoIconThatWasNotAdded)
{
    // No taskbar while the client starts: its attempts to add the icon all fail.
    TrayClient client;
    ASSERT_TRUE(client.Start(L"-t"));
    HWND main = client.WaitForMainWindow();
    ASSERT_NE(nullptr, main);
    tray::FakeTaskbar taskbar;
    DWORD_PTR answer;
    // Minimizing leaves the window on the taskbar when there is no icon to restore it from.
    SendMessageW(main, WM_SYSCOMMAND, SC_RESTORE, 0);
    ShowWindow(main, SW_SHOWMINIMIZED);
    EXPECT_TRUE(IsWindowVisible(main));
    // The icon would be removed inside the handler, before it returns.
    ASSERT_TRUE(SendMessageTimeoutW(main, WM_ENDSESSION, TRUE, 0, SMTO_NORMAL, WAIT_MS, &answer));
    EXPECT_EQ(0u, taskbar.Records().size());
}

// ---- the pages from the state values

TEST_F(TrayWindow, PagesFollowTheStateValues)
{
    const DWORD logonDate = 1700000000;
    struct {
        const char *name;
        DWORD vlanLogon;        // 0: missing
        const wchar_t *user;    // NULL: missing
        DWORD date;
        bool infoPage;
        std::wstring shownUser, shownDate;
    } cases[] = {
        {"missing state: logon page", 0, NULL, 0, false, L"", L""},
        {"logged off: logon page", 1, L"alice", logonDate, false, L"", L""},
        {"logged on: name and date", 2, L"alice", logonDate, true, L"alice",
         ExpectedLogonDate(logonDate)},
        {"date 0 is the epoch in local time", 2, L"bob", 0, true, L"bob", ExpectedLogonDate(0)},
        {"above 2^31 stays unsigned", 2, L"carol", 0xF0000000u, true, L"carol",
         ExpectedLogonDate(0xF0000000u)},
        {"no user name: no date either", 2, NULL, logonDate, true, L"", L""},
    };
    tray::FakeTaskbar taskbar;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        test::ClearProductKey();
        if (c.vlanLogon != 0)
            test::SetConfigDword(NULL, VALUE_VLAN_LOGON, c.vlanLogon);
        if (c.user != NULL)
            test::SetConfigString(NULL, VALUE_DEFAULT_USER_NAME, c.user);
        test::SetConfigDword(NULL, VALUE_LOGON_DATE, c.date);
        TrayClient client;
        ASSERT_TRUE(client.Start());
        HWND main = client.WaitForMainWindow();
        ASSERT_NE(nullptr, main);
        HWND page = client.Page();
        ASSERT_NE(nullptr, page);
        EXPECT_EQ(TrayString(c.infoPage ? IDS_LOGOFF_BUTTON : IDS_LOGON_BUTTON),
                  client.ControlText(main, IDOK));
        // The logon page has a password edit; the information page a date.
        EXPECT_EQ(!c.infoPage, GetDlgItem(page, IDC_PASSWORD) != NULL);
        if (c.infoPage) {
            EXPECT_EQ(c.shownUser, client.ControlText(page, IDC_USER_NAME));
            EXPECT_EQ(c.shownDate, client.ControlText(page, IDC_LOGON_DATE));
        }

        // Mode change alternates the pages without asking the service (none is running).
        SendMessageW(main, WM_COMMAND, IDC_MODE_CHANGE, 0);
        page = client.Page();
        EXPECT_EQ(c.infoPage, GetDlgItem(page, IDC_PASSWORD) != NULL);
        EXPECT_EQ(TrayString(c.infoPage ? IDS_LOGON_BUTTON : IDS_LOGOFF_BUTTON),
                  client.ControlText(main, IDOK));
        EXPECT_EQ(L"<no box>", client.WaitForMessageBox(0));
        client.Kill();
    }
}

// Whether any committed private page of process holds text (UTF-16).
bool ProcessMemoryHolds(HANDLE process, const std::wstring &text)
{
    std::string wanted(reinterpret_cast<const char *>(text.data()), text.size() * sizeof(wchar_t));
    MEMORY_BASIC_INFORMATION info;
    for (BYTE *at = NULL; VirtualQueryEx(process, at, &info, sizeof(info)) == sizeof(info);
         at = static_cast<BYTE *>(info.BaseAddress) + info.RegionSize) {
        if (info.State != MEM_COMMIT || info.Type != MEM_PRIVATE ||
            (info.Protect & (PAGE_READWRITE | PAGE_READONLY)) == 0 || (info.Protect & PAGE_GUARD) != 0)
            continue;
        std::string bytes(info.RegionSize, '\0');
        SIZE_T read = 0;
        if (ReadProcessMemory(process, info.BaseAddress, &bytes[0], bytes.size(), &read) &&
            bytes.find(wanted) != std::string::npos)
            return true;
    }
    return false;
}

// The password edit's buffer is wiped when its text goes: after a refused logon, and
// when the page goes, the password is nowhere in the client's memory.
TEST_F(TrayWindow, PasswordLeavesNoCopyInTheEdit)
{
    tray::FakeTaskbar taskbar;
    TrayClient client;
    ASSERT_TRUE(client.Start());
    HWND main = client.WaitForMainWindow();
    ASSERT_NE(nullptr, main);
    client.WaitUntilIdle();
    // Typed key by key, so that no message carries the whole text.
    const std::wstring password = L"Pw-0123456789-abcdefghijklmnopqrstuvwxyz";
    HWND edit = GetDlgItem(client.Page(), IDC_PASSWORD);
    ASSERT_NE(nullptr, edit);
    for (wchar_t c : password)
        PostMessageW(edit, WM_CHAR, c, 1);
    ASSERT_TRUE(tray::WaitUntil([&] {
        return SendMessageW(edit, WM_GETTEXTLENGTH, 0, 0) == (LRESULT)password.size();
    }, WAIT_MS));
    // The start of a freed block holds the heap's own links: look for the rest.
    const std::wstring tail = password.substr(16);
    ASSERT_TRUE(ProcessMemoryHolds(client.Process(), tail)) << "the edit's text is not where it is looked for";
    // No switch is configured: whatever answers, the logon fails and the edits are emptied.
    PostMessageW(main, WM_COMMAND, IDOK, 0);
    EXPECT_NE(L"<no box>", client.WaitForMessageBox(WAIT_MS));
    ASSERT_TRUE(client.AnswerMessageBox());
    EXPECT_TRUE(tray::WaitUntil([&] { return SendMessageW(edit, WM_GETTEXTLENGTH, 0, 0) == 0; }, WAIT_MS));
    EXPECT_FALSE(ProcessMemoryHolds(client.Process(), tail));
    for (wchar_t c : password)
        PostMessageW(edit, WM_CHAR, c, 1);
    ASSERT_TRUE(tray::WaitUntil([&] {
        return SendMessageW(edit, WM_GETTEXTLENGTH, 0, 0) == (LRESULT)password.size();
    }, WAIT_MS));
    SendMessageW(main, WM_COMMAND, IDC_MODE_CHANGE, 0);
    ASSERT_EQ(nullptr, GetDlgItem(client.Page(), IDC_PASSWORD));
    EXPECT_FALSE(ProcessMemoryHolds(client.Process(), tail));
    client.Kill();
}

// ---- the Config button

TEST_F(TrayWindow, ConfigButtonStartsTheToolBesideTheClient)
{
    std::wstring dir = test::MakeTempDir(L"portgate-tray-config");
    std::wstring client = dir + L"\\wardtray.exe";
    ASSERT_TRUE(CopyFileW(test::BinaryPath(L"wardtray.exe").c_str(), client.c_str(), FALSE));
    tray::FakeTaskbar taskbar;
    {
        SCOPED_TRACE("no tool beside the client");
        TrayClient tray;
        ASSERT_TRUE(tray.Start(L"", client));
        HWND main = tray.WaitForMainWindow();
        ASSERT_NE(nullptr, main);
        // Wine's token always holds Administrators, so the button is enabled.
        EXPECT_TRUE(IsWindowEnabled(GetDlgItem(main, IDC_CONFIG)));
        PostMessageW(main, WM_COMMAND, IDC_CONFIG, 0);
        EXPECT_EQ(TrayString(IDS_CONFIG_NOT_STARTED), tray.WaitForMessageBox(WAIT_MS));
        EXPECT_TRUE(tray.AnswerMessageBox());
    }
    {
        SCOPED_TRACE("a stand-in tool beside the client");
        wchar_t self[MAX_PATH];
        GetModuleFileNameW(NULL, self, MAX_PATH);
        ASSERT_TRUE(CopyFileW(self, (dir + L"\\wardsetup.exe").c_str(), FALSE));
        TrayClient tray;
        ASSERT_TRUE(tray.Start(L"", client));
        HWND main = tray.WaitForMainWindow();
        ASSERT_NE(nullptr, main);
        PostMessageW(main, WM_COMMAND, IDC_CONFIG, 0);
        EXPECT_TRUE(tray::WaitUntil([&] { return test::FileExists(dir + L"\\started.txt"); },
                                    WAIT_MS));
        EXPECT_EQ(L"<no box>", tray.WaitForMessageBox(0));
    }
    {
        // The folder leaves no room for "\wardsetup.exe" within 260 characters (the
        // client's own path still fits).
        SCOPED_TRACE("a folder too long for the tool's path");
        std::wstring deep = dir;
        while (deep.size() < 246)
            deep += std::wstring(L"\\") + std::wstring(std::min<size_t>(40, 245 - deep.size()), L'd');
        deep.resize(246);
        std::wstring built;
        for (size_t at = dir.size() + 1; at <= deep.size(); at++) {
            if (at == deep.size() || deep[at] == L'\\')
                CreateDirectoryW(deep.substr(0, at).c_str(), NULL);
        }
        std::wstring deepClient = deep + L"\\wardtray.exe";
        ASSERT_EQ(259u, deepClient.size());
        ASSERT_TRUE(CopyFileW(test::BinaryPath(L"wardtray.exe").c_str(), deepClient.c_str(), FALSE));
        wchar_t self[MAX_PATH];
        GetModuleFileNameW(NULL, self, MAX_PATH);
        TrayClient tray;
        ASSERT_TRUE(tray.Start(L"", deepClient));
        HWND main = tray.WaitForMainWindow();
        ASSERT_NE(nullptr, main);
        PostMessageW(main, WM_COMMAND, IDC_CONFIG, 0);
        EXPECT_EQ(TrayString(IDS_CONFIG_NOT_STARTED), tray.WaitForMessageBox(WAIT_MS));
        tray.Kill();
    }
    test::RemoveTree(dir);
}

// ---- the several-interfaces warning (run by tray-interfaces.sh with two extra addresses)

TEST(TrayInterfaces, WarningRepeatsUntilCancelledAndNeverStacks)
{
    int addresses = CountExternalIPv4Addresses();
    if (addresses < 2)
        GTEST_SKIP() << "only " << addresses << " IPv4 address(es) besides 127.0.0.1; "
                     << "tests/tray-interfaces.sh runs this with two more";
    test::ClearProductKey();
    test::SetConfigDword(NULL, VALUE_MULTI_INTERFACE_CHECK, 1);
    test::SetConfigString(NULL, VALUE_MULTI_INTERFACE_MESSAGE, L"Two networks\\nUnplug one");
    tray::FakeTaskbar taskbar;
    TrayClient client;
    ASSERT_TRUE(client.Start());
    HWND main = client.WaitForMainWindow();
    ASSERT_NE(nullptr, main);
    // Shown once, shortly after the start.
    EXPECT_EQ(L"Two networks\nUnplug one", client.WaitForMessageBox(WAIT_MS));
    // A click on the icon and a second start while it is shown add no second warning.
    PostMessageW(main, WM_TRAY_NOTIFY, 0, WM_LBUTTONDOWN);
    TrayClient second;
    ASSERT_TRUE(second.Start());
    EXPECT_TRUE(second.WaitForExit(WAIT_MS));
    // Posted messages are taken in order: once the page has changed, the checks posted
    // before it have run.
    PostMessageW(main, WM_CHECK_INTERFACES, 0, 0);
    PostMessageW(main, WM_COMMAND, IDC_MODE_CHANGE, 0);
    EXPECT_TRUE(tray::WaitUntil([&] { return GetDlgItem(client.Page(), IDC_PASSWORD) == NULL; }, WAIT_MS));
    EXPECT_EQ(1, client.CountMessageBoxes());
    // OK with nothing changed: the warning again. Cancel: the window hides.
    ASSERT_TRUE(client.AnswerMessageBox(IDOK));
    EXPECT_EQ(L"Two networks\nUnplug one", client.WaitForMessageBox(WAIT_MS));
    EXPECT_EQ(1, client.CountMessageBoxes());
    ASSERT_TRUE(client.AnswerMessageBox(IDCANCEL));
    EXPECT_TRUE(tray::WaitUntil([&] { return !IsWindowVisible(main); }, WAIT_MS));
    // Switched off: a restore checks again and shows nothing (the handler would not
    // return while a box was open).
    test::SetConfigDword(NULL, VALUE_MULTI_INTERFACE_CHECK, 0);
    DWORD_PTR answer;
    EXPECT_NE(0, SendMessageTimeoutW(main, WM_TRAY_NOTIFY, 0, WM_LBUTTONDOWN, SMTO_NORMAL,
                                     WAIT_MS, &answer));
    EXPECT_NE(0, SendMessageTimeoutW(main, WM_CHECK_INTERFACES, 0, 0, SMTO_NORMAL, WAIT_MS, &answer));
    EXPECT_EQ(0, client.CountMessageBoxes());
    test::ClearProductKey();
}

// ---- logon and logoff through the real service

class TrayWorkflow : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        test::UninstallService();
        test::ClearProductKey();
        ASSERT_TRUE(test::InstallService());
    }
    static void TearDownTestSuite()
    {
        test::UninstallService();
        test::ClearProductKey();
    }
    void SetUp() override
    {
        test::ClearProductKey();
        if (!test::IsServiceInstalled()) {
            ASSERT_TRUE(test::InstallService());
        }
        if (test::ServiceState() != SERVICE_RUNNING) {
            ASSERT_TRUE(test::StartService());
        }
        scriptDir_ = test::MakeTempDir(L"portgate-tray-scripts");
    }
    void TearDown() override
    {
        client_.Kill();
        test::RemoveTree(scriptDir_);
    }

    // Starts the simulator for the logon (or logoff) server and points the key at it.
    void StartSwitch(Simulator *simulator, const std::wstring &script, bool logoff = false,
                     int connections = 1)
    {
        ASSERT_TRUE(simulator->Start(script, connections));
        test::SetConfigString(NULL, logoff ? VALUE_VLAN_LOGOFF_SERVER : VALUE_VLAN_LOGON_SERVER, L"127.0.0.1");
        test::SetConfigDword(NULL, logoff ? VALUE_VLAN_LOGOFF_PORT : VALUE_VLAN_LOGON_PORT,
                             simulator->Port());
    }

    // Returns once the client waits for input, as a user would find it: the dialog box
    // shows its window only when its queue first runs empty, and input posted before that
    // would be handled before the first show.
    HWND StartClient()
    {
        EXPECT_TRUE(client_.Start());
        HWND main = client_.WaitForMainWindow();
        EXPECT_NE(nullptr, main);
        client_.WaitUntilIdle();
        return main;
    }

    std::wstring Script(const std::string &text) { return tray::WriteScript(scriptDir_, text); }

    tray::FakeTaskbar taskbar_;
    TrayClient client_;
    std::wstring scriptDir_;
};


TEST_F(TrayWorkflow, LogonAcceptedShowsTheStoredLogon)
{
    Simulator simulator;
    StartSwitch(&simulator, tray::ShippedScript(L"logon-group.txt"));
    HWND main = StartClient();
    ASSERT_NE(nullptr, main);
    ASSERT_TRUE(taskbar_.WaitForRecords(1, WAIT_MS));
    client_.SubmitLogon(L"alice", L"secret");
    EXPECT_EQ(TrayString(IDS_LOGON_DONE), client_.WaitForMessageBox(WAIT_MS));
    // The password edit is wiped before the box.
    EXPECT_EQ(L"", client_.ControlText(client_.Page(), IDC_PASSWORD));
    ASSERT_TRUE(client_.AnswerMessageBox());
    EXPECT_EQ(Joined({"1\\r\\n", "alice\\r\\n", "secret\\r\\n"}),
              Joined(tray::Received(simulator.Kill())));
    EXPECT_EQ(2u, Dword(VALUE_VLAN_LOGON));
    // The information page replaces the logon page after the box: fetch it afresh.
    HWND page = NULL;
    EXPECT_TRUE(tray::WaitUntil(
        [&] { return GetDlgItem(page = client_.Page(), IDC_LOGON_DATE) != NULL; }, WAIT_MS));
    EXPECT_EQ(L"alice", client_.ControlText(page, IDC_USER_NAME));
    EXPECT_EQ(ExpectedLogonDate(Dword(VALUE_LOGON_DATE)), client_.ControlText(page, IDC_LOGON_DATE));
    EXPECT_EQ(TrayString(IDS_LOGOFF_BUTTON), client_.ControlText(main, IDOK));
    // With the icon in place, a success hides the window.
    EXPECT_TRUE(tray::WaitUntil([&] { return !IsWindowVisible(main); }, WAIT_MS));
}

TEST_F(TrayWorkflow, LogonRefusalsAndFailures)
{
    struct {
        const char *name;
        const wchar_t *script;   // the real service and the switch on it; NULL: see replies
        std::vector<std::wstring> replies;  // a stand-in's answers; none: no service at all
        bool dhcp;
        std::vector<std::wstring> box;
        DWORD vlanLogonAfter;    // 0xFFFFFFFF: missing
    } cases[] = {
        {"switch refuses: the service's own message", L"logon-failed.txt", {}, false,
         ServiceTexts(WARDHOST_AUTH_FAILED), 0xFFFFFFFF},
        {"renewal refused after an accepted logon", NULL, {L"OK", L"NG"}, true,
         {TrayString(IDS_DHCP_ERROR)}, 0xFFFFFFFF},
        {"service absent", NULL, {}, false, {TrayString(IDS_SERVICE_NOT_RUNNING)}, 0xFFFFFFFF},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        test::ClearProductKey();
        Simulator simulator;
        if (c.script != NULL) {
            if (!test::IsServiceInstalled()) {
                ASSERT_TRUE(test::InstallService());
            }
            if (test::ServiceState() != SERVICE_RUNNING) {
                ASSERT_TRUE(test::StartService());
            }
            StartSwitch(&simulator, tray::ShippedScript(c.script));
        } else {
            test::UninstallService();
            if (!c.replies.empty()) {
                std::vector<std::wstring> mode = {L"replies"};
                mode.insert(mode.end(), c.replies.begin(), c.replies.end());
                ASSERT_TRUE(test::StartStandInService(scriptDir_ + L"\\requests.txt", mode));
            }
        }
        if (c.dhcp)
            test::SetConfigDword(NULL, VALUE_ENABLE_DHCP, 1);
        HWND main = StartClient();
        ASSERT_NE(nullptr, main);
        client_.SubmitLogon(L"alice", L"secret");
        std::wstring box = client_.WaitForMessageBox(WAIT_MS);
        EXPECT_TRUE(IsOneOf(box, c.box)) << test::Narrow(box);
        ASSERT_TRUE(client_.AnswerMessageBox());
        // A failed sequence empties both edits and stays on the logon page.
        HWND page = client_.Page();
        EXPECT_TRUE(tray::WaitUntil([&] { return client_.ControlText(page, IDC_USER_NAME).empty(); }, WAIT_MS));
        EXPECT_EQ(L"", client_.ControlText(page, IDC_PASSWORD));
        EXPECT_EQ(TrayString(IDS_LOGON_BUTTON), client_.ControlText(main, IDOK));
        EXPECT_EQ(c.vlanLogonAfter, Dword(VALUE_VLAN_LOGON));
        EXPECT_TRUE(IsWindowVisible(main));
        if (!c.replies.empty()) {
            EXPECT_EQ("requests " + std::to_string(c.replies.size()) + "\n",
                      test::ReadFileBytes(scriptDir_ + L"\\requests.txt"));
        }
        client_.Kill();
        test::UninstallService();
    }
}

TEST_F(TrayWorkflow, InputThatDoesNotFitIsRefusedBeforeSending)
{
    Simulator simulator;
    StartSwitch(&simulator, tray::ShippedScript(L"logon-group.txt"));
    HWND main = StartClient();
    ASSERT_NE(nullptr, main);
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
        EXPECT_EQ(TrayString(c.box), client_.WaitForMessageBox(WAIT_MS));
        EXPECT_EQ(L"", client_.ControlText(client_.Page(), IDC_PASSWORD));
        ASSERT_TRUE(client_.AnswerMessageBox());
    }
    // The switch has seen nothing yet: its one connection goes to the logon that fits.
    EXPECT_EQ(0, tray::Connections(simulator.Lines()));
    client_.SubmitLogon(std::wstring(200, L'u'), std::wstring(52, L'p'));
    EXPECT_EQ(TrayString(IDS_LOGON_DONE), client_.WaitForMessageBox(WAIT_MS));
    ASSERT_TRUE(client_.AnswerMessageBox());
    std::vector<std::string> received = tray::Received(simulator.Kill());
    ASSERT_EQ(3u, received.size());
    EXPECT_EQ(std::string(200, 'u') + "\\r\\n", received[1]);
    EXPECT_EQ(std::string(52, 'p') + "\\r\\n", received[2]);
}

TEST_F(TrayWorkflow, OneRequestAtATime)
{
    // The switch takes its time with the answer, so the progress window stays open.
    Simulator simulator;
    StartSwitch(&simulator,
                Script("send \"Connect(1) / Disconnect(2): \"\nexpect \"1\"\n"
                       "send \"Login Name? \"\nexpectany\nsend \"Password? \"\nexpectany\n"
                       "sleep 1500\nsend \"\\r\\nAuthentication Succeeded\\r\\n\"\n"),
                false, 2);
    HWND main = StartClient();
    ASSERT_NE(nullptr, main);
    client_.SubmitLogon(L"alice", L"secret");
    ASSERT_TRUE(simulator.WaitForLine("conn: open", WAIT_MS));
    // A second OK and a Mode change while the first request runs.
    PostMessageW(main, WM_COMMAND, IDOK, 0);
    PostMessageW(main, WM_COMMAND, IDC_MODE_CHANGE, 0);
    ASSERT_TRUE(simulator.WaitForLine("recv: secret\\r\\n", WAIT_MS));
    EXPECT_EQ(TrayString(IDS_LOGON_DONE), client_.WaitForMessageBox(WAIT_MS));
    ASSERT_TRUE(client_.AnswerMessageBox());
    EXPECT_TRUE(tray::WaitUntil([&] { return client_.FindProgressWindow() == NULL; }, WAIT_MS));
    EXPECT_EQ(L"<no box>", client_.WaitForMessageBox(0));
    EXPECT_EQ(1, tray::Connections(simulator.Kill()));
    EXPECT_EQ(TrayString(IDS_LOGOFF_BUTTON), client_.ControlText(main, IDOK));
}

TEST_F(TrayWorkflow, BusyServiceIsReportedAtOnce)
{
    // Another client holds the service's only pipe instance.
    HANDLE other = CreateFileW(WARD_PIPE_NAME, GENERIC_READ | GENERIC_WRITE, 0, NULL,
                               OPEN_EXISTING, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, other);
    HWND main = StartClient();
    ASSERT_NE(nullptr, main);
    client_.SubmitLogon(L"alice", L"secret");
    EXPECT_EQ(TrayString(IDS_SERVICE_NOT_RUNNING), client_.WaitForMessageBox(WAIT_MS));
    ASSERT_TRUE(client_.AnswerMessageBox());
    CloseHandle(other);
}

TEST_F(TrayWorkflow, LogoffFromTheInformationPage)
{
    Simulator simulator;
    StartSwitch(&simulator, tray::ShippedScript(L"logoff.txt"), true);
    test::SetConfigDword(NULL, VALUE_VLAN_LOGON, 2);
    test::SetConfigString(NULL, VALUE_DEFAULT_USER_NAME, L"alice");
    HWND main = StartClient();
    ASSERT_NE(nullptr, main);
    PostMessageW(main, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(TrayString(IDS_LOGOFF_DONE), client_.WaitForMessageBox(WAIT_MS));
    ASSERT_TRUE(client_.AnswerMessageBox());
    EXPECT_EQ(Joined({"2\\r\\n"}), Joined(tray::Received(simulator.Kill())));
    EXPECT_EQ(1u, Dword(VALUE_VLAN_LOGON));
    EXPECT_TRUE(tray::WaitUntil(
        [&] { return client_.ControlText(main, IDOK) == TrayString(IDS_LOGON_BUTTON); }, WAIT_MS));
    EXPECT_NE(nullptr, GetDlgItem(client_.Page(), IDC_PASSWORD));
}

TEST_F(TrayWorkflow, EscapeDropsTheLogoffOutcome)
{
    // The switch answers late and then hangs up: the service refuses the logoff, but by
    // then nobody is waiting for it.
    Simulator simulator;
    StartSwitch(&simulator, Script("sleep 2000\nclose\n"), true);
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
    EXPECT_TRUE(tray::WaitUntil([&] { return !IsWindow(progress); }, WAIT_MS));
    std::vector<std::string> lines = simulator.Lines();
    EXPECT_EQ(lines.end(), std::find(lines.begin(), lines.end(), "conn: closed"));
    EXPECT_TRUE(simulator.WaitForLine("conn: closed", WAIT_MS));
    // The service's reply reaches the worker after the window has gone: no box for it.
    ASSERT_TRUE(tray::WaitUntil([&] { return test::CallPipe(L"hello") == L"NG"; }, WAIT_MS));
    EXPECT_EQ(L"<no box>", client_.WaitForMessageBox(1000));
    EXPECT_EQ(TrayString(IDS_LOGOFF_BUTTON), client_.ControlText(main, IDOK));
    EXPECT_EQ(2u, Dword(VALUE_VLAN_LOGON));
}

TEST_F(TrayWorkflow, ReplyLongerThanTheBufferIsTheServicesAnswer)
{
    // The service quotes the unreachable server's 251-character name: its reply does not
    // fit 520 bytes, yet it is a refusal, not a stopped service.
    std::wstring name;
    for (int label = 0; label < 4; label++)
        name += std::wstring(60, L'h') + L".";
    name += L"invalid";
    test::SetConfigString(NULL, VALUE_VLAN_LOGON_SERVER, name);
    test::SetConfigDword(NULL, VALUE_VLAN_LOGON_PORT, 5);
    ASSERT_NE(nullptr, StartClient());
    client_.SubmitLogon(L"alice", L"secret");
    std::wstring box = client_.WaitForMessageBox(WAIT_MS);
    ASSERT_TRUE(client_.AnswerMessageBox());
    bool prefix = false;
    for (std::wstring text : ServiceTexts(WARDHOST_CANNOT_CONNECT)) {
        text.replace(text.find(L"%s"), 2, name);
        prefix = prefix || (box.size() >= 250 && text.compare(0, box.size(), box) == 0);
    }
    EXPECT_TRUE(prefix) << test::Narrow(box);
}

TEST_F(TrayWorkflow, PasswordGoesOnlyToTheService)
{
    // With the service gone, another program serves a pipe of the service's name.
    test::UninstallService();
    test::FakePipe impostor;
    ASSERT_TRUE(impostor.Listening()) << impostor.CreateError();
    ASSERT_NE(nullptr, StartClient());
    client_.SubmitLogon(L"alice", L"secret");
    EXPECT_EQ(TrayString(IDS_SERVICE_NOT_RUNNING), client_.WaitForMessageBox(WAIT_MS));
    ASSERT_TRUE(client_.AnswerMessageBox());
    client_.Kill();  // its end of the pipe, if it still held one, goes with it
    impostor.Stop();
    EXPECT_GE(impostor.Connections(), 1) << "the client never looked at the pipe";
    EXPECT_EQ("", impostor.Received());
}

// ---- the end of the session


TEST_F(TrayWorkflow, SessionEndLogsOffOnceWithoutBoxes)
{
    Simulator simulator;
    StartSwitch(&simulator, tray::ShippedScript(L"logoff.txt"), true, 2);
    test::SetConfigDword(NULL, VALUE_VLAN_LOGON, 2);
    HWND main = StartClient();
    ASSERT_NE(nullptr, main);
    ASSERT_TRUE(taskbar_.WaitForRecords(1, WAIT_MS));

    // As Windows (and wineboot -e) ends a session: ask, then tell.
    DWORD_PTR answer = 0;
    ASSERT_TRUE(SendMessageTimeoutW(main, WM_QUERYENDSESSION, 0, 0, SMTO_NORMAL, WAIT_MS, &answer));
    EXPECT_NE(0u, answer);
    // The end was cancelled: the session goes on, still logged on.
    ASSERT_TRUE(SendMessageTimeoutW(main, WM_ENDSESSION, FALSE, 0, SMTO_NORMAL, WAIT_MS, &answer));
    EXPECT_EQ(0, tray::Connections(simulator.Lines()));
    EXPECT_EQ(1u, taskbar_.Records().size());

    // A message box would hold the handler until this time-out.
    ASSERT_TRUE(SendMessageTimeoutW(main, WM_ENDSESSION, TRUE, 0, SMTO_NORMAL, 45000, &answer));
    EXPECT_EQ(1u, Dword(VALUE_VLAN_LOGON));
    ASSERT_TRUE(SendMessageTimeoutW(main, WM_ENDSESSION, TRUE, 0, SMTO_NORMAL, WAIT_MS, &answer));
    std::vector<std::string> lines = simulator.Kill();
    EXPECT_EQ(1, tray::Connections(lines));
    EXPECT_EQ(Joined({"2\\r\\n"}), Joined(tray::Received(lines)));
    ASSERT_TRUE(taskbar_.WaitForRecords(2, WAIT_MS));
    std::vector<tray::IconRecord> records = taskbar_.Records();
    ASSERT_EQ(2u, records.size());
    EXPECT_EQ((DWORD)NIM_DELETE, records[1].message);
    EXPECT_EQ(L"<no box>", client_.WaitForMessageBox(0));
}

// A service that takes the logoff and never answers: the client's own bound ends the
// session's logoff, in real time (the one check of that limit at its real value).
TEST_F(TrayWorkflow, SessionEndWithAHungServiceIsBounded)
{
    test::UninstallService();
    std::wstring report = scriptDir_ + L"\\requests.txt";
    ASSERT_TRUE(test::StartStandInService(report, {L"hang"}));
    test::SetConfigDword(NULL, VALUE_VLAN_LOGON, 2);
    HWND main = StartClient();
    ASSERT_NE(nullptr, main);
    ASSERT_TRUE(taskbar_.WaitForRecords(1, WAIT_MS));
    DWORD_PTR answer = 0;
    EXPECT_TRUE(SendMessageTimeoutW(main, WM_ENDSESSION, TRUE, 0, SMTO_NORMAL, SESSION_END_BUDGET_MS + 10000,
                                    &answer));
    EXPECT_EQ("requests 1\n", test::ReadFileBytes(report));
    EXPECT_EQ(L"<no box>", client_.WaitForMessageBox(0));
    EXPECT_TRUE(taskbar_.WaitForRecords(2, WAIT_MS));
    client_.Kill();
    test::UninstallService();
}

// The session ends while a logon runs on after its accepted "logon", waiting before its
// renewal (a wait stored as "-1", held to two minutes): the request is given up and the
// workstation is logged off within the bound.
TEST_F(TrayWorkflow, SessionEndDuringALogonLogsOff)
{
    Simulator logonSwitch, logoffSwitch;
    StartSwitch(&logonSwitch, tray::ShippedScript(L"logon-group.txt"));
    StartSwitch(&logoffSwitch, tray::ShippedScript(L"logoff.txt"), true);
    test::SetConfigDword(NULL, VALUE_ENABLE_DHCP, 1);
    test::SetConfigDword(NULL, VALUE_WAIT_IP_RENEW, 0xFFFFFFFF);
    HWND main = StartClient();
    ASSERT_NE(nullptr, main);
    client_.SubmitLogon(L"alice", L"secret");
    HWND progress = NULL;
    ASSERT_TRUE(tray::WaitUntil([&] {
        return (progress = client_.FindProgressWindow()) != NULL &&
               client_.ControlText(progress, IDC_PROGRESS_TEXT) == TrayString(IDS_REQUESTING_ADDRESS);
    }, WAIT_MS));
    EXPECT_EQ(2u, Dword(VALUE_VLAN_LOGON));
    // The logoff that follows goes without a renewal of its own.
    test::SetConfigDword(NULL, VALUE_ENABLE_DHCP, 0);
    DWORD_PTR answer = 0;
    // The session-end bound and a margin for this machine.
    ASSERT_TRUE(SendMessageTimeoutW(main, WM_ENDSESSION, TRUE, 0, SMTO_NORMAL, SESSION_END_BUDGET_MS + 15000,
                                    &answer));
    EXPECT_EQ(Joined({"2\\r\\n"}), Joined(tray::Received(logoffSwitch.Kill())));
    EXPECT_EQ(1u, Dword(VALUE_VLAN_LOGON));
    EXPECT_EQ(0, client_.CountMessageBoxes());
    EXPECT_EQ(1, tray::Connections(logonSwitch.Kill()));
}

// The same with the renewal's refusal on screen (a stand-in refuses it): the box may stay,
// the logoff still goes once and adds none.
TEST_F(TrayWorkflow, SessionEndWithTheRenewalsRefusalOnScreenLogsOff)
{
    test::UninstallService();
    std::wstring report = scriptDir_ + L"\\requests.txt";
    ASSERT_TRUE(test::StartStandInService(report, {L"replies", L"OK", L"NGno lease", L"OK"}));
    test::SetConfigDword(NULL, VALUE_ENABLE_DHCP, 1);
    HWND main = StartClient();
    ASSERT_NE(nullptr, main);
    client_.SubmitLogon(L"alice", L"secret");
    EXPECT_EQ(L"no lease", client_.WaitForMessageBox(WAIT_MS));
    // What the service records after an accepted logon.
    test::SetConfigDword(NULL, VALUE_VLAN_LOGON, 2);
    test::SetConfigDword(NULL, VALUE_ENABLE_DHCP, 0);
    DWORD_PTR answer = 0;
    ASSERT_TRUE(SendMessageTimeoutW(main, WM_ENDSESSION, TRUE, 0, SMTO_NORMAL, SESSION_END_BUDGET_MS + 15000,
                                    &answer));
    EXPECT_EQ("requests 3\n", test::ReadFileBytes(report));
    EXPECT_EQ(1, client_.CountMessageBoxes());
    client_.Kill();
    test::UninstallService();
}

// The client handles sent messages while it waits for the taskbar to take its icon, so the
// end of the session can come before the icon counts as added: it is removed once it is.
TEST_F(TrayWorkflow, SessionEndWhileTheIconIsBeingAddedRemovesItOnce)
{
    Simulator simulator;
    StartSwitch(&simulator, tray::ShippedScript(L"logoff.txt"), true);
    test::SetConfigDword(NULL, VALUE_VLAN_LOGON, 2);
    taskbar_.HoldNextAdd();
    ASSERT_TRUE(client_.Start());
    HWND main = client_.WaitForMainWindow();
    ASSERT_NE(nullptr, main);
    ASSERT_TRUE(taskbar_.WaitForRecords(1, WAIT_MS));  // the client now waits in its add
    DWORD_PTR answer = 0;
    ASSERT_TRUE(SendMessageTimeoutW(main, WM_ENDSESSION, TRUE, 0, SMTO_NORMAL, 45000, &answer));
    EXPECT_EQ(Joined({"2\\r\\n"}), Joined(tray::Received(simulator.Kill())));
    EXPECT_EQ(1u, Dword(VALUE_VLAN_LOGON));
    EXPECT_EQ(1u, taskbar_.Records().size());
    taskbar_.ReleaseHeld();
    ASSERT_TRUE(taskbar_.WaitForRecords(2, WAIT_MS));
    std::vector<tray::IconRecord> records = taskbar_.Records();
    EXPECT_EQ((DWORD)NIM_DELETE, records[1].message);
    EXPECT_EQ(main, records[1].window);
    // Once is all: nothing more follows by the time the client waits for input.
    client_.WaitUntilIdle();
    EXPECT_EQ(2u, taskbar_.Records().size());
    EXPECT_EQ(L"<no box>", client_.WaitForMessageBox(0));
}

// The real end of a session under Wine: wineboot sends the messages to every program with
// windows and ends them. The test itself has none here, so no taskbar stand-in.
TEST(TraySessionEnd, WinebootEndsTheSessionAfterTheLogoff)
{
    test::UninstallService();
    test::ClearProductKey();
    ASSERT_TRUE(test::InstallService());
    ASSERT_TRUE(test::StartService());
    Simulator simulator;
    ASSERT_TRUE(simulator.Start(tray::ShippedScript(L"logoff.txt")));
    test::SetConfigString(NULL, VALUE_VLAN_LOGOFF_SERVER, L"127.0.0.1");
    test::SetConfigDword(NULL, VALUE_VLAN_LOGOFF_PORT, simulator.Port());
    test::SetConfigDword(NULL, VALUE_VLAN_LOGON, 2);
    TrayClient client;
    ASSERT_TRUE(client.Start(L"-t"));
    ASSERT_NE(nullptr, client.WaitForMainWindow());
    test::ProcessResult wineboot = test::RunProcess(L"wineboot.exe -e", 60000);
    EXPECT_TRUE(wineboot.finished) << wineboot.output;
    EXPECT_TRUE(client.WaitForExit(WAIT_MS));
    EXPECT_EQ(Joined({"2\\r\\n"}), Joined(tray::Received(simulator.Kill())));
    EXPECT_EQ(1u, Dword(VALUE_VLAN_LOGON));
    test::UninstallService();
    test::ClearProductKey();
}

}  // namespace
