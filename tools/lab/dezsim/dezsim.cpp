// dezsim: stands in for a DE-Zeruzu authentication server so the Portgate
// service can be exercised without a switch. Plays a script against every
// accepted TCP connection, one connection at a time.

#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0600
#endif
#define WIN32_LEAN_AND_MEAN
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <shellapi.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>
#include <vector>

#include "dezsim_script.h"

using dezsim::Step;
using dezsim::StepKind;

namespace {

const DWORD kExpectTimeoutMs = 10000;   // bound on waiting for one client line
const DWORD kCloseWaitMs = 2000;        // bound on waiting for the client's close
const DWORD kPartialIdleMs = 300;       // print an unterminated line after this quiet time
const DWORD kSendTimeoutMs = 10000;     // a client that stops reading must not block us forever

std::wstring g_transcript;

const char kUsage[] =
    "Usage: dezsim.exe --script FILE [--bind ADDR] [--port N] [--connections N]\n"
    "                  [--transcript FILE]\n"
    "\n"
    "Simulates a DE-Zeruzu authentication server: listens on TCP and plays the\n"
    "script against each accepted connection, one connection at a time.\n"
    "\n"
    "  --script FILE      script to play (required)\n"
    "  --bind ADDR        IPv4 address to listen on (default 127.0.0.1;\n"
    "                     use 0.0.0.0 to accept workstations on a lab network)\n"
    "  --port N           TCP port (default 0 = any free port)\n"
    "  --connections N    exit with code 0 after N connections (default: forever)\n"
    "  --transcript FILE  also append every output line to FILE\n"
    "  --help             show this text\n"
    "\n"
    "Script steps, one per line (# starts a comment): send \"TEXT\", sendline \"TEXT\"\n"
    "(adds CR LF), expect \"TEXT\", expectany, sleep MS, close, reset (RST), hang [MS]\n"
    "(default 60000), flood N \"TEXT\". Strings accept \\r \\n \\t \\0 \\\\ \\\" \\' \\xNN.\n"
    "tools/lab/dezsim/README.md describes the steps and the output lines.\n";

std::string narrow(const std::wstring& w)
{
    int n = WideCharToMultiByte(CP_ACP, 0, w.c_str(), (int)w.size(), nullptr, 0, nullptr, nullptr);
    std::string s(n > 0 ? n : 0, '\0');
    if (n > 0) WideCharToMultiByte(CP_ACP, 0, w.c_str(), (int)w.size(), &s[0], n, nullptr, nullptr);
    return s;
}

HANDLE openTranscript(const std::wstring& path)
{
    return CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

void emit(const std::string& line)
{
    std::string text = line + "\n";
    fwrite(text.data(), 1, text.size(), stdout);
    fflush(stdout);
    if (g_transcript.empty()) return;
    // Opened per line so a test can read (or delete) the file at any time.
    HANDLE h = openTranscript(g_transcript);
    if (h == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(h, text.data(), (DWORD)text.size(), &written, nullptr);
    CloseHandle(h);
}

int fail(int code, const std::string& msg)
{
    fprintf(stderr, "dezsim: %s\n", msg.c_str());
    fflush(stderr);
    return code;
}

std::string withError(const std::string& msg, unsigned long error)
{
    return msg + " (error " + std::to_string(error) + ")";
}

// 0, or the error that kept the file from being read.
DWORD readWholeFile(const std::wstring& path, std::string& data)
{
    FILE* f = _wfopen(path.c_str(), L"rb");
    if (!f) return GetLastError();
    char buf[4096];
    for (size_t got; (got = fread(buf, 1, sizeof buf, f)) > 0;) data.append(buf, got);
    DWORD error = ferror(f) ? ERROR_READ_FAULT : 0;
    fclose(f);
    return error;
}

struct Conn {
    SOCKET s = INVALID_SOCKET;
    std::string pending;      // received, not yet printed
    bool peerClosed = false;  // client sent FIN (or the connection broke)
};

enum class RecvResult { Data, Closed, Timeout };

RecvResult recvSome(Conn& c, DWORD timeoutMs)
{
    fd_set rd;
    FD_ZERO(&rd);
    FD_SET(c.s, &rd);
    timeval tv = {(long)(timeoutMs / 1000), (long)((timeoutMs % 1000) * 1000)};
    int r = select(0, &rd, nullptr, nullptr, &tv);
    if (r == 0) return RecvResult::Timeout;
    if (r == SOCKET_ERROR) {
        emit("fail: select error " + std::to_string(WSAGetLastError()));
        c.peerClosed = true;
        return RecvResult::Closed;
    }
    char buf[4096];
    int n = recv(c.s, buf, sizeof buf, 0);
    if (n > 0) {
        c.pending.append(buf, n);
        return RecvResult::Data;
    }
    if (n == SOCKET_ERROR) {
        int e = WSAGetLastError();
        emit(e == WSAECONNRESET ? std::string("conn: peer reset")
                                : "fail: recv error " + std::to_string(e));
    } else {
        emit("conn: peer closed");
    }
    c.peerClosed = true;
    return RecvResult::Closed;
}

void printCompleteLines(Conn& c)
{
    std::string line;
    while (dezsim::takeLine(c.pending, line)) emit("recv: " + dezsim::escape(line));
}

void printPartial(Conn& c)
{
    if (!c.pending.empty()) emit("recv: " + dezsim::escape(c.pending));
    c.pending.clear();
}

// Prints whatever the client sends until it closes or ms elapse.
void watch(Conn& c, DWORD ms)
{
    printCompleteLines(c);
    ULONGLONG deadline = GetTickCount64() + ms;
    while (!c.peerClosed) {
        ULONGLONG now = GetTickCount64();
        if (now >= deadline) break;
        DWORD left = (DWORD)(deadline - now);
        DWORD wait = c.pending.empty() ? left : (left < kPartialIdleMs ? left : kPartialIdleMs);
        RecvResult r = recvSome(c, wait);
        printCompleteLines(c);
        // A line without LF that has stopped growing is shown rather than held back.
        if (r == RecvResult::Timeout) printPartial(c);
    }
    printPartial(c);
}

// One line with its CR LF, printed; false on timeout or close.
bool readLine(Conn& c, std::string& line)
{
    ULONGLONG deadline = GetTickCount64() + kExpectTimeoutMs;
    while (!dezsim::takeLine(c.pending, line)) {
        ULONGLONG now = GetTickCount64();
        if (c.peerClosed || now >= deadline) {
            printPartial(c);
            emit(c.peerClosed ? std::string("fail: client closed the connection before sending a line")
                              : "fail: no line from the client within " + std::to_string(kExpectTimeoutMs) + " ms");
            return false;
        }
        recvSome(c, (DWORD)(deadline - now));
    }
    emit("recv: " + dezsim::escape(line));
    return true;
}

bool sendAll(Conn& c, const std::string& data)
{
    size_t off = 0;
    while (off < data.size()) {
        int n = send(c.s, data.data() + off, (int)(data.size() - off), 0);
        if (n == SOCKET_ERROR) {
            emit("fail: send error " + std::to_string(WSAGetLastError()));
            return false;
        }
        off += (size_t)n;
    }
    return true;
}

// Graceful: FIN first, then drain so unread data does not turn closesocket into a RST.
// Abortive: SO_LINGER 0 makes closesocket send a RST.
void closeNow(Conn& c, bool abortive = false)
{
    if (abortive) {
        printPartial(c);
        linger lg = {1, 0};
        setsockopt(c.s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&lg), sizeof lg);
    } else {
        shutdown(c.s, SD_SEND);
        watch(c, kCloseWaitMs);
    }
    closesocket(c.s);
    c.s = INVALID_SOCKET;
    emit("conn: closed");
}

void play(SOCKET s, const std::vector<Step>& steps)
{
    Conn c;
    c.s = s;
    BOOL noDelay = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof noDelay);
    DWORD sndTimeout = kSendTimeoutMs;
    setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&sndTimeout), sizeof sndTimeout);
    emit("conn: open");

    for (const Step& step : steps) {
        switch (step.kind) {
        case StepKind::Send:
        case StepKind::SendLine: {
            std::string data = step.text;
            if (step.kind == StepKind::SendLine) data += "\r\n";
            emit("send: " + dezsim::escape(data));
            if (!sendAll(c, data)) return closeNow(c, true);
            break;
        }
        case StepKind::Flood:
            emit("flood: " + std::to_string(step.number) + " " + dezsim::escape(step.text));
            for (unsigned long i = 0; i < step.number; ++i)
                if (!sendAll(c, step.text)) return closeNow(c, true);
            break;
        case StepKind::Expect:
        case StepKind::ExpectAny: {
            std::string line;
            if (!readLine(c, line)) return closeNow(c);
            std::string got = dezsim::stripLineEnd(line);
            if (step.kind == StepKind::Expect && got != step.text) {
                emit("mismatch: expected " + dezsim::escape(step.text, true) + " got " +
                     dezsim::escape(got, true));
                return closeNow(c);
            }
            break;
        }
        case StepKind::Sleep:
            Sleep(step.number);
            break;
        case StepKind::Hang:
            watch(c, step.number);
            break;
        case StepKind::Close:
            return closeNow(c);
        case StepKind::Reset:
            return closeNow(c, true);
        }
    }

    // Script done: give the client the chance to close first, as it does
    // after reading the final answer.
    watch(c, kCloseWaitMs);
    closeNow(c);
}

