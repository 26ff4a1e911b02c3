// In-process tests of the DE-Zeruzu dialogues: the pure pieces (server-address template,
// prompt tables with their first-match rule, group number, reply-line limit of the ANSI
// copies), then the logon dialogue in the real operation window where the server address
// does not convert, the resolver does not answer or the server floods.
#include "test_support.h"
#include "net_platform.h"
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
    const BYTE local[4] = {10, 20, 30, 40};
    struct {
        const wchar_t *server;
        const wchar_t *expected;
        int result;
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
    };
    for (const auto &c : cases) {
        wchar_t server[VLAN_SERVER_CHARS];
        wcscpy(server, c.server);
        EXPECT_EQ(c.result, ExpandServerTemplateWith(server, sizeof(server), local))
            << test::Narrow(c.server);
        EXPECT_STREQ(c.expected, server) << test::Narrow(c.server);
    }
}

TEST(ServerTemplate, WithoutALocalAddressTheTextStays)
{
    wchar_t server[VLAN_SERVER_CHARS] = L"*.*.*.254";
    EXPECT_EQ(0, ExpandServerTemplateWith(server, sizeof(server), NULL));
    EXPECT_STREQ(L"*.*.*.254", server);
}

TEST(ServerTemplate, ResultIsCutToTheCallersBuffer)
{
    const BYTE local[4] = {10, 20, 30, 40};
    wchar_t server[8] = L"*.*.*.*";
    EXPECT_EQ(1, ExpandServerTemplateWith(server, 6 * sizeof(wchar_t), local));
    EXPECT_STREQ(L"10.20", server);
}

TEST(ServerTemplate, UsesTheWorkstationsOwnAddress)
{
    WSADATA data;
    ASSERT_EQ(0, WSAStartup(MAKEWORD(2, 2), &data));
    char name[260];
    ASSERT_EQ(0, gethostname(name, sizeof(name)));
    hostent *host = gethostbyname(name);
    if (host == NULL || host->h_addr_list[0] == NULL) {
        WSACleanup();
        GTEST_SKIP() << "the host name " << name << " does not resolve here";
    }
    const BYTE *a = reinterpret_cast<const BYTE *>(host->h_addr_list[0]);
    wchar_t expected[64];
    swprintf(expected, 64, L"%u.%u.%u.254", a[0], a[1], a[2]);
    wchar_t server[VLAN_SERVER_CHARS] = L"*.*.*.254";
    EXPECT_EQ(1, ExpandServerTemplate(server, sizeof(server)));
    EXPECT_STREQ(expected, server);
    wchar_t plain[VLAN_SERVER_CHARS] = L"127.0.0.1";
    EXPECT_EQ(0, ExpandServerTemplate(plain, sizeof(plain)));
    EXPECT_STREQ(L"127.0.0.1", plain);
    WSACleanup();
}

// Row index acted on, or -1.
int LogonRow(const char *text)
{
    const PromptRule *rule = FindPromptRule(VLANLogonPrompts, VLAN_LOGON_PROMPT_ROWS, text);
    return rule == NULL ? -1 : (int)(rule - VLANLogonPrompts);
}

int LogoffRow(const char *text)
{
    const PromptRule *rule = FindPromptRule(VLANLogoffPrompts, VLAN_LOGOFF_PROMPT_ROWS, text);
    return rule == NULL ? -1 : (int)(rule - VLANLogoffPrompts);
}

