// The "logon" and "logoff" operations of the real service, driven through its pipe,
// against the DE-Zeruzu simulator on 127.0.0.1.
#include "test_support.h"
#include "setup_support.h"
#include "wardhost_res.h"

#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <thread>
#include <time.h>
#include <vector>

namespace {

using test::Simulator;

using test::Joined;
using test::Received;
using test::ShippedScript;

using test::MISSING_NUMBER;
using test::StoredNumber;
using test::StoredText;

class VlanDialogueTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        test::UninstallService();
        test::ClearProductKey();
        // Read once when the service process starts.
        logPath_ = test::LogToTempFile(L"portgate-vlan", &logDir_);
        // The dialogues' own time limits are tested in-process: the scaled build only
        // pauses less after each reply line.
        ASSERT_TRUE(test::InstallService(L"wardhost_scaled.exe"));
    }
    static void TearDownTestSuite()
    {
        test::UninstallService();
        test::ClearProductKey();
        test::RemoveTree(logDir_);
    }
    void SetUp() override
    {
        test::ClearProductKey();
        test::SetLogFile(logPath_);
        ASSERT_TRUE(test::StartService());  // again after a test that stopped it
        scriptDir_ = test::MakeTempDir(L"portgate-vlan-scripts");
    }
    void TearDown() override { test::RemoveTree(scriptDir_); }

    std::wstring WriteScript(const std::string &text) { return test::WriteScript(scriptDir_, text); }

    // The state values a logon may change, preset so that a change is visible.
    static void PresetState()
    {
        test::SetConfigDword(NULL, VALUE_VLAN_LOGON, 1);
        test::SetConfigDword(NULL, VALUE_GROUP_NUMBER, 7);
        test::SetConfigDword(NULL, VALUE_LOGON_DATE, 12345);
        test::SetConfigString(NULL, VALUE_DEFAULT_USER_NAME, L"olduser");
        test::SetConfigString(NULL, VALUE_DEFAULT_DOMAIN_NAME, L"OLDDOM");
    }

    static size_t LogSize() { return test::ReadFileBytes(logPath_).size(); }

    // The lines written since offset, without their time stamps.
    static std::string LogSince(size_t offset)
    {
        std::string log = test::ReadFileBytes(logPath_);
        log = offset < log.size() ? log.substr(offset) : std::string();
        static const std::regex stamp("(^|\n)\\d\\d:\\d\\d:\\d\\d\\.\\d{3} \\[SERVICE \\] ");
        return std::regex_replace(log, stamp, "$1");
    }

    static std::wstring logDir_;
    static std::wstring logPath_;
    std::wstring scriptDir_;
};

std::wstring VlanDialogueTest::logDir_;
std::wstring VlanDialogueTest::logPath_;

// As the log's text-mode file writes lines (none of these holds an LF).
std::string LogLines(std::initializer_list<std::string> messages)
{
    std::string text;
    for (const std::string &m : messages)
        text += m + "\r\n";
    return text;
}

// The service's replies, in the language of its string table.
std::wstring SocketErrorReply(int error)
{
    return L"NG" + test::WardhostText(IDS_SOCKET_ERROR, L"recv()", error);
}

std::wstring Reply(UINT id)
{
    return L"NG" + test::WardhostString(id);
}

// A reset brings FD_CLOSE without a zero-byte receive. Windows reports WSAECONNRESET with
// it, Wine reports 0; a dialogue that ignored it would end only at the time-out (10060).
const wchar_t RESET_REPLY[] = L"<reset>";
void ExpectReply(const std::wstring &expected, const std::wstring &reply)
{
    if (expected == RESET_REPLY)
        EXPECT_TRUE(reply == SocketErrorReply(0) || reply == SocketErrorReply(10054)) << test::Narrow(reply);
    else
        EXPECT_EQ(expected, reply);
}

const char PROMPTS_THEN[] =
    "send \"Connect(1) / Disconnect(2): \"\n"
    "expect \"1\"\n"
    "send \"Login Name? \"\n"
    "expectany\n"
    "send \"Password? \"\n"
    "expectany\n";

// ---- logon exchanges

