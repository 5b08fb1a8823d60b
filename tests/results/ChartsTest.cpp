// Charts drawn by gnuplot: well-formed SVG with one measured point per thread
// count, and one line when gnuplot is not there.
#include <gmock/gmock.h>

#include <set>
#include <string>
#include <vector>

#include "results/Charts.h"
#include "tests/support/TestFiles.h"

namespace {

using ::testing::HasSubstr;

// The root element's name if `text` is one well-formed tree of elements
// (quoted attributes, comments, declarations), else an empty string.
std::string XmlRoot(const std::string& text) {
    std::vector<std::string> open;
    std::string root;
    for (size_t i = text.find('<'); i != std::string::npos; i = text.find('<', i)) {
        if (text.compare(i, 4, "<!--") == 0 || text.compare(i, 2, "<?") == 0 || text.compare(i, 2, "<!") == 0) {
            const size_t end = text.find(text.compare(i, 4, "<!--") == 0 ? "-->" : ">", i);
            if (end == std::string::npos) return {};
            i = end + 1;
            continue;
        }
        size_t end = i + 1;
        for (char quote = 0; end < text.size() && (quote != 0 || text[end] != '>'); ++end) {
            if (quote == 0 && (text[end] == '"' || text[end] == '\'')) {
                quote = text[end];
            } else if (text[end] == quote) {
                quote = 0;
            }
        }
        if (end >= text.size()) return {};
        const std::string tag = text.substr(i + 1, end - i - 1);
        const std::string name = tag.substr(tag[0] == '/', tag.find_first_of(" \t\r\n/>", 1) - (tag[0] == '/'));
        if (tag[0] == '/') {
            if (open.empty() || open.back() != name) return {};
            open.pop_back();
        } else {
            if (open.empty() && !root.empty()) return {};  // a second root
            if (root.empty()) root = name;
            if (tag.back() != '/') open.push_back(name);
        }
        i = end + 1;
    }
    return open.empty() ? root : std::string();
}

size_t Count(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

// The measured points are drawn with point type 7, gnuplot's symbol gpPt6,
// which nothing else in the chart uses; the legend shows one more.
const std::string kMeasuredPoint = "<use xlink:href='#gpPt6'";

TEST(Charts, SweepOf128ThreadsIsSvgWithOnePointPerThreadCount) {
    TempFolder folder;
    SweepChart chart;
    chart.task = "1M";
    chart.cpu = "Test CPU 'quoted' & more";
    chart.logicalProcessors = 128;
    double seconds = 8.0;
    for (uint16_t threads = 1; threads <= 128; threads *= 2, seconds /= 1.8) {
        chart.points.push_back({threads, {seconds, seconds * 1.05, seconds * 1.02}});
    }
    const std::string file = folder.Path("speedup.svg");
    ASSERT_EQ(PlotSweep(file, chart), "");
    const std::string svg = ReadBytes(file);
    EXPECT_EQ(XmlRoot(svg), "svg");
    EXPECT_EQ(Count(svg, kMeasuredPoint), chart.points.size() + 1);
    EXPECT_THAT(svg, HasSubstr("Speedup of task 1M on Test CPU 'quoted' &amp; more (128 logical processors)"));
    for (const char* tick : {">1<", ">16<", ">128<"}) EXPECT_THAT(svg, HasSubstr(tick));
}

TEST(Charts, HistoryIsSvgWithOnePointPerInvocation) {
    TempFolder folder;
    HistoryChart chart;
    chart.task = "1M";
    chart.series.push_back({1, {{"2026-01-02T03:04:05Z", 0.80}, {"2026-01-05T10:00:00Z", 0.78}, {"2026-02-01T00:00:00Z", 0.81}}});
    const std::string file = folder.Path("history.svg");
    ASSERT_EQ(PlotHistory(file, chart), "");
    const std::string svg = ReadBytes(file);
    EXPECT_EQ(XmlRoot(svg), "svg");
    EXPECT_EQ(Count(svg, kMeasuredPoint), 3u + 1);

    // Invocations seconds apart: every tick label is a different time.
    HistoryChart close = chart;
    close.series[0].points = {{"2026-01-02T03:04:05Z", 0.80}, {"2026-01-02T03:04:06Z", 0.78}};
    ASSERT_EQ(PlotHistory(file, close), "");
    const std::string closeSvg = ReadBytes(file);
    std::vector<std::string> labels;
    for (size_t at = closeSvg.find(">03:04:"); at != std::string::npos; at = closeSvg.find(">03:04:", at + 1)) {
        labels.push_back(closeSvg.substr(at + 1, 8));
    }
    EXPECT_GE(labels.size(), 2u);
    EXPECT_EQ(std::set<std::string>(labels.begin(), labels.end()).size(), labels.size()) << closeSvg;

    const std::string missing = PlotHistory(folder.Path("not-drawn.svg"), chart, "gnuplot-not-installed-here");
    EXPECT_EQ(missing, "Could not draw \"" + folder.Path("not-drawn.svg").string() +
                           "\": gnuplot-not-installed-here is not installed; install it with \"apt-get install gnuplot-nox\"");
}

}  // namespace
