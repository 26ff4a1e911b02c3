// The logon tile end to end, as the logon screen would drive it: tools/lab/tilehost loads
// wardtile.dll through its registration, fills the fields, submits and answers the
// message boxes, against the real wardhost service and the DE-Zeruzu simulator. Expected
// texts come from the string tables of wardtile.dll and wardhost.exe.
#include "test_support.h"
#include "string_tables.h"
// The service's ids first, the one needed kept under a name of its own: the two tables
// share names with other numbers.
#include "wardhost_res.h"
const UINT SERVICE_AUTH_FAILED = IDS_AUTH_FAILED;
#undef IDS_AUTH_FAILED
#undef IDS_CREDENTIALS_TOO_LONG
#undef IDS_LOGON_CAPTION
#undef IDS_SENDING_REQUEST
#undef IDS_DHCP_ERROR
#undef IDS_DC_NOT_FOUND
#undef IDS_SERVICE_NOT_RUNNING
#undef IDS_REQUESTING_ADDRESS
#undef IDS_SEARCHING_DC
#include "wardtile_res.h"
#include "product_key.h"
#include "time_limits.h"
#include "wardtile.h"
#include "ward_client.h"

#include <gtest/gtest.h>
#include <iphlpapi.h>

#include <functional>
#include <utility>
#include <vector>

namespace {

// tilehost writes UTF-8 lines.
std::string TileText(UINT id) { return test::Narrow(test::ProgramString(L"wardtile.dll", id)); }

using test::Joined;
using test::LineProcess;
using test::Received;

std::wstring Tilehost(const std::wstring &arguments)
{
    return L"\"" + test::BinaryPath(L"tilehost.exe") + L"\" " + arguments;
}
std::wstring RegisterTile() { return Tilehost(L"--register \"" + test::BinaryPath(L"wardtile.dll") + L"\""); }

// What the switch receives from one logon of alice with "secret".
const std::string ALICE_SECRET = Joined({"1\\r\\n", "alice\\r\\n", "secret\\r\\n"});

// The first program of a prefix that touches user32 starts Wine's desktop process, which
// inherits its standard handles and would keep a captured output open for good: start it
// once from a child whose output goes nowhere.
void StartDesktop()
{
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), NULL, TRUE};
    HANDLE nul =
        CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, NULL);
    // --help registers no window; the common controls it loads connect to the desktop.
    HANDLE process = test::StartProcessWritingTo(Tilehost(L"--help"), nul);
    if (process != NULL) {
        WaitForSingleObject(process, 30000);
        CloseHandle(process);
    }
    CloseHandle(nul);
}

class DesktopEnvironment : public ::testing::Environment {
public:
    void SetUp() override { StartDesktop(); }
};
const ::testing::Environment *const g_desktop = ::testing::AddGlobalTestEnvironment(new DesktopEnvironment);

// What tilehost logged after "[   1.234] KIND: ".
std::vector<std::string> Logged(const std::vector<std::string> &lines, const std::string &kind)
{
    std::vector<std::string> found;
    for (const std::string &l : lines) {
        size_t at = l.find("] " + kind + ": ");
        if (l.rfind("[", 0) == 0 && at != std::string::npos)
            found.push_back(l.substr(at + kind.size() + 4));
    }
    return found;
}
std::vector<std::string> Steps(const std::vector<std::string> &lines) { return Logged(lines, "step"); }
// The texts of the message boxes, without caption and answer.
std::vector<std::string> Boxes(const std::vector<std::string> &lines)
{
    std::vector<std::string> texts;
    for (const std::string &box : Logged(lines, "box")) {
        size_t answer = box.rfind(" | ");
        size_t caption = answer != std::string::npos ? box.rfind(" | ", answer - 1) : std::string::npos;
        texts.push_back(caption != std::string::npos ? box.substr(0, caption) : box);
    }
    return texts;
}
// The value of an unstamped "NAME: value" line, or "<none>".
std::string Value(const std::vector<std::string> &lines, const std::string &name)
{
    for (const std::string &l : lines) {
        if (l.rfind(name + ": ", 0) == 0)
            return l.substr(name.size() + 2);
    }
    return "<none>";
}
// The waiting text of the logon retry up to its count of seconds.
std::string WaitingText()
{
    std::string waiting = TileText(IDS_WAITING_FOR_SERVICE);
    return waiting.substr(0, waiting.find('%'));
}

