// The widths a table gives text: one column per character, whatever its bytes.
#include <gtest/gtest.h>

#include <string>

#include "runner/TextTable.h"

TEST(TextTable, ACharacterIsOneColumnWhateverItsLeadByte) {
    struct Case {
        const char* name;
        std::string text;
        size_t width;
    };
    const Case cases[] = {
        {"ASCII", "ab", 2},
        {"two bytes, lead 0xC3", "\xC3\xBC", 1},
        {"three bytes, lead 0xE2", "\xE2\x9C\x93", 1},
        {"U+FFFD, lead 0xEF", "\xEF\xBF\xBD", 1},
        {"a fullwidth form, lead 0xEF", "\xEF\xBC\xA8x", 2},
        {"four bytes, lead 0xF0", "\xF0\x9F\x98\x80", 1},
        {"a lead byte without its continuation", "\xEF\x41", 2},
        {"a byte no character starts with", "\xF8\x80", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(TextWidth(c.text), c.width);
        EXPECT_EQ(TextPrefix(c.text + "tail", c.width), c.text);
    }
}