struct LogonCase {
    const char *name;
    const wchar_t *shipped;  // a script of tools/lab/dezsim/scripts, or NULL for `script`
    std::string script;
    std::wstring reply;
    std::vector<std::string> received;
    DWORD groupAfter;                              // the preset is 7
    std::wstring request = L"logon alice secret";  // a domain in it replaces OLDDOM on success
};

// The local date and time as DomainList records it.
std::wstring Stamp()
{
    wchar_t date[80], clock[80];
    GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, NULL, NULL, date, 80);
    GetTimeFormatW(LOCALE_USER_DEFAULT, 0, NULL, NULL, clock, 80);
    return std::wstring(date) + L" " + clock;
}

// DomainList as a snapshot of the key shows it: "\\" for the key, then "|name=1:text" for
// each text value; empty without DomainList.
std::wstring DomainList()
{
    const std::wstring list = PRODUCT_KEY_PATH L"\\" SUBKEY_DOMAIN_LIST;
    std::wstring listed;
    for (const auto &entry : test::SnapshotConfiguration()) {
        if (entry.first.rfind(list, 0) == 0)
            listed += entry.first.substr(list.size()) + (entry.second.empty() ? L"" : L"=" + entry.second);
    }
    return listed;
}

// A domain other than the computer's own name is recorded in DomainList with the time.
TEST_F(VlanDialogueTest, LogonExchanges)
{
    wchar_t computer[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD chars = ARRAYSIZE(computer);
    ASSERT_TRUE(GetComputerNameW(computer, &chars));
    std::wstring lowerComputer = computer;
    CharLowerW(&lowerComputer[0]);
    const std::vector<std::string> usual = {"1\\r\\n", "alice\\r\\n", "secret\\r\\n"};
    const std::wstring closed = SocketErrorReply(0);
    const LogonCase cases[] = {
        {"group number after success in one piece", L"logon-group.txt", "", L"OK", usual, 3},
        {"vlan number with User ID and Password prompts", L"logon-vlan.txt", "", L"OK", usual, 20},
        {"Authentication Succeeded alone keeps the group", L"logon-succeeded.txt", "", L"OK", usual, 7},
        {"vlan without a number stores 0", NULL,
         std::string(PROMPTS_THEN) + "send \"Successfully moved to vlan\\r\\n\"\n", L"OK", usual, 0},
        {"Authentication Failed", L"logon-failed.txt", "", Reply(IDS_AUTH_FAILED), usual, 7},
        {"connect prompt and login prompt in one piece: only 1 is sent", L"logon-combined.txt", "", L"OK",
         {"1\\r\\n", "secret\\r\\n"}, 3},
        {"failure text in lower case is ignored until the close", NULL,
         std::string(PROMPTS_THEN) + "send \"authentication failed\\r\\n\"\nclose\n", closed, usual, 7},
        {"close after the connect prompt", L"close-early.txt", "", closed, {"1\\r\\n"}, 7},
        {"reset after the connect prompt: only FD_CLOSE reports it", NULL,
         "send \"Connect(1) / Disconnect(2): \"\nexpect \"1\"\nreset\n", RESET_REPLY, {"1\\r\\n"}, 7},
        {"prompt split over two pieces is not recognised", NULL,
         "send \"Connect(1) / Dis\"\nsleep 100\nsend \"connect(2): \"\nclose\n", closed, {}, 7},
        {"non-text bytes before the prompt in the same piece", NULL,
         "send \"\\xff\\xfb\\x01\\x80\\xfe\\x1b[2JConnect(1) / Disconnect(2): \"\n"
         "expect \"1\"\nsend \"Login Name? \"\nexpectany\nsend \"Password? \"\nexpectany\n"
         "send \"Authentication Succeeded\\r\\n\"\n",
         L"OK", usual, 7},
        {"a NUL ends the text: the prompt after it is dropped", NULL,
         "send \"\\x00Connect(1) / Disconnect(2): \"\nclose\n", closed, {}, 7},
        {"flood of unrelated text, then close", NULL,
         "flood 2000 \"Port 12 link up, speed 100M full duplex, no change in state.\\r\\n\"\nclose\n", closed,
         {}, 7},
        {"user name only: empty password line", L"logon-group.txt", "", L"OK",
         {"1\\r\\n", "bob\\r\\n", "\\r\\n"}, 3, L"logon bob"},
        {"command word in capitals, double blanks, a domain", L"logon-group.txt", "", L"OK",
         {"1\\r\\n", "carol\\r\\n", "pw\\r\\n"}, 3, L"LOGON  carol  pw  CORP"},
        {"a domain, refused", L"logon-failed.txt", "", Reply(IDS_AUTH_FAILED), usual, 7,
         L"logon alice secret CORP"},
        {"a dotted domain", L"logon-succeeded.txt", "", L"OK", usual, 7, L"logon alice secret lab.example"},
        {"the computer's own name is no other domain", L"logon-succeeded.txt", "", L"OK", usual, 7,
         L"logon alice secret " + lowerComputer},
    };
    for (const LogonCase &c : cases) {
        SCOPED_TRACE(c.name);
        test::ClearProductKey();
        PresetState();
        Simulator simulator;
        ASSERT_TRUE(simulator.Start(c.shipped ? ShippedScript(c.shipped) : WriteScript(c.script)));
        test::PointSwitchAt(simulator.Port());
        DWORD before = (DWORD)time(NULL);
        std::wstring first = Stamp(), reply = test::CallPipe(c.request), last = Stamp();
        DWORD after = (DWORD)time(NULL);
        std::vector<std::string> lines = simulator.Finish();

        ExpectReply(c.reply, reply);
        EXPECT_EQ(Joined(c.received), Joined(Received(lines)));
        bool success = reply == L"OK";
        EXPECT_EQ(success ? 2u : 1u, StoredNumber(NULL, VALUE_VLAN_LOGON));
        EXPECT_EQ(c.groupAfter, StoredNumber(NULL, VALUE_GROUP_NUMBER));
        DWORD date = StoredNumber(NULL, VALUE_LOGON_DATE);
        std::wstring command, user, password, domain;
        std::wistringstream(c.request) >> command >> user >> password >> domain;
        if (success) {
            EXPECT_GE(date, before);
            EXPECT_LE(date, after);
        } else {
            EXPECT_EQ(12345u, date);
        }
        EXPECT_EQ(success ? user : L"olduser", StoredText(NULL, VALUE_DEFAULT_USER_NAME));
        EXPECT_EQ(success && !domain.empty() ? domain : L"OLDDOM", StoredText(NULL, VALUE_DEFAULT_DOMAIN_NAME));
        std::wstring listed = DomainList();
        if (success && !domain.empty() && domain != lowerComputer) {
            EXPECT_TRUE(listed == L"\\|" + domain + L"=1:" + first || listed == L"\\|" + domain + L"=1:" + last)
                << test::Narrow(listed) << " is neither " << test::Narrow(first) << " nor " << test::Narrow(last);
        } else {
            EXPECT_EQ(L"", listed);
        }
    }
}

// ---- failures before any exchange

TEST_F(VlanDialogueTest, LogonFailuresBeforeAnyExchange)
{
    Simulator simulator;
    ASSERT_TRUE(simulator.Start(ShippedScript(L"logon-group.txt")));
    const DWORD port = simulator.Port();
    const std::wstring unresolvable = std::wstring(64, L'n') + L".invalid";
    const std::wstring tooLong = std::wstring(249, L'n') + L".invalid";
    const std::wstring none = Reply(IDS_NO_LOGON_SERVER);
    struct {
        const char *name;
        const wchar_t *server;    // NULL: not set
        DWORD port;               // 0: not set
        const wchar_t *textPort;  // a port stored as REG_SZ instead
        std::wstring reply;
    } cases[] = {
        {"nothing configured", NULL, 0, NULL, none},
        {"port 0 with a server", L"127.0.0.1", 0, NULL, none},
        {"empty server with a port", L"", port, NULL, none},
        // As the configuration tool reads it: a server of 256 or more characters is none.
        {"server of 257 characters", tooLong.c_str(), port, NULL, none},
        // A port stored as text is no port either (L"1" would read as 49).
        {"port as text", L"127.0.0.1", 0, L"1", none},
        // A port beyond 65535 is no port: cut to 16 bits it would be another one.
        {"port beyond 16 bits", L"127.0.0.1", 0x10000u | port, NULL, none},
        {"name the real resolver can't resolve", unresolvable.c_str(), port, NULL,
         L"NG" + test::WardhostText(IDS_CANNOT_CONNECT_LOGON, unresolvable.c_str())},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        test::ClearProductKey();
        PresetState();
        if (c.server != NULL)
            test::SetConfigString(NULL, VALUE_VLAN_LOGON_SERVER, c.server);
        if (c.port != 0)
            test::SetConfigDword(NULL, VALUE_VLAN_LOGON_PORT, c.port);
        if (c.textPort != NULL)
            test::SetConfigString(NULL, VALUE_VLAN_LOGON_PORT, c.textPort);
        EXPECT_EQ(c.reply, test::CallPipe(L"logon alice secret CORP"));
        EXPECT_EQ(1u, StoredNumber(NULL, VALUE_VLAN_LOGON));
        EXPECT_EQ(L"olduser", StoredText(NULL, VALUE_DEFAULT_USER_NAME));
    }
    EXPECT_EQ(0, test::Connections(simulator.Kill())) << "the password went to a port not configured";
}

// ---- trace lines

TEST_F(VlanDialogueTest, TraceOfASuccessAndOfFailures)
{
    const std::string init = LogLines({"VLANLogonDlgInit() --- start ---", "  user name: alice",
                                       "  password: ********", "VLANLogonDlgInit() --- end ---"});
    auto connect = [](int port) {
        return LogLines({"VLANLogonConnectStart() --- start ---", "  VLAN Logon server IP adress = 127.0.0.1",
                         "  VLAN Logon server port no   = " + std::to_string(port)});
    };
    auto received = [](std::initializer_list<std::string> analysis) {
        return LogLines({"VLANLogonReceiveData() --- start ---"}) + LogLines(analysis) +
               LogLines({"VLANLogonReceiveData() --- end ---"});
    };
    auto prompt = [&](const std::string &text) {
        return received({"VLANLogonAnalyze() --- start ---", "  " + text, "VLANLogonAnalyze() --- end ---"});
    };
    const std::string answer = "  \\x0d\\x0aSuccessfully moved to vlan 20\\x0d\\x0a";
    const std::string exit = LogLines({"VLANLogonDlgExit() --- start ---", "VLANLogonDlgExit() --- exit ---"});
    const std::string connected = LogLines({"VLANLogonConnectStart() --- end ---"});
    Simulator ended;
    ASSERT_TRUE(ended.Start(ShippedScript(L"silent.txt")));
    const int closedPort = ended.Port();
    ended.Kill();  // nobody listens on its port now
    struct {
        const wchar_t *script;  // NULL: nobody listens on the port
        std::wstring reply;
        std::string exchange;
    } cases[] = {
        {L"logon-vlan.txt", L"OK",
         connected + prompt("Connect(1) / Disconnect(2): ") + prompt("User ID: ") + prompt("Password: ") +
             received({"VLANLogonAnalyze() --- start ---", answer, "VLANLogonAnalyze() --- start ---", answer,
                       "VLANLogonAnalyzeSuccess() --- start ---", "VLANSocketClose()",
                       "VLANLogonAnalyzeSuccess() --- end ---", "VLANLogonAnalyze() --- end ---",
                       "VLANLogonAnalyze() --- end ---"})},
        {L"logon-failed.txt", Reply(IDS_AUTH_FAILED),
         connected + prompt("Connect(1) / Disconnect(2): ") + prompt("Login Name? ") + prompt("Password? ") +
             received({"VLANLogonAnalyze() --- start ---", "  \\x0d\\x0aAuthentication Failed\\x0d\\x0a",
                       "VLANLogonAnalyzeFail() --- start ---", "VLANSocketClose()",
                       "VLANLogonAnalyzeFail() --- end ---", "VLANLogonAnalyze() --- end ---"})},
        {NULL, L"NG" + test::WardhostText(IDS_CANNOT_CONNECT_LOGON, L"127.0.0.1"),
         LogLines({"  connect() error = 0x0000274D", "VLANSocketClose()"})},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.script ? test::Narrow(c.script) : "closed port");
        Simulator simulator;
        if (c.script != NULL) {
            ASSERT_TRUE(simulator.Start(ShippedScript(c.script)));
        }
        int port = c.script != NULL ? simulator.Port() : closedPort;
        test::PointSwitchAt(port);
        size_t offset = LogSize();
        ASSERT_EQ(c.reply, test::CallPipe(L"logon alice secret"));
        if (c.script != NULL)
            simulator.Finish();
        std::string log = LogSince(offset);
        EXPECT_EQ(init + connect(port) + c.exchange + exit, log);
        EXPECT_EQ(std::string::npos, log.find("secret"));
    }
}

