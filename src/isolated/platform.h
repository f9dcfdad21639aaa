// The operating system's part of the isolated module, and all of it: starting
// the worker, the shared memory the tensors cross in, the channel the
// requests and replies cross on (which is also how either side notices that
// the other has ended), and the worker's confinement. The rest of the
// isolated module and the worker are portable C++ over these few calls.
//
// Linux: posix_spawn of the worker executable, a sealed memfd mapped on both
// sides, a stream socketpair, waitpid for the end, and no_new_privs, Landlock
// and seccomp for the confinement (platform_linux.cpp, confinement_linux.cpp).
// Windows would use CreateProcess under a restricted token inside a job
// object, a pagefile-backed file mapping, a pipe with overlapped reads and
// the process handle as the event that the worker has ended.
#ifndef TESSARINE_ISOLATED_PLATFORM_H
#define TESSARINE_ISOLATED_PLATFORM_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace isolation {

// The descriptors the worker finds its two ends at.
constexpr int kWorkerChannelHandle = 3;
constexpr int kWorkerMemoryHandle = 4;

// One region of memory mapped in the host and in its worker. Only the host
// grows it; it never shrinks (the kernel refuses that to either side), so
// neither side's view can end up past the object's end.
class SharedMemory {
public:
    SharedMemory() = default;
    ~SharedMemory();
    SharedMemory(const SharedMemory&) = delete;
    SharedMemory& operator=(const SharedMemory&) = delete;

    bool Create(std::string& error);  // host side, empty
    void Adopt(int handle);           // worker side, from its start
    // Host: grows the object to `size` (never less than it was) and maps all
    // of it. Worker: maps `size` bytes of what the host has grown. The view
    // may move; `size` is more than 0.
    bool Resize(uint64_t size, std::string& error);
    unsigned char* data() const { return data_; }
    uint64_t size() const { return size_; }
    int handle() const { return handle_; }

private:
    int handle_ = -1;
    bool owner_ = false;  // the host's, which alone grows it
    unsigned char* data_ = nullptr;
    uint64_t size_ = 0;
};

enum class Received { kAll, kEnded, kTimedOut };

// One end of the byte stream between host and worker.
class Channel {
public:
    explicit Channel(int handle = -1) : handle_(handle) {}
    ~Channel() { Close(); }
    Channel(const Channel&) = delete;
    Channel& operator=(const Channel&) = delete;

    void Reset(int handle);
    void Close();
    bool Open() const { return handle_ >= 0; }
    // False once the other end has gone; never raises a signal.
    bool Send(const void* bytes, size_t size);
    // Exactly `size` bytes, waiting until `deadline_ms` of the monotonic
    // clock (MonotonicMilliseconds), or without limit when it is negative.
    Received Receive(void* bytes, size_t size, int64_t deadline_ms);

private:
    int handle_ = -1;
};

int64_t MonotonicMilliseconds();

// The worker process of one object.
class WorkerProcess {
public:
    WorkerProcess() = default;
    ~WorkerProcess() { End(); }
    WorkerProcess(const WorkerProcess&) = delete;
    WorkerProcess& operator=(const WorkerProcess&) = delete;

    // Starts the executable at `path` from a fresh image, with the host's
    // environment, standard input and output on the null device, standard
    // error shared, and the channel's other end and the memory at the
    // handles above. `host_end` becomes this side of the channel.
    bool Start(const std::string& path, const SharedMemory& memory, Channel& host_end, std::string& error);
    bool Running() const { return id_ > 0; }
    // Ends the worker if it still runs after `grace_ms` and collects it; the
    // text says how it ended ("ended with signal 11 (SIGSEGV)", "exited with
    // status 3").
    std::string End(int grace_ms = 0);

private:
    long id_ = -1;
};

// The worker executable's path: `name` in the folder of the library or
// executable that holds this code.
std::string BesideThisBinary(const std::string& name);

// What confinement the worker got, layer by layer.
struct Confinement {
    bool no_new_privileges = false;
    int landlock_abi = 0;  // 0: the kernel has none
    bool seccomp = false;
};
// Worker side, once the runtime's libraries are loaded and before any model
// is read: from then on it may read `readable` (folders or files) and
// nothing it does not hold open already, and may not write files, open
// network sockets or start programs.
Confinement ConfineThisProcess(const std::vector<std::string>& readable);
// The worker closes whatever it inherited beyond its three standard handles
// and its two ends.
void CloseInheritedHandles();

}  // namespace isolation

#endif