struct Submit {
    std::wstring user = L"alice";
    std::wstring password = L"secret";
    std::wstring domain = L"CORP";
    const wchar_t *answer = L"ok";
    DWORD clockDivisor = 1;  // the tile's clock runs this many times faster
};

// Limits of minutes are run 20 times faster: the tile's own code measures them all the same.
const DWORD FAST_CLOCK = 20;

std::wstring TilehostCommand(const Submit &s)
{
    return Tilehost(L"--user \"" + s.user + L"\" --password \"" + s.password + L"\" --domain \"" + s.domain +
                    L"\" --answer " + s.answer + L" --timeout 400 --clock-divisor " + std::to_wstring(s.clockDivisor));
}

class TileTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        test::UninstallService();
        test::ClearProductKey();
        test::ProcessResult registered = test::RunProcess(RegisterTile());
        ASSERT_EQ(0u, registered.exitCode) << registered.output;
        ASSERT_TRUE(test::InstallService());
    }
    static void TearDownTestSuite()
    {
        test::RunProcess(Tilehost(L"--unregister"));
        test::UninstallService();
        test::ClearProductKey();
    }
    void SetUp() override
    {
        ResetKey();
        if (!test::IsServiceInstalled()) {
            ASSERT_TRUE(test::InstallService());
        }
        if (test::ServiceState() != SERVICE_RUNNING) {
            ASSERT_TRUE(test::StartService());
        }
    }
    static void ResetKey()
    {
        test::ClearProductKey();
        test::SetConfigString(L"DomainList", L"CORP", L"");
        test::SetConfigString(NULL, VALUE_DEFAULT_USER_NAME, L"olduser");
    }
    // Runs tilehost to its end (bounded); its exit code and lines in *lines.
    static DWORD Run(const Submit &s, std::vector<std::string> *lines, DWORD timeoutMs = 60000)
    {
        LineProcess tilehost;
        if (!tilehost.Start(TilehostCommand(s)))
            return STILL_ACTIVE;
        DWORD code = tilehost.Finish(timeoutMs);
        *lines = tilehost.Lines();
        return code;
    }
};

// ---- accepted and refused

TEST_F(TileTest, AcceptedLogonHandsTheTypedWordsToWindows)
{
    test::Simulator simulator;
    ASSERT_TRUE(test::StartSwitch(&simulator, test::ShippedScript(L"logon-group.txt")));
    std::vector<std::string> lines;
    Submit s;
    s.domain = L"corp";  // the list holds it upper-cased
    EXPECT_EQ(0u, Run(s, &lines)) << Joined(lines);
    EXPECT_EQ(std::vector<std::string>{TileText(IDS_SENDING_REQUEST)}, Steps(lines));
    EXPECT_EQ(std::vector<std::string>{}, Boxes(lines));
    EXPECT_EQ(ALICE_SECRET, Joined(Received(simulator.Lines())));
    // The packed logon: 56 + 8 + 10 + 12 bytes, the password masked, never shown.
    EXPECT_EQ("86 bytes, MessageType 2 (KerbInteractiveLogon)", Value(lines, "buffer"));
    std::string all = Joined(lines);
    for (const char *field : {"domain:   \"CORP\" (offset 56, 8 bytes)", "user:     \"alice\" (offset 64, 10 bytes)",
                              "password: \"******\" (offset 74, 12 bytes)"})
        EXPECT_NE(std::string::npos, all.find(field)) << all;
    EXPECT_EQ(std::string::npos, all.find("secret")) << all;
    // "Negotiate" resolved through the real LSA lookup (the test package of the prefix).
    EXPECT_GT(atoi(Value(lines, "package").c_str()), 0) << Value(lines, "package");
    EXPECT_EQ("{5E1C2A94-3B07-4D6F-9A18-C2E4B7D05F31}", Value(lines, "provider"));
    EXPECT_EQ("0x00000000 (the module may go)", Value(lines, "DllCanUnloadNow"));
    EXPECT_EQ("yes", Value(lines, "unloaded"));
    std::wstring stored;
    EXPECT_TRUE(test::GetConfigString(NULL, VALUE_DEFAULT_USER_NAME, &stored));
    EXPECT_EQ(L"alice", stored);
}

