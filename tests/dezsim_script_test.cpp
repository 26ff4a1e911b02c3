// Script parser and byte escaping of the DE-Zeruzu simulator (tools/lab/dezsim).
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "dezsim_script.h"

using dezsim::ParseError;
using dezsim::Step;
using dezsim::StepKind;

namespace {

std::vector<Step> parseOk(const std::string& src)
{
    std::vector<Step> steps;
    ParseError err;
    EXPECT_TRUE(dezsim::parseScript(src, steps, err)) << "line " << err.line << ": " << err.message;
    return steps;
}

ParseError parseBad(const std::string& src)
{
    std::vector<Step> steps;
    ParseError err;
    EXPECT_FALSE(dezsim::parseScript(src, steps, err)) << "accepted: " << src;
    return err;
}

std::string unescapeOk(const std::string& body)
{
    std::string out, err;
    EXPECT_TRUE(dezsim::unescape(body, out, err)) << body << ": " << err;
    return out;
}

} // namespace

TEST(DezsimEscape, EscapesControlHighAndBackslashBytes)
{
    EXPECT_EQ(dezsim::escape("a\r\n"), "a\\r\\n");
    EXPECT_EQ(dezsim::escape(std::string("\x00\x7f\x80\xff\t", 5)), "\\x00\\x7F\\x80\\xFF\\x09");
    EXPECT_EQ(dezsim::escape("C:\\x"), "C:\\\\x");
    // Quotes are only escaped when a script literal is wanted.
    EXPECT_EQ(dezsim::escape("say \"1\""), "say \"1\"");
    EXPECT_EQ(dezsim::escape("say \"1\"", true), "\"say \\\"1\\\"\"");
}

TEST(DezsimEscape, EveryByteRoundTrips)
{
    std::string all;
    for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
    EXPECT_EQ(unescapeOk(dezsim::escape(all)), all);
    std::string quoted = dezsim::escape(all, true);
    ASSERT_GE(quoted.size(), 2u);
    EXPECT_EQ(unescapeOk(quoted.substr(1, quoted.size() - 2)), all);
}

TEST(DezsimEscape, UnescapeAcceptsCEscapesAndRejectsTypos)
{
    EXPECT_EQ(unescapeOk("\\t\\\"\\'\\0\\x4a\\x4B"), std::string("\t\"'\0JK", 6));
    std::string out, err;
    for (const char* bad : {"\\q", "ab\\", "\\x4", "\\xg0", "\\x"}) {
        EXPECT_FALSE(dezsim::unescape(bad, out, err)) << bad;
        EXPECT_FALSE(err.empty()) << bad;
    }
}

TEST(DezsimScript, ParsesEveryStepKind)
{
    struct Case {
        const char *src;
        std::vector<Step> steps;  // kind, text, number, line
    };
    const Case cases[] = {
        {"# logon\n"
         "\n"
         "send \"Connect(1) / Disconnect(2): \"   # trailing comment\n"
         "\texpect \"1\"\n"
         "sendline \"Login Name? \\\"#\\\"\"\n"
         "expectany\n"
         "sleep 250\n"
         "flood 3 \"x\\r\\n\"\n"
         "hang\n"
         "hang 1500\n"
         "close\n",
         {{StepKind::Send, "Connect(1) / Disconnect(2): ", 0, 3},
          {StepKind::Expect, "1", 0, 4},
          {StepKind::SendLine, "Login Name? \"#\"", 0, 5},
          {StepKind::ExpectAny, "", 0, 6},
          {StepKind::Sleep, "", 250, 7},
          {StepKind::Flood, "x\r\n", 3, 8},
          {StepKind::Hang, "", dezsim::kDefaultHangMs, 9},
          {StepKind::Hang, "", 1500, 10},
          {StepKind::Close, "", 0, 11}}},
        // CR LF line ends, bytes that are not text, a byte order mark, no final newline
        {"send \"\\x00\\xff\"\r\nreset\r\n",
         {{StepKind::Send, std::string("\0\xff", 2), 0, 1}, {StepKind::Reset, "", 0, 2}}},
        {"\xEF\xBB\xBFsleep 1\nclose", {{StepKind::Sleep, "", 1, 1}, {StepKind::Close, "", 0, 2}}},
        {"", {}},
    };
    auto fields = [](const std::vector<Step>& steps) {
        std::vector<std::tuple<int, std::string, unsigned long, int>> all;
        for (const Step& s : steps) all.emplace_back((int)s.kind, s.text, s.number, s.line);
        return all;
    };
    for (const Case &c : cases)
        EXPECT_EQ(fields(c.steps), fields(parseOk(c.src))) << c.src;
}

