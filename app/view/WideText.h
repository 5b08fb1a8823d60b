// Conversions between the engine's ASCII texts and the window's wide texts.
#pragma once

#include <string>

// Every text the engine makes is ASCII, so each byte is one UTF-16 unit.
inline std::wstring Widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

// Only for ASCII texts of our own resources (the title base).
inline std::string Narrow(const wchar_t* text) {
    std::string out;
    for (; *text != 0; ++text) out += static_cast<char>(*text);
    return out;
}
