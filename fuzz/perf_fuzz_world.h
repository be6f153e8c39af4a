// The fixed names and descriptions the counter service fuzzers run blocks
// through; the seed generator builds its blocks with the same indexes.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace perffuzz {

// Object 2 ("Proc") has instances whose parents are instances of object 14
// ("Parent"); object 20 ("Single") has no instances.
inline std::vector<std::pair<std::uint32_t, std::string>> Names() {
  return {{2, "Proc"},  {4, "Timer"},  {6, "Rate"},   {7, "Base"},  {8, "Raw"},     {10, "Large"},
          {12, "Frac"}, {13, "FracBase"}, {14, "Parent"}, {16, "Elapsed"}, {18, "Multi"},
          {19, "MultiBase"}, {20, "Single"}, {22, "Queue"}};
}

struct Description {
  const char16_t* text[8];
};

// Descriptions of every column type, with and without pseudo-columns.
inline std::vector<Description> Descriptions() {
  return {
      {{u"9 20 1 Proc (9 _INSTANCE_, Timer, Rate, Raw, Large, Frac, Elapsed, Multi, _INSTANCE_)",
        u"200 64 8 4 4 8 8 8 8 20", u"88 152 160 164 168 176 184 192 40", u"0 1 1 1000 0.000976563 1 1 1 0",
        u"3 100 2 5 6 100 6 100 4", u"4 _ORIGIN_ , _SAMPLE_ , _ROW_ , _TIMESTAMP_", u"40 4 4 16",
        u"0 64 68 72"}},
      {{u"3 2 1 Parent (3 _INSTANCE_, Raw, Queue)", u"24 8 4 8", u"0 8 16", u"0 1 1", u"3 2 100", nullptr,
        nullptr, nullptr}},
      {{u"3 1 1 Single (3 Raw, Large, _INSTANCE_)", u"20 4 8 8", u"0 4 12", u"1 1 0", u"2 6 3",
        u"2 _ROW_ , _TIMESTAMP_", u"4 16", u"0 4"}},
  };
}

}  // namespace perffuzz
