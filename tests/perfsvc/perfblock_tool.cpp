// osm_perfblock DESCRIPTION BLOCKFILE NAMESFILE
// Writes a performance data block file (for OSM_PERFDATA_FILE) and a names
// file (for OSM_PERFNAMES_FILE) from a text description; see
// perf_block_builder.h for the format.
#include "perf_block_builder.h"

#include <cstdio>
#include <fstream>
#include <sstream>

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: osm_perfblock DESCRIPTION BLOCKFILE NAMESFILE\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "osm_perfblock: cannot read %s\n", argv[1]);
    return 1;
  }
  std::stringstream text;
  text << in.rdbuf();
  perfbuild::BlockBuilder builder;
  perfbuild::NameList names;
  std::string error;
  if (!perfbuild::ParseBlockDescription(text.str(), &builder, &names, &error)) {
    std::fprintf(stderr, "osm_perfblock: %s: %s\n", argv[1], error.c_str());
    return 1;
  }
  std::vector<std::uint8_t> bytes = builder.Build();
  if (!perfbuild::WriteBlockFile(argv[2], bytes) || !perfbuild::WriteNamesFile(argv[3], names)) {
    std::fprintf(stderr, "osm_perfblock: cannot write the output files\n");
    return 1;
  }
  std::printf("%u bytes, %u objects, %u names\n", static_cast<unsigned>(bytes.size()),
              static_cast<unsigned>(builder.ObjectCount()), static_cast<unsigned>(names.size()));
  return 0;
}
