// In-process tests of the DE-Zeruzu dialogues: their pure pieces, then the logon dialogue in
// the real operation window with its time limit scaled down.
#include "test_support.h"
#include "string_tables.h"
#include "net_platform.h"
#include "operation_window.h"
#include "time_limits.h"
#include "wardhost.h"
#include "wardhost_res.h"

#include <gtest/gtest.h>

#include <stdarg.h>
#include <string.h>
#include <thread>
#include <time.h>
#include <vector>

namespace {

TEST(ServerTemplate, FieldsAreFilledFromTheLocalAddress)
{
    static const BYTE LOCAL[4] = {10, 20, 30, 40};
    struct {
        const wchar_t *server;
        const wchar_t *expected;
        int result;
        const BYTE *local = LOCAL;                           // NULL: no local address, the text stays
        int bytes = VLAN_SERVER_CHARS * sizeof(wchar_t);     // the result is cut to the buffer
    } cases[] = {
        {L"*.*.*.254", L"10.20.30.254", 1},
        {L"192.168.*.1", L"192.168.30.1", 1},
        {L"*", L"10", 1},
        {L"*..*", L"10.20", 1},              // empty fields are skipped
        {L".*.5.", L"10.5", 1},
        {L"1.2.3.*.9.9", L"1.2.3.40", 1},    // a fifth field and on are dropped
        {L"a*.b.*.c", L"a*.b.30.c", 1},      // only a field that is exactly "*"
        {L"192.168.0.1", L"192.168.0.1", 0},
        {L"dez.example", L"dez.example", 0},
        {L"", L"", 0},
        {L"*.*.*.254", L"*.*.*.254", 0, NULL},
        {L"*.*.*.*", L"10.20", 1, LOCAL, 6 * sizeof(wchar_t)},
    };
    for (const auto &c : cases) {
        wchar_t server[VLAN_SERVER_CHARS];
        wcscpy(server, c.server);
        EXPECT_EQ(c.result, ExpandServerTemplateWith(server, c.bytes, c.local)) << test::Narrow(c.server);
        EXPECT_STREQ(c.expected, server) << test::Narrow(c.server);
    }
}

// The real adapters: whatever this machine has, the fields never come from loopback,
// 0/8 or a link-local address (here the host name resolves to 127.0.0.1).
TEST(ServerTemplate, UsesTheWorkstationsOwnAddress)
{
    wchar_t server[VLAN_SERVER_CHARS] = L"*.*.*.254";
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (ExpandServerTemplate(server, sizeof(server)) == 0) {
        EXPECT_STREQ(L"*.*.*.254", server);  // no usable address: the text stays
    } else {
        ASSERT_EQ(4, swscanf(server, L"%u.%u.%u.%u", &a, &b, &c, &d)) << test::Narrow(server);
        EXPECT_EQ(254u, d);
        EXPECT_NE(0u, a) << test::Narrow(server);
        EXPECT_NE(127u, a) << test::Narrow(server);
        EXPECT_FALSE(a == 169 && b == 254) << test::Narrow(server);
    }
}

// ---- scripted adapters

struct ScriptedAdapter {
    IF_OPER_STATUS status;
    IFTYPE type;
    std::vector<const char *> addresses;
};
std::vector<ScriptedAdapter> g_adapters;

// Lays the scripted adapters out as GetAdaptersAddresses does, in the caller's block.
ULONG WINAPI ScriptedGetAdaptersAddresses(ULONG family, ULONG, PVOID, PIP_ADAPTER_ADDRESSES out,
                                          PULONG size)
{
    EXPECT_EQ((ULONG)AF_INET, family);
    size_t addressCount = 0;
    for (const ScriptedAdapter &adapter : g_adapters)
        addressCount += adapter.addresses.size();
    ULONG needed = (ULONG)(g_adapters.size() * sizeof(IP_ADAPTER_ADDRESSES) +
                           addressCount * (sizeof(IP_ADAPTER_UNICAST_ADDRESS) + sizeof(sockaddr_in)));
    if (g_adapters.empty())
        return ERROR_NO_DATA;
    if (out == NULL || *size < needed) {
        *size = needed;
        return ERROR_BUFFER_OVERFLOW;
    }
    ZeroMemory(out, needed);
    auto adapters = reinterpret_cast<IP_ADAPTER_ADDRESSES *>(out);
    auto unicasts = reinterpret_cast<IP_ADAPTER_UNICAST_ADDRESS *>(adapters + g_adapters.size());
    auto sockaddrs = reinterpret_cast<sockaddr_in *>(unicasts + addressCount);
    size_t next = 0;
    for (size_t i = 0; i < g_adapters.size(); i++) {
        adapters[i].Next = i + 1 < g_adapters.size() ? &adapters[i + 1] : NULL;
        adapters[i].OperStatus = g_adapters[i].status;
        adapters[i].IfType = g_adapters[i].type;
        IP_ADAPTER_UNICAST_ADDRESS **link = &adapters[i].FirstUnicastAddress;
        for (const char *text : g_adapters[i].addresses) {
            sockaddrs[next].sin_family = AF_INET;
            inet_pton(AF_INET, text, &sockaddrs[next].sin_addr);
            unicasts[next].Address.lpSockaddr = reinterpret_cast<sockaddr *>(&sockaddrs[next]);
            unicasts[next].Address.iSockaddrLength = sizeof(sockaddr_in);
            *link = &unicasts[next];
            link = &unicasts[next].Next;
            next++;
        }
    }
    return NO_ERROR;
}

const std::vector<ScriptedAdapter> ONLY_LOOPBACK = {
    {IfOperStatusUp, IF_TYPE_SOFTWARE_LOOPBACK, {"127.0.0.1"}},
};

TEST(ServerTemplate, OwnAddressIsTheFirstUsableOneOfAnAdapterThatIsUp)
{
    NetPlatform platform = NetCalls();
    platform.getAdaptersAddresses = ScriptedGetAdaptersAddresses;
    SetNetPlatform(&platform);
    struct {
        const char *name;
        std::vector<ScriptedAdapter> adapters;
        const wchar_t *expected;
    } cases[] = {
        {"loopback, an adapter down, then zero, link-local and a real address",
         {{IfOperStatusUp, IF_TYPE_SOFTWARE_LOOPBACK, {"127.0.0.1"}},
          {IfOperStatusDown, IF_TYPE_ETHERNET_CSMACD, {"10.9.9.9"}},
          {IfOperStatusUp, IF_TYPE_ETHERNET_CSMACD,
           {"0.1.2.3", "169.254.3.4", "127.5.5.5", "192.168.5.7", "10.1.1.1"}}},
         L"192.168.5.254"},
        {"169.253 and 169.255 are usable", {{IfOperStatusUp, IF_TYPE_IEEE80211, {"169.253.1.2"}}},
         L"169.253.1.254"},
        {"only loopback", ONLY_LOOPBACK, L"*.*.*.254"},
        {"only link-local and an adapter down",
         {{IfOperStatusUp, IF_TYPE_ETHERNET_CSMACD, {"169.254.10.20"}},
          {IfOperStatusDown, IF_TYPE_ETHERNET_CSMACD, {"10.20.30.40"}}},
         L"*.*.*.254"},
        {"no adapters at all", {}, L"*.*.*.254"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        g_adapters = c.adapters;
        wchar_t server[VLAN_SERVER_CHARS] = L"*.*.*.254";
        EXPECT_EQ(wcscmp(c.expected, L"*.*.*.254") != 0 ? 1 : 0,
                  ExpandServerTemplate(server, sizeof(server)));
        EXPECT_STREQ(c.expected, server);
    }
    SetNetPlatform(NULL);
}

TEST(ServerAddress, OnlyStrictDottedQuadsAndNames)
{
    const struct {
        ServerAddressKind kind;
        std::vector<const char *> texts;
    } groups[] = {
        {SERVER_ADDRESS_NUMERIC, {"10.20.30.254", "0.0.0.0", "255.255.255.255"}},
        {SERVER_ADDRESS_NAME, {"dez.example", "dez-1_a.example.", "10.1.2.3a", "deadbeef"}},
        // inet_addr's short forms, each another host than the text seems to name
        {SERVER_ADDRESS_REFUSED, {"127.0.18", "10.1", "10.20", "0x7f.0.0.1", "0X7F000001", "3232235777",
                                  "0177.0.0.1", "010.1.1.1", "1.2.3.256", "1.2.3.4.5", "1.2.3.4.",
                                  ".1.2.3", "1..2.3", "0x", ""}},
        // characters no host name has: a template's "*", blanks, control characters
        {SERVER_ADDRESS_REFUSED, {"*.*.*.254", "127.0.0.1 x", "dez\texample", "dez\nexample"}},
    };
    for (const auto &g : groups) {
        for (const char *text : g.texts) {
            IN_ADDR address = {};
            EXPECT_EQ(g.kind, ClassifyServerAddress(text, &address)) << text;
            char back[16] = "";
            if (g.kind == SERVER_ADDRESS_NUMERIC) {
                EXPECT_STREQ(text, inet_ntop(AF_INET, &address, back, sizeof(back)));
            }
        }
    }
}

// Row index acted on, or -1.
int Row(const PromptRule *table, int rows, const char *text)
{
    const PromptRule *rule = FindPromptRule(table, rows, text);
    return rule == NULL ? -1 : (int)(rule - table);
}

TEST(PromptTables, FirstMatchingRowOnly)
{
    struct {
        bool logoff;
        const char *text;
        int row;
    } cases[] = {
        {false, "Connect(1) / Disconnect(2): ", 0},
        {false, "Connect(1) / Disconnect(2): \r\nLogin Name? ", 0},
        {false, "Login Name? ", 1},
        {false, "User ID: ", 2},
        {false, "Password? ", 3},
        {false, "Password: ", 4},
        {false, "Login Name? Password? ", 1},
        {false, "\r\nAuthentication Succeeded\r\nSuccessfully moved to group 3\r\n", 5},
        {false, "Successfully moved to vlan 20", 6},
        {false, "Authentication Succeeded", 7},
        {false, "Authentication Failed", 8},
        {false, "authentication failed", -1},
        {false, "connect(1) / disconnect(2):", -1},
        {false, "Connect(1) / Dis", -1},
        {false, "", -1},
        {true, "Connect(1) / Disconnect(2): ", 0},
        {true, "2\r\nDisconnected.\r\n", 1},
        {true, "Session 2 closed", 1},
        {true, "Disconnected.", -1},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(c.row, c.logoff ? Row(VLANLogoffPrompts, VLAN_LOGOFF_PROMPT_ROWS, c.text)
                                  : Row(VLANLogonPrompts, VLAN_LOGON_PROMPT_ROWS, c.text))
            << c.text;
    }
}

TEST(PromptTables, GroupNumberAfterThePhrase)
{
    struct {
        const char *text;
        int group;
    } cases[] = {
        {"Successfully moved to group 3", 3},
        {"Successfully moved to vlan 20\r\n", 20},
        {"Successfully moved to vlan", 0},
        {"Successfully moved to vlan x5", 0},
        {"Successfully moved to group \r\n 7", 7},
        {"Successfully moved to group -12 ok", -12},
        {"Successfully moved to group 3 Successfully moved to vlan 9", 3},
        {"Successfully moved to vlan 9 Successfully moved to group 3", 3},  // group first
        {"Successfully moved to group 99999999999", 2147483647},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.group, ReadGroupNumber(c.text)) << c.text;
}

TEST(DialogueText, ReplyLineLimit)
{
    // The Japanese run is there for the double-byte code page: without it, it proves nothing.
    if (test::ExpectedLanguage() == MAKELANGID(LANG_JAPANESE, SUBLANG_JAPANESE_JAPAN)) {
        EXPECT_EQ(932u, GetACP());
    }
    char buffer[VLAN_TEXT_BYTES] = "stale";
    EXPECT_EQ(DIALOGUE_TEXT_OK, ConvertToDialogueText(1252, NULL, buffer, sizeof(buffer)));
    EXPECT_STREQ("", buffer);
    const std::wstring fits(VLAN_REPLY_MAX_BYTES, L'a'), kana(128, L'\x3042');
    std::string kanaBytes;
    while (kanaBytes.size() < 256)
        kanaBytes += "\x82\xa0";
    const struct {
        UINT codePage;
        std::wstring text;
        DialogueTextResult result;
        std::string buffer;  // afterwards: cleared on every failure
    } cases[] = {
        {1252, fits, DIALOGUE_TEXT_OK, std::string(VLAN_REPLY_MAX_BYTES, 'a')},
        {1252, fits + L"a", DIALOGUE_TEXT_TOO_LONG, ""},
        {1252, L"caf\x00e9", DIALOGUE_TEXT_OK, "caf\xe9"},
        // Best fit would send another account's name ("admin", "alice"); "?" another word.
        {1252, L"\xff41\xff44\xff4d\xff49\xff4e", DIALOGUE_TEXT_NOT_CONVERTIBLE, ""},
        {1252, L"\x0101lice", DIALOGUE_TEXT_NOT_CONVERTIBLE, ""},
        {1252, L"pw\x3042", DIALOGUE_TEXT_NOT_CONVERTIBLE, ""},
        // Two bytes a character: 128 fit (256 bytes), 129 do not (258 bytes).
        {932, kana, DIALOGUE_TEXT_OK, kanaBytes},
        {932, kana + L"\x3042", DIALOGUE_TEXT_TOO_LONG, ""},
        {932, L"\x0101lice", DIALOGUE_TEXT_NOT_CONVERTIBLE, ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(test::Narrow(c.text.substr(0, 8)) + " in " + std::to_string(c.codePage));
        if (!IsValidCodePage(c.codePage))
            GTEST_SKIP() << "code page " << c.codePage << " is not installed";
        strcpy(buffer, "stale");
        EXPECT_EQ(c.result, ConvertToDialogueText(c.codePage, c.text.c_str(), buffer, sizeof(buffer)));
        EXPECT_EQ(c.buffer, std::string(buffer));
    }
}

// ---- the logon dialogue in the operation window, in-process

bool Readable(SOCKET socket, DWORD timeoutMs)
{
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(socket, &readable);
    timeval bound = {(long)(timeoutMs / 1000), (long)(timeoutMs % 1000) * 1000};
    return select(0, &readable, NULL, NULL, &bound) == 1;
}

// A socket listening on every local address, where a dialogue that lost its server
// address would end up: it connects to the workstation itself.
class Listener {
public:
    Listener()
    {
        socket_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_ANY);
        int length = sizeof(address);
        if (bind(socket_, reinterpret_cast<sockaddr *>(&address), sizeof(address)) == 0 &&
            listen(socket_, SOMAXCONN) == 0 &&
            getsockname(socket_, reinterpret_cast<sockaddr *>(&address), &length) == 0)
            port_ = ntohs(address.sin_port);
    }
    ~Listener() { closesocket(socket_); }
    int Port() const { return port_; }
    // A connection is complete, and waiting in the backlog, once connect has returned.
    bool ConnectedWithin(DWORD timeoutMs) { return Readable(socket_, timeoutMs); }
    SOCKET Accept() { return accept(socket_, NULL, NULL); }

private:
    SOCKET socket_;
    int port_ = 0;
};

// The resolver's calls; a resolver set to block answers only when released.
std::vector<std::string> g_resolved;
HANDLE g_releaseResolver;
bool g_resolverBlocks;

INT WSAAPI ScriptedGetAddrInfo(PCSTR name, PCSTR, const ADDRINFOA *, PADDRINFOA *result)
{
    g_resolved.push_back(name != NULL ? name : "<null>");
    *result = NULL;
    // Bounded, so that a dialogue that waits for it for ever still ends.
    if (g_resolverBlocks)
        WaitForSingleObject(g_releaseResolver, 60000);
    return WSAHOST_NOT_FOUND;
}

VOID WSAAPI ScriptedFreeAddrInfo(PADDRINFOA) {}

// Adapters scripted too, so that no "*" field ever comes from a real interface.
const NetPlatform RESOLVER_PLATFORM = {
    GetInterfaceInfo, IpReleaseAddress, IpRenewAddress, NetServerEnum,
    NetApiBufferFree, GetTickCount64, ScriptedGetAddrInfo, ScriptedFreeAddrInfo,
    ScriptedGetAdaptersAddresses,
};

// A dialogue that gets no answer ends after a second instead of 30.
const TimeLimitTable SCALED_LIMITS = [] {
    TimeLimitTable limits = REAL_TIME_LIMITS;
    limits.dialogueMs = 1000;
    limits.replyPauseMs = 5;
    return limits;
}();
const DWORD DIALOGUE_MS = SCALED_LIMITS.dialogueMs;

class LogonWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetTimeLimits(&SCALED_LIMITS);
        WSADATA data;
        ASSERT_EQ(0, WSAStartup(MAKEWORD(2, 2), &data));
        test::ClearProductKey();
        test::SetConfigDword(NULL, VALUE_VLAN_LOGON, 1);
        g_resolved.clear();
        g_resolverBlocks = false;
        g_adapters = ONLY_LOOPBACK;
        g_releaseResolver = CreateEventW(NULL, TRUE, FALSE, NULL);
        SetNetPlatform(&RESOLVER_PLATFORM);
        logPath_ = test::LogToTempFile(L"portgate-vlan-unit", &logDir_);
        LogOpen();
    }
    void TearDown() override
    {
        SetEvent(g_releaseResolver);  // a resolver thread left waiting ends now
        SetNetPlatform(NULL);
        SetTimeLimits(NULL);
        LogClose();
        test::ClearProductKey();
        test::RemoveTree(logDir_);
        WSACleanup();
    }
    // Runs "logon" for user and password; the window's result, ResultMessage kept.
    INT_PTR Logon(DLGPROC procedure, const std::wstring &user, const std::wstring &password)
    {
        std::wstring userName = user, secret = password;
        LogonRequest request = {userName.c_str(), secret.c_str(), NULL};
        SetResultMessage(L"");
        DWORD start = GetTickCount();
        INT_PTR result = RunOperationWindow(procedure, reinterpret_cast<LPARAM>(&request));
        elapsedMs_ = GetTickCount() - start;
        return result;
    }
    std::string Log() { return test::ReadFileBytes(logPath_); }
    DWORD LogonState()
    {
        DWORD state = 0;
        EXPECT_TRUE(test::GetConfigDword(NULL, VALUE_VLAN_LOGON, &state));
        return state;
    }

