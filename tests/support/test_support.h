// Helpers shared by the tests: child processes with captured output, the wardhost
// service under the service control manager, pipe calls and the product key.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include "files.h"
#include "product_key.h"
#include "ward_names.h"

#include <gtest/gtest.h>

#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace test {

// Folder of the running test program; every built program lies beside it.
std::wstring BinaryDir();
std::wstring BinaryPath(const wchar_t *fileName);

// String `id` of the string table of a program beside the tests, in the language Windows
// picks for this process.
std::wstring ProgramString(const wchar_t *fileName, UINT id);
// String `id` of wardhost.exe's string table, in the language this process loads it in
// (the service's own, as long as both run under the same user interface language).
std::wstring WardhostString(UINT id);
// The same, formatted with wsprintf arguments as the service formats its messages.
std::wstring WardhostText(UINT id, ...);

struct ProcessResult {
    bool started = false;
    bool finished = false;
    DWORD exitCode = 0;
    std::string output;  // standard output and standard error, as written
};
// Starts commandLine with standard output and standard error going to output (an
// inheritable handle); returns the process handle, or NULL.
HANDLE StartProcessWritingTo(const std::wstring &commandLine, HANDLE output);
// Starts commandLine with standard output and standard error going to *readEnd, which
// the caller reads and closes; returns the process handle, or NULL.
HANDLE StartCapturedProcess(const std::wstring &commandLine, HANDLE *readEnd);
// Runs commandLine with standard output captured, waiting at most timeoutMs.
ProcessResult RunProcess(const std::wstring &commandLine, DWORD timeoutMs = 30000);

// A child process whose output lines (without line ends) a thread collects as they come.
class LineProcess {
public:
    LineProcess();
    ~LineProcess();
    bool Start(const std::wstring &commandLine);
    // Lines seen so far.
    std::vector<std::string> Lines();
    // Waits at most timeoutMs until done(lines so far) holds; whether it did.
    bool WaitUntil(const std::function<bool(const std::vector<std::string> &)> &done,
                   DWORD timeoutMs);
    // The first line for which wanted holds, within timeoutMs; empty when none came.
    std::string WaitFor(const std::function<bool(const std::string &)> &wanted, DWORD timeoutMs);
    bool WaitForLine(const std::string &wanted, DWORD timeoutMs);
    std::string WaitForText(const std::string &part, DWORD timeoutMs);
    // Waits at most timeoutMs for its end; its exit code, or STILL_ACTIVE after killing it.
    DWORD Finish(DWORD timeoutMs);
    // Ends it now; every line it printed.
    std::vector<std::string> Kill();

private:
    void ReadLines();

    HANDLE process_ = NULL;
    HANDLE readEnd_ = NULL;
    HANDLE lineEvent_;
    std::thread reader_;
    std::mutex lock_;
    std::vector<std::string> lines_;
};

// dezsim as a child process.
class Simulator : public LineProcess {
public:
    // Starts dezsim on script for `connections` connections; false when it did not
    // print its "listening on" line (it binds port 0) within 20 s.
    bool Start(const std::wstring &script, int connections = 1);
    int Port() const { return port_; }
    // Waits for dezsim to end after its connections; every line it printed.
    std::vector<std::string> Finish(DWORD timeoutMs = 15000);

private:
    int port_ = 0;
};
// A script shipped beside the programs, by file name.
std::wstring ShippedScript(const wchar_t *name);
// What a client sent ("alice\\r\\n", as dezsim escapes it) and how many connections it made.
std::vector<std::string> Received(const std::vector<std::string> &lines);
int Connections(const std::vector<std::string> &lines);
// Items as "[a][b]", so that a failed comparison shows where one ends.
std::string Joined(const std::vector<std::string> &items);

// wardhost under the service control manager of the test prefix.
// "IMAGE -install", by default the shipped wardhost.exe; true when installed afterwards.
bool InstallService(const wchar_t *image = L"wardhost.exe");
void UninstallService();     // stops and deletes it if present, waits until it is gone
bool IsServiceInstalled();
bool StartService();         // starts it and waits for RUNNING and a listening pipe
bool StopService();          // sends stop and waits for STOPPED
DWORD ServiceState();        // 0 when it can't be queried
DWORD ServiceProcessId();
bool WaitForServiceState(DWORD state, DWORD timeoutMs);
// Installs standin_service.exe under wardhost's name (none may be installed) and starts it
// with REPORT MODE...; true once it runs and its pipe listens. See standin_service.cpp.
bool StartStandInService(const std::wstring &report, const std::vector<std::wstring> &mode);

// One CallNamedPipeW transaction with raw request bytes; false with *error set on failure.
bool CallPipeRaw(const void *request, DWORD bytes, std::wstring *reply, DWORD *error,
                 DWORD timeout = NMPWAIT_NOWAIT);
// The usual client call, waiting at most 5 s for the pipe instance to be free; returns
// the reply, or "<error N>" when the call fails.
std::wstring CallPipe(const std::wstring &request);

// The product key of the test prefix.
void ClearProductKey();  // deletes the whole key with its subkeys
void SetConfigString(const wchar_t *subkey, const wchar_t *name, const std::wstring &value);
void SetConfigDword(const wchar_t *subkey, const wchar_t *name, DWORD value);
// The key's logon server (or logoff server) as server at port.
void PointSwitchAt(int port, bool logoff = false, const std::wstring &server = L"127.0.0.1");
// simulator started on script, the key's logon (or logoff) server pointed at it; false when
// it did not start.
bool StartSwitch(Simulator *simulator, const std::wstring &script, bool logoff = false, int connections = 1);
// The service's diagnostic log path, read through the ANSI API when the service starts.
void SetLogFile(const std::wstring &path);
// SetLogFile on a file in a fresh folder (*dir, which the caller removes); its path.
std::wstring LogToTempFile(const wchar_t *prefix, std::wstring *dir);
bool GetConfigDword(const wchar_t *subkey, const wchar_t *name, DWORD *value);
bool GetConfigString(const wchar_t *subkey, const wchar_t *name, std::wstring *value);

// Tests of the installed service: none is installed and the product key is empty
// before and after each test.
class ServiceTestBase : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    void InstallAndStart();
};

// A fresh empty folder under the test prefix's temporary folder.
std::wstring MakeTempDir(const wchar_t *prefix);
void RemoveTree(const std::wstring &path);
std::string ReadFileBytes(const std::wstring &path);
bool FileExists(const std::wstring &path);
// Whether text (UTF-16) lies anywhere in the committed, readable memory of process (opened
// with PROCESS_QUERY_INFORMATION and PROCESS_VM_READ), its images' sections aside. Mapped
// code-page tables hold the alphabet in order: a text looked for must not be such a run.
bool ProcessMemoryHolds(HANDLE process, const std::wstring &text);

}  // namespace test
