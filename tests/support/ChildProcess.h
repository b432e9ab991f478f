#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

// How one case run in a child process ended.
struct ChildOutcome {
    // What the case returned; empty when it did not return.
    std::string output;
    // Empty when the case returned; otherwise how it ended: "no answer within 10 s", "killed by signal 11
    // (Segmentation fault)", "exited with status 1", "threw: …".
    std::string failure;
    // For a failed case, the end of the child's standard error (where a sanitizer report goes).
    std::string errors;
};

// Runs case(0) … case(count - 1) in forked children, each case with `seconds` to finish, so that a crash or a
// hang fails one case and names it instead of ending or blocking the whole test program. One child runs cases
// for as long as they end normally; after a case that does not, the next one starts in a new child. What the
// cases do to files is visible afterwards; what they do to memory is not.
std::vector<ChildOutcome> runEachInChild(std::size_t count, const std::function<std::string(std::size_t)>& body,
                                         unsigned seconds);

// One case alone.
ChildOutcome runInChild(const std::function<std::string()>& body, unsigned seconds);
