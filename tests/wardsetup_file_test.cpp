// wardsetup's configuration files and the -i import: registry -> file -> registry round
// trip, imports that must change nothing, values that must read back as written, GroupList
// sections, and a fuzzed file reader.
#include "test_support.h"
#include "product_key.h"
#include "registration.h"
#include "setup_support.h"
#include "wardsetup.h"

#include <map>
#include <random>
#include <set>
#include <string>

namespace {

using test::ConfigSnapshot;
using test::StoredNumber;
using test::StoredText;

class ConfigFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        test::ClearConfiguration();
        dir = test::MakeTempDir(L"wardsetup-file");
    }
    void TearDown() override
    {
        test::ClearConfiguration();
        test::RemoveTree(dir);
    }
    void InstallStandInProvider()
    {
        ASSERT_TRUE(provider.Install(test::BinaryPath(L"wardtile_standin.dll")));
    }
    std::wstring dir;
    test::ProviderFile provider;
};

// The VLAN entries as "id|address|port", in list order.
std::vector<std::wstring> EntryRows(const VlanSettings &vlan)
{
    std::vector<std::wstring> rows;
    for (const VlanLogoffEntry *e = vlan.entries; e != NULL; e = e->next)
        rows.push_back(std::to_wstring(e->vlanId) + L"|" + e->address + L"|" +
                       std::to_wstring(e->port));
    return rows;
}

// Every value of the configuration, 40 logoff servers among them, and a Japanese message.
void FillRegistry()
{
    for (const auto &text : std::vector<std::pair<LPCWSTR, LPCWSTR>>{
             {VALUE_VLAN_LOGON_SERVER, L"10.1.*.*"}, {VALUE_VLAN_LOGOFF_SERVER, L"logoff.example"},
             {VALUE_LOGON_IMAGE, L"C:\\Program Files\\Portgate\\ロゴ.bmp"},
             {VALUE_MULTI_INTERFACE_MESSAGE, L"複数のネットワークが有効です。\\n無線 LAN を切ってください。\\n"}})
        WriteConfigString(NULL, text.first, text.second, TRUE, TRUE);
    for (const auto &number : std::vector<std::pair<LPCWSTR, DWORD>>{
             {VALUE_VLAN_LOGON_PORT, 6001}, {VALUE_VLAN_LOGOFF_PORT, 6002}, {VALUE_ENABLE_DHCP, 1},
             {VALUE_NOT_FIND_DOMAIN, 1}, {VALUE_WAIT_IP_RENEW, 3}, {VALUE_WAIT_FIND_DOMAIN, 7},
             {VALUE_MULTI_INTERFACE_CHECK, 1}})
        WriteConfigDword(NULL, number.first, number.second, TRUE);
    WriteConfigString(SUBKEY_DOMAIN_LIST, L"CORP", L"", TRUE, TRUE);
    WriteConfigString(SUBKEY_DOMAIN_LIST, L"研究所", L"", TRUE, TRUE);
    for (int i = 0; i < 40; i++) {
        std::wstring id = std::to_wstring(i == 0 ? -5 : i * 100 + 7);
        WriteConfigString((SUBKEY_GROUP_LIST L"\\" + id).c_str(), VALUE_VLAN_LOGOFF_SERVER,
                          (L"10.0." + std::to_wstring(i) + L".1").c_str(), TRUE, TRUE);
        WriteConfigDword((SUBKEY_GROUP_LIST L"\\" + id).c_str(), VALUE_VLAN_LOGOFF_PORT, 7000 + i, TRUE);
    }
}

TEST_F(ConfigFile, RegistryToFileToRegistryIsIdenticalThroughARelativeName)
{
    InstallStandInProvider();
    FillRegistry();
    ASSERT_EQ(SETUP_SUCCESS, RegisterComponents());
    ConfigSnapshot before = test::SnapshotConfiguration();

    ConfigRecords records = {};
    records.providerInstalled = TRUE;  // no stale-removal here
    ASSERT_EQ(SETUP_SUCCESS, ReadAllFromRegistry(&records));
    std::wstring file = dir + L"\\exported.cfg";
    ASSERT_EQ(SETUP_SUCCESS, WriteAllToFile(&records, file.c_str()));
    ReleaseAll(&records);

    test::ClearConfiguration();
    ASSERT_EQ(0, QueryRegistration());
    // Imported by a relative name: the current folder's file, not the Windows folder's.
    wchar_t windows[MAX_PATH], previous[MAX_PATH];
    GetWindowsDirectoryW(windows, MAX_PATH);
    std::wstring decoy = std::wstring(windows) + L"\\exported.cfg";
    ASSERT_TRUE(test::WriteUtf16File(decoy, L"[VLAN]\r\nVLANLogonServer=from-windows\r\n"));
    GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryW(dir.c_str()));
    EXPECT_EQ(SETUP_SUCCESS, ImportConfigFile(L"exported.cfg"));
    SetCurrentDirectoryW(previous);
    DeleteFileW(decoy.c_str());
    EXPECT_EQ(before, test::SnapshotConfiguration());
    EXPECT_EQ(1, QueryRegistration());
}