TEST(DezsimScript, ReportsTheLineOfEachError)
{
    struct Case {
        const char* src;
        int line;
        const char* inMessage;
    };
    const Case cases[] = {
        {"send \"ok\"\n\nsend \"open\n", 3, "unterminated"},
        {"send \"ends in backslash\\\"\n", 1, "unterminated"},
        {"# c\nsend ok\n", 2, "quoted string"},
        {"send \"a\"b\n", 1, "after closing quote"},
        {"send \"a\" \"b\"\n", 1, "unexpected text"},
        {"send \"\\q\"\n", 1, "escape"},
        {"\n\n\nsleep\n", 4, "number"},
        {"sleep 10ms\n", 1, "10ms"},
        {"sleep -5\n", 1, "-5"},
        {"sleep 99999999999999999999\n", 1, "bad number"},
        {"hang 1 2\n", 1, "unexpected text"},
        {"flood 0 \"x\"\n", 1, "at least 1"},
        {"flood 5\n", 1, "quoted string"},
        {"flood 5 \"\"\n", 1, "empty"},
        {"expectany now\n", 1, "unexpected text"},
        {"sendln \"x\"\n", 1, "unknown step"},
        {"SEND \"x\"\n", 1, "unknown step"},
        {"close\n# nothing\nsend \"late\"\n", 3, "never run"},
    };
    for (const Case& c : cases) {
        ParseError err = parseBad(c.src);
        EXPECT_EQ(err.line, c.line) << c.src;
        EXPECT_NE(err.message.find(c.inMessage), std::string::npos)
            << c.src << " -> " << err.message;
    }
}

TEST(DezsimScript, NumbersAreBoundedDecimals)
{
    unsigned long n = 7;
    EXPECT_TRUE(dezsim::parseNumber("0", 10, n));
    EXPECT_EQ(n, 0u);
    EXPECT_TRUE(dezsim::parseNumber("65535", 65535, n));
    EXPECT_EQ(n, 65535u);
    for (const char* bad : {"", "65536", "+1", "1 ", "0x10", "18446744073709551617"})
        EXPECT_FALSE(dezsim::parseNumber(bad, 65535, n)) << bad;
    EXPECT_EQ(parseOk("sleep 86400000\n").at(0).number, dezsim::kMaxMs);
    EXPECT_EQ(parseBad("sleep 86400001\n").line, 1);
}

TEST(DezsimLines, TakesWholeLinesAndStripsOneLineEnd)
{
    std::string buf = "1\r\nali";
    std::string line;
    ASSERT_TRUE(dezsim::takeLine(buf, line));
    EXPECT_EQ(line, "1\r\n");
    EXPECT_FALSE(dezsim::takeLine(buf, line));
    EXPECT_EQ(buf, "ali");
    buf += "ce\n\n";
    ASSERT_TRUE(dezsim::takeLine(buf, line));
    EXPECT_EQ(line, "alice\n");
    ASSERT_TRUE(dezsim::takeLine(buf, line));
    EXPECT_EQ(line, "\n");
    EXPECT_TRUE(buf.empty());

    EXPECT_EQ(dezsim::stripLineEnd("pw\r\n"), "pw");
    EXPECT_EQ(dezsim::stripLineEnd("pw\n"), "pw");
    EXPECT_EQ(dezsim::stripLineEnd("pw\r\r\n"), "pw\r");
    EXPECT_EQ(dezsim::stripLineEnd("\r\n"), "");
}
