#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

// Bytes as upper-case hex pairs separated by blanks: "01 04 00 15".
inline std::string HexText(const unsigned char* data, std::size_t len) {
    std::string text;
    text.reserve(len * 3);
    char pair[4];
    for (std::size_t i = 0; i < len; ++i) {
        std::snprintf(pair, sizeof pair, "%02X", data[i]);
        if (i != 0)
            text += ' ';
        text += pair;
    }
    return text;
}
