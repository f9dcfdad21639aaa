// The test build's probe of the worker's confinement, from inside a worker
// that has started and confined itself as the shipped one does. Each attempt
// reports the errno it met, 0 when it succeeded. The request names a path to
// create and write, then paths to read. A request of the one word "break" instead slips a header of no
// kind into the channel after its reply, ahead of the next: a worker gone
// astray; "send", a kind and a payload slip in a whole reply of that kind, to
// be read as the next call's.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "worker/worker_state.h"

extern char** environ;

namespace {

int Attempt(bool succeeded) { return succeeded ? 0 : errno; }

int OpenAndClose(const std::string& path, int flags) {
    const int handle = open(path.c_str(), flags | O_CLOEXEC, 0600);
    if (handle >= 0) close(handle);
    return Attempt(handle >= 0);
}

int ConnectToLoopback() {
    const int handle = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (handle < 0) return errno;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(9);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int result = Attempt(connect(handle, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0);
    close(handle);
    return result == ECONNREFUSED ? 0 : result;  // refused by no one listening: the network was reached
}

int StartProgram() {
    char program[] = "/bin/true";
    char* argv[] = {program, nullptr};
    pid_t child = -1;
    const int failed = posix_spawn(&child, program, nullptr, nullptr, argv, environ);
    if (failed) return failed;
    int status = 0;
    waitpid(child, &status, 0);
    return 0;
}

int Fork() {
    const pid_t child = fork();
    if (child == 0) _exit(0);
    if (child > 0) waitpid(child, nullptr, 0);
    return Attempt(child > 0);
}

}  // namespace

void ServeProbe(WorkerState& state, wire::Reader& request, wire::Writer& reply) {
    const std::string write_path = request.GetString();
    if (write_path == "break" || write_path == "send") {
        // This probe's own (empty) reply, then the stray header or reply.
        const bool send = write_path == "send";
        const uint32_t kind = send ? request.Get<uint32_t>() : 0xBAD;
        const std::string payload = send ? request.GetString() : std::string();
        const wire::Header sent[2] = {{wire::kMagic, static_cast<uint32_t>(wire::Kind::kProbe), 0, 0},
                                      {wire::kMagic, kind, 0, payload.size()}};
        std::string bytes(reinterpret_cast<const char*>(sent), sizeof sent);
        bytes += payload;
        if (write(isolation::kWorkerChannelHandle, bytes.data(), bytes.size()) != ssize_t(bytes.size())) std::abort();
        return;
    }
    reply.Put<uint8_t>(state.confinement.no_new_privileges);
    reply.Put<int32_t>(state.confinement.landlock_abi);
    reply.Put<uint8_t>(state.confinement.seccomp);
    reply.Put<int32_t>(OpenAndClose(write_path, O_WRONLY | O_CREAT | O_TRUNC));
    for (uint64_t n = request.Get<uint64_t>(); n > 0; --n) reply.Put<int32_t>(OpenAndClose(request.GetString(), O_RDONLY));
    reply.Put<int32_t>(ConnectToLoopback());
    reply.Put<int32_t>(StartProgram());
    reply.Put<int32_t>(Fork());
    reply.Put<int32_t>(Attempt(kill(getppid(), 0) == 0));
}
