// wardsetup as the administrator sees it: the pages round-trip every value in the user
// interface's language, list dialogs and limits, failed saves, the on/off registration (with
// the Run entry started by Wine's logon), stale-registration removal, the About box, start-up
// and exit codes.
#include "test_support.h"
#include "dialogs.h"
#include "product_key.h"
#include "registration.h"
#include "setup_support.h"
#include "standins/wardtile_standin.h"
#include "string_tables.h"
#include "wardsetup.h"
#include "wardsetup_res.h"

#include <commctrl.h>
#include <dlgs.h>
#include <functional>
#include <map>
#include <vector>

namespace {

using test::ItemText;
using test::IsMessageBox;
using test::MESSAGE_BOX_TEXT_ID;
using test::StoredNumber;
using test::StoredText;

// A dialog of this process: the tool's window runs on a thread of the test.
HWND WaitForDialog(const test::DialogMatch &match)
{
    return test::WaitForDialog(GetCurrentProcessId(), match);
}

// The dialog that holds control id: IDC_TAB the main window, IDC_PROVIDER_VERSION the About box.
HWND WaitForDialogWith(int id)
{
    return WaitForDialog([id](HWND dialog) { return GetDlgItem(dialog, id) != NULL; });
}

// ---- the main window, run on a thread of its own as the program runs it

class Setup : public ::testing::Test {
protected:
    void SetUp() override
    {
        INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_TAB_CLASSES | ICC_LISTVIEW_CLASSES};
        InitCommonControlsEx(&controls);
        test::ClearConfiguration();
    }
    void TearDown() override
    {
        if (run.thread != NULL && CloseWindow(IDCANCEL) == -1)
            CloseHandle(run.thread);
        test::ClearConfiguration();
    }

    void Start(std::function<INT_PTR()> body)
    {
        run.body = body;
        run.thread = CreateThread(NULL, 0, [](void *fixture) -> DWORD {
            Setup *setup = (Setup *)fixture;
            setup->run.result = setup->run.body();
            return 0;
        }, this, 0, NULL);
    }
    HWND OpenWindow()
    {
        Start([this] { return RunMainWindow(GetModuleHandleW(NULL), &records); });
        run.window = WaitForDialogWith(IDC_TAB);
        EXPECT_NE(nullptr, run.window);
        return run.window;
    }
    // Sends command and waits for the window to end; its result, or -1 when it stayed.
    INT_PTR CloseWindow(WPARAM command)
    {
        PostMessageW(run.window, WM_COMMAND, command, 0);
        if (WaitForSingleObject(run.thread, 20000) != WAIT_OBJECT_0)
            return -1;
        CloseHandle(run.thread);
        run.thread = NULL;
        return run.result;
    }
    HWND Page()
    {
        return FindWindowExW(run.window, NULL, L"#32770", NULL);
    }
    HWND SelectTab(int index)
    {
        HWND tab = GetDlgItem(run.window, IDC_TAB);
        SendMessageW(tab, TCM_SETCURSEL, index, 0);
        NMHDR header = {tab, IDC_TAB, TCN_SELCHANGE};
        SendMessageW(run.window, WM_NOTIFY, IDC_TAB, (LPARAM)&header);
        return Page();
    }
    // Answers the modal dialog that command opens, owned by the main window and holding the
    // first field (cmb13 is a file dialog's name box), with the fields given, then OK.
    void FillDialog(HWND owner, WPARAM command, std::vector<std::pair<int, std::wstring>> fields)
    {
        PostMessageW(owner, WM_COMMAND, command, 0);
        HWND dialog = WaitForDialog([this, &fields](HWND d) {
            return GetWindow(d, GW_OWNER) == run.window && GetDlgItem(d, fields[0].first) != NULL;
        });
        ASSERT_NE(nullptr, dialog);
        for (const auto &field : fields)
            SetDlgItemTextW(dialog, field.first, field.second.c_str());
        ASSERT_TRUE(test::AnswerDialog(dialog, IDOK));
        // The result is taken, a file written or read, after the dialog has gone.
        ASSERT_TRUE(test::WaitUntilHandled(owner));
    }

    void InstallStandInProvider()
    {
        ASSERT_TRUE(provider.Install(test::BinaryPath(L"wardtile_standin.dll")));
    }

    ConfigRecords records = {};
    struct {
        std::function<INT_PTR()> body;  // what the thread runs: the window, or the whole program
        INT_PTR result;
        HANDLE thread;
        HWND window;
    } run = {};
    test::ProviderFile provider;
};

bool Checked(HWND dialog, int id)
{
    return IsDlgButtonChecked(dialog, id) == BST_CHECKED;
}

