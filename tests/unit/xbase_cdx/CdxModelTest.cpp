// Randomised changes against an in-memory model: after every batch the tags
// walk like the model, the structure check passes, and a reopened file (and
// an independent reader) gives the same walk.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <set>

#include "CdxTestUtil.h"
#include "config/Errors.h"
#include "db/xbase/Cdx.h"

namespace cau::xbase {
namespace {

namespace fs = std::filesystem;
using Entry = std::pair<std::string, uint32_t>;

struct Model {
  TagSpec spec;
  std::set<Entry> entries;
  std::vector<Entry> Walk() const {
    std::vector<Entry> out(entries.begin(), entries.end());
    if (spec.descending)
      std::reverse(out.begin(), out.end());
    return out;
  }
  bool HasKey(const std::string& key) const {
    auto it = entries.lower_bound({key, 0});
    return it != entries.end() && it->first == key;
  }
};

class KeySource {
 public:
  explicit KeySource(unsigned seed) : rng_(seed) {}
  uint32_t Recno() {
    // Mostly small record numbers, some large enough to widen leaf entries.
    return Pick(10) == 0 ? 1 + Pick(1u << 22) : 1 + Pick(3000);
  }
  std::string Key(const TagSpec& t) {
    if (t.keyType == ValueType::Numeric && t.keyLength == 8)
      return EncodeDouble((static_cast<double>(Pick(400)) - 200) / 4);
    if (t.keyType == ValueType::Numeric)
      return EncodeInt32(static_cast<int32_t>(Pick(5000)) - 2500);
    static const char* words[] = {"ALFA", "BETA", "GAMA", "DELTA", "ÉPSILON", "ZETA", "a", "Z"};
    std::string text;
    switch (Pick(12)) {
      case 0:
        break;  // all blanks
      case 1:
        for (int i = 0; i < t.keyLength; ++i)
          text += static_cast<char>('A' + Pick(26));
        break;
      default:
        text = "CLIENTE ";
        for (uint32_t n = Pick(6); n > 0; --n)
          text += std::string(words[Pick(8)]) + " ";
    }
    return EncodeKey({ValueType::Character, text, 0, 0, false}, t.keyLength);
  }
  uint32_t Pick(uint32_t n) { return std::uniform_int_distribution<uint32_t>(0, n - 1)(rng_); }

