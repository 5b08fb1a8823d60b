// The formats the runner and its subcommands write: a table for people, CSV
// and JSON for tools; and whether a table has colours.
#pragma once

enum class ReportFormat { Table, Csv, Json };

// --color: colours in a table on a terminal (auto), in a table whatever it
// goes to (always), or none. CSV and JSON never have any.
enum class ColorMode { Auto, Always, Never };