std::vector<std::wstring> ListBoxItems(HWND list)
{
    std::vector<std::wstring> items;
    int count = (int)SendMessageW(list, LB_GETCOUNT, 0, 0);
    for (int i = 0; i < count; i++) {
        wchar_t text[300] = L"";
        SendMessageW(list, LB_GETTEXT, i, (LPARAM)text);
        items.push_back(text);
    }
    return items;
}

std::vector<std::wstring> ListViewRows(HWND list)
{
    std::vector<std::wstring> rows;
    int count = ListView_GetItemCount(list);
    for (int i = 0; i < count; i++) {
        std::wstring row;
        for (int column = 0; column < 3; column++) {
            wchar_t text[300] = L"";
            ListView_GetItemText(list, i, column, text, 300);
            row += (column ? L"|" : L"") + std::wstring(text);
        }
        rows.push_back(row);
    }
    return rows;
}

// DomainList's names with their stored data ("type:text").
std::map<std::wstring, std::wstring> StoredDomains()
{
    std::map<std::wstring, std::wstring> domains;
    for (const auto &entry : test::SnapshotConfiguration())
        if (entry.first.find(L"\\DomainList|") != std::wstring::npos)
            domains[entry.first.substr(entry.first.find(L'|') + 1)] = entry.second;
    return domains;
}