// What a client or the switch sends can't start a line of its own in the log, and a
// switch that echoes the password does not put it there.
TEST_F(VlanDialogueTest, LogEscapesClientTextsAndMasksAnEchoedPassword)
{
    Simulator simulator;
    ASSERT_TRUE(simulator.Start(WriteScript(
        // The user name arrives as two lines.
        "send \"Connect(1) / Disconnect(2): \"\nexpect \"1\"\nsend \"Login Name? \"\nexpectany\n"
        "expectany\n"
        "send \"Password? \"\nexpectany\n"
        "send \"s3cr3t-echo\\r\\nAuthentication Succeeded\\r\\n\"\n")));
    test::PointSwitchAt(simulator.Port());
    size_t offset = LogSize();
    EXPECT_EQ(L"OK", test::CallPipe(L"logon eve\n04:00:00.000\t[SERVICE\r s3cr3t-echo"));
    simulator.Finish();
    std::string log = LogSince(offset);
    EXPECT_NE(std::string::npos, log.find("  user name: eve\\x0a04:00:00.000\\x09[SERVICE\\x0d\r\n")) << log;
    EXPECT_NE(std::string::npos, log.find("  ********\\x0d\\x0aAuthentication Succeeded\\x0d\\x0a\r\n")) << log;
    EXPECT_EQ(std::string::npos, log.find("s3cr3t")) << "the echoed password reached the log";
    // Every line is one of the service's: the stamp was stripped from each.
    EXPECT_EQ(std::string::npos, log.find("\n04:00")) << log;
}

