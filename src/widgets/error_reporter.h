#pragma once

#include <functional>
#include <string>

// A failure the user must be told of: its number and what went wrong, in words
// the user can act on.
struct Failure {
    int number = 0;
    std::string text;
};

// The one place that decides what the user sees when something fails. The
// program's own reporter writes the failure to standard error, shows it in a
// message box, and then ends the program with a non-zero status through its
// event loop; tests install a reporter of their own.
namespace ErrorReporter {

using Reporter = std::function<void(const Failure &)>;

void report(const Failure &failure);

// Writes the failure's line to standard error, as every report does; all that a
// run without a window says of it.
void writeLine(const Failure &failure);

// Replaces the reporter; an empty one restores the program's own.
void setReporter(Reporter reporter);

} // namespace ErrorReporter