TEST_F(Setup, PagesShowTheRegistryKeepEditsAcrossTabsAndOkWritesThem)
{
    InstallStandInProvider();
    ASSERT_EQ(SETUP_SUCCESS, RegisterComponents());
    for (const auto &text : std::vector<std::pair<LPCWSTR, LPCWSTR>>{
             {VALUE_LOGON_IMAGE, L"C:\\logo.bmp"}, {VALUE_MULTI_INTERFACE_MESSAGE, L"one\\ntwo"},
             {VALUE_VLAN_LOGON_SERVER, L"10.0.0.1"}, {VALUE_VLAN_LOGOFF_SERVER, L"10.0.0.2"}})
        WriteConfigString(NULL, text.first, text.second, TRUE, TRUE);
    for (const auto &number : std::vector<std::pair<LPCWSTR, DWORD>>{
             {VALUE_MULTI_INTERFACE_CHECK, 1}, {VALUE_VLAN_LOGON_PORT, 6000}, {VALUE_VLAN_LOGOFF_PORT, 6001},
             {VALUE_ENABLE_DHCP, 1}, {VALUE_WAIT_IP_RENEW, 3}, {VALUE_WAIT_FIND_DOMAIN, 0}})
        WriteConfigDword(NULL, number.first, number.second, TRUE);
    // As the service writes it: no terminator stored, a timestamp as data.
    WriteConfigString(SUBKEY_DOMAIN_LIST, L"lab", L"12/9/2026 01:00:00", FALSE, TRUE);
    WriteConfigString(SUBKEY_DOMAIN_LIST, L"CORP", L"", TRUE, TRUE);
    const wchar_t *ids[] = {L"10", L"9", L"100", L"-5"};
    for (int i = 0; i < 4; i++) {
        std::wstring subkey = std::wstring(SUBKEY_GROUP_LIST L"\\") + ids[i];
        WriteConfigString(subkey.c_str(), VALUE_VLAN_LOGOFF_SERVER,
                          (L"s" + std::wstring(ids[i])).c_str(), TRUE, TRUE);
        WriteConfigDword(subkey.c_str(), VALUE_VLAN_LOGOFF_PORT, i == 0 ? 65535 : 7000 + i, TRUE);
    }

    ASSERT_NE(nullptr, OpenWindow());
    // Title, tabs and columns in the user interface's language.
    HMODULE tool = GetModuleHandleW(NULL);
    LANGID language = test::ExpectedLanguage();
    EXPECT_EQ(test::StringOfLanguage(tool, IDS_APP_TITLE, language), test::WindowText(run.window));
    wchar_t label[100] = L"";
    TCITEMW tab = {TCIF_TEXT, 0, 0, label, 100, 0, 0};
    SendDlgItemMessageW(run.window, IDC_TAB, TCM_GETITEMW, 0, (LPARAM)&tab);
    EXPECT_EQ(test::StringOfLanguage(tool, IDS_TAB_GENERAL, language), label);
    HWND page = Page();
    ASSERT_NE(nullptr, page);
    EXPECT_TRUE(Checked(page, IDC_ENABLE));
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(page, IDC_ENABLE)));
    EXPECT_EQ(L"C:\\logo.bmp", ItemText(page, IDC_LOGON_IMAGE));
    EXPECT_EQ((std::vector<std::wstring>{L"CORP", L"LAB"}),
              ListBoxItems(GetDlgItem(page, IDC_DOMAIN_LIST)));
    EXPECT_TRUE(Checked(page, IDC_MULTI_CHECK));
    EXPECT_EQ(L"one\r\ntwo", ItemText(page, IDC_MULTI_MESSAGE));

    page = SelectTab(1);
    HDITEMW column = {};
    column.mask = HDI_TEXT;
    column.pszText = label;
    column.cchTextMax = 100;
    SendMessageW(ListView_GetHeader(GetDlgItem(page, IDC_VLAN_LIST)), HDM_GETITEMW, 1, (LPARAM)&column);
    EXPECT_EQ(test::StringOfLanguage(tool, IDS_COLUMN_ADDRESS, language), label);
    EXPECT_EQ(L"10.0.0.1", ItemText(page, IDC_LOGON_SERVER));
    EXPECT_EQ(L"6000", ItemText(page, IDC_LOGON_PORT));
    EXPECT_EQ(L"10.0.0.2", ItemText(page, IDC_LOGOFF_SERVER));
    EXPECT_EQ(L"6001", ItemText(page, IDC_LOGOFF_PORT));
    // Sorted as text (the platform's word sort passes over the minus sign), signs kept.
    EXPECT_EQ((std::vector<std::wstring>{L"10|s10|65535", L"100|s100|7002", L"-5|s-5|7003",
                                         L"9|s9|7001"}),
              ListViewRows(GetDlgItem(page, IDC_VLAN_LIST)));

    page = SelectTab(2);
    EXPECT_TRUE(Checked(page, IDC_ENABLE_DHCP));
    EXPECT_FALSE(Checked(page, IDC_NOT_FIND_DOMAIN));
    EXPECT_EQ(L"3", ItemText(page, IDC_WAIT_IP_RENEW));
    EXPECT_EQ(L"", ItemText(page, IDC_WAIT_FIND_DOMAIN));

    // Edits on every page, then a walk over the tabs before OK.
    SendDlgItemMessageW(page, IDC_ENABLE_DHCP, BM_SETCHECK, BST_UNCHECKED, 0);
    SendDlgItemMessageW(page, IDC_NOT_FIND_DOMAIN, BM_SETCHECK, BST_CHECKED, 0);
    SetDlgItemTextW(page, IDC_WAIT_IP_RENEW, L"");
    SetDlgItemTextW(page, IDC_WAIT_FIND_DOMAIN, L"15");
    page = SelectTab(1);
    SetDlgItemTextW(page, IDC_LOGON_SERVER, L"new.example");
    SetDlgItemTextW(page, IDC_LOGON_PORT, L"");
    page = SelectTab(0);
    SendDlgItemMessageW(page, IDC_ENABLE, BM_SETCHECK, BST_UNCHECKED, 0);
    SetDlgItemTextW(page, IDC_LOGON_IMAGE, L"D:\\画像.bmp");
    SendDlgItemMessageW(page, IDC_MULTI_CHECK, BM_SETCHECK, BST_UNCHECKED, 0);
    SetDlgItemTextW(page, IDC_MULTI_MESSAGE, L"ネットワーク\r\nが二つ");
    SendDlgItemMessageW(page, IDC_DOMAIN_LIST, LB_SETCURSEL, 0, 0);
    SendMessageW(page, WM_COMMAND, IDC_DELETE, 0);
    page = SelectTab(2);
    page = SelectTab(0);
    EXPECT_EQ(L"ネットワーク\r\nが二つ", ItemText(page, IDC_MULTI_MESSAGE));
    EXPECT_EQ((std::vector<std::wstring>{L"LAB"}), ListBoxItems(GetDlgItem(page, IDC_DOMAIN_LIST)));
    EXPECT_EQ(IDOK, CloseWindow(IDOK));

    EXPECT_EQ(0, QueryRegistration());
    EXPECT_EQ(test::SnapshotConfiguration().count(L"Run|" RUN_VALUE_NAME), 0u);
    for (const auto &text : std::vector<std::pair<LPCWSTR, std::wstring>>{
             {VALUE_LOGON_IMAGE, L"D:\\画像.bmp"}, {VALUE_MULTI_INTERFACE_MESSAGE, L"ネットワーク\\nが二つ"},
             {VALUE_VLAN_LOGON_SERVER, L"new.example"}, {VALUE_VLAN_LOGOFF_SERVER, L"10.0.0.2"}})
        EXPECT_EQ(text.second, StoredText(NULL, text.first)) << test::Narrow(text.first);
    for (const auto &number : std::vector<std::pair<LPCWSTR, DWORD>>{
             {VALUE_MULTI_INTERFACE_CHECK, 0}, {VALUE_VLAN_LOGON_PORT, 0}, {VALUE_VLAN_LOGOFF_PORT, 6001},
             {VALUE_ENABLE_DHCP, 0}, {VALUE_NOT_FIND_DOMAIN, 1}, {VALUE_WAIT_IP_RENEW, 0},
             {VALUE_WAIT_FIND_DOMAIN, 15}})
        EXPECT_EQ(number.second, StoredNumber(NULL, number.first)) << test::Narrow(number.first);
    // The service's lower-case name with its timestamp is gone; the kept name is upper
    // case with empty data.
    EXPECT_EQ((std::map<std::wstring, std::wstring>{{L"LAB", L"1:"}}), StoredDomains());
    EXPECT_EQ((std::set<std::wstring>{L"-5", L"10", L"100", L"9"}), test::GroupListSubkeys());
    EXPECT_EQ(65535u, StoredNumber(SUBKEY_GROUP_LIST L"\\10", VALUE_VLAN_LOGOFF_PORT));
    EXPECT_EQ(L"s-5", StoredText(SUBKEY_GROUP_LIST L"\\-5", VALUE_VLAN_LOGOFF_SERVER));
}

