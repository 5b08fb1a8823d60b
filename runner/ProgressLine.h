// A line of a terminal that each update rewrites in place: a carriage
// return, the new text, and blanks over what is left of a longer old one.
#pragma once

#include <ostream>
#include <string>

class ProgressLine {
public:
    // Shows nothing unless `shown` (the stream is a terminal).
    ProgressLine(std::ostream& out_, bool shown_) : out(out_), shown(shown_) {}
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;
    ~ProgressLine() { Clear(); }

    void Show(const std::string& text) {
        if (!shown || text == current) return;
        out << '\r' << text;
        if (text.size() < current.size()) out << std::string(current.size() - text.size(), ' ');
        out.flush();
        current = text;
    }

    // Blanks the line and leaves the cursor at its start.
    void Clear() {
        if (current.empty()) return;
        out << '\r' << std::string(current.size(), ' ') << '\r';
        out.flush();
        current.clear();
    }

private:
    std::ostream& out;
    bool shown;
    std::string current;  // the text on the line now
};
