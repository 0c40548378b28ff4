// Damaged files are refused with a FileError, by the reader and by a
// writable open, and are left byte for byte as they were.
#include <gtest/gtest.h>

#include <cstring>

#include "CdxTestUtil.h"
#include "config/Errors.h"
#include "db/xbase/Cdx.h"
#include "db/xbase/CdxPage.h"

namespace cau::xbase {
namespace {

namespace fs = std::filesystem;

uint32_t U32(const std::string& b, std::size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i)
    v = (v << 8) | static_cast<unsigned char>(b[at + i]);
  return v;
}
void PutU32(std::string& b, std::size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i)
    b[at + i] = static_cast<char>(v >> (8 * i));
}
void PutU32Be(std::string& b, std::size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i)
    b[at + i] = static_cast<char>(v >> (24 - 8 * i));
}

CdxNode Decode(const std::string& b, uint32_t page, int keyLength) {
  CdxPageBytes bytes;
  std::memcpy(bytes.data(), b.data() + page, bytes.size());
  CdxNode n;
  EXPECT_FALSE(DecodePage(bytes, keyLength, ' ', n).has_value());
  return n;
}

class CdxDamage : public ::testing::Test {
 protected:
  static constexpr int kKey = 108;
  void SetUp() override {
    file_ = dir_.path() / "good.cdx";
    auto cdx = CdxFile::Create(file_, {{"NOME", "nome", "", ValueType::Character, kKey}});
    std::mt19937 rng(1);
    for (uint32_t r = 1; r <= 400; ++r) {
      std::string text(100, ' ');
      for (auto& c : text)
        c = static_cast<char>('A' + rng() % 26);
      cdx->Insert(0, EncodeKey({ValueType::Character, text, 0, 0, false}, kKey), r);
    }
    ASSERT_GE(cdx->Stats(0).levels, 3);
    header_ = cdx->tags()[0].headerOffset;
    cdx->Close();
    good_ = testing::ReadBytes(file_);
    root_ = U32(good_, header_);
    const CdxNode root = Decode(good_, root_, kKey);
    branch_ = root.Child(0);
    leaf_ = branch_;
    while (!Decode(good_, leaf_, kKey).leaf())
      leaf_ = Decode(good_, leaf_, kKey).Child(0);
  }
  // Offset of the child pointer of entry i in a branch page.
  static std::size_t ChildAt(uint32_t page, int i) { return page + 12 + i * (kKey + 8) + kKey + 4; }

  testing::TempDir dir_;
  fs::path file_;
  std::string good_;
  uint32_t header_ = 0, root_ = 0, branch_ = 0, leaf_ = 0;
};

TEST_F(CdxDamage, IsRefusedAndLeftUnchanged) {
  const uint32_t end = static_cast<uint32_t>(good_.size());
  struct Case {
    const char* what;
    std::function<void(std::string&)> damage;
  } cases[] = {
      {"branch pointing back at the root",
       [&](std::string& b) { PutU32Be(b, ChildAt(branch_, 0), root_); }},
      {"root pointing at itself", [&](std::string& b) { PutU32Be(b, ChildAt(root_, 0), root_); }},
      {"child past the end", [&](std::string& b) { PutU32Be(b, ChildAt(root_, 0), end + 4096); }},
      {"child not on a page boundary",
       [&](std::string& b) { PutU32Be(b, ChildAt(branch_, 0), leaf_ + 3); }},
      {"leaf chain looping back",
       [&](std::string& b) {
         const uint32_t next = U32(b, leaf_ + 8);
         PutU32(b, next + 8, leaf_);
         PutU32(b, leaf_ + 4, next);
       }},
      {"truncated by whole pages", [&](std::string& b) { b.resize(b.size() - 2048); }},
      {"truncated inside a page", [&](std::string& b) { b.resize(b.size() - 100); }},
      {"unknown page attributes", [&](std::string& b) { b[leaf_ + 1] = 0x10; }},
      {"impossible bit counts", [&](std::string& b) { b[leaf_ + 20] = 40; }},
      {"key length 0 in the tag header",
       [&](std::string& b) { b[header_ + 12] = b[header_ + 13] = 0; }},
      {"root past the end", [&](std::string& b) { PutU32(b, header_, end); }},
      {"directory root in the bag header", [&](std::string& b) { PutU32(b, 0, 512); }},
      {"empty file", [&](std::string& b) { b.clear(); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string bad = good_;
    c.damage(bad);
    const fs::path path = dir_.path() / "bad.cdx";
    testing::WriteBytes(path, bad);
    EXPECT_THROW(CdxFile::Open(path, true), FileError);
    bool refused = false;
    try {
      auto cdx = CdxFile::Open(path, false);
      for (int i = 0; i < static_cast<int>(cdx->tags().size()); ++i) {
        cdx->Entries(i);
        auto cur = cdx->OpenCursor(i);
        for (bool ok = cur.Last(); ok; ok = cur.Prev()) {
        }
      }
      refused = !cdx->CheckStructure().empty();
    } catch (const FileError&) {
      refused = true;
    }
    EXPECT_TRUE(refused);
    EXPECT_EQ(testing::ReadBytes(path), bad) << "file changed";
  }
}

TEST_F(CdxDamage, StructureCheckNamesWhatIsWrong) {
  struct Case {
    const char* what;
    std::function<void(std::string&)> damage;
    const char* expect;
  } cases[] = {
      {"branch key differs from its child", [&](std::string& b) { b[branch_ + 12] = 'A'; },
       "chave interna difere"},
      {"stored free space wrong", [&](std::string& b) { b[leaf_ + 12] ^= 1; }, "espaço livre"},
      {"same child twice",
       [&](std::string& b) { PutU32Be(b, ChildAt(root_, 1), Decode(b, root_, kKey).Child(0)); },
       "alcançada duas vezes"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string bad = good_;
    c.damage(bad);
    const fs::path path = dir_.path() / "bad.cdx";
    testing::WriteBytes(path, bad);
    const auto problems = CdxFile::Open(path, false)->CheckStructure();
    ASSERT_FALSE(problems.empty());
    bool named = false;
    for (const auto& p : problems)
      named |= p.find(c.expect) != std::string::npos;
    EXPECT_TRUE(named) << problems.front();
    EXPECT_THROW(CdxFile::Open(path, true), FileError);
  }
}

}  // namespace
}  // namespace cau::xbase