TEST_F(Setup, ListDialogsAndTheTenNameLimit)
{
    for (int i = 0; i < 9; i++)
        WriteConfigString(SUBKEY_DOMAIN_LIST, (L"D" + std::to_wstring(i)).c_str(), L"", TRUE, TRUE);
    ASSERT_NE(nullptr, OpenWindow());
    HWND page = Page();
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(page, IDC_ADD)));
    FillDialog(page, IDC_ADD, {{IDC_DOMAIN_NAME, L"new"}});
    EXPECT_EQ(10u, ListBoxItems(GetDlgItem(page, IDC_DOMAIN_LIST)).size());
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(page, IDC_ADD)));
    // "&Upd..." replaces the selected name.
    SendDlgItemMessageW(page, IDC_DOMAIN_LIST, LB_SETCURSEL, 0, 0);
    FillDialog(page, IDC_UPDATE, {{IDC_DOMAIN_NAME, L"ZED"}});
    std::vector<std::wstring> names = ListBoxItems(GetDlgItem(page, IDC_DOMAIN_LIST));
    EXPECT_EQ(10u, names.size());
    EXPECT_EQ(L"ZED", names.back());

    page = SelectTab(1);
    for (const wchar_t *server : {L"first", L"second"})
        FillDialog(page, IDC_ADD, {{IDC_VLAN_ID, L"20"}, {IDC_LOGOFF_SERVER, server}, {IDC_LOGOFF_PORT, L"1"}});
    std::vector<std::wstring> rows = ListViewRows(GetDlgItem(page, IDC_VLAN_LIST));
    ASSERT_EQ(2u, rows.size());
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(page, IDC_DELETE)));
    EXPECT_EQ(IDOK, CloseWindow(IDOK));

    std::map<std::wstring, std::wstring> expectedNames;
    for (const auto &name : names)
        expectedNames[name == L"new" ? L"NEW" : name] = L"1:";
    EXPECT_EQ(expectedNames, StoredDomains());
    // Two rows of one VLAN id: one subkey, holding the row shown later.
    EXPECT_EQ((std::set<std::wstring>{L"20"}), test::GroupListSubkeys());
    std::wstring later = rows[1].substr(3, rows[1].rfind(L'|') - 3);
    EXPECT_EQ(later, StoredText(SUBKEY_GROUP_LIST L"\\20", VALUE_VLAN_LOGOFF_SERVER));
}

