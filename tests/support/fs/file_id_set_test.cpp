#include "support/fs/file_id_set.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <utility>

namespace Velk {
namespace {

os::file_id Id(std::uint64_t volume, std::uint64_t number) {
  os::file_id id;
  id.volume = volume;
  id.file_number = number;
  id.known = true;
  return id;
}

// The same file number on two volumes is two files; file number 0 (the
// table's free mark) is a file like any other.
TEST(FileIdSetTest, VolumesAndTheFreeMarkKeepFilesApart) {
  struct STEP {
    std::uint64_t volume, number;
    bool fresh;
  };
  const STEP steps[] = {
      {1, 5, true}, {1, 5, false}, {2, 5, true}, {2, 5, false}, {1, 0, true},
      {1, 0, false}, {2, 0, true}, {3, ~std::uint64_t(0), true}, {1, 5, false},
      {3, ~std::uint64_t(0), false},
  };
  CFileIdSet set;
  for (const STEP& step : steps)
    EXPECT_EQ(set.Insert(Id(step.volume, step.number)), step.fresh)
        << step.volume << ":" << step.number;
}

// Through several doublings, against a reference set, with volumes
// interleaved and numbers that collide in the low bits.
TEST(FileIdSetTest, GrowingKeepsEveryFile) {
  CFileIdSet set;
  std::set<std::pair<std::uint64_t, std::uint64_t>> reference;
  std::uint64_t state = 12345;
  for (int i = 0; i < 200000; ++i) {
    state = state * 6364136223846793005u + 1442695040888963407u;
    const std::uint64_t volume = (state >> 60) & 3;
    const std::uint64_t number = (state >> 20) % 50000 << 16;
    EXPECT_EQ(set.Insert(Id(volume, number)), reference.insert({volume, number}).second) << i;
  }
}

}  // namespace
}  // namespace Velk
