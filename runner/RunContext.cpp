#include "runner/RunContext.h"

#include <ctime>

#include "machine/CpuModel.h"
#include "runner/BuildInfo.h"
#include "runner/Platform.h"

namespace {

// The compiler and the machine it built for: "GCC 12.2.0 for aarch64-linux-gnu".
std::string Compiler() {
#if defined(__clang__)
    std::string compiler = std::string("Clang ") + __clang_version__;
#elif defined(__GNUC__)
    std::string compiler = "GCC " + std::to_string(__GNUC__) + "." + std::to_string(__GNUC_MINOR__) + "." +
                           std::to_string(__GNUC_PATCHLEVEL__);
#elif defined(_MSC_VER)
    std::string compiler = "MSVC " + std::to_string(_MSC_VER);
#else
    std::string compiler = "unknown";
#endif
    const std::string target = VANTREL_COMPILER_TARGET;
    return target.empty() ? compiler : compiler + " for " + target;
}

std::string UtcNow() {
    const std::time_t now = std::time(nullptr);
    const std::tm* utc = std::gmtime(&now);  // the runner reads the clock on one thread only
    char text[32] = {};
    if (utc == nullptr || std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", utc) == 0) return "unknown";
    return text;
}

}  // namespace

std::string VantrelVersion() { return VANTREL_VERSION; }

ProcessorContext ProcessorContextOf(const ProcessorFacts& facts, BindMode bind) {
    ProcessorContext processors;
    processors.usable = facts.usable;
    processors.reason = UsableReason(facts);
    processors.shape = ShapePhrase(facts);
    if (facts.shape) {
        processors.packages = facts.shape->packages;
        processors.numaNodes = facts.shape->numaNodes;
        processors.cores = uint32_t(facts.shape->cores.size());
        processors.pusPerCore = facts.shape->MostPerCore();
        processors.kinds = facts.shape->kinds;
    }
    processors.topologySource = facts.foreignTopology;
    processors.bind = BindModeName(bind);
    return processors;
}

std::string ProcessorsLine(const RunContext& context) {
    const ProcessorContext& p = context.processors;
    std::string line = ProcessorPhrase(context.logicalProcessors, p.usable > 0 ? p.usable : context.logicalProcessors,
                                       p.reason);
    if (!p.shape.empty()) line += "; " + p.shape;
    if (!p.bind.empty() && p.bind != "none") line += "; workers bound to " + p.bind;
    return line;
}

RunContext CollectRunContext(const ProcessorFacts& facts, BindMode bind) {
    RunContext context;
    context.version = VANTREL_VERSION;
    context.cpu = CpuModel();
    context.logicalProcessors = facts.machine;
    context.processors = ProcessorContextOf(facts, bind);
    context.os = platform::OperatingSystem();
    context.compiler = Compiler();
    context.buildType = VANTREL_BUILD_TYPE;
    context.flags = VANTREL_BUILD_FLAGS;
    context.bits = int(sizeof(void*) * 8);
    context.date = UtcNow();
    return context;
}