TEST_F(Setup, FileMenuSavesThePagesAndReadsThemBack)
{
    std::wstring dir = test::MakeTempDir(L"wardsetup-menu");
    WriteConfigString(NULL, VALUE_VLAN_LOGON_SERVER, L"from-registry", TRUE, TRUE);
    ASSERT_NE(nullptr, OpenWindow());
    HWND page = SelectTab(1);
    // An edit not yet given back to the record goes into the file too.
    SetDlgItemTextW(page, IDC_LOGON_PORT, L"6100");
    std::wstring saved = dir + L"\\saved.cfg";
    FillDialog(run.window, IDM_SAVE_FILE, {{cmb13, saved}});
    ConfigRecords fromFile = {};
    ASSERT_EQ(SETUP_SUCCESS, ReadAllFromFile(&fromFile, saved.c_str()));
    EXPECT_STREQ(L"from-registry", fromFile.vlan.logonServer);
    EXPECT_EQ(6100u, fromFile.vlan.logonPort);
    ReleaseAll(&fromFile);

    // Reading replaces what the page on display shows; the registry waits for OK.
    std::wstring other = dir + L"\\other.cfg";
    ASSERT_TRUE(test::WriteUtf16File(other, L"[VLAN]\r\nVLANLogonServer=from-file\r\n[GroupList30]\r\n"
                                     L"VLANLogoffServer=g\r\nVLANLogoffPort=0\r\n"));
    FillDialog(run.window, IDM_READ_FILE, {{cmb13, other}});
    EXPECT_EQ(L"from-file", ItemText(page, IDC_LOGON_SERVER));
    EXPECT_EQ(L"6100", ItemText(page, IDC_LOGON_PORT));  // the file has no port: the record's stays
    EXPECT_EQ((std::vector<std::wstring>{L"30|g|0"}), ListViewRows(GetDlgItem(page, IDC_VLAN_LIST)));
    EXPECT_EQ(L"from-registry", StoredText(NULL, VALUE_VLAN_LOGON_SERVER));

    // A file that cannot be read whole changes no page and says so.
    std::wstring bad = dir + L"\\bad.cfg";
    ASSERT_TRUE(test::WriteUtf16File(bad, L"[VLAN]\r\nVLANLogonServer=" + std::wstring(300, L'b') + L"\r\n"));
    FillDialog(run.window, IDM_READ_FILE, {{cmb13, bad}});
    HWND box = WaitForDialog(IsMessageBox);
    ASSERT_NE(nullptr, box);
    EXPECT_EQ(test::ModuleString(NULL, IDS_FILE_READ_FAILED), ItemText(box, MESSAGE_BOX_TEXT_ID));
    EXPECT_TRUE(test::AnswerDialog(box, IDOK));
    EXPECT_EQ(IDOK, CloseWindow(IDOK));
    EXPECT_EQ(L"from-file", StoredText(NULL, VALUE_VLAN_LOGON_SERVER));
    EXPECT_EQ((std::set<std::wstring>{L"30"}), test::GroupListSubkeys());
    test::RemoveTree(dir);
}

TEST_F(Setup, FailedSaveShowsWhyKeepsTheWindowAndChangesNothing)
{
    const std::wstring digits40(40, L'1');
    const struct {
        const wchar_t *what;
        // Made volatile before the configuration, or NULL: a volatile key takes no lasting
        // subkeys, the platform's own way to make a write fail.
        const wchar_t *volatileKey;
        bool portgateOn, runKeyProtected, enable;
        int tab, control;                // an edit made on that page, or tab -1
        const wchar_t *text;
        UINT message;
        int low, high;
    } cases[] = {
        {L"DomainList cannot be made", PRODUCT_KEY_PATH, false, false, false, -1, 0, NULL,
         IDS_SAVE_FAILED, 0, 0},
        {L"class key takes no subkeys", MACHINE_CLSID_KEY L"\\" PROVIDER_CLSID_TEXT, false, false,
         true, -1, 0, NULL, IDS_REGISTRATION_FAILED, 0, 0},
        {L"Run key write-protected, Portgate on", NULL, true, true, true, -1, 0, NULL,
         IDS_REGISTRATION_FAILED, 0, 0},
        {L"port 70000", NULL, true, false, true, 1, IDC_LOGON_PORT, L"70000", IDS_BAD_LOGON_PORT,
         PORT_MIN, PORT_MAX},
        {L"40-digit wait", NULL, false, false, false, 2, IDC_WAIT_FIND_DOMAIN, digits40.c_str(),
         IDS_BAD_WAIT_FIND_DOMAIN, 0, WAIT_SECONDS_MAX},
        {L"wait -1", NULL, false, false, false, 2, IDC_WAIT_IP_RENEW, L"-1", IDS_BAD_WAIT_IP_RENEW,
         0, WAIT_SECONDS_MAX},
    };
    InstallStandInProvider();
    for (const auto &c : cases) {
        SCOPED_TRACE(test::Narrow(c.what));
        test::ClearConfiguration();
        HKEY key;
        if (c.volatileKey != NULL) {
            ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, c.volatileKey, 0, NULL,
                                                     REG_OPTION_VOLATILE, KEY_ALL_ACCESS, NULL, &key, NULL));
            RegCloseKey(key);
        }
        WriteConfigString(NULL, VALUE_VLAN_LOGON_SERVER, L"10.0.0.1", TRUE, TRUE);
        WriteConfigDword(NULL, VALUE_WAIT_IP_RENEW, 3, TRUE);
        WriteConfigString(SUBKEY_GROUP_LIST L"\\20", VALUE_VLAN_LOGOFF_SERVER, L"s20", TRUE, TRUE);
        if (c.portgateOn) {
            ASSERT_EQ(SETUP_SUCCESS, RegisterComponents());
        }
        test::ConfigSnapshot before = test::SnapshotConfiguration();
        ASSERT_NE(nullptr, OpenWindow());
        SendDlgItemMessageW(Page(), IDC_ENABLE, BM_SETCHECK, c.enable ? BST_CHECKED : BST_UNCHECKED, 0);
        SetDlgItemTextW(Page(), IDC_LOGON_IMAGE, L"C:\\changed.bmp");
        if (c.tab >= 0)
            SetDlgItemTextW(SelectTab(c.tab), c.control, c.text);
        HWND box;
        {
            test::WriteProtectedKey runKey(c.runKeyProtected ? RUN_KEY : L"");
            ASSERT_EQ(c.runKeyProtected, runKey.protectedNow);
            PostMessageW(run.window, WM_COMMAND, IDOK, 0);
            box = WaitForDialog(IsMessageBox);
        }
        ASSERT_NE(nullptr, box);
        EXPECT_EQ(test::ModuleText(NULL, c.message, c.low, c.high), ItemText(box, MESSAGE_BOX_TEXT_ID));
        EXPECT_TRUE(test::AnswerDialog(box, IDOK));
        // Answered only by a window that is still running its dialog loop.
        EXPECT_TRUE(test::WaitUntilHandled(run.window));
        EXPECT_EQ(IDCANCEL, CloseWindow(IDCANCEL));
        EXPECT_EQ(before, test::SnapshotConfiguration());
    }
}