    std::wstring logDir_, logPath_;
    DWORD elapsedMs_ = 0;
};

bool MultiByteCodePage()
{
    CPINFO info;
    return GetCPInfo(CP_ACP, &info) && info.MaxCharSize >= 2;
}

// What does not convert exactly to the ANSI code page, what the resolver would read as
// another address, or a template without an address of the workstation's own, reaches
// neither the resolver nor any host. A name or password that would not reach the switch as
// typed is refused before anything is sent too: one without an exact ANSI form (best fit), or
// one too long for a reply line, as 130 double-byte characters are (a single-byte code page
// has no form for them). Also run under a Japanese user interface (code page 932).
TEST_F(LogonWindow, AddressThatDoesNotConvertOrNamesAnotherHostAndCredentialsThatDoNotFitSendNothing)
{
    Listener listener;
    ASSERT_NE(0, listener.Port());
    struct Case {
        std::wstring server, user, password, message;
    };
    std::vector<Case> cases;
    // Too long for the ANSI buffer in a double-byte code page, "?" in a single-byte one;
    // full-width digits that a single-byte code page would best-fit to "127.0.0.1".
    std::vector<std::wstring> servers = {std::wstring(140, L'\x3042'), L"127.0.18", L"127.1",
                                         L"0x7f.0.0.1", L"2130706433", L"*.*.*.1", L"*..*"};
    if (!MultiByteCodePage())
        servers.push_back(L"\xff11\xff12\xff17\xff0e\xff10\xff0e\xff10\xff0e\xff11");
    for (const std::wstring &server : servers)
        cases.push_back(
            {server, L"alice", L"secret", test::ModuleText(NULL, IDS_CANNOT_CONNECT_LOGON, server.c_str())});
    const std::wstring wide(130, L'\x3042');
    const std::wstring notConvertible = test::ModuleString(NULL, IDS_CREDENTIALS_NOT_CONVERTIBLE);
    const std::wstring wideMessage =
        MultiByteCodePage() ? test::ModuleString(NULL, IDS_CREDENTIALS_TOO_LONG) : notConvertible;
    cases.push_back({L"127.0.0.1", L"\x0101lice", L"secret", notConvertible});
    cases.push_back({L"127.0.0.1", L"alice", L"s\x0101cret", notConvertible});
    cases.push_back({L"127.0.0.1", wide, L"pw", wideMessage});
    cases.push_back({L"127.0.0.1", L"alice", wide, wideMessage});
    for (const Case &c : cases) {
        SCOPED_TRACE(test::Narrow(c.server.substr(0, 16) + L" " + c.user.substr(0, 8) + L" " +
                                  c.password.substr(0, 8)));
        test::PointSwitchAt(listener.Port(), false, c.server);
        g_resolved.clear();
        EXPECT_EQ(OPERATION_FAILURE, Logon(VLANLogonDlgProc, c.user, c.password));
        EXPECT_EQ(c.message, std::wstring(ResultMessage));
        EXPECT_TRUE(g_resolved.empty()) << g_resolved.size();
        EXPECT_EQ(1u, LogonState());
    }
    EXPECT_FALSE(listener.ConnectedWithin(0)) << "the name and password went to this host, cut or best-fitted";
}