TEST_F(ConfigFile, ImportThatCannotUseTheFileChangesNothing)
{
    InstallStandInProvider();
    FillRegistry();
    ASSERT_EQ(SETUP_SUCCESS, RegisterComponents());
    auto bytes = [&](const wchar_t *name, const std::string &content) {
        std::wstring path = dir + L"\\" + name;
        EXPECT_TRUE(test::WriteBytes(path, content.data(), (DWORD)content.size()));
        return path;
    };
    auto file = [&](const wchar_t *name, const std::wstring &text) {  // UTF-16 with its mark
        std::wstring marked = L"\xFEFF" + text;
        return bytes(name, std::string((const char *)marked.data(), marked.size() * sizeof(wchar_t)));
    };
    const std::wstring valid = L"[General]\r\nEnable=1\r\n[VLAN]\r\nVLANLogonServer=new\r\n";
    file(L"a.cfg", L"[DHCP]\r\nEnableDHCP=0\r\n");
    HANDLE locked = CreateFileW((dir + L"\\locked.cfg").c_str(), GENERIC_WRITE, 0, NULL,
                                CREATE_ALWAYS, 0, NULL);
    std::string binary;
    for (int i = 0; i < 4096; i++)
        binary += (char)((i * 7919 + 13) % 251);
    const struct {
        const wchar_t *what;
        std::wstring path;
        bool withoutModule = false;
        bool runKeyProtected = false;
    } cases[] = {
        {L"missing file", dir + L"\\missing.cfg"},
        {L"missing relative name", L"no-such-portgate.cfg"},
        {L"folder", dir},
        {L"wildcard", dir + L"\\*.cfg"},
        {L"empty path", L""},
        {L"server longer than 255", file(L"too-long.cfg", L"[VLAN]\r\nVLANLogonServer=" + std::wstring(256, L'a') + L"\r\n")},
        {L"domain name longer than 259", file(L"long-domain.cfg", L"[DomainList]\r\n0=" + std::wstring(260, L'D') + L"\r\n")},
        {L"file open elsewhere without sharing", dir + L"\\locked.cfg"},
        // Files that are no configuration: nothing of ours in them.
        {L"0-byte file", bytes(L"empty.cfg", "")},
        {L"binary file", bytes(L"binary.cfg", binary)},
        {L"another program's INI", file(L"foreign.ini", L"[boot]\r\nshell=explorer.exe\r\n[Mail]\r\nMAPI=1\r\n")},
        {L"our sections without keys", file(L"bare.cfg", L"[General]\r\n[VLAN]\r\n; Enable=1\r\n")},
        // GroupList entries alone would import as Portgate switched off with every server empty.
        {L"GroupList sections only", file(L"groups.cfg", L"[GroupList7]\r\nVLANLogoffServer=x\r\nVLANLogoffPort=7\r\n")},
        {L"UTF-16 without byte-order mark",
         bytes(L"nobom.cfg", std::string((const char *)valid.data(), valid.size() * sizeof(wchar_t)))},
        // Numbers outside what the programs can use.
        {L"40-digit number", file(L"digits.cfg", L"[VLAN]\r\nVLANLogonPort=" + std::wstring(40, L'1') + L"\r\n")},
        {L"port 70000", file(L"port.cfg", L"[VLAN]\r\nVLANLogonPort=70000\r\n")},
        {L"per-VLAN port past 32 bits", file(L"vlanport.cfg", L"[VLAN]\r\nVLANLogonServer=new\r\n[GroupList5]\r\nVLANLogoffPort=99999999999\r\n")},
        {L"WaitIpRenew=-1", file(L"wait.cfg", L"[DHCP]\r\nWaitIpRenew=-1\r\n")},
        {L"WaitFindDomain past the maximum", file(L"wait2.cfg", L"[DHCP]\r\nWaitFindDomain=" + std::to_wstring(WAIT_SECONDS_MAX + 1) + L"\r\n")},
        // Switching on needs the provider's module.
        {L"Enable=1 without wardtile.dll", file(L"enable.cfg", valid), true},
        // A registration step that fails puts back what was there, Portgate on included.
        {L"Run key write-protected, Enable=1", file(L"on.cfg", valid), false, true},
        {L"Run key write-protected, Enable=0", file(L"off.cfg", L"[General]\r\nEnable=0\r\n"), false, true},
    };
    ConfigSnapshot before = test::SnapshotConfiguration();
    for (const auto &c : cases) {
        SCOPED_TRACE(test::Narrow(c.what));
        if (c.withoutModule) {
            ASSERT_TRUE(provider.Remove());
        }
        {
            test::WriteProtectedKey run(c.runKeyProtected ? RUN_KEY : L"");
            ASSERT_EQ(c.runKeyProtected, run.protectedNow);
            EXPECT_EQ(SETUP_FAILURE, ImportConfigFile(c.path.c_str()));
        }
        EXPECT_EQ(before, test::SnapshotConfiguration());
        if (c.withoutModule)
            InstallStandInProvider();
    }
    CloseHandle(locked);
    // The same valid file imports whole once nothing stands in its way.
    EXPECT_EQ(SETUP_SUCCESS, ImportConfigFile((dir + L"\\on.cfg").c_str()));
    EXPECT_EQ(L"new", test::SnapshotConfiguration()[PRODUCT_KEY_PATH L"|VLANLogonServer"].substr(2));
}

