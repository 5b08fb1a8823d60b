// The formats the runner and its subcommands write: a table for people, CSV
// and JSON for tools.
#pragma once

enum class ReportFormat { Table, Csv, Json };
