#include "results/StoreSchema.h"

// An invocation's id is never given twice (AUTOINCREMENT), so that one
// deleted by hand leaves no rows that a new invocation would take over; its
// runs and settings go with it where foreign keys are on (the store turns
// them on; the sqlite3 shell needs PRAGMA foreign_keys = ON).
const char* const kStoreSchema = R"sql(
CREATE TABLE invocation (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  version TEXT NOT NULL,
  cpu TEXT NOT NULL,
  logical_processors INTEGER NOT NULL,
  os TEXT NOT NULL,
  compiler TEXT NOT NULL,
  build_type TEXT NOT NULL,
  flags TEXT NOT NULL,
  bits INTEGER NOT NULL,
  date TEXT NOT NULL,
  command_line TEXT NOT NULL,
  label TEXT NOT NULL,
  usable_processors INTEGER,
  usable_reason TEXT,
  shape TEXT,
  packages INTEGER,
  numa_nodes INTEGER,
  cores INTEGER,
  pus_per_core INTEGER,
  cpu_kinds TEXT,
  topology_source TEXT,
  bind TEXT,
  sensors TEXT,
  ended TEXT
);
CREATE TABLE run (
  id INTEGER PRIMARY KEY,
  invocation_id INTEGER NOT NULL REFERENCES invocation(id) ON DELETE CASCADE,
  seq INTEGER NOT NULL,
  task TEXT NOT NULL,
  primes INTEGER NOT NULL,
  threads INTEGER NOT NULL,
  seconds REAL,
  last_prime INTEGER,
  verdict TEXT NOT NULL,
  status TEXT NOT NULL,
  fault TEXT NOT NULL,
  host TEXT,
  rank INTEGER,
  clock_min_mhz REAL,
  clock_median_mhz REAL,
  clock_max_mhz REAL,
  clock_offered_mhz REAL,
  temperature_max_c REAL,
  hottest TEXT,
  throttle_events INTEGER,
  other_load REAL,
  steal REAL,
  energy_joules REAL,
  processor INTEGER
);
CREATE INDEX run_by_invocation ON run(invocation_id, seq);
CREATE TABLE setting (
  invocation_id INTEGER NOT NULL REFERENCES invocation(id) ON DELETE CASCADE,
  seq INTEGER NOT NULL,
  task TEXT NOT NULL,
  threads INTEGER NOT NULL,
  runs INTEGER NOT NULL,
  finished_runs INTEGER NOT NULL,
  median_seconds REAL,
  verdict TEXT NOT NULL,
  hosts TEXT,
  PRIMARY KEY (invocation_id, seq)
) WITHOUT ROWID;
)sql";

std::string HostsOfSettings(const std::string& runTable, const std::string& invocations) {
    return "SELECT invocation_id, task, threads, group_concat(host) AS names FROM (SELECT DISTINCT invocation_id, "
           "task, threads, host FROM " + runTable + " WHERE host IS NOT NULL AND " + invocations +
           ") GROUP BY invocation_id, task, threads";
}

const char* const kProcessorColumns = R"sql(
ALTER TABLE invocation ADD COLUMN usable_processors INTEGER;
ALTER TABLE invocation ADD COLUMN usable_reason TEXT;
ALTER TABLE invocation ADD COLUMN shape TEXT;
ALTER TABLE invocation ADD COLUMN packages INTEGER;
ALTER TABLE invocation ADD COLUMN numa_nodes INTEGER;
ALTER TABLE invocation ADD COLUMN cores INTEGER;
ALTER TABLE invocation ADD COLUMN pus_per_core INTEGER;
ALTER TABLE invocation ADD COLUMN cpu_kinds TEXT;
ALTER TABLE invocation ADD COLUMN topology_source TEXT;
ALTER TABLE invocation ADD COLUMN bind TEXT;
)sql";

const char* const kSensorColumns = R"sql(
ALTER TABLE invocation ADD COLUMN sensors TEXT;
ALTER TABLE run ADD COLUMN clock_min_mhz REAL;
ALTER TABLE run ADD COLUMN clock_median_mhz REAL;
ALTER TABLE run ADD COLUMN clock_max_mhz REAL;
ALTER TABLE run ADD COLUMN clock_offered_mhz REAL;
ALTER TABLE run ADD COLUMN temperature_max_c REAL;
ALTER TABLE run ADD COLUMN hottest TEXT;
ALTER TABLE run ADD COLUMN throttle_events INTEGER;
ALTER TABLE run ADD COLUMN other_load REAL;
ALTER TABLE run ADD COLUMN steal REAL;
ALTER TABLE run ADD COLUMN energy_joules REAL;
ALTER TABLE run ADD COLUMN processor INTEGER;
)sql";

const char* const kEndColumns = R"sql(
ALTER TABLE invocation ADD COLUMN ended TEXT;
)sql";

std::string StoreMigration(bool hasFleetColumns) {
    // SQLite changes neither AUTOINCREMENT nor a foreign key of a table in
    // place. The rows of invocations deleted by hand (foreign keys were not
    // enforced before) stay behind, and no id any row names is given again.
    const std::string hostAndRank = hasFleetColumns ? "host, rank" : "NULL, NULL";
    const std::string hostsOfSettings = hasFleetColumns ? HostsOfSettings("old_run", "1")
                                                        : "SELECT NULL AS invocation_id, NULL AS task, NULL AS threads, "
                                                          "NULL AS names WHERE 0";
    return std::string(R"sql(
DROP INDEX run_by_invocation;
ALTER TABLE invocation RENAME TO old_invocation;
ALTER TABLE run RENAME TO old_run;
ALTER TABLE setting RENAME TO old_setting;
)sql") + kStoreSchema + R"sql(
INSERT INTO invocation (id, version, cpu, logical_processors, os, compiler, build_type, flags, bits, date,
                        command_line, label)
  SELECT id, version, cpu, logical_processors, os, compiler, build_type, flags, bits, date, command_line, label
  FROM old_invocation;
INSERT INTO run (id, invocation_id, seq, task, primes, threads, seconds, last_prime, verdict, status, fault, host, rank)
  SELECT id, invocation_id, seq, task, primes, threads, seconds, last_prime, verdict, status, fault, )sql" +
           hostAndRank + R"sql(
  FROM old_run WHERE invocation_id IN (SELECT id FROM old_invocation);
INSERT INTO setting (invocation_id, seq, task, threads, runs, finished_runs, median_seconds, verdict, hosts)
  SELECT s.invocation_id, s.seq, s.task, s.threads, s.runs, s.finished_runs, s.median_seconds, s.verdict, h.names
  FROM old_setting AS s LEFT JOIN ()sql" + hostsOfSettings + R"sql() AS h
    ON h.invocation_id = s.invocation_id AND h.task = s.task AND h.threads = s.threads
  WHERE s.invocation_id IN (SELECT id FROM old_invocation);
DELETE FROM sqlite_sequence WHERE name = 'invocation';
INSERT INTO sqlite_sequence (name, seq) VALUES ('invocation', max(
  (SELECT coalesce(max(id), 0) FROM old_invocation),
  (SELECT coalesce(max(invocation_id), 0) FROM old_run),
  (SELECT coalesce(max(invocation_id), 0) FROM old_setting)));
DROP TABLE old_setting;
DROP TABLE old_run;
DROP TABLE old_invocation;
)sql";
}
