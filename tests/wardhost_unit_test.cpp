// In-process tests of the service's pieces: request grammar, reply, diagnostic log,
// resources and the time limits wardhost.exe runs with.
#include "test_support.h"
#include "files.h"
#include "string_tables.h"
#include "operation_window.h"
#include "time_limits.h"
#include "wardhost.h"
#include "wardhost_res.h"

#include <gtest/gtest.h>

#include <aclapi.h>
#include <sddl.h>

#include <regex>
#include <set>
#include <vector>

namespace {

struct GrammarCase {
    const wchar_t *request;
    CommandId command;
    const wchar_t *userName;  // NULL: expected missing
    const wchar_t *password;
    const wchar_t *domain;
};

const GrammarCase GRAMMAR[] = {
    {L"logon alice secret CORP", COMMAND_LOGON, L"alice", L"secret", L"CORP"},
    {L"LOGON alice secret CORP", COMMAND_LOGON, L"alice", L"secret", L"CORP"},
    {L"LoGoN  alice   secret    CORP", COMMAND_LOGON, L"alice", L"secret", L"CORP"},
    {L"   logon alice secret CORP", COMMAND_LOGON, L"alice", L"secret", L"CORP"},
    {L"logon alice", COMMAND_LOGON, L"alice", NULL, NULL},
    {L"logon alice secret", COMMAND_LOGON, L"alice", L"secret", NULL},
    {L"logon", COMMAND_LOGON, NULL, NULL, NULL},
    {L"logon a b c d e", COMMAND_LOGON, L"a", L"b", L"c"},
    {L"logon a\tb c", COMMAND_LOGON, L"a\tb", L"c", NULL},
    {L"logon alice secret CORP ", COMMAND_LOGON, L"alice", L"secret", L"CORP"},
    {L"Logoff", COMMAND_LOGOFF, NULL, NULL, NULL},
    {L"logoff alice secret CORP", COMMAND_LOGOFF, NULL, NULL, NULL},
    {L"IPRENEW", COMMAND_IPRENEW, NULL, NULL, NULL},
    {L"finddomain now", COMMAND_FINDDOMAIN, NULL, NULL, NULL},
    {L"logon\talice secret", COMMAND_UNKNOWN, NULL, NULL, NULL},
    {L"", COMMAND_UNKNOWN, NULL, NULL, NULL},
    {L"     ", COMMAND_UNKNOWN, NULL, NULL, NULL},
    {L"log on", COMMAND_UNKNOWN, NULL, NULL, NULL},
    {L"logons a b c", COMMAND_UNKNOWN, NULL, NULL, NULL},
    {L"\x00ecogon", COMMAND_UNKNOWN, NULL, NULL, NULL},
};

std::string Token(LPCWSTR token)
{
    return token != NULL ? test::Narrow(token) : "<missing>";
}

TEST(RequestGrammar, TokensAndCommandWords)
{
    for (const GrammarCase &c : GRAMMAR) {
        SCOPED_TRACE("\"" + test::Narrow(c.request) + "\"");
        std::vector<wchar_t> request(c.request, c.request + wcslen(c.request) + 1);
        LogonRequest logon = {L"x", L"x", L"x"};
        EXPECT_EQ(c.command, ParseRequest(request.data(), &logon));
        EXPECT_EQ(Token(c.userName), Token(logon.userName));
        EXPECT_EQ(Token(c.password), Token(logon.password));
        EXPECT_EQ(Token(c.domain), Token(logon.domain));
    }
}

TEST(Reply, PrefixAndMessageWithoutDelimiter)
{
    wchar_t reply[REQUEST_MAX_CHARS + 2];
    SetResultMessage(L"");
    EXPECT_EQ(2, FormatReply(OPERATION_SUCCESS, reply, ARRAYSIZE(reply)));
    EXPECT_STREQ(L"OK", reply);
    EXPECT_EQ(2, FormatReply(OPERATION_FAILURE, reply, ARRAYSIZE(reply)));
    EXPECT_STREQ(L"NG", reply);
    // Anything but 1 is a failure, the platform's -1 for a window that failed included.
    EXPECT_EQ(2, FormatReply(-1, reply, ARRAYSIZE(reply)));
    EXPECT_STREQ(L"NG", reply);
    SetResultMessage(L"Authentication failed.");
    EXPECT_EQ(24, FormatReply(OPERATION_FAILURE, reply, ARRAYSIZE(reply)));
    EXPECT_STREQ(L"NGAuthentication failed.", reply);  // any message, with no delimiter
}

TEST(Reply, LongMessageIsShortenedToFitTheClientsBuffer)
{
    std::wstring address(255, L'a');
    LoadResultMessage(IDS_CANNOT_CONNECT_LOGON, address.c_str());
    EXPECT_EQ(259u, wcslen(ResultMessage));
    std::wstring message = ResultMessage;
    wchar_t reply[REQUEST_MAX_CHARS + 2];
    int chars = FormatReply(OPERATION_FAILURE, reply, ARRAYSIZE(reply));
    EXPECT_EQ(260, chars);
    EXPECT_EQ(L"NG" + message.substr(0, 258), std::wstring(reply));
}

class Log : public ::testing::Test {
protected:
    void SetUp() override
    {
        test::ClearProductKey();
        dir_ = test::MakeTempDir(L"portgate-log");
        path_ = dir_ + L"\\service.log";
        test::SetLogFile(path_);  // read by each LogOpen
    }
    void TearDown() override
    {
        LogClose();
        test::ClearProductKey();
        test::RemoveTree(dir_);
    }
    std::wstring dir_, path_;
};

// Lines of the log without their time stamps; a line not in the log's format, or one
// without its line feed, stands in angle brackets.
std::vector<std::string> Messages(const std::string &log)
{
    std::vector<std::string> messages;
    std::regex stamp("\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d \\[SERVICE \\] (.*)\r");
    size_t start = 0;
    for (size_t end; (end = log.find('\n', start)) != std::string::npos; start = end + 1) {
        std::smatch match;
        std::string line = log.substr(start, end - start);
        messages.push_back(std::regex_match(line, match, stamp) ? std::string(match[1]) : "<" + line + ">");
    }
    if (start < log.size())
        messages.push_back("<" + log.substr(start) + ">");
    return messages;
}

TEST_F(Log, LinesBannersAndEscapes)
{
    LogOpen();
    LogPrint("  VLAN Logon server port no   = %d", 4321);
    LogPrint("%s", "text with 100% in it");
    // Control characters are escaped, so that no line can be forged.
    LogPrint("  user name: %s", "eve\n04:00:00.000 [SERVICE ] forged\r\x1b[2J\x7f\ttab");
    LogClose();
    LogPrint("after close");  // logging is off again
    std::vector<std::string> expected = {
        "*** START Portgate for Vista Service ***",
        "  VLAN Logon server port no   = 4321",
        "text with 100% in it",
        "  user name: eve\\x0a04:00:00.000 [SERVICE ] forged\\x0d\\x1b[2J\\x7f\\x09tab",
        "*** STOP Portgate for Vista Service ***",
    };
    EXPECT_EQ(expected, Messages(test::ReadFileBytes(path_)));
}

TEST_F(Log, TimeStampIsTheLocalTimeToTheMillisecond)
{
    LogOpen();
    SYSTEMTIME before, after;
    GetLocalTime(&before);
    LogPrint("mark");
    GetLocalTime(&after);
    std::string log = test::ReadFileBytes(path_);
    size_t at = log.find("mark");
    ASSERT_NE(std::string::npos, at);
    size_t lineStart = log.rfind('\n', at) + 1;
    int h, m, s, ms;
    ASSERT_EQ(4, sscanf(log.c_str() + lineStart, "%2d:%2d:%2d.%3d", &h, &m, &s, &ms));
    const int DAY = 24 * 60 * 60 * 1000;
    auto millis = [](int hh, int mm, int ss, int xx) { return ((hh * 60 + mm) * 60 + ss) * 1000 + xx; };
    // Measured from `before` on the clock face, so that a run across midnight, where the
    // stamp and `after` have gone round to 00:00, still compares in order.
    int start = millis(before.wHour, before.wMinute, before.wSecond, before.wMilliseconds);
    auto since = [&](int t) { return (t - start + DAY) % DAY; };
    EXPECT_LE(since(millis(h, m, s, ms)),
              since(millis(after.wHour, after.wMinute, after.wSecond, after.wMilliseconds)));
}

// The path is read at each start: without the value the last one's file stays as it was.
TEST_F(Log, NoValueWritesNothing)
{
    LogOpen();
    LogClose();
    const std::string before = test::ReadFileBytes(path_);
    test::ClearProductKey();
    LogOpen();
    LogPrint("nothing");
    LogClose();
    EXPECT_EQ(before, test::ReadFileBytes(path_));
}

TEST_F(Log, DeletedFileIsCreatedAgainByTheNextLine)
{
    LogOpen();
    ASSERT_TRUE(DeleteFileW(path_.c_str()));
    LogPrint("first after delete");
    EXPECT_EQ(std::vector<std::string>{"first after delete"}, Messages(test::ReadFileBytes(path_)));
}

// The owner and DACL of path in SDDL, well-known accounts by their aliases, as in
// "O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)".
std::wstring SecurityOf(const std::wstring &path)
{
    const SECURITY_INFORMATION parts = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    PSECURITY_DESCRIPTOR descriptor = NULL;
    LPWSTR text = NULL;
    if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, parts, NULL, NULL, NULL, NULL,
                              &descriptor) == ERROR_SUCCESS)
        ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1, parts, &text, NULL);
    std::wstring sddl = text != NULL ? text : L"<unreadable>";
    LocalFree(text);
    LocalFree(descriptor);
    return sddl;
}

