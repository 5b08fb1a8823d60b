#include "packaging/ProgramDocs.h"

std::vector<std::string> ExcludedOptions(const OptionDef& def, const std::vector<OptionDef>& options) {
    std::vector<std::string> names;
    for (const OptionDef& other : options) {
        bool excludes = other.name == def.excludes || other.excludes == def.name;
        for (const auto& conflict : def.conflicts) excludes = excludes || conflict.first == other.name;
        for (const auto& conflict : other.conflicts) excludes = excludes || conflict.first == def.name;
        if (excludes && other.name != def.name) names.push_back(other.name);
    }
    return names;
}
