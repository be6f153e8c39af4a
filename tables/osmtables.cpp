// osmtables: prints the row catalogue as JSON (default) or as the markdown
// table reference.
//   osmtables [--json | --markdown] [TABLE ...]
// TABLE names select tables (any case); without them every table is printed.
#include <cstdio>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#endif

#include "tables/catalogue.h"
#include "tables/reference.h"

namespace {

void Usage(std::FILE* out) {
  std::fputs(
      "usage: osmtables [--json | --markdown] [TABLE ...]\n"
      "  --json      every row record as JSON (default)\n"
      "  --markdown  the table reference (docs/tables.md)\n"
      "  TABLE       only these tables, in the order given\n",
      out);
}

}  // namespace

int main(int argc, char** argv) {
  bool markdown = false;
  std::vector<const osm::TableDef*> chosen;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--json") {
      markdown = false;
    } else if (arg == "--markdown") {
      markdown = true;
    } else if (arg == "--help" || arg == "-h") {
      Usage(stdout);
      return 0;
    } else if (!arg.empty() && arg[0] == '-') {
      std::fprintf(stderr, "osmtables: unknown option %s\n", arg.c_str());
      Usage(stderr);
      return 2;
    } else {
      for (char& c : arg) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
      }
      const osm::TableDef* table = osm::FindTable(arg.c_str());
      if (table == nullptr) {
        std::fprintf(stderr, "osmtables: no table named %s\n", argv[i]);
        return 2;
      }
      chosen.push_back(table);
    }
  }
  const osm::TableDef* const* tables = osm::AllTables();
  std::size_t count = osm::TableCount();
  if (!chosen.empty()) {
    tables = chosen.data();
    count = chosen.size();
  }
#if defined(_WIN32)
  // Line ends stay "\n" so that the output matches the checked-in reference.
  _setmode(_fileno(stdout), _O_BINARY);
#endif
  const std::string text =
      markdown ? osm::TablesMarkdown(tables, count) : osm::TablesJson(tables, count);
  if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0) {
    std::fprintf(stderr, "osmtables: write failed\n");
    return 1;
  }
  return 0;
}