TEST(PromptTables, FirstMatchingRowOnly)
{
    struct {
        const char *text;
        int row;
    } logon[] = {
        {"Connect(1) / Disconnect(2): ", 0},
        {"Connect(1) / Disconnect(2): \r\nLogin Name? ", 0},
        {"Login Name? ", 1},
        {"User ID: ", 2},
        {"Password? ", 3},
        {"Password: ", 4},
        {"Login Name? Password? ", 1},
        {"\r\nAuthentication Succeeded\r\nSuccessfully moved to group 3\r\n", 5},
        {"Successfully moved to vlan 20", 6},
        {"Authentication Succeeded", 7},
        {"Authentication Failed", 8},
        {"authentication failed", -1},
        {"connect(1) / disconnect(2):", -1},
        {"Connect(1) / Dis", -1},
        {"", -1},
    };
    for (const auto &c : logon)
        EXPECT_EQ(c.row, LogonRow(c.text)) << c.text;
    EXPECT_STREQ("1", VLANLogonPrompts[0].reply);
    for (int row = 5; row < VLAN_LOGON_PROMPT_ROWS; row++) {
        EXPECT_EQ(nullptr, VLANLogonPrompts[row].reply) << row;
        EXPECT_NE(nullptr, VLANLogonPrompts[row].handler) << row;
    }

    struct {
        const char *text;
        int row;
    } logoff[] = {
        {"Connect(1) / Disconnect(2): ", 0},
        {"2\r\nDisconnected.\r\n", 1},
        {"Session 2 closed", 1},
        {"Disconnected.", -1},
    };
    for (const auto &c : logoff)
        EXPECT_EQ(c.row, LogoffRow(c.text)) << c.text;
    EXPECT_STREQ("2", VLANLogoffPrompts[0].reply);
    EXPECT_EQ(nullptr, VLANLogoffPrompts[1].reply);
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
    char buffer[VLAN_TEXT_BYTES];
    std::wstring fits(VLAN_REPLY_MAX_BYTES, L'a');
    EXPECT_TRUE(ConvertToDialogueText(1252, fits.c_str(), buffer, sizeof(buffer)));
    EXPECT_EQ((size_t)VLAN_REPLY_MAX_BYTES, strlen(buffer));
    std::wstring over(VLAN_REPLY_MAX_BYTES + 1, L'a');
    EXPECT_FALSE(ConvertToDialogueText(1252, over.c_str(), buffer, sizeof(buffer)));
    EXPECT_STREQ("", buffer);
    EXPECT_TRUE(ConvertToDialogueText(1252, NULL, buffer, sizeof(buffer)));
    EXPECT_STREQ("", buffer);
    EXPECT_TRUE(ConvertToDialogueText(1252, L"caf\x00e9", buffer, sizeof(buffer)));
    EXPECT_STREQ("caf\xe9", buffer);

    if (!IsValidCodePage(932)) {
        GTEST_SKIP() << "code page 932 is not installed";
    }
    // Two bytes per character: 128 fit (256 bytes), 129 do not (258 bytes).
    std::wstring kana(128, L'\x3042');
    EXPECT_TRUE(ConvertToDialogueText(932, kana.c_str(), buffer, sizeof(buffer)));
    EXPECT_EQ(256u, strlen(buffer));
    kana += L'\x3042';
    EXPECT_FALSE(ConvertToDialogueText(932, kana.c_str(), buffer, sizeof(buffer)));
    EXPECT_STREQ("", buffer);
}


// ---- the logon dialogue in the operation window, in-process

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
    bool Connected() { return ConnectedWithin(0); }
    bool ConnectedWithin(DWORD timeoutMs)
    {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(socket_, &readable);
        timeval bound = {(long)(timeoutMs / 1000), (long)(timeoutMs % 1000) * 1000};
        return select(0, &readable, NULL, NULL, &bound) == 1;
    }
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

const NetPlatform RESOLVER_PLATFORM = {
    GetInterfaceInfo, IpReleaseAddress, IpRenewAddress, NetServerEnum,
    NetApiBufferFree, [] { return _time64(NULL); }, ScriptedGetAddrInfo, ScriptedFreeAddrInfo,
};

std::wstring TableText(UINT id, ...)
{
    wchar_t format[260];
    if (LoadStringW(GetModuleHandleW(NULL), id, format, ARRAYSIZE(format)) <= 0)
        return L"<missing " + std::to_wstring(id) + L">";
    wchar_t text[1025];
    va_list args;
    va_start(args, id);
    wvsprintfW(text, format, args);
    va_end(args);
    return text;
}

class LogonWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        WSADATA data;
        ASSERT_EQ(0, WSAStartup(MAKEWORD(2, 2), &data));
        test::ClearProductKey();
        test::SetConfigDword(NULL, L"VLANLogon", 1);
        g_resolved.clear();
        g_resolverBlocks = false;
        g_releaseResolver = CreateEventW(NULL, TRUE, FALSE, NULL);
        SetNetPlatform(&RESOLVER_PLATFORM);
        logPath_ = test::LogToTempFile(L"portgate-vlan-unit", &logDir_);
        LogOpen();
    }
    void TearDown() override
    {
        SetEvent(g_releaseResolver);  // a resolver thread left waiting ends now
        SetNetPlatform(NULL);
        LogClose();
        test::ClearProductKey();
        test::RemoveTree(logDir_);
        WSACleanup();
    }
    void PointAt(const std::wstring &server, int port)
    {
        test::SetConfigString(NULL, L"VLANLogonServer", server);
        test::SetConfigDword(NULL, L"VLANLogonPort", port);
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

    std::wstring logDir_, logPath_;
    DWORD elapsedMs_ = 0;
};

bool MultiByteCodePage()
{
    CPINFO info;
    return GetCPInfo(CP_ACP, &info) && info.MaxCharSize >= 2;
}

