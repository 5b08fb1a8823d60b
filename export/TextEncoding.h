// UTF-8 from the wide texts of the program, never producing invalid UTF-8,
// and wide text from strict UTF-8.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

// Appends the UTF-8 form of `units` UTF-16 units. A surrogate pair becomes
// one four-byte sequence; a surrogate without its partner becomes U+FFFD.
void AppendUtf8(std::string& out, const char16_t* text, size_t units);

// The UTF-8 form of a zero-terminated wide string of at most `maxUnits`
// units (UTF-16 where wchar_t has 16 bits, code points where it has 32).
// Values that are no Unicode character become U+FFFD.
std::string WideToUtf8(const wchar_t* text, size_t maxUnits);

// The wide form of strict UTF-8 (no overlong forms, no surrogates, nothing
// above U+10FFFF), so that WideToUtf8 gives the same bytes back; nothing
// for any other bytes. Code points above U+FFFF become surrogate pairs
// where wchar_t has 16 bits.
std::optional<std::wstring> Utf8ToWide(const std::string& text);

// The C runtime's text for an errno value.
std::string SystemReason(int error);