// Windows keeps the DACL given (SYSTEM and Administrators); Wine keeps only Unix mode
// bits and reads back SYSTEM and the owner, the account the log was made by, which owns
// the test's folder too.
TEST_F(Log, FreshFileIsForSystemAndAdministratorsOnly)
{
    LogOpen();
    // A null DACL ("D:NO_ACCESS_CONTROL") or an empty one does not match.
    std::wstring sddl = SecurityOf(path_);
    std::wsmatch parts;
    ASSERT_TRUE(std::regex_match(sddl, parts, std::wregex(L"O:(.+?)D:[A-Z]*(\\(.*\\))")))
        << test::Narrow(sddl);
    const std::wstring owner = parts[1];
    EXPECT_TRUE(owner == L"SY" || owner == L"BA" || SecurityOf(dir_).rfind(L"O:" + owner + L"D:", 0) == 0)
        << test::Narrow(sddl) << " in " << test::Narrow(SecurityOf(dir_));
    const std::wstring aces = parts[2];
    std::wregex allowed(L"\\(A;[^;]*;[^;]*;[^;]*;[^;]*;([^)]*)\\)");
    for (std::wsregex_iterator ace(aces.begin(), aces.end(), allowed), end; ace != end; ++ace) {
        std::wstring trustee = (*ace)[1];
        EXPECT_TRUE(trustee == L"SY" || trustee == L"BA" || trustee == owner)
            << test::Narrow(trustee) << " may use the log: " << test::Narrow(sddl);
    }
    LogPrint("second line");  // the file it made itself is accepted again
    LogClose();
    EXPECT_EQ(3u, Messages(test::ReadFileBytes(path_)).size());
}

