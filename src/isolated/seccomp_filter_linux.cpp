// The worker's seccomp filter: everything the runtime needs stays allowed
// (threads, memory, reading files, its own channel), and what could reach
// beyond the worker fails with an error the runtime can handle, rather than
// killing it: new processes, new sockets, connect, exec, opening for writing or creating,
// making, removing, renaming or changing files, ptrace and cross-process
// memory, and signals to other processes. A foreign system-call ABI is killed.
#include <fcntl.h>
#include <linux/audit.h>
#include <linux/sched.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <stddef.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <vector>

namespace isolation {

namespace {

constexpr uint32_t kDenied = SECCOMP_RET_ERRNO | (EACCES & SECCOMP_RET_DATA);
constexpr uint32_t kWriteFlags = O_WRONLY | O_RDWR | O_CREAT | O_TRUNC | O_APPEND;

class Filter {
public:
    void Load(uint32_t offset) { code.push_back(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offset)); }
    void Return(uint32_t action) { code.push_back(BPF_STMT(BPF_RET | BPF_K, action)); }
    void LoadSyscall() { Load(offsetof(seccomp_data, nr)); }
    void LoadArgumentLow(int index) { Load(static_cast<uint32_t>(offsetof(seccomp_data, args) + 8 * index)); }
    // if (nr == number) return action (kDenied unless told).
    void DenyCall(long number, uint32_t action = kDenied) {
        code.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<uint32_t>(number), 0, 1));
        Return(action);
    }
    // if (nr == number && (args[index] & flags)) deny; the syscall number is reloaded after.
    void DenyCallWithFlags(long number, int index, uint32_t flags) {
        DenyCallIfArgument(number, index, BPF_JSET, flags, true);
    }
    // if (nr == number && !(args[index] & flags)) deny; the syscall number is reloaded after.
    void DenyCallWithoutFlags(long number, int index, uint32_t flags) {
        DenyCallIfArgument(number, index, BPF_JSET, flags, false);
    }
    // if (nr == number && args[index] != value) deny.
    void DenyCallUnless(long number, int index, uint32_t value) {
        DenyCallIfArgument(number, index, BPF_JEQ, value, false);
    }
    // if (nr == number && test(args[index], operand) == when) deny, test being
    // BPF_JSET (any bit of operand set) or BPF_JEQ; the number is reloaded after.
    void DenyCallIfArgument(long number, int index, uint16_t test, uint32_t operand, bool when) {
        code.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<uint32_t>(number), 0, 4));
        LoadArgumentLow(index);
        const uint8_t to_deny = when ? 0 : 1, past_deny = when ? 1 : 0;
        code.push_back(BPF_JUMP(BPF_JMP | test | BPF_K, operand, to_deny, past_deny));
        Return(kDenied);
        LoadSyscall();
    }
    std::vector<sock_filter> code;
};

}  // namespace

bool ApplySeccomp() {
#if defined(__x86_64__)
    Filter filter;
    filter.Load(offsetof(seccomp_data, arch));
    filter.code.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_X86_64, 1, 0));
    filter.Return(SECCOMP_RET_KILL_PROCESS);
    filter.LoadSyscall();
    filter.code.push_back(BPF_JUMP(BPF_JMP | BPF_JGE | BPF_K, 0x40000000 /* x32 */, 0, 1));
    filter.Return(SECCOMP_RET_KILL_PROCESS);
    // The calls of every inference first: the filter runs on each system
    // call, and the runtime's threads wait and wake many times a run.
    for (long number : {SYS_futex, SYS_read, SYS_write, SYS_sendto, SYS_recvfrom, SYS_sched_yield, SYS_mmap,
                        SYS_munmap, SYS_madvise, SYS_mprotect, SYS_clock_gettime, SYS_gettid, SYS_getpid})
        filter.DenyCall(number, SECCOMP_RET_ALLOW);
    for (long number : {SYS_socket, SYS_socketpair, SYS_connect, SYS_bind, SYS_listen, SYS_accept, SYS_accept4,
                        SYS_execve, SYS_execveat, SYS_creat, SYS_mkdir, SYS_mkdirat, SYS_rmdir, SYS_unlink,
                        SYS_unlinkat, SYS_rename, SYS_renameat, SYS_renameat2, SYS_link, SYS_linkat, SYS_symlink,
                        SYS_symlinkat, SYS_truncate, SYS_ftruncate, SYS_fallocate, SYS_chmod, SYS_fchmod,
                        SYS_fchmodat, SYS_chown, SYS_fchown, SYS_lchown, SYS_fchownat, SYS_mknod, SYS_mknodat,
                        SYS_utime, SYS_utimes, SYS_utimensat, SYS_futimesat, SYS_setxattr, SYS_lsetxattr,
                        SYS_fsetxattr, SYS_removexattr, SYS_lremovexattr, SYS_fremovexattr, SYS_ptrace,
                        SYS_process_vm_readv, SYS_process_vm_writev, SYS_open_by_handle_at, SYS_name_to_handle_at,
                        SYS_tkill, SYS_rt_sigqueueinfo, SYS_pidfd_open, SYS_pidfd_getfd, SYS_pidfd_send_signal,
                        SYS_mount, SYS_unshare, SYS_setns, SYS_bpf, SYS_perf_event_open, SYS_userfaultfd})
        filter.DenyCall(number);
    filter.DenyCall(SYS_openat2, SECCOMP_RET_ERRNO | ENOSYS);  // the C library falls back on openat
    // New threads, but no new processes: clone3 hides its flags from the
    // filter, and the C library falls back on clone, whose flags it can see.
    filter.DenyCall(SYS_clone3, SECCOMP_RET_ERRNO | ENOSYS);
    filter.DenyCall(SYS_fork);
    filter.DenyCall(SYS_vfork);
    filter.DenyCallWithoutFlags(SYS_clone, 0, CLONE_THREAD);
    filter.DenyCallWithFlags(SYS_open, 1, kWriteFlags);
    filter.DenyCallWithFlags(SYS_openat, 2, kWriteFlags);
    const auto self = static_cast<uint32_t>(getpid());
    filter.DenyCallUnless(SYS_kill, 0, self);
    filter.DenyCallUnless(SYS_tgkill, 0, self);
    filter.DenyCallUnless(SYS_rt_tgsigqueueinfo, 0, self);
    filter.Return(SECCOMP_RET_ALLOW);
    sock_fprog program{static_cast<unsigned short>(filter.code.size()), filter.code.data()};
    return syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, SECCOMP_FILTER_FLAG_TSYNC, &program) == 0;
#else
    return false;
#endif
}

}  // namespace isolation
