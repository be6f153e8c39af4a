// What the table loader needs to know about the tables of this build.
#pragma once

// True when this build has a collector (an agent class) for the table.
bool TableHasCollector(const char* table);
// Registers the table with the framework (its osm_<table>_init); the status.
int RegisterTable(const char* table);
