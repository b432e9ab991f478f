#include "support/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
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

// Each case's answer goes to the parent as "<index> <R|T> <size>\n" and the text: R when it returned, T when
// it threw.
[[noreturn]] void runChild(std::size_t first, std::size_t count, const std::function<std::string(std::size_t)>& body,
                           unsigned seconds, int result, int errors) {
    ::dup2(errors, STDERR_FILENO);
    for (std::size_t i = first; i < count; ++i) {
        ::alarm(seconds);
        char kind = 'R';
        std::string output;
        try {
            output = body(i);
        } catch (const std::exception& e) {
            output = e.what();
            kind = 'T';
        } catch (...) {
            output = "an exception of unknown type";
            kind = 'T';
        }
        ::alarm(0);
        std::fflush(stderr);
        writeAll(result, std::to_string(i) + " " + kind + " " + std::to_string(output.size()) + "\n" + output);
    }
    // No exit handlers: the test framework's state belongs to the parent.
    ::_exit(0);
}

std::string describeEnd(int status, unsigned seconds) {
    if (WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM) return "no answer within " + std::to_string(seconds) + " s";
    if (WIFSIGNALED(status))
        return "killed by signal " + std::to_string(WTERMSIG(status)) + " (" + strsignal(WTERMSIG(status)) + ")";
    return "exited with status " + std::to_string(WEXITSTATUS(status));
}

}  // namespace

std::vector<ChildOutcome> runEachInChild(std::size_t count, const std::function<std::string(std::size_t)>& body,
                                         unsigned seconds) {
    std::vector<ChildOutcome> outcomes(count);
    std::size_t next = 0;  // the first case the current child has not answered
    while (next < count) {
        int result[2];
        int errors[2];
        if (::pipe2(result, O_CLOEXEC) != 0 || ::pipe2(errors, O_CLOEXEC) != 0) {
            outcomes[next++].failure = std::string("cannot make a pipe: ") + std::strerror(errno);
            continue;
        }
        std::fflush(nullptr);
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::close(result[0]);
            ::close(errors[0]);
            runChild(next, count, body, seconds, result[1], errors[1]);
        }
        ::close(result[1]);
        ::close(errors[1]);

        std::string answers;  // not yet parsed
        std::string stderrTail;
        pollfd fds[2] = {{result[0], POLLIN, 0}, {errors[0], POLLIN, 0}};
        for (int open = 2; open > 0;) {
            if (::poll(fds, 2, -1) < 0) {
                if (errno == EINTR) continue;
                break;
            }
            for (pollfd& p : fds) {
                if (p.fd < 0 || p.revents == 0) continue;
                char buffer[65536];
                const ssize_t n = ::read(p.fd, buffer, sizeof buffer);
                if (n <= 0) {
                    ::close(p.fd);
                    p.fd = -1;
                    --open;
                    continue;
                }
                if (p.fd == errors[0]) {
                    stderrTail.append(buffer, static_cast<std::size_t>(n));
                    if (stderrTail.size() > 2 * kErrorsKept) stderrTail.erase(0, stderrTail.size() - kErrorsKept);
                    continue;
                }
                answers.append(buffer, static_cast<std::size_t>(n));
                for (;;) {
                    const std::size_t eol = answers.find('\n');
                    if (eol == std::string::npos) break;
                    std::size_t index = 0;
                    char kind = 'R';
                    std::size_t size = 0;
                    if (std::sscanf(answers.c_str(), "%zu %c %zu", &index, &kind, &size) != 3 || index >= count) break;
                    if (answers.size() < eol + 1 + size) break;
                    ChildOutcome& outcome = outcomes[index];
                    outcome.output = answers.substr(eol + 1, size);
                    if (kind == 'T') {
                        outcome.failure = "threw: " + outcome.output;
                        outcome.output.clear();
                        outcome.errors = stderrTail;
                    }
                    answers.erase(0, eol + 1 + size);
                    stderrTail.clear();
                    next = index + 1;
                }
            }
        }
        for (const pollfd& p : fds)
            if (p.fd >= 0) ::close(p.fd);
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
        const bool clean = WIFEXITED(status) && WEXITSTATUS(status) == 0;
        if (next < count && !clean) {
            outcomes[next].failure = describeEnd(status, seconds);
            outcomes[next].errors =
                stderrTail.size() > kErrorsKept ? stderrTail.substr(stderrTail.size() - kErrorsKept) : stderrTail;
            ++next;
        } else if (next < count) {
            outcomes[next++].failure = "the child ended before the case";
        }
    }
    return outcomes;
}

ChildOutcome runInChild(const std::function<std::string()>& body, unsigned seconds) {
    return runEachInChild(
               1, [&](std::size_t) { return body(); }, seconds)
        .front();
}