// Also run under a Japanese user interface (code page 932) by CTest.
TEST_F(LogonWindow, AddressThatDoesNotConvertIsNeitherResolvedNorConnected)
{
    Listener listener;
    ASSERT_NE(0, listener.Port());
    // Too long for the ANSI buffer in a double-byte code page, "?" in a single-byte one;
    // full-width digits that a single-byte code page would best-fit to "127.0.0.1".
    std::vector<std::wstring> servers = {std::wstring(140, L'\x3042')};
    if (!MultiByteCodePage())
        servers.push_back(L"\xff11\xff12\xff17\xff0e\xff10\xff0e\xff10\xff0e\xff11");
    for (const std::wstring &server : servers) {
        SCOPED_TRACE(test::Narrow(server));
        PointAt(server, listener.Port());
        EXPECT_EQ(OPERATION_FAILURE, Logon(VLANLogonDlgProc, L"alice", L"secret"));
        EXPECT_EQ(TableText(IDS_CANNOT_CONNECT_LOGON, server.c_str()), std::wstring(ResultMessage));
        EXPECT_FALSE(listener.Connected()) << "the user name and password went to this host";
        EXPECT_TRUE(g_resolved.empty());
        DWORD state = 0;
        EXPECT_TRUE(test::GetConfigDword(NULL, L"VLANLogon", &state));
        EXPECT_EQ(1u, state);
    }
}

TEST_F(LogonWindow, CredentialsThatDoNotFitAReplyLineAreRefusedBeforeSending)
{
    if (!MultiByteCodePage()) {
        GTEST_SKIP() << "code page " << GetACP() << " has one byte per character, so no name "
                     << "that fits a request is too long; CTest runs this under code page 932";
    }
    Listener listener;
    PointAt(L"127.0.0.1", listener.Port());
    std::wstring wide(130, L'\x3042');  // two bytes each
    EXPECT_EQ(OPERATION_FAILURE, Logon(VLANLogonDlgProc, wide, L"pw"));
    EXPECT_EQ(TableText(IDS_CREDENTIALS_TOO_LONG), std::wstring(ResultMessage));
    EXPECT_EQ(OPERATION_FAILURE, Logon(VLANLogonDlgProc, L"alice", wide));
    EXPECT_EQ(TableText(IDS_CREDENTIALS_TOO_LONG), std::wstring(ResultMessage));
    EXPECT_FALSE(listener.Connected());
}

TEST_F(LogonWindow, ResolverThatNeverAnswersEndsWithinTheTimeOut)
{
    Listener listener;
    g_resolverBlocks = true;
    PointAt(L"dez.example", listener.Port());
    EXPECT_EQ(OPERATION_FAILURE, Logon(VLANLogonDlgProc, L"alice", L"secret"));
    EXPECT_EQ(TableText(IDS_CANNOT_CONNECT_LOGON, L"dez.example"), std::wstring(ResultMessage));
    EXPECT_LT(elapsedMs_, (DWORD)VLAN_DIALOGUE_TIMEOUT_MS + 5000);
    EXPECT_EQ(std::vector<std::string>{"dez.example"}, g_resolved);
    EXPECT_NE(std::string::npos, Log().find("  getaddrinfo() gave no answer within 30000 ms"));

    // A resolver that finds nothing fails the same way, at once.
    g_resolverBlocks = false;
    g_resolved.clear();
    EXPECT_EQ(OPERATION_FAILURE, Logon(VLANLogonDlgProc, L"alice", L"secret"));
    EXPECT_EQ(TableText(IDS_CANNOT_CONNECT_LOGON, L"dez.example"), std::wstring(ResultMessage));
    EXPECT_EQ(std::vector<std::string>{"dez.example"}, g_resolved);
    EXPECT_NE(std::string::npos, Log().find("  getaddrinfo() error = 11001"));
    EXPECT_FALSE(listener.Connected());
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

TEST_F(LogonWindow, ServerThatFloodsEndsWithinTheTimeOut)
{
    Listener listener;
    PointAt(L"127.0.0.1", listener.Port());
    // Text without any prompt, as fast as the dialogue takes it, until it closes.
    std::thread server([&] {
        if (!listener.ConnectedWithin(VLAN_DIALOGUE_TIMEOUT_MS))
            return;
        SOCKET client = listener.Accept();
        const char line[] = "Port 12 link up, speed 100M full duplex, no change in state.\r\n";
        while (send(client, line, sizeof(line) - 1, 0) > 0) {
        }
        closesocket(client);
    });
    INT_PTR result = Logon(TimerStarvingProc, L"alice", L"secret");
    server.join();
    EXPECT_EQ(OPERATION_FAILURE, result) << "the dialogue did not end within a minute";
    EXPECT_EQ(TableText(IDS_SOCKET_ERROR, L"recv()", WSAETIMEDOUT), std::wstring(ResultMessage));
    EXPECT_LT(elapsedMs_, (DWORD)VLAN_DIALOGUE_TIMEOUT_MS + 5000);
}

}  // namespace
