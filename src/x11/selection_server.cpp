#include "x11/selection_server.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

namespace clipfile::x11 {

namespace {

using std::chrono::seconds;

constexpr auto kServerStartTimeout = seconds(5);
constexpr auto kServerSetupTimeout = seconds(4);
constexpr unsigned char kHoldsSelection = 1;
constexpr int kReadyFd = 3;

// Everything inherited goes except the pipe to the parent, moved to
// kReadyFd: the command's input file, the clipboard folder, its terminal.
bool DetachFromCommand(int readyFd) {
    if (chdir("/") != 0) {
        return false;
    }
    // Out of the way first: with a standard stream closed, the pipe may be 0.
    const int pipeFd = fcntl(readyFd, F_DUPFD_CLOEXEC, kReadyFd + 1);
    const int null = open("/dev/null", O_RDWR | O_CLOEXEC);
    if (pipeFd < 0 || null < 0 || dup2(null, STDIN_FILENO) < 0 || dup2(null, STDOUT_FILENO) < 0 ||
        dup2(null, STDERR_FILENO) < 0 || dup2(pipeFd, kReadyFd) < 0) {
        return false;
    }
    if (syscall(SYS_close_range, kReadyFd + 1, ~0U, 0) != 0) {
        rlimit limit{};
        const rlim_t last = getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY
                                ? limit.rlim_cur
                                : 65536;
        for (rlim_t fd = kReadyFd + 1; fd < last; ++fd) {
            close(static_cast<int>(fd));
        }
    }
    // The default actions: SIGTERM ends the server, whatever the command had.
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    signal(SIGTERM, SIG_DFL);
    signal(SIGINT, SIG_DFL);
    signal(SIGHUP, SIG_IGN);
    // A display that goes away is seen as a broken connection, not a signal.
    signal(SIGPIPE, SIG_IGN);
    return true;
}

// Takes the selection on a new connection and checks that the server agrees.
bool TakeSelection(Connection& conn, std::span<const ServedTarget> targets, ServedAtoms& atoms,
                   xcb_timestamp_t& time) {
    const Clock::time_point deadline = Clock::now() + kServerSetupTimeout;
    const auto pid = static_cast<std::uint32_t>(getpid());
    // Lets tools and tests find the server by its process.
    xcb_change_property(conn.get(), XCB_PROP_MODE_REPLACE, conn.window(), conn.atoms().pid,
                        XCB_ATOM_CARDINAL, 32, 1, &pid);
    if (!InternServedTargets(conn, targets, atoms, deadline) || !conn.ServerTime(time, deadline)) {
        return false;
    }
    // ICCCM: ownership is taken at a real server time, never CurrentTime.
    xcb_set_selection_owner(conn.get(), conn.window(), conn.atoms().clipboard, time);
    const auto owner = conn.Wait<xcb_get_selection_owner_reply_t>(
        xcb_get_selection_owner(conn.get(), conn.atoms().clipboard), deadline);
    return owner && owner->owner == conn.window();
}

[[noreturn]] void RunServer(const char* display, std::span<const ServedTarget> targets,
                            int readyFd) {
    if (!DetachFromCommand(readyFd)) {
        _exit(1);
    }
    Connection conn = Connection::Open(display, kServerSetupTimeout);
    xcb_timestamp_t time = 0;
    ServedAtoms atoms;
    if (!conn || !TakeSelection(conn, targets, atoms, time)) {
        _exit(1);
    }
    if (write(kReadyFd, &kHoldsSelection, 1) != 1) {
        _exit(1);
    }
    close(kReadyFd);
    ServeSelection(conn, time, targets, atoms);
    // The command's buffers and destructors belong to the command.
    _exit(0);
}

bool WaitReady(int fd) {
    pollfd ready{fd, POLLIN, 0};
    const auto deadline = Clock::now() + kServerStartTimeout;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            return false;
        }
        const int polled = poll(&ready, 1, static_cast<int>(left));
        if (polled < 0 && errno == EINTR) {
            continue;
        }
        unsigned char byte = 0;
        return polled > 0 && read(fd, &byte, 1) == 1 && byte == kHoldsSelection;
    }
}

}  // namespace

bool StartSelectionServer(const char* display, std::span<const ServedTarget> targets) {
    int ready[2];
    if (pipe2(ready, O_CLOEXEC) != 0) {
        return false;
    }
    // Forked twice so that the server is nobody's child: no zombie is left
    // and the command exits without waiting for it.
    const pid_t middle = fork();
    if (middle == 0) {
        close(ready[0]);
        if (setsid() < 0) {
            _exit(1);
        }
        const pid_t server = fork();
        if (server == 0) {
            RunServer(display, targets, ready[1]);
        }
        _exit(server < 0 ? 1 : 0);
    }
    close(ready[1]);
    bool ok = false;
    if (middle > 0) {
        int status = 0;
        while (waitpid(middle, &status, 0) < 0 && errno == EINTR) {
        }
        ok = WIFEXITED(status) && WEXITSTATUS(status) == 0 && WaitReady(ready[0]);
    }
    close(ready[0]);
    return ok;
}

}  // namespace clipfile::x11