TEST_F(TileTest, RefusedLogonShowsTheServicesTextAndKeepsTheTile)
{
    test::Simulator simulator;
    ASSERT_TRUE(test::StartSwitch(&simulator, test::ShippedScript(L"logon-failed.txt")));
    std::vector<std::string> lines;
    EXPECT_EQ(1u, Run(Submit(), &lines)) << Joined(lines);
    EXPECT_EQ(std::vector<std::string>{test::Narrow(test::WardhostString(SERVICE_AUTH_FAILED))}, Boxes(lines));
    EXPECT_EQ("no credential", Value(lines, "outcome"));
    EXPECT_EQ("<none>", Value(lines, "package"));
    EXPECT_EQ("0x00000000 (the module may go)", Value(lines, "DllCanUnloadNow"));
}

// tilehost's own window, driven as a user would: typing sends each change to the tile,
// choosing a "Log on to" entry selects it, the submit button submits.
TEST_F(TileTest, WindowDrivesTheTileAsTheLogonScreenDoes)
{
    test::Simulator simulator;
    ASSERT_TRUE(test::StartSwitch(&simulator, test::ShippedScript(L"logon-group.txt")));
    LineProcess tilehost;
    ASSERT_TRUE(tilehost.Start(Tilehost(L"")));
    // "[   0.123] window: 00000000000A0042", once every control of it exists.
    std::string ready = tilehost.WaitForText("] window: ", 30000);
    ASSERT_NE("", ready);
    HWND window = reinterpret_cast<HWND>(
        static_cast<ULONG_PTR>(strtoull(ready.c_str() + ready.find("window: ") + 8, NULL, 16)));
    ASSERT_TRUE(IsWindow(window)) << ready;
    // tilehost gives the control of field N the id 100 + N.
    auto control = [](int field) { return 100 + field; };
    SendMessageW(GetDlgItem(window, control(FIELD_USER_NAME)), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"alice"));
    SendMessageW(GetDlgItem(window, control(FIELD_PASSWORD)), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"secret"));
    HWND list = GetDlgItem(window, control(FIELD_DOMAIN));
    // The entry at index 1 (CORP and the computer name are listed) is chosen.
    WCHAR second[MAX_COMPUTERNAME_LENGTH + 1] = L"";
    ASSERT_LT(SendMessageW(list, CB_GETLBTEXTLEN, 1, 0), (LRESULT)ARRAYSIZE(second));
    ASSERT_GT(SendMessageW(list, CB_GETLBTEXT, 1, reinterpret_cast<LPARAM>(second)), 0);
    SendMessageW(list, CB_SETCURSEL, 1, 0);
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(control(FIELD_DOMAIN), CBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
    HWND submit = GetDlgItem(window, control(FIELD_SUBMIT));
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(control(FIELD_SUBMIT), BN_CLICKED), reinterpret_cast<LPARAM>(submit));

    // A returned credential closes the window, as the logon screen goes away.
    EXPECT_EQ(0u, tilehost.Finish(60000)) << Joined(tilehost.Lines());
    std::string all = Joined(tilehost.Lines());
    for (std::string field : {"domain:   \"" + test::Narrow(second) + "\"", std::string("user:     \"alice\""),
                              std::string("password: \"******\"")})
        EXPECT_NE(std::string::npos, all.find(field)) << all;
    EXPECT_EQ(ALICE_SECRET, Joined(Received(simulator.Lines())));
}

// ---- the service late or absent

TEST_F(TileTest, ServiceStartedLateIsReachedByTheLogonRetry)
{
    test::Simulator simulator;
    ASSERT_TRUE(test::StartSwitch(&simulator, test::ShippedScript(L"logon-group.txt")));
    ASSERT_TRUE(test::StopService());
    LineProcess tilehost;
    ASSERT_TRUE(tilehost.Start(TilehostCommand(Submit())));
    ASSERT_NE("", tilehost.WaitForText("step: " + TileText(IDS_SENDING_REQUEST), 30000));
    // Meanwhile the dialog says that it waits for the service, and for how long.
    ASSERT_NE("", WaitingText());
    EXPECT_NE("", tilehost.WaitForText("step: " + WaitingText() + "3", 30000)) << Joined(tilehost.Lines());
    ASSERT_TRUE(test::StartService());
    EXPECT_EQ(0u, tilehost.Finish(150000)) << Joined(tilehost.Lines());
    EXPECT_EQ(std::vector<std::string>{}, Boxes(tilehost.Lines()));
    // One logon reached the switch, however many attempts found no service.
    EXPECT_EQ(ALICE_SECRET, Joined(Received(simulator.Lines())));
}

