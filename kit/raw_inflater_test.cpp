// The two inflate engines against each other: the same bytes and the same verdict for sound
// kits of every kind and for damaged streams. Without ISA-L in the build there is nothing to
// compare, and the tests say so.

#include "kit/raw_inflater.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "kit/container_format.h"
#include "testing/kit_builders.h"
#include "testing/test_files.h"

namespace {

struct Outcome {
  RawInflater::Status status;
  Bytes output;
};

// Inflates kit with engine in awkward pieces: 1,000-byte inputs into 777-byte outputs.
Outcome InflateWith(RawInflater::Engine engine, const Bytes& kit) {
  RawInflater inflater(engine);
  Outcome outcome{RawInflater::Status::kMore, {}};
  unsigned char piece[777];
  std::size_t offset = 0;
  do {
    const std::size_t chunk = kit.size() - offset < 1000 ? kit.size() - offset : 1000;
    const unsigned char* input = kit.data() + offset;
    std::size_t input_left = chunk;
    offset += chunk;
    bool output_was_full = false;
    do {
      unsigned char* output = piece;
      std::size_t space = sizeof piece;
      outcome.status = inflater.Inflate(&input, &input_left, &output, &space);
      outcome.output.insert(outcome.output.end(), piece, output);
      output_was_full = space == 0;
    } while (outcome.status == RawInflater::Status::kMore && (output_was_full || input_left > 0));
  } while (outcome.status == RawInflater::Status::kMore && offset < kit.size());
  return outcome;
}

// Configuration text with random runs: the benchmark's mix of compressible and not.
Bytes MixedContent(std::size_t length, unsigned seed) {
  std::mt19937 random(seed);
  Bytes bytes;
  const std::string text = "[section]\nwidth=120\nfont=Sans 10\ncolour=#a0b0c0\n";
  while (bytes.size() < length) {
    if (random() % 4 == 0) {
      for (int i = 0; i < 3000; ++i) bytes.push_back(static_cast<unsigned char>(random()));
    } else {
      for (int i = 0; i < 40; ++i) bytes.insert(bytes.end(), text.begin(), text.end());
    }
  }
  bytes.resize(length);
  return bytes;
}

std::vector<Bytes> SoundContainers() {
  std::vector<Bytes> containers;
  for (const std::string& name : ListNames(FUZZ_CORPUS_DIR)) {
    if (name[0] == '.') continue;
    containers.push_back(ReadWholeFileBytes(std::string(FUZZ_CORPUS_DIR) + "/" + name));
  }
  containers.push_back(MixedContent(3 << 20, 1));
  containers.push_back(Bytes(2 << 20, 'z'));
  containers.push_back(Bytes());
  return containers;
}

class RawInflaterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (RawInflater::DefaultEngine() != RawInflater::Engine::kIsal) {
      GTEST_SKIP() << "this build inflates with zlib alone: nothing to compare";
    }
  }
};

}  // namespace

TEST_F(RawInflaterTest, BothEnginesGiveTheSameContainerForSoundKits) {
  for (const Bytes& container : SoundContainers()) {
    for (int level : {0, 1, 6, 9}) {
      const Bytes kit = RawDeflate(container, level);
      const Outcome zlib = InflateWith(RawInflater::Engine::kZlib, kit);
      const Outcome isal = InflateWith(RawInflater::Engine::kIsal, kit);
      EXPECT_EQ(zlib.status, RawInflater::Status::kEnded) << container.size() << " " << level;
      EXPECT_EQ(isal.status, RawInflater::Status::kEnded) << container.size() << " " << level;
      EXPECT_TRUE(zlib.output == container) << container.size() << " " << level;
      EXPECT_TRUE(isal.output == container) << container.size() << " " << level;
    }
  }
}

// The engines may part on a damaged stream (ISA-L may only ask for more input where zlib
// fails, and then zlib judges it again), but a stream ISA-L ends is ended by zlib too, with
// the same bytes: the kit's inflation takes ISA-L's end as final.
TEST_F(RawInflaterTest, ADamagedStreamIsalEndsIsEndedByZlibWithTheSameBytes) {
  const Bytes container = MixedContent(200000, 2);
  const Bytes kit = RawDeflate(container, 6);
  std::mt19937 random(7);
  for (int trial = 0; trial < 3000; ++trial) {
    Bytes damaged = kit;
    if (trial % 3 == 0) {
      damaged.resize(random() % kit.size());
    } else {
      const std::size_t at = random() % kit.size();
      damaged[at] = static_cast<unsigned char>(damaged[at] ^ (1u << (random() % 8)));
      if (trial % 3 == 2) damaged.insert(damaged.end(), 64, 0xFF);
    }
    const Outcome zlib = InflateWith(RawInflater::Engine::kZlib, damaged);
    const Outcome isal = InflateWith(RawInflater::Engine::kIsal, damaged);
    if (isal.status != RawInflater::Status::kEnded) continue;
    ASSERT_EQ(zlib.status, RawInflater::Status::kEnded) << "trial " << trial;
    ASSERT_TRUE(zlib.output == isal.output) << "trial " << trial;
  }
}
