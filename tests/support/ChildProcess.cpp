#include "support/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <exception>

namespace {

// libmdb can print a warning per byte it looks at: keep what a reader needs, not gigabytes.
constexpr std::size_t kErrorsKept = 6000;

void writeAll(int fd, const std::string& text) {
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n <= 0) return;
        done += static_cast<std::size_t>(n);
    }
}

// Reads the two pipes until both end, keeping all of `result` and the last kErrorsKept bytes of `errors`: the child
// may write more to either than a pipe holds.
void readBoth(int result, int errors, std::string& answer, std::string& tail) {
    pollfd fds[2] = {{result, POLLIN, 0}, {errors, POLLIN, 0}};
    for (int open = 2; open > 0;) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        for (pollfd& p : fds) {
            if (p.fd < 0 || p.revents == 0) continue;
            char buffer[65536];
            const ssize_t n = ::read(p.fd, buffer, sizeof buffer);
            if (n <= 0) {
                p.fd = -1;
                --open;
                continue;
            }
            std::string& text = p.fd == result ? answer : tail;
            text.append(buffer, static_cast<std::size_t>(n));
            if (&text == &tail && tail.size() > 2 * kErrorsKept) tail.erase(0, tail.size() - kErrorsKept);
        }
    }
}

}  // namespace

ChildOutcome runInChild(const std::function<std::string()>& body, unsigned seconds) {
    ChildOutcome outcome;
    int result[2];
    int errors[2];
    if (::pipe2(result, O_CLOEXEC) != 0 || ::pipe2(errors, O_CLOEXEC) != 0) {
        outcome.failure = std::string("cannot make a pipe: ") + std::strerror(errno);
        return outcome;
    }
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(errors[1], STDERR_FILENO);
        ::alarm(seconds);
        // "R" and what the case returned, or "T" and what it threw.
        try {
            writeAll(result[1], "R" + body());
        } catch (const std::exception& e) {
            writeAll(result[1], std::string("T") + e.what());
        } catch (...) {
            writeAll(result[1], "Tan exception of unknown type");
        }
        std::fflush(stderr);
        // No exit handlers: the test framework's state belongs to the parent.
        ::_exit(0);
    }
    ::close(result[1]);
    ::close(errors[1]);
    std::string answer;
    readBoth(result[0], errors[0], answer, outcome.errors);
    ::close(result[0]);
    ::close(errors[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
    if (WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM)
        outcome.failure = "no answer within " + std::to_string(seconds) + " s";
    else if (WIFSIGNALED(status))
        outcome.failure =
            "killed by signal " + std::to_string(WTERMSIG(status)) + " (" + strsignal(WTERMSIG(status)) + ")";
    else if (answer.empty())
        outcome.failure = "exited with status " + std::to_string(WEXITSTATUS(status)) + " before answering";
    else if (answer[0] == 'T')
        outcome.failure = "threw: " + answer.substr(1);
    else
        outcome.output = answer.substr(1);
    if (outcome.failure.empty()) outcome.errors.clear();
    return outcome;
}
