#pragma once

#include <stdexcept>
#include <string>

// The one error type of the store: the SQLite error number and a text that says
// what failed, naming the file where that helps the user. The text is a sentence:
// it starts with a capital, also where it starts with a name ("the stock database ...").
class StoreError : public std::runtime_error {
public:
    StoreError(int code, const std::string &text) : std::runtime_error(sentence(text)), m_code(code) {}

    int code() const noexcept { return m_code; }

private:
    static std::string sentence(std::string text)
    {
        if (!text.empty() && text.front() >= 'a' && text.front() <= 'z')
            text.front() = char(text.front() - 'a' + 'A');
        return text;
    }

    int m_code;
};
