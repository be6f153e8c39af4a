// How each table's attributes appear as metrics, held as data beside the row
// catalogue:
//  - the node attribute (ORIGINNODE) gives the label "node";
//  - the identifying attributes of a table (the instance name of a
//    per-instance table, the service name, the watched file...) are labels,
//    named by their lower-case names, in the order listed;
//  - the time stamp and sample and row numbers, and the single-byte twin of
//    a UTF-8 label, are left out;
//  - every other integer attribute is a gauge, every other text attribute a
//    label of the table's info family.
#pragma once

#include <string>
#include <vector>

#include "framework/metric_rows.h"
#include "tables/catalogue.h"

namespace osm {

enum class MetricRole { kNode, kLabel, kOmitted, kGauge, kInfo };

// The attribute that names the node.
const char* MetricNodeAttribute();
// The table's identifying attributes, in label order (none for a table of
// one row).
std::vector<std::string> MetricLabelAttributes(const TableDef& table);
MetricRole MetricRoleOf(const TableDef& table, const AttrDef& attr);
// The HELP text of an attribute's family: the table reference's source.
std::string MetricHelp(const TableDef& table, const AttrDef& attr);
// "osm_<table>" in lower case.
std::string MetricPrefix(const TableDef& table);

// All of the above for the framework's metrics output.
cfw::MetricColumns MetricColumnsOf(const TableDef& table);

// Tables listed in the label data that the catalogue does not have, or
// attributes they name that their table lacks ("TABLE" or "TABLE.ATTR").
std::vector<std::string> MetricDataProblems();

}  // namespace osm