// The tile keeps trying for its whole retry limit, counted by its own clock (run faster
// here), then tells the user.
TEST_F(TileTest, ServiceAbsentIsReportedAfterTheRetries)
{
    test::UninstallService();
    Submit fast;
    fast.clockDivisor = FAST_CLOCK;
    std::vector<std::string> lines;
    EXPECT_EQ(1u, Run(fast, &lines, 60000)) << Joined(lines);
    EXPECT_EQ(std::vector<std::string>{TileText(IDS_SERVICE_NOT_RUNNING)}, Boxes(lines));
    // The last waiting text counts the seconds of the last pause before the final attempt.
    const std::string waiting = WaitingText();
    ASSERT_NE("", waiting);
    int lastShown = -1;
    for (const std::string &step : Steps(lines)) {
        if (step.rfind(waiting, 0) == 0)
            lastShown = atoi(step.c_str() + waiting.size());
    }
    EXPECT_GE(lastShown, (int)((LOGON_RETRY_MS - LOGON_RETRY_PAUSE_MS) / 1000)) << Joined(lines);
}

// ---- words that must never reach the service

TEST_F(TileTest, BlankOrOverlongWordsAreRefusedBeforeTheService)
{
    test::SetConfigString(L"DomainList", L"MY DOM", L"");
    test::Simulator simulator;
    ASSERT_TRUE(test::StartSwitch(&simulator, test::ShippedScript(L"logon-group.txt")));
    struct {
        const char *name;
        Submit submit;
        UINT textId;
    } cases[] = {
        // The words' rules are the shared client's; what only this path has is the domain
        // chosen from the list, which is a word of the request and counts in its length.
        {"blank in the domain", {L"alice", L"secret", L"MY DOM"}, IDS_CREDENTIALS_BLANK},
        // "logon " + 240 + " " + 8 + " " + 4 = 260 units: one more than the request holds.
        {"request one unit too long", {std::wstring(240, L'u'), L"password", L"CORP"}, IDS_CREDENTIALS_TOO_LONG},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> lines;
        EXPECT_EQ(1u, Run(c.submit, &lines)) << Joined(lines);
        EXPECT_EQ(std::vector<std::string>{TileText(c.textId)}, Boxes(lines));
        EXPECT_EQ(std::vector<std::string>{}, Steps(lines));
    }
    // Nothing reached the switch and nothing was stored.
    for (const std::string &l : simulator.Lines())
        EXPECT_NE("conn: open", l);
    std::wstring stored;
    EXPECT_TRUE(test::GetConfigString(NULL, VALUE_DEFAULT_USER_NAME, &stored));
    EXPECT_EQ(L"olduser", stored);
}

// ---- answers the real service never gives, from standin_service.exe under its name

class StandInTest : public TileTest {
protected:
    void SetUp() override { dir_ = test::MakeTempDir(L"portgate-standin"); }
    void TearDown() override
    {
        test::UninstallService();
        test::RemoveTree(dir_);
    }
    std::wstring dir_;
};