 private:
  std::mt19937 rng_;
};

std::vector<TagSpec> Specs() {
  std::vector<TagSpec> s(5);
  s[0] = {"LONGKEY", "cliente+nome", "", ValueType::Character, 108};
  s[1] = {"VALOR", "valor", "", ValueType::Numeric, 8};
  s[2] = {"NOMEUNICO", "nome", "", ValueType::Character, 12, true};
  s[3] = {"VALORDESC", "valor", "", ValueType::Numeric, 8, false, false, true};
  s[4] = {"CODIGO", "codigo", "", ValueType::Numeric, 4, false, true};
  return s;
}

void ExpectSame(const CdxFile& cdx, const std::vector<Model>& models, const char* when) {
  for (const auto& m : models) {
    const int tag = cdx.FindTag(m.spec.name);
    ASSERT_GE(tag, 0);
    ASSERT_EQ(cdx.Entries(tag), m.Walk()) << m.spec.name << " " << when;
  }
  ASSERT_EQ(cdx.CheckStructure(), std::vector<std::string>{}) << when;
}

// Walks a tag with the independent reader; its record numbers in stored order.
std::vector<uint32_t> PerlWalk(const fs::path& file, const std::string& tag, char type) {
  const std::string cmd = std::string("perl ") + CAU_CDX_PERL_READER + " '" + file.string() + "' " +
                          tag + " " + type + " 2>&1";
  std::vector<uint32_t> out;
  FILE* pipe = ::popen(cmd.c_str(), "r");
  if (!pipe)
    return out;
  char line[256];
  while (std::fgets(line, sizeof line, pipe)) {
    unsigned long r = 0;
    if (std::sscanf(line, "%lu", &r) == 1)
      out.push_back(static_cast<uint32_t>(r));
    else
      ADD_FAILURE() << "reader: " << line;
  }
  EXPECT_EQ(::pclose(pipe), 0);
  return out;
}

TEST(CdxModel, RandomInsertsAndRemovesMatchTheModel) {
  testing::TempDir dir;
  const fs::path file = dir.path() / "model.cdx";
  std::vector<Model> models;
  for (const auto& s : Specs())
    models.push_back({s, {}});
  auto cdx = CdxFile::Create(file, Specs());
  KeySource src(20261210);
  std::map<std::string, int> tagOf;
  for (const auto& m : models)
    tagOf[m.spec.name] = cdx->FindTag(m.spec.name);

  auto step = [&](Model& m, bool insertBias) {
    const int tag = tagOf[m.spec.name];
    if (m.entries.empty() || src.Pick(100) < (insertBias ? 75u : 30u)) {
      const Entry e{src.Key(m.spec), src.Recno()};
      const bool present = m.entries.count(e) != 0;
      const bool keyTaken = m.HasKey(e.first);
      if (m.spec.candidate && keyTaken) {
        EXPECT_THROW(cdx->Insert(tag, e.first, e.second), Error);
        return;
      }
      const bool added = cdx->Insert(tag, e.first, e.second);
      const bool want = !present && !(m.spec.unique && keyTaken);
      ASSERT_EQ(added, want) << m.spec.name;
      if (added)
        m.entries.insert(e);
    } else if (src.Pick(4) == 0) {
      const Entry e{src.Key(m.spec), src.Recno()};
      ASSERT_EQ(cdx->Remove(tag, e.first, e.second), m.entries.erase(e) == 1);
    } else {
      auto it = m.entries.begin();
      std::advance(it, src.Pick(static_cast<uint32_t>(m.entries.size())));
      ASSERT_TRUE(cdx->Remove(tag, it->first, it->second)) << m.spec.name;
      m.entries.erase(it);
    }
  };

  // Grow, shrink most of the way, grow again: splits, emptied pages, reuse.
  const int batches = 24;
  for (int batch = 0; batch < batches; ++batch) {
    const bool grow = batch < 10 || batch >= 16;
    for (int i = 0; i < 500; ++i)
      for (auto& m : models)
        ASSERT_NO_FATAL_FAILURE(step(m, grow));
    ASSERT_NO_FATAL_FAILURE(ExpectSame(*cdx, models, "after a batch"));
    if (batch % 4 == 3) {
      const uint32_t before = cdx->changeCounter();
      cdx->Flush(batch % 8 == 7);
      EXPECT_EQ(cdx->changeCounter(), before + 1);
      cdx.reset();
      ASSERT_NO_FATAL_FAILURE(ExpectSame(*CdxFile::Open(file, false), models, "reopened"));
      cdx = CdxFile::Open(file, true);
      for (const auto& m : models)
        cdx->SetKeyType(tagOf[m.spec.name], m.spec.keyType);
    }
  }
  EXPECT_GE(cdx->Stats(tagOf["LONGKEY"]).levels, 3);
  EXPECT_GE(cdx->Stats(tagOf["VALOR"]).levels, 2);
  cdx->Close();

  // The independent reader walks what we wrote in the same order.
  for (const auto& m : models) {
    if (m.spec.keyLength == 4)
      continue;  // the reader misdecodes 4-byte integer keys
    std::vector<uint32_t> want;
    for (const auto& e : m.entries)
      want.push_back(e.second);  // stored order
    EXPECT_EQ(PerlWalk(file, m.spec.name, m.spec.keyType == ValueType::Character ? 'C' : 'N'), want)
        << m.spec.name;
  }
}

TEST(CdxModel, DrainingATagLeavesAnEmptyRootLeafThatGrowsAgain) {
  testing::TempDir dir;
  const fs::path file = dir.path() / "drain.cdx";
  auto cdx = CdxFile::Create(file, {Specs()[0]});
  std::vector<Entry> all;
  for (uint32_t r = 1; r <= 600; ++r)
    all.emplace_back(
        EncodeKey({ValueType::Character, "K" + std::to_string(r % 97), 0, 0, false}, 108), r);
  for (const auto& [k, r] : all)
    ASSERT_TRUE(cdx->Insert(0, k, r));
  EXPECT_GE(cdx->Stats(0).levels, 3);
  cdx->Flush();
  const auto size = fs::file_size(file);
  for (const auto& [k, r] : all)
    ASSERT_TRUE(cdx->Remove(0, k, r));
  EXPECT_EQ(cdx->Stats(0).levels, 1);
  EXPECT_EQ(cdx->Stats(0).pages, 1);
  EXPECT_EQ(cdx->CheckStructure(), std::vector<std::string>{});
  for (const auto& [k, r] : all)
    ASSERT_TRUE(cdx->Insert(0, k, r));
  cdx->Flush();
  EXPECT_EQ(fs::file_size(file), size) << "freed pages are reused";
  std::sort(all.begin(), all.end());
  EXPECT_EQ(CdxFile::Open(file, true)->Entries(0), all);
}

TEST(CdxModel, BuildPacksLeavesFullAndTakesLaterChanges) {
  testing::TempDir dir;
  const fs::path file = dir.path() / "build.cdx";
  const auto specs = Specs();
  auto cdx = CdxFile::Create(file, specs);
  const int tag = cdx->FindTag("NOMEUNICO");
  KeySource src(7);
  std::vector<Entry> input;
  for (uint32_t r = 1; r <= 5000; ++r)
    input.emplace_back(src.Key(specs[2]), r);
  std::set<Entry> unique;  // the lowest record of each key
  for (const auto& e : input)
    if (std::none_of(unique.begin(), unique.end(),
                     [&](const Entry& u) { return u.first == e.first; }))
      unique.insert(e);
  std::shuffle(input.begin(), input.end(), std::mt19937(3));
  cdx->Build(tag, input);
  EXPECT_EQ(cdx->Entries(tag), std::vector<Entry>(unique.begin(), unique.end()));
  EXPECT_EQ(cdx->CheckStructure(), std::vector<std::string>{});

  // A numeric tag of 5000 keys: full leaves, then inserts split them.
  const int num = cdx->FindTag("VALOR");
  std::vector<Entry> nums;
  for (uint32_t r = 1; r <= 5000; ++r)
    nums.emplace_back(EncodeDouble(r * 1.5), r);
  cdx->Build(num, nums);
  const auto built = cdx->Stats(num);
  EXPECT_GE(built.levels, 2);
  for (uint32_t r = 5001; r <= 5400; ++r) {
    nums.emplace_back(EncodeDouble(r % 5000 * 1.5), r);
    ASSERT_TRUE(cdx->Insert(num, nums.back().first, r));
  }
  std::sort(nums.begin(), nums.end());
  EXPECT_GT(cdx->Stats(num).pages, built.pages);
  EXPECT_EQ(cdx->CheckStructure(), std::vector<std::string>{});
  cdx->Close();
  auto back = CdxFile::Open(file, true);
  EXPECT_EQ(back->Entries(num), nums);
  // Rebuilding reuses the pages of the old tree.
  const auto size = fs::file_size(file);
  back->Build(num, nums);
  back->Close();
  EXPECT_EQ(fs::file_size(file), size);
  EXPECT_EQ(PerlWalk(file, "VALOR", 'N').size(), nums.size());
}

TEST(CdxModel, CursorsFollowChangesAndSeekInTagOrder) {
  testing::TempDir dir;
  auto specs = Specs();
  auto cdx = CdxFile::Create(dir.path() / "cursor.cdx", {specs[1], specs[3]});
  const int asc = cdx->FindTag("VALOR"), desc = cdx->FindTag("VALORDESC");
  for (int tag : {asc, desc})
    for (uint32_t r = 1; r <= 2000; ++r)
      cdx->Insert(tag, EncodeDouble(r / 10), r);

  // Seek: first entry in tag order at or after the key (descending: at or below).
  auto a = cdx->OpenCursor(asc);
  ASSERT_TRUE(a.Seek(EncodeDouble(50)));
  EXPECT_EQ(a.RecNo(), 500u);
  ASSERT_TRUE(a.Seek(EncodeDouble(50.5)));
  EXPECT_EQ(a.RecNo(), 510u);
  EXPECT_FALSE(a.Seek(EncodeDouble(1000)));
  EXPECT_TRUE(a.Eof());
  auto d = cdx->OpenCursor(desc);
  ASSERT_TRUE(d.Seek(EncodeDouble(50)));
  EXPECT_EQ(d.RecNo(), 509u);
  ASSERT_TRUE(d.Seek(EncodeDouble(50.5)));
  EXPECT_EQ(d.RecNo(), 509u);
  EXPECT_FALSE(d.Seek(EncodeDouble(-1)));
  ASSERT_TRUE(d.First());
  EXPECT_EQ(d.RecNo(), 2000u);
  ASSERT_TRUE(d.SeekExact(EncodeDouble(3), 35));
  EXPECT_EQ(d.RecNo(), 35u);
  ASSERT_TRUE(d.Next());
  EXPECT_EQ(d.RecNo(), 34u);

  // Removing the current entry while walking: the next move goes on from there.
  std::vector<uint32_t> seen;
  for (bool ok = a.First(); ok; ok = a.Next()) {
    seen.push_back(a.RecNo());
    if (a.RecNo() % 3 == 0) {
      ASSERT_TRUE(cdx->Remove(asc, a.Key(), a.RecNo()));
    }
    if (a.RecNo() == 1000) {  // lands ahead of the cursor, after (100, 1009)
      ASSERT_TRUE(cdx->Insert(asc, EncodeDouble(100), 5000));
    }
  }
  ASSERT_EQ(seen.size(), 2001u);
  EXPECT_EQ(seen[1009], 5000u);  // right after record 1009
  EXPECT_EQ(seen.back(), 2000u);
  ASSERT_TRUE(a.Last());
  ASSERT_TRUE(cdx->Remove(asc, a.Key(), a.RecNo()));
  ASSERT_TRUE(a.Prev());
  EXPECT_EQ(a.RecNo(), 1999u);
  EXPECT_EQ(cdx->CheckStructure(), std::vector<std::string>{});
}

TEST(CdxModel, AStoredKeyThatDiffersIsStillRemovedByRecord) {
  testing::TempDir dir;
  auto cdx = CdxFile::Create(dir.path() / "stale.cdx", {Specs()[1]});
  for (uint32_t r = 1; r <= 3000; ++r)
    cdx->Insert(0, EncodeDouble(r), r);
  // The host stored 1234.0000000000002 where we now compute 1234.
  const std::string stored = EncodeDouble(std::nextafter(1234.0, 2000.0));
  ASSERT_TRUE(cdx->Remove(0, EncodeDouble(1234), 1234));
  ASSERT_TRUE(cdx->Insert(0, stored, 1234));
  EXPECT_FALSE(cdx->Remove(0, EncodeDouble(1234), 1234));
  EXPECT_EQ(cdx->RemoveRecord(0, 1234), stored);
  EXPECT_EQ(cdx->RemoveRecord(0, 1234), std::nullopt);
  EXPECT_EQ(cdx->Entries(0).size(), 2999u);
  EXPECT_EQ(cdx->CheckStructure(), std::vector<std::string>{});
}

TEST(CdxModel, ChangesByAnotherProgramAreSeenAfterRefresh) {
  testing::TempDir dir;
  const fs::path file = dir.path() / "shared.cdx";
  CdxFile::Create(file, {Specs()[1]})->Close();
  auto a = CdxFile::Open(file, true);
  auto b = CdxFile::Open(file, true);
  for (uint32_t r = 1; r <= 1500; ++r)
    b->Insert(0, EncodeDouble(r), r);
  b->Flush();
  EXPECT_EQ(a->Entries(0).size(), 0u);  // still its cached view
  EXPECT_TRUE(a->Refresh());
  EXPECT_FALSE(a->Refresh());
  EXPECT_EQ(a->Entries(0).size(), 1500u);
  a->Insert(0, EncodeDouble(0.5), 2000);
  a->Flush();
  ASSERT_TRUE(b->Refresh());
  b->Insert(0, EncodeDouble(7), 3000);
  a->Insert(0, EncodeDouble(8), 3001);
  b->Flush();
  EXPECT_THROW(a->Refresh(), Error);  // both sides changed: a must not write over b
  EXPECT_THROW(a->Flush(), Error);
  a.reset();
  auto back = CdxFile::Open(file, true);
  const auto entries = back->Entries(0);
  EXPECT_EQ(entries.size(), 1502u);
  EXPECT_EQ(entries[8].second, 3000u);  // after (0.5, 2000) and (7, 7)
  EXPECT_EQ(entries[9].second, 8u);     // and no (8, 3001)
  // A flush without a refresh is refused the same way.
  auto c = CdxFile::Open(file, true);
  back->Insert(0, EncodeDouble(9), 4000);
  back->Flush();
  c->Insert(0, EncodeDouble(10), 4001);
  EXPECT_THROW(c->Flush(), FileError);
  c.reset();
  EXPECT_EQ(CdxFile::Open(file, false)->Entries(0).size(), 1503u);
  EXPECT_EQ(back->CheckStructure(), std::vector<std::string>{});
}

TEST(CdxModel, KeyTypeDecidesHowTrailingBytesAreRead) {
  testing::TempDir dir;
  const fs::path file = dir.path() / "fill.cdx";
  {
    // Numbers whose keys differ only in bytes compression drops as 0x00.
    auto cdx = CdxFile::Create(file, {Specs()[1]});
    for (double d : {1.0, 1.0000000000000002, 1.5, 2.0})
      cdx->Insert(0, EncodeDouble(d), 1);
  }
  auto ro = CdxFile::Open(file, false);
  EXPECT_EQ(ro->tags()[0].fill, '\0');  // inferred from the pages
  ASSERT_TRUE(ro->OpenCursor(0).Seek(EncodeDouble(1.5)));
  // Read as character keys the same pages are out of order: a writable file
  // refuses that type, and nothing is written.
  const std::string before = testing::ReadBytes(file);
  auto rw = CdxFile::Open(file, true);
  EXPECT_THROW(rw->SetKeyType(0, ValueType::Character), FileError);
  EXPECT_THROW(rw->Insert(0, EncodeDouble(3), 2), Error);
  rw.reset();
  EXPECT_EQ(testing::ReadBytes(file), before);
}

TEST(CdxModel, FirstSplitKeepsTheRootWhereTheHeaderPointsAndAddsTheLowerHalfOnTheLeft) {
  testing::TempDir dir;
  const fs::path file = dir.path() / "split.cdx";
  auto cdx = CdxFile::Create(file, {Specs()[1]});
  const uint32_t root = cdx->tags()[0].rootPage;
  uint32_t r = 1;
  for (; cdx->Stats(0).levels == 1; ++r)
    cdx->Insert(0, EncodeDouble(r), r);
  const uint32_t n = r - 1;
  cdx->Close();
  const std::string b = testing::ReadBytes(file);
  auto u16 = [&](uint32_t at) {
    return static_cast<unsigned char>(b[at]) | static_cast<unsigned char>(b[at + 1]) << 8;
  };
  auto be32 = [&](uint32_t at) {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i)
      v = v << 8 | static_cast<unsigned char>(b[at + i]);
    return v;
  };
  ASSERT_EQ(b.size(), root + 512u + 2 * 512);
  EXPECT_EQ(u16(root), 1);  // an interior root
  EXPECT_EQ(u16(root + 2), 2);
  const uint32_t upper = root + 512,
                 lower = root + 1024;  // the copied root first, then the new page
  EXPECT_EQ(be32(root + 12 + 8 + 4), lower);
  EXPECT_EQ(be32(root + 12 + 16 + 12), upper);
  EXPECT_EQ(be32(root + 12 + 16 + 8), n);  // last record of the tag
  EXPECT_EQ(u16(lower), 2);
  EXPECT_EQ(u16(upper), 2);
  EXPECT_EQ(u16(lower + 2) + u16(upper + 2), static_cast<int>(n));
  EXPECT_LE(std::abs(u16(lower + 2) - u16(upper + 2)), 1);  // split in half
}

TEST(CdxModel, MisuseIsRefused) {
  testing::TempDir dir;
  const fs::path file = dir.path() / "misuse.cdx";
  auto specs = Specs();
  {
    auto cdx = CdxFile::Create(file, specs);
    EXPECT_THROW(cdx->Insert(0, "short", 1), Error);
    EXPECT_THROW(cdx->Insert(99, "x", 1), Error);
    EXPECT_THROW(cdx->Insert(cdx->FindTag("VALOR"), EncodeDouble(1), 0), Error);
    const int code = cdx->FindTag("codigo");
    EXPECT_THROW(cdx->Build(code, {{EncodeInt32(1), 1}, {EncodeInt32(1), 2}}), Error);
  }
  EXPECT_THROW(CdxFile::Create(file, {{"BAD NAME", "x", "", ValueType::Character, 4}}), Error);
  EXPECT_THROW(CdxFile::Create(file, {{"ok", "x", "", ValueType::Character, 241}}), Error);
  EXPECT_THROW(CdxFile::Create(file, {specs[0], specs[0]}), Error);
  auto ro = CdxFile::Open(dir.path() / "misuse.cdx", false);
  EXPECT_THROW(ro->Insert(ro->FindTag("VALOR"), EncodeDouble(1), 1), Error);
}

TEST(CdxModel, NewBagHasTheHostLayout) {
  testing::TempDir dir;
  const fs::path file = dir.path() / "new.cdx";
  auto specs = Specs();
  specs[1].forExpr = "!DELETED()";
  CdxFile::Create(file, {specs[1], specs[0]})->Close();
  const std::string b = testing::ReadBytes(file);
  ASSERT_EQ(b.size(), 1024u + 512 + 2 * 1536);
  auto u16 = [&](std::size_t at) {
    return static_cast<unsigned char>(b[at]) | static_cast<unsigned char>(b[at + 1]) << 8;
  };
  EXPECT_EQ(u16(0), 0x400);                         // directory root
  EXPECT_EQ(b.substr(8, 4), std::string(4, '\0'));  // change counter of a new bag
  EXPECT_EQ(u16(12), 10);
  EXPECT_EQ(static_cast<unsigned char>(b[14]), 0xE0);
  EXPECT_EQ(u16(0x400), 3);  // directory: a root leaf
  // First tag header (VALOR, with FOR) at 0x600, its root right after it.
  EXPECT_EQ(u16(0x600), 0xA00);
  EXPECT_EQ(static_cast<unsigned char>(b[0x600 + 14]), 0x68);
  EXPECT_EQ(u16(0x600 + 504), 6);   // FOR after "valor\0"
  EXPECT_EQ(u16(0x600 + 506), 11);  // "!DELETED()\0"
  EXPECT_EQ(b.substr(0x800, 17), std::string("valor\0!DELETED()", 16) + '\0');
  EXPECT_EQ(u16(0xA00), 3);
  auto cdx = CdxFile::Open(file, false);
  ASSERT_EQ(cdx->tags().size(), 2u);
  EXPECT_EQ(cdx->tags()[0].name, "LONGKEY");  // directory order
  EXPECT_EQ(cdx->tags()[1].forExpr, "!DELETED()");
  EXPECT_EQ(cdx->tags()[1].fill, '\0');
}

}  // namespace
}  // namespace cau::xbase