// ---- stop

// A stop that arrives while an operation runs waits for it and its reply.
TEST_F(VlanDialogueTest, StopDuringALogonIsHonouredAfterTheReply)
{
    Simulator simulator;
    ASSERT_TRUE(simulator.Start(WriteScript(std::string(PROMPTS_THEN) +
                                            "sleep 1500\nsend \"Authentication Succeeded\\r\\n\"\n")));
    test::PointSwitchAt(simulator.Port());
    std::wstring reply;
    std::thread client([&] { reply = test::CallPipe(L"logon alice secret"); });
    bool exchanging = simulator.WaitForLine("recv: secret\\r\\n", 10000);
    SERVICE_STATUS status = {};
    BOOL controlled = FALSE;
    DWORD stateDuringLogon = 0;
    if (exchanging) {
        SC_HANDLE manager = OpenSCManagerW(NULL, NULL, SC_MANAGER_CONNECT);
        SC_HANDLE service = OpenServiceW(manager, WARD_SERVICE_NAME, SERVICE_STOP | SERVICE_QUERY_STATUS);
        controlled = ControlService(service, SERVICE_CONTROL_STOP, &status);
        stateDuringLogon = test::ServiceState();
        CloseServiceHandle(service);
        CloseServiceHandle(manager);
    }
    client.join();
    ASSERT_TRUE(exchanging);
    EXPECT_TRUE(controlled);
    EXPECT_EQ((DWORD)SERVICE_STOP_PENDING, status.dwCurrentState);
    EXPECT_EQ((DWORD)SERVICE_STOP_PENDING, stateDuringLogon);
    EXPECT_EQ(L"OK", reply);
    EXPECT_TRUE(test::WaitForServiceState(SERVICE_STOPPED, 20000));
    EXPECT_EQ(2u, StoredNumber(NULL, VALUE_VLAN_LOGON));
    simulator.Finish();
}