TEST_F(StandInTest, AnswersDecideTheStepsAndTheOutcome)
{
    const std::string sending = TileText(IDS_SENDING_REQUEST), renewing = TileText(IDS_REQUESTING_ADDRESS),
                      searching = TileText(IDS_SEARCHING_DC), absent = TileText(IDS_SERVICE_NOT_RUNNING);
    const std::pair<const wchar_t *, DWORD> renewOnly[] = {{VALUE_ENABLE_DHCP, 1}, {VALUE_NOT_FIND_DOMAIN, 1}};
    struct {
        const char *name;
        std::vector<std::wstring> mode;
        std::vector<std::pair<const wchar_t *, DWORD>> config;
        DWORD clockDivisor, timeoutMs, exitCode;
        std::vector<std::string> steps, boxes;
        const char *requests;
    } cases[] = {
        // Connected, never answered: the tile gives up after its reply limit (run faster)
        // and reports the service as not reachable, instead of hanging; it does not send again.
        {"hung", {L"hang"}, {}, FAST_CLOCK, WARD_REPLY_TIMEOUT_MS / FAST_CLOCK + 30000, 1, {sending}, {absent},
         "requests 1\n"},
        // After the accepted logon, EnableDHCP and NotFindDomain decide the steps; a refusal
        // without a text of its own shows the step's text.
        {"renewal refused", {L"replies", L"OK", L"NG"}, {renewOnly[0], renewOnly[1]}, 1, 60000, 1,
         {sending, renewing}, {TileText(IDS_DHCP_ERROR)}, "requests 2\n"},
        {"renewal, no search", {L"replies", L"OK", L"OK"}, {renewOnly[0], renewOnly[1]}, 1, 60000, 0,
         {sending, renewing}, {}, "requests 2\n"},
        {"renewal and search", {L"replies", L"OK", L"OK", L"OK"}, {renewOnly[0], {VALUE_NOT_FIND_DOMAIN, 0}}, 1, 60000, 0,
         {sending, renewing, searching}, {}, "requests 3\n"},
        {"search refused", {L"replies", L"OK", L"OK", L"NG"}, {renewOnly[0], {VALUE_NOT_FIND_DOMAIN, 0}}, 1, 60000, 1,
         {sending, renewing, searching}, {TileText(IDS_DC_NOT_FOUND)}, "requests 3\n"},
        // A wait stored as "-1" (4294967295 s) is held to its maximum: the submit goes on
        // after it (run faster) to the renewal, within the bound.
        {"wait beyond its maximum", {L"replies", L"OK"}, {renewOnly[0], renewOnly[1], {VALUE_WAIT_IP_RENEW, 0xFFFFFFFF}},
         FAST_CLOCK, WAIT_SECONDS_MAX * 1000 / FAST_CLOCK + 30000, 0, {sending, renewing}, {}, "requests 2\n"},
        // A reply that fills the 520-byte buffer has no terminator; a longer one fails with
        // ERROR_MORE_DATA after the logon ran: both are shown as received, never sent again.
        {"reply of 520 bytes", {L"long", L"260"}, {}, 1, 60000, 0, {sending}, {std::string(258, 'x')},
         "requests 1\n"},
        {"reply of 600 bytes", {L"long", L"300"}, {}, 1, 60000, 0, {sending}, {std::string(258, 'x')},
         "requests 1\n"},
        // "iprenew" follows the accepted logon at once and can meet the service between two
        // connections: a short gap is bridged by retrying, a long one is the service gone.
        {"gap of 200 ms", {L"gap", L"200"}, {renewOnly[0], renewOnly[1]}, 1, 60000, 0, {sending, renewing}, {},
         "requests 2\n"},
        {"gap of 5 s", {L"gap", L"5000"}, {renewOnly[0], renewOnly[1]}, 1, 60000, 1, {sending, renewing}, {absent},
         "requests 1\n"},
    };
    const std::wstring report = dir_ + L"\\requests.txt";
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        test::UninstallService();
        ResetKey();
        // Waits of their default length would only slow the renewal and the search.
        test::SetConfigDword(NULL, VALUE_WAIT_IP_RENEW, 0);
        test::SetConfigDword(NULL, VALUE_WAIT_FIND_DOMAIN, 0);
        for (const auto &value : c.config)
            test::SetConfigDword(NULL, value.first, value.second);
        ASSERT_TRUE(test::StartStandInService(report, c.mode));
        Submit submit;
        submit.clockDivisor = c.clockDivisor;
        std::vector<std::string> lines;
        EXPECT_EQ(c.exitCode, Run(submit, &lines, c.timeoutMs)) << Joined(lines);
        EXPECT_EQ(Joined(c.steps), Joined(Steps(lines)));
        EXPECT_EQ(Joined(c.boxes), Joined(Boxes(lines)));
        EXPECT_EQ(c.requests, test::ReadFileBytes(report));
    }
}
// ---- registration faults, as tilehost reports them

