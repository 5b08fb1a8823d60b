#include "export/TextEncoding.h"

#include <cstdint>
#include <cstring>

namespace {

constexpr char32_t kReplacement = 0xFFFD;

void AppendCodePoint(std::string& out, char32_t c) {
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = kReplacement;
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | (c >> 6));
        out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += char(0xE0 | (c >> 12));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xF0 | (c >> 18));
        out += char(0x80 | ((c >> 12) & 0x3F));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
}

bool IsHighSurrogate(char32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLowSurrogate(char32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// strerror_r comes in two shapes (GNU and POSIX); either way, take the text.
[[maybe_unused]] const char* ReasonOf(int result, const char* buffer) { return result == 0 ? buffer : nullptr; }
[[maybe_unused]] const char* ReasonOf(const char* result, const char*) { return result; }

}  // namespace

void AppendUtf8(std::string& out, const char16_t* text, size_t units) {
    for (size_t i = 0; i < units; ++i) {
        const char32_t u = text[i];
        if (IsHighSurrogate(u) && i + 1 < units && IsLowSurrogate(text[i + 1])) {
            AppendCodePoint(out, 0x10000 + ((u - 0xD800) << 10) + (char32_t(text[i + 1]) - 0xDC00));
            ++i;
        } else {
            AppendCodePoint(out, u);  // a lone surrogate turns into U+FFFD there
        }
    }
}

std::string WideToUtf8(const wchar_t* text, size_t maxUnits) {
    std::string out;
    if (text == nullptr) return out;
    size_t units = 0;
    while (units < maxUnits && text[units] != 0) ++units;
    if constexpr (sizeof(wchar_t) == 2) {
        std::u16string wide(units, u'\0');
        for (size_t i = 0; i < units; ++i) wide[i] = char16_t(text[i]);
        AppendUtf8(out, wide.data(), units);
    } else {
        for (size_t i = 0; i < units; ++i) AppendCodePoint(out, char32_t(text[i]));
    }
    return out;
}

std::optional<std::wstring> Utf8ToWide(const std::string& text) {
    std::wstring wide;
    for (size_t i = 0; i < text.size();) {
        const unsigned char lead = static_cast<unsigned char>(text[i]);
        uint32_t code = 0;
        size_t extra = 0;
        uint32_t least = 0;
        if (lead < 0x80) {
            code = lead;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            code = lead & 0x1Fu;
            extra = 1;
            least = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            code = lead & 0x0Fu;
            extra = 2;
            least = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            code = lead & 0x07u;
            extra = 3;
            least = 0x10000;
        } else {
            return std::nullopt;
        }
        if (text.size() - i <= extra) return std::nullopt;
        for (size_t k = 1; k <= extra; ++k) {
            const unsigned char next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0u) != 0x80u) return std::nullopt;
            code = (code << 6) | (next & 0x3Fu);
        }
        if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return std::nullopt;
        if (sizeof(wchar_t) == 2 && code >= 0x10000) {
            wide.push_back(static_cast<wchar_t>(0xD800 + ((code - 0x10000) >> 10)));
            wide.push_back(static_cast<wchar_t>(0xDC00 + ((code - 0x10000) & 0x3FFu)));
        } else {
            wide.push_back(static_cast<wchar_t>(code));
        }
        i += extra + 1;
    }
    return wide;
}

std::string SystemReason(int error) {
    char buffer[256] = {};
#if defined(_WIN32)
    const char* reason = strerror_s(buffer, sizeof buffer, error) == 0 ? buffer : nullptr;
#else
    const char* reason = ReasonOf(strerror_r(error, buffer, sizeof buffer), buffer);
#endif
    if (reason == nullptr || *reason == 0) return "error " + std::to_string(error);
    return reason;
}
