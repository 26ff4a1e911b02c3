// A pipe of the service's name served by a thread of the test: a stranger holding the name,
// or a scripted server. It reads what each client sends until the client goes, and answers
// the n-th request with the n-th row of its reply table; past the table it answers nothing.
#pragma once

#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace test {

struct PipeReply {
    std::string bytes;  // written as one message
    bool held;          // written only once Release() is called
};

class FakePipe {
public:
    // The pipe exists when the constructor returns (Listening() says whether it could be
    // made); one instance, message mode.
    explicit FakePipe(std::vector<PipeReply> replies = {});
    ~FakePipe();
    bool Listening() const { return pipe_ != INVALID_HANDLE_VALUE; }
    DWORD CreateError() const { return createError_; }
    LONG Connections() const { return connections_; }
    // Every byte read so far, of every client.
    std::string Received();
    void Release() { SetEvent(release_); }
    // Ends the serving thread; what was read until then stays readable.
    void Stop();

private:
    void Serve();
    bool Wait(OVERLAPPED *io, DWORD *bytes);

    std::vector<PipeReply> replies_;
    HANDLE pipe_;
    DWORD createError_ = 0;
    HANDLE stop_, release_, ioEvent_;
    std::atomic<LONG> connections_{0};
    std::mutex lock_;
    std::string received_;
    std::thread thread_;
};

}  // namespace test
