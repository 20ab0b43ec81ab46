#pragma once

#include "store_error.h"

#include <functional>
#include <optional>
#include <type_traits>

// The one place that decides what the user sees when the store fails. The
// program's reporter writes the error to standard error, shows it in a critical
// message box and then ends the program with a non-zero status; tests install a
// reporter of their own.
namespace ErrorReporter {

using Reporter = std::function<void(const StoreError &)>;

void report(const StoreError &error);

// Replaces the reporter; an empty one restores the program's own.
void setReporter(Reporter reporter);

// Runs a store operation and hands any failure to the reporter. Returns the
// operation's result, or nothing when it failed (a void operation gives true or
// false), so the caller can stop before it shows anything for the failed work.
template<typename Operation>
auto attempt(Operation &&operation)
{
    using Result = std::invoke_result_t<Operation>;
    if constexpr (std::is_void_v<Result>) {
        try {
            operation();
            return true;
        } catch (const StoreError &error) {
            report(error);
            return false;
        }
    } else {
        try {
            return std::optional<Result>(operation());
        } catch (const StoreError &error) {
            report(error);
            return std::optional<Result>();
        }
    }
}

} // namespace ErrorReporter