TEST(TileRegistration, FaultsAreReportedBeforeAnythingIsLoaded)
{
    const std::wstring clsid = L"{5E1C2A94-3B07-4D6F-9A18-C2E4B7D05F31}";
    const std::wstring entry =
        L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Authentication\\Credential Providers\\" + clsid;
    const std::wstring server = L"SOFTWARE\\Classes\\CLSID\\" + clsid + L"\\InprocServer32";
    const std::wstring dll = test::BinaryPath(L"wardtile.dll");
    auto setServer = [&](const wchar_t *name, const std::wstring &value) {
        RegSetKeyValueW(HKEY_LOCAL_MACHINE, server.c_str(), name, REG_SZ, value.c_str(),
                        (DWORD)((value.size() + 1) * sizeof(wchar_t)));
    };
    struct {
        const char *name;
        std::function<void()> spoil;
        const char *fault;
    } cases[] = {
        {"no entry under Credential Providers", [&] { RegDeleteKeyW(HKEY_LOCAL_MACHINE, entry.c_str()); },
         "registration fault: provider entry missing"},
        {"no class key", [&] { RegDeleteTreeW(HKEY_LOCAL_MACHINE, (L"SOFTWARE\\Classes\\CLSID\\" + clsid).c_str()); },
         "registration fault: class key missing"},
        {"empty server path", [&] { setServer(NULL, L""); }, "registration fault: server path missing"},
        {"server file missing", [&] { setServer(NULL, dll + L".gone"); }, "registration fault: server not loadable"},
        {"no threading model", [&] { RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, server.c_str(), L"ThreadingModel"); },
         "registration fault: ThreadingModel missing"},
        {"free threading model", [&] { setServer(L"ThreadingModel", L"Free"); },
         "registration fault: ThreadingModel is \"Free\""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(0u, test::RunProcess(RegisterTile()).exitCode);
        c.spoil();
        test::ProcessResult result = test::RunProcess(Tilehost(L"--user a --password b"));
        EXPECT_EQ(3u, result.exitCode) << result.output;
        EXPECT_NE(std::string::npos, result.output.find(c.fault)) << result.output;
        EXPECT_EQ(std::string::npos, result.output.find("created:")) << result.output;
    }
    test::RunProcess(Tilehost(L"--unregister"));
}

// ---- the language of the texts compared above

TEST(TileTexts, ComeFromTheExpectedLanguage)
{
    test::ResourceImage tile(test::BinaryPath(L"wardtile.dll"));
    ASSERT_NE(nullptr, tile.module);
    for (UINT id : {IDS_SENDING_REQUEST, IDS_SERVICE_NOT_RUNNING, IDS_CREDENTIALS_BLANK}) {
        std::wstring expected = test::StringOfLanguage(tile.module, id, test::ExpectedLanguage());
        ASSERT_NE(L"", expected) << id;
        EXPECT_EQ(expected, test::ProgramString(L"wardtile.dll", id)) << id;
    }
}

// ---- several interfaces (run by tilehost_interfaces.sh in a network namespace of its own)

TEST(SeveralInterfaces, WarningComesBackUntilCancelled)
{
    ULONG size = 0;
    GetIpAddrTable(NULL, &size, FALSE);
    std::vector<BYTE> block(size + sizeof(MIB_IPADDRTABLE));
    PMIB_IPADDRTABLE table = reinterpret_cast<PMIB_IPADDRTABLE>(block.data());
    int external = 0;
    if (GetIpAddrTable(table, &size, FALSE) == NO_ERROR) {
        for (DWORD i = 0; i < table->dwNumEntries; i++)
            external += table->table[i].dwAddr != htonl(INADDR_LOOPBACK) && table->table[i].dwAddr != 0;
    }
    if (external < 2)
        GTEST_SKIP() << "this workstation shows " << external << " IPv4 address(es) besides 127.0.0.1";
    ASSERT_EQ(0u, test::RunProcess(RegisterTile()).exitCode);
    test::SetConfigDword(NULL, VALUE_MULTI_INTERFACE_CHECK, 1);
    test::SetConfigString(NULL, VALUE_MULTI_INTERFACE_MESSAGE, L"Unplug\\none cable");
    const std::string warning = "Unplug\\none cable";  // tilehost shows the line feed as \n
    // Cancel: no credential and no request (there is no service in this prefix to ask). OK
    // while both addresses stay: the warning comes back, and still nothing is sent.
    for (bool cancel : {true, false}) {
        SCOPED_TRACE(cancel ? "cancel" : "ok");
        LineProcess run;
        ASSERT_TRUE(run.Start(Tilehost(L"--user alice --password secret --answer ") + (cancel ? L"cancel" : L"ok")));
        if (cancel) {
            EXPECT_EQ(1u, run.Finish(60000)) << Joined(run.Lines());
        } else {
            auto twice = [](const std::vector<std::string> &l) { return Boxes(l).size() >= 2; };
            EXPECT_TRUE(run.WaitUntil(twice, 60000));
            run.Kill();
        }
        // With OK the warning may have come once more before the kill.
        std::vector<std::string> boxes = Boxes(run.Lines());
        if (!cancel && boxes.size() > 2)
            boxes.resize(2);
        EXPECT_EQ(std::vector<std::string>(cancel ? 1 : 2, warning), boxes);
        EXPECT_EQ(std::vector<std::string>{}, Steps(run.Lines()));
    }
    test::RunProcess(Tilehost(L"--unregister"));
    test::ClearProductKey();
}

}  // namespace
