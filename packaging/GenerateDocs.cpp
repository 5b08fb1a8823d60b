// vantrel-docs: writes the manual pages and the bash and zsh completions of
// the programs of this build, from their option tables (see ProgramDocs.h).
//   vantrel-docs TEMPLATES OUTPUT VERSION DATE
// TEMPLATES holds each page's template, NAME.1.in; OUTPUT receives man1/,
// bash-completion/ and zsh/.
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>

#include "packaging/Completion.h"
#include "packaging/ManPage.h"

namespace {

namespace fs = std::filesystem;

std::vector<ProgramDocs> Programs() {
#ifdef VANTREL_FLEET_DOCS
    return {RunnerDocs(), FleetDocs()};
#else
    return {RunnerDocs()};
#endif
}

std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path.string());
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void Write(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

void WritePage(const fs::path& templates, const fs::path& output, const CommandDocs& page,
               const std::vector<CommandDocs>& subcommands, const PageStamp& stamp) {
    const std::string name = PageName(page) + ".1";
    Write(output / "man1" / name, ManPage(Read(templates / (name + ".in")), page, subcommands, stamp));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::cerr << "usage: vantrel-docs TEMPLATES OUTPUT VERSION DATE\n";
        return 2;
    }
    const fs::path templates = argv[1];
    const fs::path output = argv[2];
    const PageStamp stamp{argv[3], argv[4]};
    try {
        for (const ProgramDocs& program : Programs()) {
            WritePage(templates, output, program.main, program.subcommands, stamp);
            for (const CommandDocs& subcommand : program.subcommands) WritePage(templates, output, subcommand, {}, stamp);
            Write(output / "bash-completion" / program.main.command, BashCompletion(program));
            Write(output / "zsh" / ("_" + program.main.command), ZshCompletion(program));
        }
    } catch (const std::exception& error) {
        std::cerr << "vantrel-docs: " << error.what() << "\n";
        return 1;
    }
    return 0;
}
