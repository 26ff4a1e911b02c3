// Script language of the DE-Zeruzu simulator: parsing and byte escaping.
// Pure functions only (no sockets, no files) so they can be unit tested.
#pragma once

#include <string>
#include <vector>

namespace dezsim {

enum class StepKind {
    Send,       // send "TEXT"        bytes exactly
    SendLine,   // sendline "TEXT"    TEXT + CR LF
    Expect,     // expect "TEXT"      one line from the client must equal TEXT
    ExpectAny,  // expectany          one line from the client, any content
    Sleep,      // sleep MS
    Close,      // close              graceful close now
    Reset,      // reset              abortive close now
    Hang,       // hang [MS]          stay silent, print what arrives
    Flood,      // flood N "TEXT"     send TEXT N times
};

struct Step {
    StepKind kind = StepKind::Send;
    std::string text;         // Send, SendLine, Expect, Flood (already unescaped)
    unsigned long number = 0; // milliseconds (Sleep, Hang) or count (Flood)
    int line = 0;             // line in the script file, for messages
};

struct ParseError {
    int line = 0;             // 1-based line of the offending step
    std::string message;
};

constexpr unsigned long kDefaultHangMs = 60000;
// Upper bounds that keep a typo from turning into a month-long pause.
constexpr unsigned long kMaxMs = 86400000UL;      // one day
constexpr unsigned long kMaxFloodCount = 1000000UL;

// Parses a whole script. On failure returns false and fills err; steps may
// then hold a partial result.
bool parseScript(const std::string& source, std::vector<Step>& steps, ParseError& err);

// Decodes the body of a quoted string (without the quotes): \r \n \t \\ \"
// \' \0 and \xNN (exactly two hex digits). Any other backslash sequence is
// an error, so a typo in a script does not silently send the wrong bytes.
bool unescape(const std::string& body, std::string& out, std::string& err);

// Makes bytes printable on one line: CR as \r, LF as \n, backslash as \\,
// any byte outside 0x20..0x7E as \xNN. With quotes=true, '"' becomes \" and
// the result is wrapped in double quotes (a valid script string literal).
std::string escape(const std::string& bytes, bool quotes = false);

// Decimal number without sign, at most max. Rejects empty text, other
// characters and overflow.
bool parseNumber(const std::string& text, unsigned long max, unsigned long& out);

// Takes one complete line (up to and including LF) off the front of buffer.
// Returns false and leaves buffer alone when no LF is present yet.
bool takeLine(std::string& buffer, std::string& line);

// Removes one trailing LF and then one trailing CR, as a terminal would.
std::string stripLineEnd(const std::string& line);

} // namespace dezsim
