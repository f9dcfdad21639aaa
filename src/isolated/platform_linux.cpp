// The Linux side of platform.h but the confinement (confinement_linux.cpp).
#include "isolated/platform.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

extern char** environ;

namespace isolation {

namespace {
std::string ErrnoText(const char* what) { return std::string(what) + ": " + strerror(errno); }
}  // namespace

SharedMemory::~SharedMemory() {
    if (data_) munmap(data_, size_);
    if (handle_ >= 0) close(handle_);
}

// Sealed against shrinking, so that neither side can pull pages from under
// the other's view (a SIGBUS in the host).
bool SharedMemory::Create(std::string& error) {
    handle_ = static_cast<int>(memfd_create("tessarine-tensors", MFD_CLOEXEC | MFD_ALLOW_SEALING));
    if (handle_ < 0 || fcntl(handle_, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_SEAL) != 0) {
        error = ErrnoText("the shared memory could not be made");
        return false;
    }
    owner_ = true;
    return true;
}

void SharedMemory::Adopt(int handle) { handle_ = handle; }

bool SharedMemory::Resize(uint64_t size, std::string& error) {
    if (size == size_) return true;
    if (owner_ && ftruncate(handle_, static_cast<off_t>(size)) != 0) {
        error = ErrnoText("the shared memory could not grow");
        return false;
    }
    void* view = data_ ? mremap(data_, size_, size, MREMAP_MAYMOVE)
                       : mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, handle_, 0);
    if (view == MAP_FAILED) {
        error = ErrnoText("the shared memory could not be mapped");
        return false;
    }
    data_ = static_cast<unsigned char*>(view);
    size_ = size;
    return true;
}

void Channel::Reset(int handle) {
    Close();
    handle_ = handle;
}

void Channel::Close() {
    if (handle_ >= 0) close(handle_);
    handle_ = -1;
}

bool Channel::Send(const void* bytes, size_t size) {
    const char* at = static_cast<const char*>(bytes);
    while (size > 0) {
        const ssize_t sent = send(handle_, at, size, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) continue;
        if (sent <= 0) return false;
        at += sent;
        size -= static_cast<size_t>(sent);
    }
    return true;
}

Received Channel::Receive(void* bytes, size_t size, int64_t deadline_ms) {
    char* at = static_cast<char*>(bytes);
    while (size > 0) {
        if (deadline_ms >= 0) {
            const int64_t left = deadline_ms - MonotonicMilliseconds();
            pollfd ready = {handle_, POLLIN, 0};
            const int polled = left <= 0 ? 0 : poll(&ready, 1, static_cast<int>(std::min<int64_t>(left, 1 << 30)));
            if (polled < 0 && errno == EINTR) continue;
            if (polled == 0) return Received::kTimedOut;
        }
        const ssize_t got = recv(handle_, at, size, deadline_ms >= 0 ? MSG_DONTWAIT : MSG_WAITALL);
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (got <= 0) return Received::kEnded;
        at += got;
        size -= static_cast<size_t>(got);
    }
    return Received::kAll;
}

int64_t MonotonicMilliseconds() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t{now.tv_sec} * 1000 + now.tv_nsec / 1000000;
}

namespace {

// The child's view: standard input and output on the null device, the two
// ends at their fixed handles, default signal handling and an empty mask
// (the host's handlers and mask are its own). Returns posix_spawn's result.
int Spawn(const std::string& path, int channel, int memory, pid_t& id) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    // dup2 clears close-on-exec on the copies the worker keeps.
    posix_spawn_file_actions_adddup2(&actions, channel, kWorkerChannelHandle);
    posix_spawn_file_actions_adddup2(&actions, memory, kWorkerMemoryHandle);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t all, none;
    sigfillset(&all);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
    const int failed = posix_spawn(&id, path.c_str(), &actions, &attributes, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    return failed;
}

}  // namespace

bool WorkerProcess::Start(const std::string& path, const SharedMemory& memory, Channel& host_end,
                          std::string& error) {
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
        error = ErrnoText("the worker's channel could not be made");
        return false;
    }
    // Copies above the two target handles, so that neither dup2 overwrites
    // the other's source; close-on-exec, they end with the exec.
    const int channel_copy = fcntl(ends[1], F_DUPFD_CLOEXEC, kWorkerMemoryHandle + 1);
    const int memory_copy = fcntl(memory.handle(), F_DUPFD_CLOEXEC, kWorkerMemoryHandle + 1);
    close(ends[1]);
    pid_t id = -1;
    int failed = channel_copy < 0 || memory_copy < 0 ? EMFILE : Spawn(path, channel_copy, memory_copy, id);
    close(channel_copy);
    close(memory_copy);
    if (failed) {
        close(ends[0]);
        errno = failed;
        error = ErrnoText(("the worker process " + path + " could not be started").c_str());
        return false;
    }
    id_ = id;
    host_end.Reset(ends[0]);
    return true;
}

std::string WorkerProcess::End(int grace_ms) {
    if (id_ <= 0) return "had not started";
    const pid_t id = static_cast<pid_t>(id_);
    id_ = -1;
    int status = 0;
    // A worker whose end of the channel closed is most likely exiting: give
    // it a moment to finish, so that its own status is reported, not the kill.
    pid_t reaped = waitpid(id, &status, WNOHANG);
    for (int wait_ms = 0; reaped == 0 && wait_ms < grace_ms; ++wait_ms) {
        usleep(1000);
        reaped = waitpid(id, &status, WNOHANG);
    }
    if (reaped == 0) {
        kill(id, SIGKILL);
        reaped = waitpid(id, &status, 0);
    }
    while (reaped < 0 && errno == EINTR) reaped = waitpid(id, &status, 0);
    if (reaped != id) return "ended (its status is unknown: the host collects its children itself)";
    if (WIFEXITED(status)) return "exited with status " + std::to_string(WEXITSTATUS(status));
    const int signal = WTERMSIG(status);
    const char* name = sigabbrev_np(signal);
    return "ended with signal " + std::to_string(signal) + (name ? " (SIG" + std::string(name) + ")" : "");
}

std::string BesideThisBinary(const std::string& name) {
    Dl_info info{};
    if (!dladdr(reinterpret_cast<void*>(&BesideThisBinary), &info) || !info.dli_fname) return name;
    std::string path = info.dli_fname;
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? name : path.substr(0, slash + 1) + name;
}

void CloseInheritedHandles() {
    syscall(SYS_close_range, kWorkerMemoryHandle + 1, ~0U, 0);
}

}  // namespace isolation