// A resolver that finds nothing fails the same way, at once.
TEST_F(LogonWindow, ResolverThatNeverAnswersEndsWithinTheTimeOut)
{
    Listener listener;
    test::PointSwitchAt(listener.Port(), false, L"dez.example");
    const std::string noAnswer =
        "  getaddrinfo() gave no answer within " + std::to_string(DIALOGUE_MS) + " ms";
    for (bool blocks : {true, false}) {
        SCOPED_TRACE(blocks ? "never answers" : "finds nothing");
        g_resolverBlocks = blocks;
        g_resolved.clear();
        EXPECT_EQ(OPERATION_FAILURE, Logon(VLANLogonDlgProc, L"alice", L"secret"));
        EXPECT_EQ(test::ModuleText(NULL, IDS_CANNOT_CONNECT_LOGON, L"dez.example"), std::wstring(ResultMessage));
        EXPECT_LT(elapsedMs_, DIALOGUE_MS + 5000);
        EXPECT_EQ(std::vector<std::string>{"dez.example"}, g_resolved);
        EXPECT_NE(std::string::npos, Log().find(blocks ? noAnswer : "  getaddrinfo() error = 11001"));
    }
    EXPECT_FALSE(listener.ConnectedWithin(0));
    EXPECT_EQ(1u, LogonState());
}