struct Options {
    std::wstring script;
    std::wstring bind = L"127.0.0.1";
    unsigned long port = 0;
    unsigned long connections = 0; // 0 = forever
    std::wstring transcript;
};

// -1 to go on, otherwise the exit code.
int parseArgs(int argc, wchar_t** argv, Options& o)
{
    for (int i = 1; i < argc; ++i) {
        std::wstring a = argv[i];
        if (a == L"--help" || a == L"-h" || a == L"/?") {
            fputs(kUsage, stdout);
            fflush(stdout);
            return 0;
        }
        bool known = a == L"--script" || a == L"--bind" || a == L"--port" ||
                     a == L"--connections" || a == L"--transcript";
        if (!known) return fail(2, "unknown argument \"" + narrow(a) + "\" (see --help)");
        if (i + 1 >= argc) return fail(2, narrow(a) + " needs a value (see --help)");
        std::wstring v = argv[++i];
        if (a == L"--script") o.script = v;
        else if (a == L"--bind") o.bind = v;
        else if (a == L"--transcript") o.transcript = v;
        else {
            unsigned long n = 0;
            bool isPort = a == L"--port";
            if (!dezsim::parseNumber(narrow(v), isPort ? 65535UL : 0x7FFFFFFFUL, n) || (!isPort && n == 0))
                return fail(2, "bad value \"" + narrow(v) + "\" for " + narrow(a) +
                                   (isPort ? " (expected 0..65535)" : " (expected a number >= 1)"));
            (isPort ? o.port : o.connections) = n;
        }
    }
    if (o.script.empty()) return fail(2, "--script FILE is required (see --help)");
    return -1;
}

