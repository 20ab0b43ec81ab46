#pragma once

#include <stdexcept>
#include <string>

// The one error type of the store: the SQLite error number and a text that says
// what failed, naming the file where that helps the user.
class StoreError : public std::runtime_error {
public:
    StoreError(int code, const std::string &text) : std::runtime_error(text), m_code(code) {}

    int code() const noexcept { return m_code; }

private:
    int m_code;
};
