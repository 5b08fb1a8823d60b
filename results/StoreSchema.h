// The result store's tables as this version makes them, and the statements
// that bring a store of an older version up to them.
#pragma once

#include <string>

// The tables and index of a new store (kStoreVersion).
extern const char* const kStoreSchema;

// A query of (invocation_id, task, threads, names): the hosts of each
// setting's runs in `runTable`, comma-separated, for the invocations that
// the condition `invocations` keeps; the setting table holds these since
// version 3.
std::string HostsOfSettings(const std::string& runTable, const std::string& invocations);

// Version 4's columns of the processors a run may use and the machine's
// shape, added to a store of version 3 (NULL in its invocations).
extern const char* const kProcessorColumns;

// Version 5's columns of what the machine did during each run (the sensors'
// readings, the processor a run's one worker was placed on) and where the
// sensors were read, added to a store of version 4 (NULL in its rows).
extern const char* const kSensorColumns;

// Version 5's column of how the invocation ended, added to a store of
// version 4 (NULL in its invocations: not recorded).
extern const char* const kEndColumns;

// Brings the tables of a store of version 1 or 2 up to kStoreVersion;
// `hasFleetColumns` tells whether its run table has host and rank (stores of
// version 1 lack them). Run inside a transaction, with foreign keys
// off: the tables are made anew and their rows copied.
std::string StoreMigration(bool hasFleetColumns);