TEST_F(Setup, RegistrationIsWholeAndCaseBlindOnReading)
{
    ASSERT_EQ(SETUP_SUCCESS, RegisterComponents());
    test::ConfigSnapshot on = test::SnapshotConfiguration();
    const std::wstring cls = MACHINE_CLSID_KEY L"\\" PROVIDER_CLSID_TEXT;
    EXPECT_EQ(L"1:" PROVIDER_CLASS_NAME, on[CREDENTIAL_PROVIDERS_KEY L"\\" PROVIDER_CLSID_TEXT L"|"]);
    EXPECT_EQ(L"1:" PROVIDER_CLASS_NAME, on[cls + L"|"]);
    EXPECT_EQ(L"1:" PROVIDER_DLL_NAME, on[cls + L"\\InprocServer32|"]);
    EXPECT_EQ(L"1:Apartment", on[cls + L"\\InprocServer32|ThreadingModel"]);
    EXPECT_EQ(L"\"" + test::BinaryDir() + L"\\" TRAY_EXE_NAME L"\" -t", on[L"Run|" RUN_VALUE_NAME]);
    // Never through HKEY_CLASSES_ROOT's per-user side.
    HKEY user;
    EXPECT_NE(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Classes\\CLSID\\" PROVIDER_CLSID_TEXT,
                                           0, KEY_READ, &user));
    RegSetKeyValueW(HKEY_LOCAL_MACHINE, CREDENTIAL_PROVIDERS_KEY L"\\" PROVIDER_CLSID_TEXT, NULL,
                    REG_SZ, L"wdcredentialPROVIDER", 42);
    EXPECT_EQ(1, QueryRegistration());
    ASSERT_EQ(SETUP_SUCCESS, UnregisterComponents());
    EXPECT_TRUE(test::SnapshotConfiguration().empty());
    EXPECT_EQ(SETUP_SUCCESS, UnregisterComponents());  // nothing there is no failure
}

