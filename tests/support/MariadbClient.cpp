#include "MariadbClient.h"

#include "TestServer.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

extern char** environ;

namespace calvoro::test {

namespace {

void CloseFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

// Reads what is there; false at the end of the stream or on an error.
bool Drain(int fd, QByteArray& into) {
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            into.append(buffer, n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        return n < 0 && errno == EAGAIN;
    }
}

}  // namespace

// The tool is started with posix_spawn, not QProcess: the C library starts it without running
// any of this program's code in the child, which ThreadSanitizer can follow; QProcess's own
// fork-like start leaves it with a wrong picture of the parent's memory and false races after.
TToolResult RunMariadbTool(const QString& tool, const QStringList& args, const QByteArray& input) {
    const ServerConfig& s = Server();
    QStringList all = {tool, "--no-defaults", "--default-character-set=utf8mb4", "-h", QString::fromStdString(s.Host),
                       "-P", QString::number(s.Port), "-u", QString::fromStdString(s.NativeUser),
                       "-p" + QString::fromStdString(s.NativePassword)};
    all += args;
    std::vector<std::string> words;
    for (const QString& a : all) words.push_back(a.toStdString());
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);

    TToolResult r;
    ::signal(SIGPIPE, SIG_IGN);  // a tool that ends before reading all its input is an error result, not a signal
    int in[2] = {-1, -1}, out[2] = {-1, -1}, err[2] = {-1, -1};
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
        for (int* p : {in, out, err}) CloseFd(p[0]), CloseFd(p[1]);
        r.Err = "pipe failed";
        return r;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    pid_t pid = -1;
    const int spawned = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    CloseFd(in[0]);
    CloseFd(out[1]);
    CloseFd(err[1]);
    if (spawned != 0) {
        for (int* p : {in, out, err}) CloseFd(p[0]), CloseFd(p[1]);
        r.Err = QByteArray("cannot start ") + argv[0];
        return r;
    }
    for (int fd : {in[1], out[0], err[0]}) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    qsizetype written = 0;
    if (input.isEmpty()) CloseFd(in[1]);
    while (out[0] >= 0 || err[0] >= 0) {
        pollfd fds[3];
        nfds_t n = 0;
        const auto watch = [&](int fd, short events) {
            if (fd >= 0) fds[n++] = pollfd{fd, events, 0};
        };
        watch(in[1], POLLOUT);
        watch(out[0], POLLIN);
        watch(err[0], POLLIN);
        if (::poll(fds, n, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (nfds_t i = 0; i < n; ++i) {
            if (fds[i].revents == 0) continue;
            if (fds[i].fd == in[1]) {
                const ssize_t k = ::write(in[1], input.constData() + written, size_t(input.size() - written));
                if (k > 0) written += k;
                if ((k < 0 && errno != EAGAIN && errno != EINTR) || written == input.size()) CloseFd(in[1]);
            } else if (fds[i].fd == out[0]) {
                if (!Drain(out[0], r.Out)) CloseFd(out[0]);
            } else if (!Drain(err[0], r.Err)) {
                CloseFd(err[0]);
            }
        }
    }
    for (int* p : {in, out, err}) CloseFd(p[0]), CloseFd(p[1]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    r.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

}  // namespace calvoro::test