// A user plants a name at the log path before the first line: the service appends
// nothing through it, and nothing at all, and goes on without a log.
TEST_F(Log, PlantedLinksAndForeignFilesAreLeftUntouched)
{
    const std::wstring victim = dir_ + L"\\victim.bat";
    const std::string content = "@ECHO OFF\r\nECHO,victim\r\n";
    ASSERT_TRUE(test::WriteBytes(victim, content.data(), (DWORD)content.size()));
    auto logALine = [] {
        LogOpen();
        LogPrint("ECHO,INJECTED");
        LogClose();
    };

    ASSERT_TRUE(CreateHardLinkW(path_.c_str(), victim.c_str(), NULL)) << GetLastError();
    logALine();
    EXPECT_EQ(content, test::ReadFileBytes(victim)) << "appended through a hard link";
    ASSERT_TRUE(DeleteFileW(path_.c_str()));

    if (CreateSymbolicLinkW(path_.c_str(), victim.c_str(), 0)) {
        logALine();
        EXPECT_EQ(content, test::ReadFileBytes(victim)) << "appended through a symbolic link";
        DeleteFileW(path_.c_str());
    } else {
        printf("symbolic link case not run: CreateSymbolicLinkW failed with %lu\n",
               (unsigned long)GetLastError());
    }

    // A plain file of another owner (here: Users) holds the text of whoever made it.
    PSECURITY_DESCRIPTOR descriptor = NULL;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(L"O:BUD:(A;;FA;;;WD)",
                                                                     SDDL_REVISION_1, &descriptor, NULL));
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor, FALSE};
    HANDLE file = CreateFileW(path_.c_str(), GENERIC_WRITE, 0, &attributes, CREATE_NEW, 0, NULL);
    LocalFree(descriptor);
    ASSERT_NE(INVALID_HANDLE_VALUE, file) << GetLastError();
    CloseHandle(file);
    std::wstring security = SecurityOf(path_);
    if (security.rfind(L"O:BUD:", 0) == 0) {
        logALine();
        EXPECT_EQ("", test::ReadFileBytes(path_)) << "wrote into a file another account owns";
    } else {
        printf("foreign-owner case not run: the file reads back as %s\n", test::Narrow(security).c_str());
    }
}