TEST_F(Setup, RunEntryStartsTheTrayClientFromAFolderWithBlanks)
{
    std::wstring top = test::MakeTempDir(L"wardsetup-run");
    std::wstring folder = top + L"\\Program Files x";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), NULL));
    ASSERT_TRUE(CopyFileW(test::BinaryPath(L"wardsetup.exe").c_str(),
                          (folder + L"\\wardsetup.exe").c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(test::BinaryPath(L"wardtray_standin.exe").c_str(),
                          (folder + L"\\" TRAY_EXE_NAME).c_str(), FALSE));
    std::wstring on = top + L"\\on.cfg", off = top + L"\\off.cfg";
    ASSERT_TRUE(test::WriteUtf16File(on, L"[General]\r\nEnable=1\r\n"));
    ASSERT_TRUE(test::WriteUtf16File(off, L"[General]\r\nEnable=0\r\n[DomainList]\r\n0=lab\r\n"
                                          L"[VLAN]\r\nVLANLogonServer=10.0.0.1\r\n[GroupList20]\r\n"
                                          L"VLANLogoffServer=g\r\nVLANLogoffPort=7\r\n"));
    // The copy's exit code for an import of file; 99 when it did not end.
    auto import = [&](const std::wstring &file) {
        test::ProcessResult result = test::RunProcess(L"\"" + folder + L"\\wardsetup.exe\" -i \"" + file + L"\"");
        return result.finished ? result.exitCode : 99u;
    };
    InstallStandInProvider();
    EXPECT_EQ(0u, import(on));
    EXPECT_EQ(1, QueryRegistration());

    // Wine's logon start-up runs the machine's Run entries.
    test::RunProcess(L"wineboot.exe", 120000);
    // The stand-in holds its file unshared from creating it to closing it with the line in:
    // the file that exists may not be readable yet.
    std::string line;
    for (DWORD start = GetTickCount(); GetTickCount() - start < 60000; Sleep(50))
        if (!(line = test::ReadFileBytes(folder + L"\\started.txt")).empty())
            break;
    ASSERT_FALSE(line.empty()) << "the Run entry did not start the tray client";
    std::wstring started((const wchar_t *)line.data(), line.size() / 2);
    EXPECT_EQ(L"\"" + folder + L"\\" TRAY_EXE_NAME L"\" -t", started);

    // Switched off, the program leaves what the same import in-process makes of nothing.
    EXPECT_EQ(0u, import(off));
    test::ConfigSnapshot byProgram = test::SnapshotConfiguration();
    test::ClearConfiguration();
    EXPECT_EQ(SETUP_SUCCESS, ImportConfigFile(off.c_str()));
    EXPECT_EQ(test::SnapshotConfiguration(), byProgram);
    EXPECT_EQ(0u, byProgram.count(L"Run|" RUN_VALUE_NAME));
    test::RemoveTree(top);
}

// Without the provider's module, a registration left behind goes as the window opens and
// Portgate cannot be switched on; the About box says whether the module is there.
TEST_F(Setup, AboutBoxReadsTheProviderVersionAndStaleRegistrationGoes)
{
    ASSERT_EQ(SETUP_SUCCESS, RegisterComponents());
    for (int installed = 0; installed < 2; installed++) {
        SCOPED_TRACE(installed);
        if (installed)
            InstallStandInProvider();
        ASSERT_NE(nullptr, OpenWindow());
        EXPECT_FALSE(Checked(Page(), IDC_ENABLE));
        EXPECT_EQ(installed == 1, IsWindowEnabled(GetDlgItem(Page(), IDC_ENABLE)) != FALSE);
        PostMessageW(run.window, WM_COMMAND, IDM_ABOUT, 0);
        HWND about = WaitForDialogWith(IDC_PROVIDER_VERSION);
        ASSERT_NE(nullptr, about);
        if (!installed) {
            EXPECT_EQ(test::ModuleString(NULL, IDS_NOT_INSTALLED), ItemText(about, IDC_PROVIDER_VERSION));
            EXPECT_FALSE(IsWindowVisible(GetDlgItem(about, IDC_PROVIDER_COPYRIGHT)));
        } else {
            EXPECT_EQ(test::ModuleText(NULL, IDS_VERSION_FORMAT, 2, 0, 0),
                      ItemText(about, IDC_PROVIDER_VERSION));
            EXPECT_EQ(L"" STANDIN_COPYRIGHT, ItemText(about, IDC_PROVIDER_COPYRIGHT));
        }
        PostMessageW(about, WM_COMMAND, IDOK, 0);
        EXPECT_EQ(IDCANCEL, CloseWindow(IDCANCEL));
        test::ConfigSnapshot left = test::SnapshotConfiguration();
        for (const auto &entry : left)
            EXPECT_EQ(std::wstring::npos, entry.first.find(PROVIDER_CLSID_TEXT)) << test::Narrow(entry.first);
        EXPECT_EQ(0u, left.count(L"Run|" RUN_VALUE_NAME));
    }
}

// ---- start-up and exit codes

