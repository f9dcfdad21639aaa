// The worker's life: it closes what it inherited, starts the runtime, confines
// itself, says it is ready, and serves requests until the host's end of the
// channel closes. Standard output is the null device: the module's console
// lines travel back with each reply instead.
#include <dlfcn.h>
#include <poll.h>
#include <malloc.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "module/diagnostics.h"
#include "worker/worker_state.h"

namespace {

std::string FolderOf(const std::string& path) { return path.substr(0, path.rfind('/')); }

// What the runtime reads after the worker is confined: its own libraries,
// plugins and readers, the system's libraries, and what the CPU plugin
// learns the machine from; of /proc, only this process's own entries and
// the machine's, none of another process's.
std::vector<std::string> ReadableByTheRuntime() {
    std::vector<std::string> readable = {"/usr/lib", "/usr/lib64", "/lib", "/lib64", "/etc/ld.so.cache",
                                         "/proc/self", "/proc/cpuinfo", "/proc/meminfo", "/proc/stat",
                                         "/sys/devices/system", "/sys/fs/cgroup", "/sys/kernel/mm"};
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&ov::get_openvino_version), &info) && info.dli_fname)
        readable.push_back(FolderOf(info.dli_fname));
    char self[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length > 0) readable.push_back(FolderOf(std::string(self, static_cast<size_t>(length))));
    return readable;
}

// Ends the worker as soon as the host's end of the channel closes, even in
// the middle of a run that would never end: a host that exits or crashes
// leaves no worker behind. It waits for the hang-up only, never for data.
void EndWithTheHost() {
    std::thread([] {
        pollfd channel = {isolation::kWorkerChannelHandle, POLLRDHUP, 0};
        while (poll(&channel, 1, -1) < 0 || !(channel.revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL))) {
        }
        _exit(0);
    }).detach();
}

bool SendReply(isolation::Channel& channel, uint32_t kind, const std::string& payload) {
    wire::Header header;
    header.kind = kind;
    header.payload_size = payload.size();
    std::string message(reinterpret_cast<const char*>(&header), sizeof header);
    message += payload;
    return channel.Send(message.data(), message.size());
}

// Exits 0 when the host's end closes; 2 on a request the host cannot have
// meant (the host is trusted, so the worker ends); 3 when the memory cannot
// be mapped at the size the host grew it to.
int ServeUntilClosed(isolation::Channel& channel, WorkerState& state) {
    for (;;) {
        wire::Header header;
        if (channel.Receive(&header, sizeof header, -1) != isolation::Received::kAll) return 0;
        if (header.magic != wire::kMagic || header.payload_size > (uint64_t{1} << 32)) return 2;
        std::string payload(header.payload_size, '\0');
        if (channel.Receive(payload.data(), payload.size(), -1) != isolation::Received::kAll) return 0;
        std::string failure;
        if (header.memory_size != state.memory.size() && !state.memory.Resize(header.memory_size, failure)) return 3;
        wire::Reader request(payload);
        wire::Writer reply;
        CallLines().clear();
        try {
            Serve(state, static_cast<wire::Kind>(header.kind), request, reply);
        } catch (const wire::Broken&) {
            return 2;
        }
        if (!SendReply(channel, header.kind, reply.bytes)) return 0;
    }
}

}  // namespace

int main() {
    isolation::CloseInheritedHandles();
    // The worker does nothing but run models: blocks a run frees are kept
    // for the next rather than returned and faulted in again (glibc would
    // otherwise map large ones afresh on every run of a dynamic shape).
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 64 << 20);
    isolation::Channel channel(isolation::kWorkerChannelHandle);
    WorkerState state;
    state.memory.Adopt(isolation::kWorkerMemoryHandle);
    SetConsoleSink([](const std::string& line) { CallLines().push_back(line); });
    // The core the module would make on its first load, made now so that the
    // runtime and its CPU plugin are loaded before the confinement. A failure
    // is left for the load to meet and report as the module does.
    try {
        state.object.core = std::make_shared<ov::Core>(std::string{});
        state.object.core->get_versions("CPU");
    } catch (const std::exception&) {
    }
    // Should a model exhaust the machine's memory, the kernel ends this
    // process rather than the host (it may raise its own score, not lower it).
    std::ofstream("/proc/self/oom_score_adj") << 1000;
    EndWithTheHost();
    state.confinement = isolation::ConfineThisProcess(ReadableByTheRuntime());
    wire::Writer ready;
    if (!SendReply(channel, static_cast<uint32_t>(wire::Kind::kReady), ready.bytes)) return 0;
    return ServeUntilClosed(channel, state);
}