// What a server leaves behind when it closes is only looked at for an answer: a prompt in
// it is not answered, so the password goes out no more often than the server asked.
VLANConnection g_drained;
int g_drainAnalyses, g_drainReplies;

void CountingAnalyze(HWND, const char *)
{
    g_drainAnalyses++;
    if (SendPromptReply(&g_drained, "secret"))
        g_drainReplies++;
}

TEST_F(LogonWindow, DataLeftAfterTheServerClosedIsNotAnswered)
{
    Listener listener;
    HWND window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, NULL, NULL, NULL, NULL);
    ASSERT_NE(nullptr, window);
    wchar_t server[VLAN_SERVER_CHARS] = L"127.0.0.1";
    const VLANServerTexts texts = {"%s", "%d", IDS_CANNOT_CONNECT_LOGON};
    VLANConnectionInit(&g_drained);
    ASSERT_TRUE(VLANSocketConnect(window, server, listener.Port(), &g_drained, &texts));
    SOCKET peer = listener.Accept();
    std::string prompts;
    while (prompts.size() < 2000)
        prompts += "Password? ";
    ASSERT_EQ((int)prompts.size(), send(peer, prompts.data(), (int)prompts.size(), 0));
    shutdown(peer, SD_SEND);
    ASSERT_TRUE(Readable(g_drained.socket, 10000));
    g_drainAnalyses = g_drainReplies = 0;
    VLANDialogueClosed(window, &g_drained, 0, CountingAnalyze);
    EXPECT_EQ(INVALID_SOCKET, g_drained.socket);
    EXPECT_GT(g_drainAnalyses, 0);
    EXPECT_EQ(0, g_drainReplies);
    char byte;
    int received = 0, got;
    while ((got = recv(peer, &byte, 1, 0)) > 0)
        received += got;
    EXPECT_EQ(0, received) << "the password was sent after the server had closed";
    closesocket(peer);
    DestroyWindow(window);
}