TEST_F(ConfigFile, NumbersFollowOneRule)
{
    std::wstring file = dir + L"\\numbers.cfg";
    ASSERT_TRUE(test::WriteUtf16File(file,
                              L"[VLAN]\r\nVLANLogonPort=0x10\r\nVLANLogoffPort=12abc\r\n"
                              L"[DHCP]\r\nWaitIpRenew=  42  \r\nWaitFindDomain=+7\r\nEnableDHCP=-3\r\n"
                              L"[GroupList-5]\r\nVLANLogoffPort=1x\r\n"));
    ASSERT_EQ(SETUP_SUCCESS, ImportConfigFile(file.c_str()));
    const struct {
        const wchar_t *subkey, *name;
        DWORD expected;
    } cases[] = {
        {NULL, VALUE_VLAN_LOGON_PORT, 0},  {NULL, VALUE_VLAN_LOGOFF_PORT, 0}, {NULL, VALUE_WAIT_IP_RENEW, 42},
        {NULL, VALUE_WAIT_FIND_DOMAIN, 7}, {NULL, VALUE_ENABLE_DHCP, 1},     {NULL, VALUE_NOT_FIND_DOMAIN, 0},
        {SUBKEY_GROUP_LIST L"\\-5", VALUE_VLAN_LOGOFF_PORT, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(test::Narrow(c.name));
        EXPECT_EQ(c.expected, StoredNumber(c.subkey, c.name));
    }
}

TEST_F(ConfigFile, GroupListSectionsAreReadWholeInAnyLetterCaseAndReplacedOnSaving)
{
    // 300 sections, the last in lower case: the names alone are about 4,000 characters.
    std::wstring text;
    for (int id = 1; id <= 300; id++)
        text += (id < 300 ? L"[GroupList" : L"[grouplist") + std::to_wstring(id) +
                L"]\r\nVLANLogoffServer=s" + std::to_wstring(id) + L"\r\nVLANLogoffPort=" +
                std::to_wstring(id) + L"\r\n";
    // Past the end of any short list, so the file counts as a configuration only if read whole.
    text += L"[VLAN]\r\nVLANLogonServer=after\r\n";
    std::wstring file = dir + L"\\many.cfg";
    ASSERT_TRUE(test::WriteUtf16File(file, text));
    ASSERT_EQ(SETUP_SUCCESS, ImportConfigFile(file.c_str()));
    EXPECT_EQ(300u, test::GroupListSubkeys().size());
    for (int id = 1; id <= 300; id++) {
        std::wstring subkey = SUBKEY_GROUP_LIST L"\\" + std::to_wstring(id);
        EXPECT_EQ(L"s" + std::to_wstring(id), StoredText(subkey.c_str(), VALUE_VLAN_LOGOFF_SERVER));
        EXPECT_EQ((DWORD)id, StoredNumber(subkey.c_str(), VALUE_VLAN_LOGOFF_PORT));
    }
    // Saving over the same file deletes all its old GroupList sections, the last included,
    // and an entry of an old section reads back changed.
    ConfigRecords records = {};
    ASSERT_TRUE(AppendVlanEntry(&records.vlan, 20, L"only", 1));
    ASSERT_TRUE(AppendVlanEntry(&records.vlan, 8, L"eight", 2));
    ASSERT_EQ(SETUP_SUCCESS, WriteAllToFile(&records, file.c_str()));
    ReleaseAll(&records);
    ConfigRecords back = {};
    ASSERT_EQ(SETUP_SUCCESS, ReadAllFromFile(&back, file.c_str()));
    EXPECT_EQ((std::vector<std::wstring>{L"20|only|1", L"8|eight|2"}), EntryRows(back.vlan));
    ReleaseAll(&back);
}

TEST_F(ConfigFile, SavedValuesReadBackAsWrittenInjectNothingAndKeepTheFilesOtherSections)
{
    // A new file is UTF-16; over an ANSI file, a Japanese code page holds the Japanese text
    // as it stands, any other needs UTF-16.
    const std::string ansi = "[Site]\r\nOwner=lab\r\n[VLAN]\r\nVLANLogonServer=old\r\n";
    const struct {
        const char *original;
        const wchar_t *server;
        bool unicode;
    } cases[] = {
        {NULL, L"\"quoted\"", true},
        {ansi.c_str(), L"\"quoted\"", false},
        {ansi.c_str(), L"認証サーバー", GetACP() != 932},
    };
    // Line breaks in a value read back as blanks: no section or key of their own.
    const wchar_t *injected = L"x\r\n[GroupList7]\r\nVLANLogoffPort=9\r\n[VLAN]\r\nVLANLogonPort=1";
    const std::wstring flattened = L"x  [GroupList7]  VLANLogoffPort=9  [VLAN]  VLANLogonPort=1";
    for (const auto &c : cases) {
        SCOPED_TRACE(test::Narrow(c.server) + (c.original ? " over ANSI" : " new"));
        std::wstring file = dir + L"\\values.cfg";
        DeleteFileW(file.c_str());
        if (c.original != NULL) {
            ASSERT_TRUE(test::WriteBytes(file, c.original, (DWORD)strlen(c.original)));
        }
        ConfigRecords records = {};
        wcscpy(records.vlan.logonServer, injected);
        wcscpy(records.vlan.logoffServer, c.server);
        wcscpy(records.general.logonImage, L" C:\\lead and trail ");
        wcscpy(records.general.domainNames[0], L"'SINGLE'");
        wcscpy(records.general.domainNames[1], L"\"HALF");
        records.vlan.logonPort = 6000;
        ASSERT_TRUE(AppendVlanEntry(&records.vlan, -5, L"10.0.0.5 ", 65535));
        ASSERT_TRUE(AppendVlanEntry(&records.vlan, 4094, L"\"a;b=c\"", 1));
        ASSERT_EQ(SETUP_SUCCESS, WriteAllToFile(&records, file.c_str()));
        ReleaseAll(&records);
        EXPECT_EQ(c.unicode, test::ReadFileBytes(file).substr(0, 2) == "\xFF\xFE");

        ConfigRecords back = {};
        ASSERT_EQ(SETUP_SUCCESS, ReadAllFromFile(&back, file.c_str()));
        EXPECT_EQ(flattened, back.vlan.logonServer);
        EXPECT_EQ(6000u, back.vlan.logonPort);
        EXPECT_STREQ(c.server, back.vlan.logoffServer);
        EXPECT_STREQ(L" C:\\lead and trail ", back.general.logonImage);
        EXPECT_STREQ(L"'SINGLE'", back.general.domainNames[0]);
        EXPECT_STREQ(L"\"HALF", back.general.domainNames[1]);
        EXPECT_EQ((std::vector<std::wstring>{L"-5|10.0.0.5 |65535", L"4094|\"a;b=c\"|1"}),
                  EntryRows(back.vlan));
        ReleaseAll(&back);
        wchar_t owner[16] = L"";
        GetPrivateProfileStringW(L"Site", L"Owner", L"", owner, 16, file.c_str());
        EXPECT_STREQ(c.original != NULL ? L"lab" : L"", owner);
    }
}

TEST_F(ConfigFile, SectionLinesAreTrimmedAsTheProfileFunctionsTrim)
{
    // Lines as a section may list them on Windows, untrimmed; the oracle is a profile read
    // of the same line.
    const wchar_t *lines[] = {
        L"VLANLogoffServer = x",       L"  VLANLogoffServer\t=\t x y \t", L"VLANLogoffServer= \"q\" ",
        L"vlanlogoffserver=low",       L"VLANLogoffServer =",             VALUE_VLAN_LOGOFF_SERVER,
        L"VLANLogoffServerX = 1",      L" = x",                           L"VLANLogoffServer=a=b",
        L"VLANLogoffServer=\x3000全角\x3000",
    };
    std::wstring file = dir + L"\\lines.cfg";
    for (const wchar_t *line : lines) {
        SCOPED_TRACE(test::Narrow(line));
        ASSERT_TRUE(test::WriteUtf16File(file, std::wstring(L"[S]\r\n") + line + L"\r\n"));
        wchar_t expected[64];
        GetPrivateProfileStringW(L"S", VALUE_VLAN_LOGOFF_SERVER, L"<missing>", expected, 64, file.c_str());
        std::wstring list = std::wstring(line) + L'\0' + L'\0';
        wchar_t found[64] = L"<missing>";
        ReadResult result = FindSectionValue(list.c_str(), VALUE_VLAN_LOGOFF_SERVER, found, 64);
        EXPECT_EQ(wcscmp(expected, L"<missing>") == 0 ? VALUE_IS_MISSING : VALUE_WAS_READ, result);
        EXPECT_STREQ(expected, found);
    }
}

TEST_F(ConfigFile, ShippedExampleImportsWhole)
{
    ASSERT_EQ(SETUP_SUCCESS, ImportConfigFile(PORTGATE_EXAMPLE_INI));
    EXPECT_NE(std::wstring::npos, StoredText(NULL, VALUE_MULTI_INTERFACE_MESSAGE).find(L"\\n"));
    EXPECT_EQ((std::set<std::wstring>{L"120", L"4094"}), test::GroupListSubkeys());
    EXPECT_EQ(1u, StoredNumber(NULL, VALUE_NOT_FIND_DOMAIN));
    DWORD port = StoredNumber(NULL, VALUE_VLAN_LOGON_PORT);
    EXPECT_TRUE(port >= PORT_MIN && port <= PORT_MAX) << port;
    ConfigSnapshot snapshot = test::SnapshotConfiguration();
    EXPECT_EQ(1u, snapshot.count(PRODUCT_KEY_PATH L"\\DomainList|CORP"));
    EXPECT_EQ(1u, snapshot.count(PRODUCT_KEY_PATH L"\\DomainList|LAB"));
}

// ---- fuzzing

// What the platform's profile functions, key by key, make of a file, the oracle for an
// import: GroupList subkey -> "server|port" (a later section wins), and "VLAN" -> the
// logon server.
std::map<std::wstring, std::wstring> ViewOf(const std::wstring &file)
{
    auto read = [&](const wchar_t *section, const wchar_t *key) {
        wchar_t value[512];
        GetPrivateProfileStringW(section, key, L"", value, 512, file.c_str());
        return std::wstring(value);
    };
    std::map<std::wstring, std::wstring> view = {{L"VLAN", read(L"VLAN", VALUE_VLAN_LOGON_SERVER)}};
    std::vector<wchar_t> names(1 << 20);
    GetPrivateProfileSectionNamesW(names.data(), (DWORD)names.size(), file.c_str());
    for (const wchar_t *name = names.data(); *name; name += wcslen(name) + 1) {
        if (wcsncmp(name, L"GroupList", 9) != 0)
            continue;
        LONG number = 0;
        ParseConfigNumber(read(name, VALUE_VLAN_LOGOFF_PORT).c_str(), &number);
        view[std::to_wstring(ParseVlanId(name + 9))] =
            read(name, VALUE_VLAN_LOGOFF_SERVER) + L"|" + std::to_wstring((DWORD)number);
    }
    return view;
}

// The same of the product key.
std::map<std::wstring, std::wstring> StoredView()
{
    std::wstring server = StoredText(NULL, VALUE_VLAN_LOGON_SERVER);
    std::map<std::wstring, std::wstring> view = {{L"VLAN", server == L"<missing>" ? L"" : server}};
    for (const auto &id : test::GroupListSubkeys()) {
        std::wstring subkey = SUBKEY_GROUP_LIST L"\\" + id;
        view[id] = StoredText(subkey.c_str(), VALUE_VLAN_LOGOFF_SERVER) + L"|" +
                   std::to_wstring(StoredNumber(subkey.c_str(), VALUE_VLAN_LOGOFF_PORT));
    }
    return view;
}

std::wstring BaseFile()
{
    std::wstring text =
        L"[General]\r\nEnable=0\r\nLogonImage=C:\\logo.bmp\r\nMultiInterfaceCheck=1\r\n"
        L"MultiInterfaceMessage=一行目\\n二行目\r\n[DomainList]\r\n0=CORP\r\n1=LAB\r\n"
        L"[VLAN]\r\nVLANLogonServer=10.0.0.1\r\nVLANLogonPort=6000\r\n"
        L"VLANLogoffServer=10.0.0.2\r\nVLANLogoffPort=6001\r\n";
    for (int id : {10, 9, 100, -5, 4094})
        text += L"[GroupList" + std::to_wstring(id) + L"]\r\nVLANLogoffServer=10.9.9." +
                std::to_wstring(id & 0xff) + L"\r\nVLANLogoffPort=70" + std::to_wstring(id & 7) +
                L"\r\n";
    text += L"[DHCP]\r\nEnableDHCP=1\r\nNotFindDomain=1\r\nWaitIpRenew=2\r\nWaitFindDomain=3\r\n";
    return text;
}

std::wstring Mutate(std::wstring text, std::mt19937 &random)
{
    static const wchar_t *pieces[] = {L"\r\n", L"[", L"]", L"=", L"\"", L"'", L" ", L"\\n",
                                      L"GroupList", L"[GroupList", L"-", L"0", L"\t", L";",
                                      L"\x3042", L"\xFEFF", L"\r", L"\n"};
    int edits = 1 + random() % 6;
    for (int e = 0; e < edits && !text.empty(); e++) {
        size_t at = random() % text.size();
        switch (random() % 6) {
        case 0: text.insert(at, pieces[random() % ARRAYSIZE(pieces)]); break;
        case 1: text.erase(at, 1 + random() % 12); break;
        case 2: text[at] = (wchar_t)(1 + random() % 0x7f); break;
        case 3: text.insert(at, std::wstring(random() % 300, L'x')); break;  // past a limit
        case 4: {  // a line copied elsewhere
            size_t start = text.rfind(L'\n', at);
            start = start == std::wstring::npos ? 0 : start + 1;
            size_t end = text.find(L'\n', at);
            std::wstring line = text.substr(start, end == std::wstring::npos ? end : end - start + 1);
            text.insert(random() % text.size(), line);
            break;
        }
        default: text[at] = (wchar_t)(random() % 0xD7FF + 1); break;
        }
    }
    return text;
}

TEST_F(ConfigFile, FuzzedFilesImportWholeOrNotAtAll)
{
    std::mt19937 random(20261209);
    std::wstring base = BaseFile();
    int imported = 0, refused = 0;
    for (int round = 0; round < 1000; round++) {
        std::wstring file = dir + L"\\fuzz" + std::to_wstring(round % 8) + L".cfg";
        std::wstring text = Mutate(base, random);
        ASSERT_TRUE(round % 3 == 0 ? test::WriteAnsiFile(file, text) : test::WriteUtf16File(file, text)) << round;
        ConfigSnapshot before = test::SnapshotConfiguration();
        int rc = ImportConfigFile(file.c_str());
        ASSERT_TRUE(rc == SETUP_SUCCESS || rc == SETUP_FAILURE) << round;
        if (rc == SETUP_FAILURE) {
            refused++;
            ASSERT_EQ(before, test::SnapshotConfiguration()) << "round " << round;
            continue;
        }
        imported++;
        // Every GroupList subkey comes from a section of the file, with its values, and every
        // section is there.
        ASSERT_EQ(ViewOf(file), StoredView()) << "round " << round;
    }
    printf("fuzz: %d imported, %d refused\n", imported, refused);
    EXPECT_GT(imported, 100);
    EXPECT_GT(refused, 10);
}

}  // namespace
