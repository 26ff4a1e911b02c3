// In-process tests of the DE-Zeruzu dialogues' pure pieces: the server-address template,
// the prompt tables with their first-match rule, the group number and the reply-line
// limit of the ANSI copies.
#include "test_support.h"
#include "wardhost.h"

#include <gtest/gtest.h>

#include <string.h>

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

}  // namespace