// Without administrators (the token check itself: ward_client_test), an import fails and
// changes nothing, and a plain start says why.
TEST_F(Setup, RefusedWithoutAdministrators)
{
    std::wstring dir = test::MakeTempDir(L"wardsetup-admin");
    std::wstring file = dir + L"\\ok.cfg";
    ASSERT_TRUE(test::WriteUtf16File(file, L"[VLAN]\r\nVLANLogonServer=x\r\n"));
    wchar_t *importing[] = {(wchar_t *)L"wardsetup.exe", (wchar_t *)L"-i", &file[0]};
    EXPECT_EQ(2, RunWardsetup(GetModuleHandleW(NULL), 3, importing, FALSE));
    EXPECT_TRUE(test::SnapshotConfiguration().empty());
    test::RemoveTree(dir);

    Start([] {
        wchar_t *plain[] = {(wchar_t *)L"wardsetup.exe"};
        return (INT_PTR)RunWardsetup(GetModuleHandleW(NULL), 1, plain, FALSE);
    });
    run.window = WaitForDialog(IsMessageBox);
    ASSERT_NE(nullptr, run.window);
    EXPECT_EQ(test::ModuleString(NULL, IDS_NOT_ADMINISTRATOR), ItemText(run.window, MESSAGE_BOX_TEXT_ID));
    EXPECT_EQ(test::ModuleString(NULL, IDS_APP_TITLE), test::WindowText(run.window));
    EXPECT_EQ(0, CloseWindow(IDOK));
}

TEST_F(Setup, ExitCodesAndOneWindowOfTwoQuickStarts)
{
    // A wardsetup process's main window: no owner, and the tab control.
    auto IsProgramWindow = [](HWND window) {
        return GetWindow(window, GW_OWNER) == NULL && GetDlgItem(window, IDC_TAB) != NULL;
    };
    std::wstring program = L"\"" + test::BinaryPath(L"wardsetup.exe") + L"\"";
    const struct {
        WPARAM command;
        DWORD exitCode;
    } closings[] = {{IDCANCEL, 2}, {IDM_EXIT, IDM_EXIT}, {IDOK, 1}};
    for (const auto &closing : closings) {
        SCOPED_TRACE(closing.exitCode);
        HANDLE output[2] = {};
        HANDLE started[2] = {test::StartCapturedProcess(program, &output[0]),
                             test::StartCapturedProcess(program, &output[1])};
        ASSERT_NE(nullptr, started[0]);
        ASSERT_NE(nullptr, started[1]);
        // One gives way at once, silently; the other shows the only window.
        DWORD ended = WaitForMultipleObjects(2, started, FALSE, 30000) - WAIT_OBJECT_0;
        HWND window = NULL;
        if (ended < 2) {
            DWORD exitCode = 99;
            GetExitCodeProcess(started[ended], &exitCode);
            EXPECT_EQ(0u, exitCode);
            window = test::WaitForDialog(GetProcessId(started[1 - ended]), IsProgramWindow, 30000);
            EXPECT_EQ(1u, test::FindDialogs(0, IsProgramWindow).size());
        }
        EXPECT_NE(nullptr, window) << "not one start that gave way and one window";
        if (window != NULL) {
            PostMessageW(window, WM_COMMAND, closing.command, 0);
            EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(started[1 - ended], 30000));
            DWORD exitCode = 0;
            GetExitCodeProcess(started[1 - ended], &exitCode);
            EXPECT_EQ(closing.exitCode, exitCode);
        }
        for (int i = 0; i < 2; i++) {
            TerminateProcess(started[i], 1);  // nothing stays behind a failed check
            CloseHandle(started[i]);
            CloseHandle(output[i]);
        }
    }
    // A malformed import never opens a window: the script gets a failure.
    for (const wchar_t *arguments : {L" -i", L" /i a.cfg b.cfg", L" -i nowhere.cfg"}) {
        test::ProcessResult result = test::RunProcess(program + arguments);
        EXPECT_TRUE(result.finished) << test::Narrow(arguments);
        EXPECT_EQ(2u, result.exitCode) << test::Narrow(arguments);
    }
}

// ---- resources

TEST(Resources, EnglishAndJapaneseCarryTheSameIds)
{
    HMODULE tool = GetModuleHandleW(NULL);
    for (LPCWSTR type : {RT_DIALOG, RT_MENU}) {
        std::set<UINT_PTR> inEnglish = test::ResourceIdsOfLanguage(tool, type, test::ENGLISH);
        EXPECT_FALSE(inEnglish.empty());
        EXPECT_EQ(inEnglish, test::ResourceIdsOfLanguage(tool, type, test::JAPANESE));
    }
    std::set<UINT> strings = test::StringIdsOfLanguage(tool, test::ENGLISH);
    EXPECT_EQ(1u, strings.count(IDS_LAST_STRING));
    EXPECT_EQ(strings, test::StringIdsOfLanguage(tool, test::JAPANESE));
}

}  // namespace
