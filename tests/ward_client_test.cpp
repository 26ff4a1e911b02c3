// The clients' service call against the real wardhost and against stand-in pipe servers,
// the logon request's words, the administrator test and the several-interfaces warning.
#include "test_support.h"
#include "bench_support.h"
#include "fake_pipe.h"
#include "ward_client.h"
#include "product_key.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

// ---- the logon request

TEST(LogonRequest, WordsAreCheckedNeverCut)
{
    // "logon" + three blanks + the words: 259 units fit, 260 do not; so too with two.
    const std::wstring user(100, L'u'), password(100, L'p'), domain(259 - 5 - 3 - 200, L'd'),
        longDomain = domain + L'd', longPassword(259 - 5 - 2 - 100, L'p'),
        tooLongPassword = longPassword + L'p';
    struct {
        const wchar_t *user, *password, *domain;
        LogonWordsResult result;
        std::wstring request;
    } cases[] = {
        {L"alice", L"p\tw", L"CORP", LOGON_WORDS_OK, L"logon alice p\tw CORP"},
        {L"alice", L"secret", NULL, LOGON_WORDS_OK, L"logon alice secret"},
        {L"alice", L"secret", L"", LOGON_WORDS_OK, L"logon alice secret"},
        {L"", L"secret", L"CORP", LOGON_WORDS_BLANK, L""},
        {L"alice", L"", L"CORP", LOGON_WORDS_BLANK, L""},
        {L"al ice", L"secret", NULL, LOGON_WORDS_BLANK, L""},
        {L"alice", L"se cret", L"CORP", LOGON_WORDS_BLANK, L""},
        {L"alice", L"secret ", L"CORP", LOGON_WORDS_BLANK, L""},
        {L"alice", L"secret", L" CORP", LOGON_WORDS_BLANK, L""},
        {NULL, L"secret", NULL, LOGON_WORDS_BLANK, L""},
        {L"alice", NULL, NULL, LOGON_WORDS_BLANK, L""},
        {user.c_str(), password.c_str(), domain.c_str(), LOGON_WORDS_OK,
         L"logon " + user + L" " + password + L" " + domain},
        {user.c_str(), password.c_str(), longDomain.c_str(), LOGON_WORDS_TOO_LONG, L""},
        {user.c_str(), longPassword.c_str(), NULL, LOGON_WORDS_OK, L"logon " + user + L" " + longPassword},
        {user.c_str(), tooLongPassword.c_str(), NULL, LOGON_WORDS_TOO_LONG, L""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(test::Narrow(c.request.empty() ? L"refused" : c.request));
        WCHAR request[WARD_REQUEST_CHARS] = L"stale";
        EXPECT_EQ(c.result, FormatLogonRequest(c.user, c.password, c.domain, request));
        EXPECT_EQ(c.request, std::wstring(request));
    }
}

// ---- administrator test

struct Groups {
    BYTE sids[3][SECURITY_MAX_SID_SIZE];
    BYTE storage[sizeof(TOKEN_GROUPS) + 3 * sizeof(SID_AND_ATTRIBUTES)];
    TOKEN_GROUPS *groups = reinterpret_cast<TOKEN_GROUPS *>(storage);

    Groups(std::initializer_list<std::pair<WELL_KNOWN_SID_TYPE, DWORD>> members)
    {
        groups->GroupCount = 0;
        for (const auto &member : members) {
            DWORD size = SECURITY_MAX_SID_SIZE;
            BYTE *sid = sids[groups->GroupCount];
            EXPECT_TRUE(CreateWellKnownSid(member.first, NULL, sid, &size));
            groups->Groups[groups->GroupCount].Sid = sid;
            groups->Groups[groups->GroupCount].Attributes = member.second;
            groups->GroupCount++;
        }
    }
};

TEST(Administrator, MembershipRegardlessOfAttributes)
{
    const DWORD enabled = SE_GROUP_ENABLED | SE_GROUP_ENABLED_BY_DEFAULT | SE_GROUP_MANDATORY;
    EXPECT_TRUE(TokenGroupsHoldAdministrators(
        Groups({{WinWorldSid, enabled}, {WinBuiltinAdministratorsSid, enabled}}).groups));
    // A filtered administrator holds the group for deny only, and still counts.
    EXPECT_TRUE(TokenGroupsHoldAdministrators(
        Groups({{WinBuiltinUsersSid, enabled}, {WinBuiltinAdministratorsSid,
                                                SE_GROUP_USE_FOR_DENY_ONLY}}).groups));
    EXPECT_TRUE(TokenGroupsHoldAdministrators(Groups({{WinBuiltinAdministratorsSid, 0}}).groups));
    EXPECT_FALSE(TokenGroupsHoldAdministrators(
        Groups({{WinWorldSid, enabled}, {WinBuiltinUsersSid, enabled},
                {WinBuiltinPowerUsersSid, enabled}}).groups));
    EXPECT_FALSE(TokenGroupsHoldAdministrators(Groups({}).groups));
    // The process token, read at its own size, gives the answer its groups give.
    std::vector<BYTE> block(64 * 1024);
    DWORD size = 0;
    HANDLE token = NULL;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
    ASSERT_TRUE(GetTokenInformation(token, TokenGroups, block.data(), (DWORD)block.size(), &size));
    CloseHandle(token);
    EXPECT_EQ(TokenGroupsHoldAdministrators(reinterpret_cast<TOKEN_GROUPS *>(block.data())), IsAdministrator());
}

// ---- the several-interfaces warning's text

using MultiInterface = test::ServiceTestBase;  // for its empty product key

TEST_F(MultiInterface, WarningNeedsTheSwitchAndAText)
{
    WCHAR message[CONFIG_TEXT_CHARS];
    EXPECT_FALSE(ReadMultiInterfaceWarning(message, ARRAYSIZE(message)));
    test::SetConfigString(NULL, VALUE_MULTI_INTERFACE_MESSAGE, L"Two networks.\\nUnplug one.");
    EXPECT_FALSE(ReadMultiInterfaceWarning(message, ARRAYSIZE(message)));
    test::SetConfigDword(NULL, VALUE_MULTI_INTERFACE_CHECK, 7);  // any non-zero is on
    ASSERT_TRUE(ReadMultiInterfaceWarning(message, ARRAYSIZE(message)));
    EXPECT_STREQ(L"Two networks.\nUnplug one.", message);
    test::SetConfigString(NULL, VALUE_MULTI_INTERFACE_MESSAGE, L"");
    EXPECT_FALSE(ReadMultiInterfaceWarning(message, ARRAYSIZE(message)));
    EXPECT_STREQ(L"", message);
}

// ---- the service call

using ServiceCall = test::ServiceTestBase;

TEST_F(ServiceCall, RealServiceAnswersAndPassesTheServerCheck)
{
    test::SetConfigDword(NULL, VALUE_NOT_FIND_DOMAIN, 1);  // "finddomain" answers at once
    InstallAndStart();
    WardReply reply;
    ASSERT_EQ((DWORD)ERROR_SUCCESS,
              CallWardService(L"finddomain", WARD_BUSY_RETRY_MS, WARD_REPLY_TIMEOUT_MS, &reply));
    EXPECT_TRUE(reply.accepted);
    EXPECT_STREQ(L"", reply.text);

    // While another client holds the only instance the call is refused before sending.
    // The service may still be between the last reply and its next listen: wait for the
    // instance to be free (bounded) before taking it.
    ASSERT_TRUE(bench::WaitForService(10000));
    HANDLE holder = CreateFileW(WARD_PIPE_NAME, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, holder) << GetLastError();
    DWORD error = CallWardService(L"hello", 100, 5000, &reply);
    EXPECT_TRUE(IsServiceRefusalBeforeSending(error)) << error;
    CloseHandle(holder);
}

std::string Utf16Bytes(const std::wstring &text)
{
    return std::string(reinterpret_cast<const char *>(text.data()), text.size() * 2);
}

// Every request, whatever the caller asks for: a squatter answering "iprenew" would put a
// text of its own on the logon screen as the service's answer.
TEST_F(ServiceCall, ServerCheckRefusesAPipeNotServedByTheService)
{
    const wchar_t *requests[] = {L"logon alice secret", L"iprenew", L"finddomain", L"logoff"};
    for (const wchar_t *request : requests) {
        SCOPED_TRACE(test::Narrow(request));
        test::FakePipe server({{Utf16Bytes(L"NG" + std::wstring(258, L'!')), false}});
        ASSERT_TRUE(server.Listening()) << server.CreateError();
        WardReply reply;
        EXPECT_EQ((DWORD)ERROR_SERVICE_NOT_ACTIVE, CallWardService(request, 0, 5000, &reply));
        EXPECT_FALSE(reply.accepted);
        EXPECT_STREQ(L"", reply.text);
        server.Stop();
        EXPECT_EQ("", server.Received()) << "the request reached a stranger";
    }
}

// The cases below read replies from the test's own pipe server, which the server check
// would refuse: they put a check in place that accepts it.
class FakeServerCall : public ServiceCall {
protected:
    void SetUp() override
    {
        ServiceCall::SetUp();
        SetWardServerCheck([](HANDLE) { return TRUE; });
    }
    void TearDown() override
    {
        SetWardServerCheck(NULL);
        ServiceCall::TearDown();
    }
};

TEST_F(FakeServerCall, RepliesAreReadWithinTheirBuffer)
{
    struct {
        const char *name;
        std::string bytes;
        const wchar_t *request;
        BOOL accepted;
        std::wstring text;
    } cases[] = {
        {"exactly 520 bytes: all of it, terminated", Utf16Bytes(L"OK" + std::wstring(258, L'm')),
         L"iprenew", TRUE, std::wstring(258, L'm')},
        {"longer than the buffer: answered, its first 520 bytes kept",
         Utf16Bytes(L"NG" + std::wstring(258, L'a') + L"zzzz"), L"logoff", FALSE, std::wstring(258, L'a')},
        {"only exactly OK accepts; an odd trailing byte is dropped", Utf16Bytes(L"okay") + "x",
         L"logoff", FALSE, L"ay"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        test::FakePipe server({{c.bytes, false}});
        WardReply reply;
        wmemset(reply.text, L'#', WARD_REPLY_CHARS);
        ASSERT_EQ((DWORD)ERROR_SUCCESS, CallWardService(c.request, 0, 5000, &reply));
        EXPECT_EQ(c.accepted, reply.accepted);
        EXPECT_EQ(c.text, std::wstring(reply.text));
        server.Stop();
        EXPECT_EQ(Utf16Bytes(c.request), server.Received());  // no terminator sent
    }
}

TEST_F(FakeServerCall, ASilentServerTimesOut)
{
    test::FakePipe server({{Utf16Bytes(L"OK"), true}});
    WardReply reply;
    EXPECT_EQ((DWORD)ERROR_TIMEOUT, CallWardService(L"finddomain", 0, 300, &reply));
    EXPECT_FALSE(reply.accepted);
    server.Stop();
    EXPECT_EQ(Utf16Bytes(L"finddomain"), server.Received());
}

TEST_F(FakeServerCall, AbsentPipeIsRetriedForTheGivenTime)
{
    WardReply reply;
    ULONGLONG start = GetTickCount64();
    EXPECT_EQ((DWORD)ERROR_FILE_NOT_FOUND, CallWardService(L"logoff", 300, 5000, &reply));
    EXPECT_GE(GetTickCount64() - start, 300u);
    EXPECT_EQ((DWORD)ERROR_FILE_NOT_FOUND, CallWardService(L"logoff", 0, 5000, &reply));

    // A server that appears while the call is retrying is reached.
    DWORD error = ERROR_GEN_FAILURE;
    std::thread call([&] { error = CallWardService(L"logoff", 60000, 5000, &reply); });
    test::FakePipe server({{Utf16Bytes(L"OK"), false}});
    call.join();
    EXPECT_EQ((DWORD)ERROR_SUCCESS, error);
    EXPECT_TRUE(reply.accepted);
}

}  // namespace
