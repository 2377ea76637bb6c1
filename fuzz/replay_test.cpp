// Replays every input kept in fuzz/corpus/<target>/ through its target: the seeds and
// every input that ever found a fault. Built with the address and undefined-behaviour
// sanitizers, so an input that once overflowed or read out of bounds fails here again.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "fuzz/fuzz.h"

namespace carryall::fuzz {

void Fail(const char* file, int line, const char* what) { ADD_FAILURE_AT(file, line) << "broken: " << what; }

namespace {

class FuzzReplayTest : public ::testing::TestWithParam<Target> {};

TEST_P(FuzzReplayTest, EveryKeptInputPasses) {
  const std::filesystem::path folder = std::filesystem::path(CARRYALL_FUZZ_CORPUS) / GetParam().name;
  int replayed = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    std::ifstream in(entry.path(), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    SCOPED_TRACE(entry.path().filename().string());
    GetParam().run(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    ++replayed;
  }
  EXPECT_GT(replayed, 0) << "no seed in " << folder;
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzReplayTest, ::testing::ValuesIn(kTargets),
                         [](const ::testing::TestParamInfo<Target>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace carryall::fuzz
