// Conversions between the engine's ASCII texts and the window's wide texts.
#pragma once

#include <windows.h>

#include <string>

// Every text the engine makes is ASCII, so each byte is one UTF-16 unit.
inline std::wstring Widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

// Only for ASCII texts of our own resources (the title base).
inline std::string Narrow(const wchar_t* text) {
    std::string out;
    for (; *text != 0; ++text) out += static_cast<char>(*text);
    return out;
}

// UTF-8 texts that may hold file names; bytes that are not UTF-8 become U+FFFD.
inline std::wstring FromUtf8(const std::string& text) {
    if (text.empty()) return std::wstring();
    const int size = static_cast<int>(text.size());
    const int units = MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
    if (units <= 0) return Widen(text);
    std::wstring out(static_cast<size_t>(units), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), size, out.data(), units);
    return out;
}
