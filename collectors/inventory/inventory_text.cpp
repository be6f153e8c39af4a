#include "collectors/inventory/inventory_text.h"

#include <cstdio>
#include <cstdlib>

#include "resources/resource_ids.h"

namespace osm {
namespace inventory {

namespace {

struct StatusWord {
  std::uint32_t bit;
  const char* word;
};

// In the order the words appear in the text.
const StatusWord kPrinterWords[] = {
    {0x1, ":Paused"},           {0x4, ":Pending Deletion"},  {0x200, ":Busy"},
    {0x400000, ":Door Open"},   {0x2, ":Error"},             {0x8000, ":Initializing"},
    {0x100, ":IO Active"},      {0x20, ":Manual Feed"},      {0x40000, ":No Toner"},
    {0x1000, ":Not Available"}, {0x80, ":Offline"},          {0x200000, ":Out Of Memory"},
    {0x800, ":Output Bin Full"}, {0x80000, ":Page Punt"},    {0x8, ":Paper Jam"},
    {0x10, ":Paper Out"},       {0x40, ":Paper Problem"},    {0x400, ":Printing"},
    {0x4000, ":Processing"},    {0x20000, ":Toner Low"},     {0x800000, ":Server Unknown"},
    {0x100000, ":User Intervention"}, {0x2000, ":Waiting"},  {0x10000, ":Warming Up"},
    {0x1000000, ":Power Save"}};

const StatusWord kJobWords[] = {{0x1, ":Paused"},    {0x2, ":Error"},   {0x4, ":Deleting"},
                                {0x8, ":Spooling"},  {0x10, ":Printing"}, {0x20, ":Offline"},
                                {0x40, ":Paperout"}, {0x80, ":Printed"}, {0x100, ":Deleted"},
                                {0x200, ":Blocked DEV"}, {0x400, ":User Intervention"}};

template <std::size_t N>
std::string Words(const StatusWord (&words)[N], std::uint32_t status, const char* none) {
  std::string text;
  for (const StatusWord& w : words)
    if (status & w.bit) text += w.word;
  if (text.empty()) text = none;
  return text + ":";
}

}  // namespace

std::string PrinterStatusText(std::uint32_t status, std::uint32_t queuedJobs) {
  return Words(kPrinterWords, status, queuedJobs ? ":Check Jobs" : ":Ready");
}

std::string JobStatusText(std::uint32_t status) { return Words(kJobWords, status, ":Waiting"); }

const NameList kServiceStateNames = {IDS_STATE_COUNT, IDS_STATE_FIRST, IDS_NAME_UNKNOWN};
const NameList kStartTypeNames = {IDS_START_TYPE_COUNT, IDS_START_TYPE_FIRST, IDS_NAME_UNKNOWN};

unsigned NameIdOf(const NameList& list, std::uint32_t value, const char* countText) {
  unsigned long count = countText ? std::strtoul(countText, nullptr, 10) : 0;
  return value < count ? list.firstId + value : list.unknownId;
}

int IpVersionOf(const std::string& address) {
  bool dot = address.find('.') != std::string::npos, colon = address.find(':') != std::string::npos;
  if (!dot) return 6;
  return colon ? 10 : 4;
}

std::string NormalisedAdapterName(std::string description) {
  for (char& c : description) {
    if (c == '(') c = '[';
    else if (c == ')') c = ']';
    else if (c == '/' || c == '\\' || c == '#') c = '_';
  }
  return description;
}

std::string HardwareAddressText(const unsigned char* bytes, std::size_t length) {
  std::string text;
  char pair[4];
  for (std::size_t i = 0; i < length; ++i) {
    std::snprintf(pair, sizeof pair, "%.2x", bytes[i]);
    text += pair;
  }
  return text;
}

std::string JoinWmiTexts(const std::vector<std::string>& parts) {
  std::string text;
  for (std::size_t i = 0; i < parts.size(); ++i) text += (i ? " | " : "") + parts[i];
  return text;
}

}  // namespace inventory
}  // namespace osm