// While a posted message is always waiting, as FD_READ is for a server that floods,
// the system makes no WM_TIMER: this keeps one posted, and gives up after a minute.
const UINT WM_KEEP_POSTED = WM_APP + 1;
const INT_PTR OUT_OF_TIME = 99;
DWORD g_floodStart;

INT_PTR CALLBACK TimerStarvingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        g_floodStart = GetTickCount();
        PostMessageW(window, WM_KEEP_POSTED, 0, 0);
    } else if (message == WM_KEEP_POSTED) {
        if (GetTickCount() - g_floodStart > 60000)
            EndDialog(window, OUT_OF_TIME);
        else
            PostMessageW(window, WM_KEEP_POSTED, 0, 0);
        return TRUE;
    }
    return VLANLogonDlgProc(window, message, wParam, lParam);
}

// A server that floods text without any prompt, as fast as the dialogue takes it, or one
// that accepts and never says anything: the dialogue ends at its time limit, having sent
// nothing and changed no state. A dialogue still open well past the limit is ended by the
// server's close, which fails it with another message.
TEST_F(LogonWindow, ServerThatFloodsOrStaysSilentEndsAtTheTimeLimitSendingNothing)
{
    Listener listener;
    test::PointSwitchAt(listener.Port());
    for (bool floods : {true, false}) {
        SCOPED_TRACE(floods ? "floods" : "silent");
        bool connected = false, closedByDialogue = false;
        std::string received;
        std::thread server([&] {
            if (!listener.ConnectedWithin(DIALOGUE_MS))
                return;
            connected = true;
            SOCKET peer = listener.Accept();
            DWORD bound = DIALOGUE_MS + 5000;
            setsockopt(peer, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char *>(&bound), sizeof(bound));
            setsockopt(peer, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char *>(&bound), sizeof(bound));
            const char line[] = "Port 12 link up, speed 100M full duplex, no change in state.\r\n";
            char buffer[64];
            int got;
            do {
                got = floods ? send(peer, line, sizeof(line) - 1, 0)
                             : recv(peer, buffer, sizeof(buffer), 0);
                if (!floods && got > 0)
                    received.append(buffer, got);
            } while (got > 0);
            closedByDialogue = got == 0 || WSAGetLastError() != WSAETIMEDOUT;
            closesocket(peer);
        });
        INT_PTR result = Logon(floods ? TimerStarvingProc : VLANLogonDlgProc, L"alice", L"secret");
        server.join();
        ASSERT_TRUE(connected) << "the dialogue did not connect";
        EXPECT_TRUE(closedByDialogue) << "still connected " << DIALOGUE_MS + 5000 << " ms later";
        EXPECT_EQ(OPERATION_FAILURE, result) << "the dialogue did not end within a minute";
        EXPECT_EQ(test::ModuleText(NULL, IDS_SOCKET_ERROR, L"recv()", WSAETIMEDOUT),
                  std::wstring(ResultMessage));
        EXPECT_LT(elapsedMs_, DIALOGUE_MS + 5000);
        EXPECT_EQ("", received);
        EXPECT_EQ(1u, LogonState());
    }
}

}  // namespace
