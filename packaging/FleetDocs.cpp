#include "packaging/ProgramDocs.h"

#include "mpi/FleetOptions.h"

ProgramDocs FleetDocs() {
    const OptionTable table = FleetOptionTable(kAnyMachine);
    return {{"vantrel-mpi", table.Usage(), FleetDescription(), FleetFooter(), table.Defs()}, {}};
}