int run(int argc, wchar_t** argv)
{
    Options opt;
    int rc = parseArgs(argc, argv, opt);
    if (rc >= 0) return rc;

    std::string source;
    if (DWORD e = readWholeFile(opt.script, source))
        return fail(2, withError("cannot read " + narrow(opt.script), e));
    std::vector<Step> steps;
    dezsim::ParseError perr;
    if (!dezsim::parseScript(source, steps, perr))
        return fail(3, narrow(opt.script) + ":" + std::to_string(perr.line) + ": " + perr.message);

    if (!opt.transcript.empty()) {
        HANDLE h = openTranscript(opt.transcript);
        DWORD e = GetLastError();
        if (h == INVALID_HANDLE_VALUE)
            return fail(2, withError("cannot open transcript " + narrow(opt.transcript), e));
        CloseHandle(h);
        g_transcript = opt.transcript;
    }

    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_port = htons((u_short)opt.port);
    if (InetPtonW(AF_INET, opt.bind.c_str(), &addr.sin_addr) != 1)
        return fail(2, "bad --bind address \"" + narrow(opt.bind) + "\" (expected IPv4 like 127.0.0.1)");

    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) return fail(1, "WSAStartup failed");
    SOCKET ls = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (ls == INVALID_SOCKET) return fail(1, withError("socket failed", WSAGetLastError()));
    // Without this another process could bind the same port and steal connections.
    BOOL exclusive = TRUE;
    setsockopt(ls, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive), sizeof exclusive);
    sockaddr_in bound = {};
    int len = sizeof bound;
    char ip[INET_ADDRSTRLEN] = "";
    rc = 0;
    if (bind(ls, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == SOCKET_ERROR ||
        listen(ls, SOMAXCONN) == SOCKET_ERROR ||
        getsockname(ls, reinterpret_cast<sockaddr*>(&bound), &len) == SOCKET_ERROR) {
        int e = WSAGetLastError();
        rc = fail(1, withError("cannot listen on " + narrow(opt.bind) + ":" + std::to_string(opt.port), e));
    } else {
        inet_ntop(AF_INET, &bound.sin_addr, ip, sizeof ip);
        emit("listening on " + std::string(ip) + ":" + std::to_string(ntohs(bound.sin_port)));
    }
    for (unsigned long played = 0; rc == 0 && (opt.connections == 0 || played < opt.connections); ++played) {
        SOCKET s = accept(ls, nullptr, nullptr);
        if (s == INVALID_SOCKET) rc = fail(1, withError("accept failed", WSAGetLastError()));
        else play(s, steps);
    }
    closesocket(ls);
    WSACleanup();
    return rc;
}

} // namespace

int main()
{
    // Output lines end in LF only, the same on the console, in pipes and in
    // the transcript, so readers need no CR handling.
    _setmode(_fileno(stdout), _O_BINARY);
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv) return fail(2, "cannot read the command line");
    int rc = run(argc, argv);
    LocalFree(argv);
    return rc;
}
