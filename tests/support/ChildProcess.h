#pragma once

#include <functional>
#include <string>

// How a case run in a child process ended.
struct ChildOutcome {
    // What the case returned; empty when it did not return.
    std::string output;
    // Empty when the case returned; otherwise how it ended: "no answer within 10 s", "killed by signal 11
    // (Segmentation fault)", "threw: …".
    std::string failure;
    // For a failed case, the end of the child's standard error (where a sanitizer report goes).
    std::string errors;
};

// Runs `body` in a forked child with `seconds` to finish, so that a crash or a hang fails the case and names it
// instead of ending or blocking the whole test program. What the case does to files is visible afterwards; what it
// does to memory is not.
ChildOutcome runInChild(const std::function<std::string()>& body, unsigned seconds);
