// Files, gzip files and pipes, and two files read at once: each must give
// exactly what the text read from memory, or the two files read in turn, give.
#include <sys/stat.h>
#include <zlib.h>

#include <algorithm>
#include <thread>

#include "support.h"

namespace seedmatch {
namespace {

using test::dump, test::load, test::loadFile, test::quoted;

std::string gzipped(std::string_view text) {
  const std::string path = testing::TempDir() + "gzipped." + std::to_string(::getpid());
  const gzFile out = gzopen(path.c_str(), "wb");
  EXPECT_EQ(gzwrite(out, text.data(), static_cast<unsigned>(text.size())),
            static_cast<int>(text.size()));
  EXPECT_EQ(gzclose(out), Z_OK);
  const std::string bytes = test::readFile(path);
  std::remove(path.c_str());
  return bytes;
}

class Files : public testing::Test {
 protected:
  std::string write(const std::string& name, const std::string& bytes) {
    const std::string path =
        testing::TempDir() + "gzip_pair." + std::to_string(::getpid()) + "." + name;
    std::ofstream(path, std::ios::binary) << bytes;
    paths_.push_back(path);
    return path;
  }
  void TearDown() override {
    for (const auto& path : paths_) std::remove(path.c_str());
  }
  std::vector<std::string> paths_;
};

// Two seeds, then a seed of 300000 distances in assorted forms: about 2 MB,
// so that inflated text straddles the reader's refills.
std::string sampleText(int distances = 300000) {
  std::string text = "3 1 0 0 0 0 2\n";
  for (int i = 0; i < 3; ++i) {
    const int count = i < 2 ? 3 : distances;
    text += "1.5 -2 3e1 7 8 0.25 0 0 0 0 0 0 0 0 1 1 9 -1e-3 5 6 7 " + std::to_string(count);
    for (int j = 0; j < count; ++j) {
      text += j % 11 == 0 ? '\n' : ' ';
      text += std::to_string(j % 45) + (j % 3 == 0 ? ".125" : j % 3 == 1 ? "e-1" : "");
    }
    text += '\n';
  }
  return text;
}

// Plain and gzip files larger than the read buffer, gzip also as members cut
// inside a token, with an empty one; each also through a pipe of short reads.
TEST_F(Files, FilesAndPipesReadAsTheTextInMemory) {
  const std::string text = sampleText();
  std::string bad = text + "\t x";
  bad.replace(bad.rfind(" 300000"), 7, " 300001");
  const auto members = [](const std::string& t) {
    const std::size_t third = t.size() / 3;
    return gzipped(t.substr(0, third)) + gzipped("") + gzipped(t.substr(third, third)) +
           gzipped(t.substr(2 * third));
  };
  const std::string cases[][2] = {
      {text, text}, {gzipped(text), text}, {members(text), text}, {bad, bad}, {members(bad), bad}};
  for (const auto& [bytes, inflated] : cases) {
    const std::string path = write("seeds", bytes);
    std::FILE* pipe = ::popen(("dd bs=997 status=none if=" + quoted(path)).c_str(), "r");
    for (const std::string& name : {path, "/dev/fd/" + std::to_string(::fileno(pipe))}) {
      EXPECT_EQ(loadFile(name), load(inflated, name));
    }
    ::pclose(pipe);
  }
  EXPECT_EQ(load(bad),
            "seedmatch:FILE:" + std::to_string(std::count(bad.begin(), bad.end(), '\n') + 1) +
                ":3: expected distance 300000 of seed 2 (a real number), found 'x'");
}

// Damaged streams: one line naming the file, without a position; the set is left as it was.
TEST_F(Files, DamagedGzipIsOneError) {
  const std::string text = sampleText(2000);
  const std::string member = gzipped(text);
  std::string flipped = member;
  flipped[member.size() / 2] = static_cast<char>(flipped[member.size() / 2] ^ 0x55);
  std::string badCheck = member;
  badCheck[member.size() - 6] = static_cast<char>(badCheck[member.size() - 6] ^ 1);  // the CRC
  const std::pair<std::string, std::string> cases[] = {
      // bytes, message
      {member.substr(0, 2), "gzip data ends early"},
      {member.substr(0, member.size() / 2), "gzip data ends early"},
      {member.substr(0, member.size() - 1), "gzip data ends early"},
      {badCheck, "corrupt gzip data: incorrect data check"},
      {member + "trailing", "corrupt gzip data: incorrect header check"},
      {gzipped(text + " and more") + "\x1f\x8b\x08\x00", "gzip data ends early"},
  };
  for (const auto& c : cases) {
    const std::string path = write("damaged", c.first);
    SeedSet seeds = {SEED{}};
    const auto error = readSeed(path, seeds);
    EXPECT_EQ(error ? formatReadError(*error) : "valid", "seedmatch:" + path + ": " + c.second)
        << &c - cases;
    EXPECT_EQ(seeds.size(), 1u);
  }
  const std::string path = write("flipped", flipped);
  const std::string message = loadFile(path);
  EXPECT_EQ(message.rfind("seedmatch:" + path + ": corrupt gzip data: ", 0), 0u) << message;
  EXPECT_EQ(message.find('\n'), std::string::npos);
  // Not gzip unless both magic bytes are there.
  const std::string oneByte = write("one_magic_byte", "\x1f");
  EXPECT_EQ(loadFile(oneByte),
            "seedmatch:" + oneByte + ":1:1: expected seed count (an integer), found '\\x1f'");
}

// A file of many seeds is read by two threads: the same seeds as from memory, and
// the same first error wherever the errors lie (the second part starts at seed 583).
TEST_F(Files, TwoThreadsOnOneFile) {
  constexpr int kSeeds = 1100;
  std::vector<std::string> blocks;
  for (int i = 0; i < kSeeds; ++i) {
    const int count = i == 100 ? kSeeds + 7 : kSeeds;  // more distances than seeds is allowed
    std::string block =
        "\n1.5 -2 3e1 7 8 0.25 0 0 0 0 0 0 0 0 1 1 9 -1e-3 5 6 7 " + std::to_string(count);
    for (int j = 0; j < count; ++j)
      block.append(j % 97 == 0 ? "\n" : " ").append(std::to_string((i + j) % 45)).append(".5");
    blocks.push_back(block);
  }
  const auto file = [&](std::vector<std::pair<int, std::string>> edits, std::size_t cut = 0) {
    std::vector<std::string> edited = blocks;
    for (const auto& [seed, token] : edits) edited[static_cast<std::size_t>(seed)] += " " + token;
    std::string text = std::to_string(kSeeds) + " 1 0 0 0 0 2";
    for (const std::string& block : edited) text += block;
    return text.substr(0, text.size() - cut);
  };
  // Each edit appends a token to a block, so that the next block starts one token late.
  const std::string cases[] = {
      file({}),
      file({{50, "x"}}),
      file({{900, "1.5.5"}}),
      file({{900, "y"}, {20, "z"}}),
      file({{583, "5"}}),
      file({{582, "5"}}),
      file({}, 20000),
      file({{10, "-5"}}),
      file({{1099, "5"}}),
  };
  for (const std::string& text : cases) {
    const std::string path = write("two_threads", text);
    EXPECT_EQ(loadFile(path), load(text, path)) << &text - cases;
  }
}

// readSeedPair gives what readSeed on each file in turn gives; on an error, both sets as they were.
TEST_F(Files, PairReadsAsInTurn) {
  const std::string good1 = write("good1", gzipped(sampleText(4000))),
                    good2 = write("good2", sampleText(3000));
  const std::string bad1 = write("bad1", "1 0 0 0 0 0 0 x"),
                    bad2 = write("bad2", gzipped("2 0 0 0 0 0 -1"));
  const std::string missing = testing::TempDir() + "no_such_file", directory = testing::TempDir();
  const std::pair<std::string, std::string> cases[] = {
      {good1, good2},  {good2, good1},     {good1, good1},     {bad1, good2},
      {good1, bad2},   {bad1, bad2},       {bad2, bad1},       {missing, bad2},
      {bad1, missing}, {directory, good1}, {good2, directory},
  };
  for (const auto& [path1, path2] : cases) {
    SeedSet inTurn1, inTurn2;
    auto expected = readSeed(path1, inTurn1);
    if (!expected) expected = readSeed(path2, inTurn2);
    const std::string want =
        expected ? formatReadError(*expected) : dump(inTurn1) + "|" + dump(inTurn2);
    SeedSet set1 = {SEED{}}, set2 = {SEED{}, SEED{}};
    const auto error = readSeedPair(path1, path2, set1, set2);
    if (error) {
      EXPECT_EQ(formatReadError(*error), want) << path1 << " " << path2;
      EXPECT_EQ(set1.size() * 10 + set2.size(), 12u) << "sets changed on an error";
    } else {
      EXPECT_EQ(dump(SeedSet(set1.begin() + 1, set1.end())) + "|" +
                    dump(SeedSet(set2.begin() + 2, set2.end())),
                want);
    }
  }
}

// When file 1 fails, a FIFO that no writer opens is not waited for (one FIFO named twice:
// cli_test).
TEST_F(Files, FifoWithoutWriter) {
  const std::string fifo = testing::TempDir() + "gzip_pair_fifo." + std::to_string(::getpid());
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string text = sampleText(3);
  const std::string bad = write("bad", "x");
  EXPECT_EQ(test::run("timeout 20 " + quoted(SEEDMATCH_EXE) + " " + quoted(bad) + " " +
                      quoted(fifo) + " 1 1 1 1"),
            "2|seedmatch:" + bad + ":1:1: expected seed count (an integer), found 'x'\n|");
  // A writer that comes late is waited for.
  std::thread late([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    std::ofstream(fifo, std::ios::binary) << text;
  });
  const std::string good = write("good", text);
  SeedSet late1, late2;
  EXPECT_FALSE(readSeedPair(good, fifo, late1, late2));
  late.join();
  EXPECT_EQ(dump(late1), dump(late2));
  std::remove(fifo.c_str());
}

}  // namespace
}  // namespace seedmatch
