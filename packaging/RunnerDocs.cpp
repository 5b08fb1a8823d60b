#include "packaging/ProgramDocs.h"

#include "cli/CliOptions.h"
#include "cli/Subcommands.h"
#include "results/ResultOptions.h"

namespace {

CommandDocs SubcommandDocs(const SubcommandWords& words, const OptionTable& table) {
    return {"vantrel-cli " + words.name, table.Usage(), words.description, words.footer, table.Defs(), words.operands};
}

}  // namespace

ProgramDocs RunnerDocs() {
    const OptionTable table("vantrel-cli", RunnerOptionDefs(kAnyMachine));
    return {{"vantrel-cli", table.Usage(), RunnerDescription(), RunnerFooter(), table.Defs(), {}, RunnerExamples()},
            {SubcommandDocs(HistoryWords(), HistoryOptionTable()), SubcommandDocs(CompareWords(), CompareOptionTable())}};
}
