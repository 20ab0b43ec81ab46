#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Texts of the lengths that scanned labels have, the same on every run.
class LabelTexts {
public:
    std::string location() { return text("0123456789ABCDEFGHJKLMNPRSTUVWXYZ", 4, 8); }
    std::string stockCode() { return text("0123456789", 8, 13); }
    std::string quantity() { return text("0123456789", 1, 4); }

private:
    // splitmix64: small, fast and the same everywhere.
    std::uint64_t next()
    {
        std::uint64_t z = (m_state += 0x9e3779b97f4a7c15);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9;
        z = (z ^ (z >> 27)) * 0x94d049bb133111eb;
        return z ^ (z >> 31);
    }

    std::string text(std::string_view alphabet, int shortest, int longest)
    {
        std::string result(shortest + next() % (longest - shortest + 1), ' ');
        for (char &c : result)
            c = alphabet[next() % alphabet.size()];
        return result;
    }

    std::uint64_t m_state = 20240601;
};