// ---- logoff

TEST_F(VlanDialogueTest, LogoffServerChoiceAndAnswers)
{
    const std::wstring closed = SocketErrorReply(0);
    const std::string prompt = "send \"Connect(1) / Disconnect(2): \"\nexpect \"2\"\n";
    struct {
        const char *name;
        DWORD group;            // MISSING_NUMBER: no GroupNumber
        const wchar_t *subkey;  // NULL: no per-VLAN subkey
        bool subServer, subPort, global;
        char used;              // 'V' per-VLAN simulator, 'G' global one, 0 none
        std::string script;     // of the global simulator; "": logoff.txt
        std::wstring reply;
        const char *received;
    } cases[] = {
        {"group 20 with its own pair", 20, L"GroupList\\20", true, true, true, 'V', "", L"OK", "[2\\r\\n]"},
        {"group 20 without a subkey", 20, NULL, false, false, true, 'G', "", L"OK", "[2\\r\\n]"},
        {"group 20 with a server but no port", 20, L"GroupList\\20", true, false, true, 'G', "", L"OK",
         "[2\\r\\n]"},
        {"no group number: GroupList\\0", MISSING_NUMBER, L"GroupList\\0", true, true, true, 'V', "", L"OK",
         "[2\\r\\n]"},
        {"per-VLAN server only, no global pair", 20, L"GroupList\\20", true, false, false, 0, "",
         Reply(IDS_NO_LOGOFF_SERVER), ""},
        // Only the answered prompt makes a 2 the confirmation: a banner's version number
        // would otherwise record a logoff that was never sent.
        {"a 2 before any prompt is no confirmation", MISSING_NUMBER, NULL, false, false, true, 'G',
         "send \"DE-Zeruzu 2.1\\r\\n\"\nclose\n", closed, ""},
        {"a banner with a 2, then the prompt and its echo", MISSING_NUMBER, NULL, false, false, true, 'G',
         "send \"DE-Zeruzu 2.1\\r\\n\"\nsleep 100\n" + prompt + "send \"2\\r\\nDisconnected.\\r\\n\"\n", L"OK",
         "[2\\r\\n]"},
        {"text without a 2 is dropped until the close", MISSING_NUMBER, NULL, false, false, true, 'G',
         prompt + "send \"Bye.\\r\\n\"\nclose\n", closed, "[2\\r\\n]"},
        {"reset before the confirmation", MISSING_NUMBER, NULL, false, false, true, 'G', prompt + "reset\n",
         RESET_REPLY, "[2\\r\\n]"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        test::ClearProductKey();
        test::SetConfigDword(NULL, VALUE_VLAN_LOGON, 2);
        if (c.group != MISSING_NUMBER)
            test::SetConfigDword(NULL, VALUE_GROUP_NUMBER, c.group);
        Simulator perVlan, global;
        ASSERT_TRUE(perVlan.Start(ShippedScript(L"logoff.txt")));
        ASSERT_TRUE(global.Start(c.script.empty() ? ShippedScript(L"logoff.txt") : WriteScript(c.script)));
        if (c.subServer)
            test::SetConfigString(c.subkey, VALUE_VLAN_LOGOFF_SERVER, L"127.0.0.1");
        if (c.subPort)
            test::SetConfigDword(c.subkey, VALUE_VLAN_LOGOFF_PORT, perVlan.Port());
        if (c.global)
            test::PointSwitchAt(global.Port(), true);
        std::wstring reply = test::CallPipe(L"logoff");
        ExpectReply(c.reply, reply);
        Simulator &used = c.used == 'V' ? perVlan : global;
        Simulator &unused = c.used == 'V' ? global : perVlan;
        if (c.used == 0)
            EXPECT_EQ(0, test::Connections(used.Kill()));
        else
            EXPECT_EQ(std::string(c.received), Joined(Received(used.Finish())));
        EXPECT_EQ(0, test::Connections(unused.Kill()));
        EXPECT_EQ(reply == L"OK" ? 1u : 2u, StoredNumber(NULL, VALUE_VLAN_LOGON));
        EXPECT_EQ(c.group, StoredNumber(NULL, VALUE_GROUP_NUMBER));
    }
}

}  // namespace