// ---- resources

TEST(Resources, EnglishAndJapaneseHaveTheSameStringIds)
{
    std::set<UINT> english = test::StringIdsOfLanguage(GetModuleHandleW(NULL), test::ENGLISH);
    std::set<UINT> japanese = test::StringIdsOfLanguage(GetModuleHandleW(NULL), test::JAPANESE);
    // Texts of the service, the new credentials rule and the -check block are all read.
    for (UINT id : {IDS_AUTH_FAILED, IDS_CREDENTIALS_NOT_CONVERTIBLE, IDS_CHECK_LINE})
        EXPECT_EQ(1u, english.count(id)) << id;
    EXPECT_EQ(english, japanese);
}

TEST(Resources, UserInterfaceLanguagePicksTheTable)
{
    // The Japanese entry states what it runs under, so that it cannot pass in English.
    bool japanese = PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_JAPANESE;
    ASSERT_EQ(test::ExpectedLanguage() == test::JAPANESE, japanese)
        << "user interface language " << GetUserDefaultUILanguage();
    EXPECT_EQ(japanese ? L"認証に失敗しました。" : L"Authentication failed.",
              test::ModuleString(NULL, IDS_AUTH_FAILED));
    // One operation window template serves every language.
    EXPECT_NE(nullptr, FindResourceW(GetModuleHandleW(NULL), MAKEINTRESOURCEW(IDD_OPERATION),
                                     RT_DIALOG));
}

// ---- time limits

// Tests that link the service's code scale its limits down; the program runs the real ones,
// and so does this test, which installs none. They are written out here on purpose: a scaled
// value that slips into the real table must fail a test, not pass every one faster.
TEST(TimeLimits, TheProgramRunsTheRealValues)
{
    const TimeLimitTable &real = TimeLimits();
    EXPECT_EQ(&REAL_TIME_LIMITS, &real);
    const DWORD expected[][2] = {
        {real.dialogueMs, 30000},       {real.replyPauseMs, 50},        {real.renewDelayMs, 4000},
        {real.searchFirstProbeMs, 0},   {real.searchNextProbeMs, 5000}, {real.searchBudgetMs, 120000},
        {real.pipeRequestMs, 1000},     {real.pipeReplyMs, 5000},       {real.pipeDefaultWaitMs, 1000},
        {real.startWaitHintMs, 3000},   {real.uninstallPollMs, 1000},   {real.checkNetworkMs, 5000},
        {real.checkPipeMs, 5000},
    };
    for (size_t i = 0; i < ARRAYSIZE(expected); i++)
        EXPECT_EQ(expected[i][1], expected[i][0]) << "limit " << i;
    // A scaled table is put back by NULL.
    TimeLimitTable scaled = REAL_TIME_LIMITS;
    SetTimeLimits(&scaled);
    EXPECT_EQ(&scaled, &TimeLimits());
    SetTimeLimits(NULL);
    EXPECT_EQ(&REAL_TIME_LIMITS, &TimeLimits());
}

}  // namespace
