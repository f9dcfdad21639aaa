// The worker's confinement on Linux, three layers, each alone enough for
// what it blocks:
// - no_new_privs: nothing the worker could start gains privileges (and the
//   kernel requires it before an unprivileged seccomp filter).
// - Landlock (where the kernel has it): the file system reads only the folders
//   named readable, and writes, creates or executes nothing; on newer ABIs no
//   TCP binds or connects, and no signals or abstract sockets beyond the
//   worker itself.
// - seccomp: no new sockets, no connect, no exec, no open for writing or
//   creating, no file or folder made, removed, renamed or changed, no
//   ptrace or cross-process memory access, no signal to another process.
// The system headers may predate the Landlock ABI the kernel offers, so the
// structure and the flags past ABI 1 are spelled out here.
#include <fcntl.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <stddef.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

#include "isolated/platform.h"

namespace isolation {

namespace {

struct LandlockRulesetAttr {
    uint64_t handled_access_fs;
    uint64_t handled_access_net;  // ABI 4
    uint64_t scoped;              // ABI 6
};
struct LandlockPathBeneathAttr {
    uint64_t allowed_access;
    int32_t parent_fd;
} __attribute__((packed));

// Readable folders grant reading files and listing folders, never executing
// (bit 0): the worker executes nothing.
constexpr uint64_t kFsReadFile = 1 << 2, kFsReadDir = 1 << 3;
// Every file-system right of ABI 1 (bits 0 to 12), then refer (ABI 2),
// truncate (ABI 3) and ioctl on devices (ABI 5).
uint64_t HandledFileRights(int abi) {
    uint64_t rights = (uint64_t{1} << 13) - 1;
    if (abi >= 2) rights |= uint64_t{1} << 13;
    if (abi >= 3) rights |= uint64_t{1} << 14;
    if (abi >= 5) rights |= uint64_t{1} << 15;
    return rights;
}

int ApplyLandlock(const std::vector<std::string>& readable) {
    const long abi = syscall(SYS_landlock_create_ruleset, nullptr, 0, 1U /* LANDLOCK_CREATE_RULESET_VERSION */);
    if (abi <= 0) return 0;
    LandlockRulesetAttr attr{HandledFileRights(static_cast<int>(abi)), 0, 0};
    if (abi >= 4) attr.handled_access_net = 1 | 2;  // bind and connect TCP: no rule allows either
    if (abi >= 6) attr.scoped = 1 | 2;              // abstract UNIX sockets and signals
    const size_t attr_size = abi >= 6 ? sizeof attr : abi >= 4 ? 16 : 8;
    const int ruleset = static_cast<int>(syscall(SYS_landlock_create_ruleset, &attr, attr_size, 0));
    if (ruleset < 0) return 0;
    for (const std::string& path : readable) {
        const int held = open(path.c_str(), O_PATH | O_CLOEXEC);
        if (held < 0) continue;  // a folder this system lacks
        struct stat status {};
        const bool folder = fstat(held, &status) == 0 && S_ISDIR(status.st_mode);
        LandlockPathBeneathAttr rule{kFsReadFile | (folder ? kFsReadDir : 0), held};
        syscall(SYS_landlock_add_rule, ruleset, 1 /* LANDLOCK_RULE_PATH_BENEATH */, &rule, 0);
        close(held);
    }
    const bool applied = syscall(SYS_landlock_restrict_self, ruleset, 0) == 0;
    close(ruleset);
    return applied ? static_cast<int>(abi) : 0;
}

}  // namespace

bool ApplySeccomp();  // seccomp_filter_linux.cpp

Confinement ConfineThisProcess(const std::vector<std::string>& readable) {
    Confinement confinement;
    confinement.no_new_privileges = prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0;
    confinement.landlock_abi = ApplyLandlock(readable);
    confinement.seccomp = confinement.no_new_privileges && ApplySeccomp();
    return confinement;
}

}  // namespace isolation
