#include "dezsim_script.h"

#include <cctype>
#include <cstring>

namespace dezsim {

namespace {

const char kHexDigits[] = "0123456789ABCDEF";

int hexValue(char c)
{
    const char* at = c != 0 ? strchr(kHexDigits, toupper(static_cast<unsigned char>(c))) : nullptr;
    return at ? static_cast<int>(at - kHexDigits) : -1;
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

struct LineReader {
    const std::string& text;
    size_t pos = 0;

    explicit LineReader(const std::string& t) : text(t) {}

    void skipBlanks()
    {
        while (pos < text.size() && isBlank(text[pos])) ++pos;
    }
    // Only blanks or a comment remain.
    bool atEnd()
    {
        skipBlanks();
        return pos >= text.size() || text[pos] == '#';
    }
    // A word ends at a blank or a comment.
    bool atWordEnd() const { return pos >= text.size() || isBlank(text[pos]) || text[pos] == '#'; }
    std::string word()
    {
        skipBlanks();
        size_t start = pos;
        while (!atWordEnd()) ++pos;
        return text.substr(start, pos - start);
    }
};

bool readString(LineReader& r, std::string& out, std::string& err)
{
    r.skipBlanks();
    if (r.pos >= r.text.size() || r.text[r.pos] != '"') {
        err = "expected a quoted string";
        return false;
    }
    size_t start = ++r.pos;
    while (r.pos < r.text.size() && r.text[r.pos] != '"') {
        // Skip the escaped character so \" does not end the string.
        r.pos += (r.text[r.pos] == '\\') ? 2 : 1;
    }
    if (r.pos >= r.text.size()) {
        err = "unterminated string";
        return false;
    }
    std::string body = r.text.substr(start, r.pos++ - start);
    if (!r.atWordEnd()) {
        err = "unexpected text after closing quote";
        return false;
    }
    return unescape(body, out, err);
}

bool readNumber(LineReader& r, unsigned long max, unsigned long& out, std::string& err)
{
    std::string w = r.word();
    if (w.empty()) {
        err = "expected a number";
        return false;
    }
    if (!parseNumber(w, max, out)) {
        err = "bad number \"" + w + "\" (expected 0.." + std::to_string(max) + ")";
        return false;
    }
    return true;
}

bool parseStep(const std::string& keyword, LineReader& r, Step& step, std::string& err)
{
    if (keyword == "send" || keyword == "sendline" || keyword == "expect") {
        step.kind = keyword == "send"       ? StepKind::Send
                  : keyword == "sendline"   ? StepKind::SendLine
                                            : StepKind::Expect;
        return readString(r, step.text, err);
    }
    if (keyword == "expectany") { step.kind = StepKind::ExpectAny; return true; }
    if (keyword == "close")     { step.kind = StepKind::Close; return true; }
    if (keyword == "reset")     { step.kind = StepKind::Reset; return true; }
    if (keyword == "sleep") {
        step.kind = StepKind::Sleep;
        return readNumber(r, kMaxMs, step.number, err);
    }
    if (keyword == "hang") {
        step.kind = StepKind::Hang;
        step.number = kDefaultHangMs;
        return r.atEnd() || readNumber(r, kMaxMs, step.number, err);
    }
    if (keyword == "flood") {
        step.kind = StepKind::Flood;
        if (!readNumber(r, kMaxFloodCount, step.number, err) || !readString(r, step.text, err))
            return false;
        const char* bad = step.number == 0   ? "flood count must be at least 1"
                          : step.text.empty() ? "flood text must not be empty"
                                              : nullptr;
        if (bad) err = bad;
        return bad == nullptr;
    }
    err = "unknown step \"" + keyword + "\"";
    return false;
}

} // namespace

bool unescape(const std::string& body, std::string& out, std::string& err)
{
    // The letter after a backslash and the byte it stands for, \xNN aside.
    static const char letters[] = "rnt0\\\"'", bytes[] = "\r\n\t\0\\\"'";
    out.clear();
    for (size_t i = 0; i < body.size(); ++i) {
        if (body[i] != '\\') {
            out += body[i];
            continue;
        }
        if (++i >= body.size()) {
            err = "backslash at end of string";
            return false;
        }
        if (const char* letter = body[i] != 0 ? strchr(letters, body[i]) : nullptr) {
            out += bytes[letter - letters];
        } else if (body[i] == 'x') {
            int hi = i + 1 < body.size() ? hexValue(body[i + 1]) : -1;
            int lo = i + 2 < body.size() ? hexValue(body[i + 2]) : -1;
            if (hi < 0 || lo < 0) {
                err = "\\x needs two hex digits";
                return false;
            }
            out += static_cast<char>(hi * 16 + lo);
            i += 2;
        } else {
            err = std::string("unknown escape \\") + body[i];
            return false;
        }
    }
    return true;
}

std::string escape(const std::string& bytes, bool quotes)
{
    std::string out;
    if (quotes) out += '"';
    for (char ch : bytes) {
        unsigned char c = static_cast<unsigned char>(ch);
        if (c == '\r') out += "\\r";
        else if (c == '\n') out += "\\n";
        else if (c == '\\') out += "\\\\";
        else if (c == '"' && quotes) out += "\\\"";
        else if (c >= 0x20 && c <= 0x7E) out += ch;
        else {
            out += "\\x";
            out += kHexDigits[c >> 4];
            out += kHexDigits[c & 0x0F];
        }
    }
    if (quotes) out += '"';
    return out;
}

bool parseNumber(const std::string& text, unsigned long max, unsigned long& out)
{
    if (text.empty()) return false;
    unsigned long long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<unsigned>(c - '0');
        if (value > max) return false;
    }
    out = static_cast<unsigned long>(value);
    return true;
}

bool takeLine(std::string& buffer, std::string& line)
{
    size_t lf = buffer.find('\n');
    if (lf == std::string::npos) return false;
    line = buffer.substr(0, lf + 1);
    buffer.erase(0, lf + 1);
    return true;
}

std::string stripLineEnd(const std::string& line)
{
    std::string s = line;
    if (!s.empty() && s.back() == '\n') s.pop_back();
    if (!s.empty() && s.back() == '\r') s.pop_back();
    return s;
}

bool parseScript(const std::string& source, std::vector<Step>& steps, ParseError& err)
{
    steps.clear();
    std::string text = source;
    // Scripts saved by Notepad may start with a UTF-8 byte order mark.
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);

    int lineNo = 0;
    size_t pos = 0;
    int closedAt = 0; // line of a close/reset step, after which nothing runs
    while (pos < text.size()) {
        size_t eol = text.find('\n', pos);
        if (eol == std::string::npos) eol = text.size();
        std::string line = text.substr(pos, eol - pos);
        pos = eol + 1;
        ++lineNo;
        if (!line.empty() && line.back() == '\r') line.pop_back();

        LineReader r(line);
        if (r.atEnd()) continue;

        Step step;
        step.line = err.line = lineNo;
        std::string keyword = r.word();
        if (!parseStep(keyword, r, step, err.message)) return false;
        if (!r.atEnd()) {
            err.message = "unexpected text after " + keyword + ": \"" + line.substr(r.pos) + "\"";
            return false;
        }
        if (closedAt != 0) {
            err.message = "step after the connection was closed on line " +
                          std::to_string(closedAt) + " would never run";
            return false;
        }
        if (step.kind == StepKind::Close || step.kind == StepKind::Reset) closedAt = lineNo;
        steps.push_back(step);
    }
    return true;
}

} // namespace dezsim
