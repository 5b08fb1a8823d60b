#include "machine/ArmCpu.h"

#include <algorithm>
#include <charconv>
#include <map>
#include <utility>
#include <vector>

namespace {

struct KnownCore {
    uint32_t implementer;
    uint32_t part;
    const char* name;
};

// The codes of MIDR_EL1, the Main ID Register, as each maker publishes them
// in its processors' technical reference manuals (ARM: "Main ID Register,
// EL1" of each Cortex and Neoverse TRM; Ampere: the AmpereOne family's
// datasheets), gathered as Linux keeps them in
// arch/arm64/include/asm/cputype.h and util-linux in sys-utils/lscpu-arm.c.
constexpr KnownCore kKnownCores[] = {
    {0x41, 0xd02, "ARM Cortex-A34"},     {0x41, 0xd03, "ARM Cortex-A53"},    {0x41, 0xd04, "ARM Cortex-A35"},
    {0x41, 0xd05, "ARM Cortex-A55"},     {0x41, 0xd06, "ARM Cortex-A65"},    {0x41, 0xd07, "ARM Cortex-A57"},
    {0x41, 0xd08, "ARM Cortex-A72"},     {0x41, 0xd09, "ARM Cortex-A73"},    {0x41, 0xd0a, "ARM Cortex-A75"},
    {0x41, 0xd0b, "ARM Cortex-A76"},     {0x41, 0xd0c, "ARM Neoverse-N1"},   {0x41, 0xd0d, "ARM Cortex-A77"},
    {0x41, 0xd0e, "ARM Cortex-A76AE"},   {0x41, 0xd40, "ARM Neoverse-V1"},   {0x41, 0xd41, "ARM Cortex-A78"},
    {0x41, 0xd42, "ARM Cortex-A78AE"},   {0x41, 0xd43, "ARM Cortex-A65AE"},  {0x41, 0xd44, "ARM Cortex-X1"},
    {0x41, 0xd46, "ARM Cortex-A510"},    {0x41, 0xd47, "ARM Cortex-A710"},   {0x41, 0xd48, "ARM Cortex-X2"},
    {0x41, 0xd49, "ARM Neoverse-N2"},    {0x41, 0xd4a, "ARM Neoverse-E1"},   {0x41, 0xd4b, "ARM Cortex-A78C"},
    {0x41, 0xd4c, "ARM Cortex-X1C"},     {0x41, 0xd4d, "ARM Cortex-A715"},   {0x41, 0xd4e, "ARM Cortex-X3"},
    {0x41, 0xd4f, "ARM Neoverse-V2"},    {0x41, 0xd80, "ARM Cortex-A520"},   {0x41, 0xd81, "ARM Cortex-A720"},
    {0x41, 0xd82, "ARM Cortex-X4"},      {0x41, 0xd84, "ARM Neoverse-V3"},   {0x41, 0xd85, "ARM Cortex-X925"},
    {0x41, 0xd87, "ARM Cortex-A725"},    {0x41, 0xd8e, "ARM Neoverse-N3"},
    {0x42, 0x516, "Broadcom Vulcan"},    {0x43, 0x0a1, "Cavium ThunderX"},   {0x43, 0x0af, "Cavium ThunderX2"},
    {0x46, 0x001, "Fujitsu A64FX"},      {0x48, 0xd01, "HiSilicon TaiShan-v110"},
    {0x4e, 0x004, "NVIDIA Carmel"},      {0x50, 0x000, "APM X-Gene"},        {0x51, 0xc00, "Qualcomm Falkor"},
    {0x51, 0x001, "Qualcomm Oryon"},     {0x61, 0x022, "Apple M1 Icestorm"}, {0x61, 0x023, "Apple M1 Firestorm"},
    {0xc0, 0xac3, "Ampere-1"},           {0xc0, 0xac4, "Ampere-1a"},
};

std::string Hex(uint32_t value, int digits) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text(size_t(digits), '0');
    for (int i = digits - 1; i >= 0 && value != 0; --i, value >>= 4) text[size_t(i)] = kDigits[value & 0xf];
    return "0x" + text;
}

std::string_view Trim(std::string_view text) {
    const size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// A code as /proc/cpuinfo writes it, "0x41"; nothing for anything else.
bool ParseCode(std::string_view text, uint32_t& code) {
    if (text.size() < 3 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X')) return false;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data() + 2, end, code, 16);
    return error == std::errc() && stop == end;
}

}  // namespace

std::string ArmCoreName(uint32_t implementer, uint32_t part) {
    for (const KnownCore& core : kKnownCores) {
        if (core.implementer == implementer && core.part == part) return core.name;
    }
    return "ARM implementer " + Hex(implementer, 2) + " part " + Hex(part, 3);
}

std::string ArmCpuName(std::string_view cpuinfo) {
    // Each processor's block names its implementer before its part.
    std::map<std::pair<uint32_t, uint32_t>, uint32_t> counts;
    std::string board;
    bool haveImplementer = false;
    uint32_t implementer = 0;
    while (!cpuinfo.empty()) {
        const size_t end = cpuinfo.find('\n');
        const std::string_view line = cpuinfo.substr(0, end);
        cpuinfo = end == std::string_view::npos ? std::string_view() : cpuinfo.substr(end + 1);
        const size_t colon = line.find(':');
        if (colon == std::string_view::npos) continue;
        const std::string_view key = Trim(line.substr(0, colon));
        const std::string_view value = Trim(line.substr(colon + 1));
        uint32_t code = 0;
        if (key == "CPU implementer") {
            haveImplementer = ParseCode(value, implementer);
        } else if (key == "CPU part" && haveImplementer && ParseCode(value, code)) {
            ++counts[{implementer, code}];
            haveImplementer = false;
        } else if (key == "Model" && !value.empty()) {
            board = std::string(value);
        }
    }
    if (counts.empty()) return {};

    // ARM numbers the cores of each generation upward, the big above the
    // little, so in every big.LITTLE pairing it has made the higher part is
    // the bigger core.
    std::vector<std::pair<std::pair<uint32_t, uint32_t>, uint32_t>> kinds(counts.begin(), counts.end());
    std::stable_sort(kinds.begin(), kinds.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    std::string name;
    for (const auto& [codes, count] : kinds) {
        if (!name.empty()) name += " + ";
        if (kinds.size() > 1) name += std::to_string(count) + " x ";
        name += ArmCoreName(codes.first, codes.second);
    }
    if (!board.empty()) name += " (" + board + ")";
    return name;
}
