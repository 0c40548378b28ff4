// The table on real files: tag maintenance on append and on key, FOR and
// deletion changes, memo growth, the duplicate rules, moves, and refusal of
// damaged or unevaluable files without writing a byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "TempDir.h"
#include "config/Errors.h"
#include "db/xbase/Check.h"
#include "db/xbase/Schema.h"
#include "db/xbase/Table.h"

namespace cau::xbase {
namespace {

namespace fs = std::filesystem;
using testing::ReadAll;
using testing::TempDir;
using testing::WriteAll;

enum { kPasta, kTrib, kChave, kNome, kValor, kData, kAtivo, kObs };

TableSchema Processo(uint8_t version = kVfp) {
  TableSchema s;
  s.version = version;
  s.fields = {{"CODPASTA", 'N', 4, 0}, {"CODTRIB", 'N', 4, 0}, {"CHAVEPROC", 'C', 100, 0},
              {"NOME", 'C', 30, 0},    {"VALOR", 'N', 12, 2},  {"DATA", 'D', 8, 0},
              {"ATIVO", 'L', 1, 0},    {"OBS", 'M', 4, 0}};
  s.tags = {
      {"PRIMARYKEY", "STR(CODPASTA,4)+STR(CODTRIB,4)+UPPER(CHAVEPROC)", "", false, true, false},
      {"NOME", "UPPER(NOME)", "!DELETED()", false, false, false},
      {"VALOR", "VALOR", "", false, false, true},
      {"DATA", "DATA", "", false, false, false},
      {"UNOME", "NOME", "", true, false, false},
  };
  return s;
}

void Add(Table& t, int pasta, int trib, const std::string& chave, const std::string& nome,
         double valor) {
  t.AppendStart();
  t.Blank();
  t.SetValue(kPasta, NumericValue(pasta));
  t.SetValue(kTrib, NumericValue(trib));
  t.SetRaw(kChave, chave);
  t.SetRaw(kNome, nome);
  t.SetValue(kValor, NumericValue(valor));
  t.Append();
}

std::vector<uint32_t> Walk(Table& t, const char* tag) {
  t.SelectTag(t.FindTag(tag));
  std::vector<uint32_t> out;
  for (t.GoTop(); !t.Eof(); t.Skip(1))
    out.push_back(t.RecNo());
  return out;
}

std::string Problems(const fs::path& p) {
  CheckReport r = CheckTable(p);
  std::string all;
  for (auto& s : r.problems)
    all += s + "\n";
  return all;
}

class TableTest : public ::testing::Test {
 protected:
  void SetUp() override { path = CreateTable(dir.path(), "PROCESSO", Processo()); }
  TempDir dir;
  fs::path path;
};

TEST_F(TableTest, AppendsKeepEveryTagExactAndTheHeaderCounted) {
  {
    auto t = Table::Open(path);
    EXPECT_FALSE(t->readOnly()) << t->readOnlyReason();
    Add(*t, 2, 1, "b", "Maria", 10);
    Add(*t, 1, 1, "z", "jose", 30);
    Add(*t, 1, 1, "A", "Ana", 20);
    EXPECT_EQ(t->RecordCount(), 3u);
    EXPECT_EQ(t->RecNo(), 3u);  // the new record is current
    EXPECT_EQ(Walk(*t, "PRIMARYKEY"), (std::vector<uint32_t>{3, 2, 1}));
    EXPECT_EQ(Walk(*t, "NOME"), (std::vector<uint32_t>{3, 2, 1}));
    EXPECT_EQ(Walk(*t, "VALOR"), (std::vector<uint32_t>{2, 3, 1}));  // descending
    t->Close();
  }
  EXPECT_EQ(GetLe32(ReadAll(path).data() + 4), 3u);
  EXPECT_EQ(Problems(path), "");
}

TEST_F(TableTest, KeyForAndDeletionChangesMoveTheEntries) {
  auto t = Table::Open(path);
  for (int i = 0; i < 5; ++i)
    Add(*t, i, 0, "k", "n" + std::to_string(i), i);
  t->Go(2);
  t->SetRaw(kNome, "zz");  // moves to the end of NOME
  t->Go(4);
  t->SetDeleted(true);  // leaves the FOR !DELETED() tag
  t->Go(5);
  t->SetValue(kPasta, NumericValue(0));  // ahead in PRIMARYKEY, right after record 1
  t->SetValue(kTrib, NumericValue(9));
  t->Flush();
  EXPECT_EQ(Walk(*t, "NOME"), (std::vector<uint32_t>{1, 3, 5, 2}));
  EXPECT_EQ(Walk(*t, "PRIMARYKEY"), (std::vector<uint32_t>{1, 5, 2, 3, 4}));
  t->Go(4);
  t->SetDeleted(false);
  t->Close();
  EXPECT_EQ(Problems(path), "");
}

TEST_F(TableTest, StaleEntryOfAChangedRecordIsRemovedByItsRecordNumber) {
  {
    auto t = Table::Open(path);
    Add(*t, 1, 1, "a", "Ana", 1);
    Add(*t, 1, 2, "b", "Bia", 2);
    t->Close();
  }
  // Another program rewrites record 2's name without touching the index.
  std::string bytes = ReadAll(path);
  const std::size_t header = std::uint8_t(bytes[8]) | std::uint8_t(bytes[9]) << 8;
  const std::size_t length = std::uint8_t(bytes[10]) | std::uint8_t(bytes[11]) << 8;
  bytes.replace(header + length + 1 + 4 + 4 + 100, 3, "Cid");
  WriteAll(path, bytes);
  ASSERT_NE(Problems(path), "");

  auto t = Table::Open(path);
  t->Go(2);
  t->SetRaw(kNome, "Duda");
  t->Close();
  EXPECT_EQ(Problems(path), "");  // no entry of the old name is left behind
}

TEST_F(TableTest, ChangedRecordIsWrittenByTheNextMove) {
  auto t = Table::Open(path);
  Add(*t, 1, 1, "a", "A", 1);
  Add(*t, 2, 2, "b", "B", 2);
  t->SelectTag(t->FindTag("NOME"));
  t->GoTop();
  t->SetRaw(kNome, "C");
  t->Skip(1);  // writes record 1 (now after B) and moves on from its new place
  EXPECT_TRUE(t->Eof());
  auto other = Table::Open(path, Table::Options{.readOnly = true});
  other->Go(1);
  EXPECT_EQ(other->RawField(kNome).substr(0, 2), "C ");
  EXPECT_EQ(Walk(*other, "NOME"), (std::vector<uint32_t>{2, 1}));
}

// Appends in a row write their index pages once, at the next move or Flush;
// until then the index on disk is the previous sound one, only short of the
// new records (what a crash would leave: stale, repairable, never garbage).
TEST_F(TableTest, IndexPagesOfAppendsInARowGoAtTheNextMoveOrFlush) {
  auto t = Table::Open(path);
  Add(*t, 1, 1, "a", "A", 1);
  t->Flush();
  const std::string flushed = ReadAll(dir.path() / "PROCESSO.CDX");
  for (int i = 2; i <= 300; ++i)  // enough for the trees to split
    Add(*t, i, 1, "k" + std::to_string(i), "N" + std::to_string(i % 7), i);
  EXPECT_EQ(ReadAll(dir.path() / "PROCESSO.CDX"), flushed);
  {
    auto other = CdxFile::Open(dir.path() / "PROCESSO.CDX", true);  // a sound tree
    EXPECT_EQ(other->Entries(other->FindTag("PRIMARYKEY")).size(), 1u);
  }
  EXPECT_NE(Problems(path), "");  // records the index does not hold yet

  t->GoTop();  // a move writes them
  EXPECT_EQ(Problems(path), "");
  Add(*t, 301, 1, "k301", "N", 301);
  t->Flush();
  EXPECT_EQ(Problems(path), "");
  auto other = Table::Open(path, Table::Options{.readOnly = true});
  EXPECT_EQ(Walk(*other, "PRIMARYKEY").size(), 301u);
}

// A reader holding the last records in its cache sees what another program
// appended after them, byte for byte.
TEST_F(TableTest, ReaderSeesRecordsAppendedByAnotherProgram) {
  auto writer = Table::Open(path);
  for (int i = 1; i <= 10; ++i)
    Add(*writer, i, 1, "k" + std::to_string(i), "N" + std::to_string(i), i);
  writer->Flush();
  auto reader = Table::Open(path, Table::Options{.readOnly = true});
  reader->GoBottom();
  ASSERT_EQ(reader->RecNo(), 10u);
  for (int i = 11; i <= 1000; ++i)  // past the records the reader holds, several times over
    Add(*writer, i, 1, "k" + std::to_string(i), "N" + std::to_string(i), i);
  writer->Flush();

  reader->GoBottom();
  EXPECT_EQ(reader->RecNo(), 1000u);
  for (uint32_t r = 1; r <= 1000; ++r) {
    reader->Go(r);
    ASSERT_EQ(reader->RawField(kChave).substr(0, 6),
              ("k" + std::to_string(r) + "     ").substr(0, 6))
        << r;
  }
}

// The host may cut the file short while we read it: records we no longer
// find give an error naming the file; those already read stay readable.
TEST_F(TableTest, FileCutShortUnderAReaderGivesAnError) {
  {
    auto writer = Table::Open(path);
    for (int i = 1; i <= 1000; ++i)
      Add(*writer, i, 1, "k" + std::to_string(i), "N", i);
    writer->Close();
  }
  auto reader = Table::Open(path, Table::Options{.readOnly = true});
  reader->Go(5);
  const auto size = fs::file_size(path);
  fs::resize_file(path, size - 900 * std::size_t(reader->dbf().recordLength()));
  EXPECT_THROW(reader->Go(950), FileError);
  reader->Go(6);  // held since the first read
  EXPECT_EQ(reader->RawField(kChave).substr(0, 3), "k6 ");
  EXPECT_THROW(reader->GoTop(), FileError);  // the header now counts more than the file holds
}

TEST_F(TableTest, EmptyTableIsEofWithABlankRecord) {
  auto t = Table::Open(path);
  t->SelectTag(t->FindTag("PRIMARYKEY"));
  t->GoTop();
  EXPECT_TRUE(t->Eof());
  EXPECT_EQ(t->RawField(kNome), std::string(30, ' '));
  EXPECT_EQ(t->FieldValue(kValor).number, 0);
  EXPECT_EQ(t->MemoText(kObs), "");
  EXPECT_THROW(t->SetRaw(kNome, "x"), Error);  // no current record
  t->Skip(1);
  EXPECT_TRUE(t->Eof());
}

TEST_F(TableTest, MemosGrowShrinkAndSurviveReopen) {
  std::vector<std::string> texts = {
      "", "x", std::string(56, 'a'), std::string(57, 'b'), std::string(5000, 'c'), "short again",
      ""};
  {
    auto t = Table::Open(path);
    Add(*t, 1, 1, "a", "A", 1);
    Add(*t, 2, 2, "b", "B", 2);
    for (const std::string& text : texts) {
      t->Go(1);
      t->SetMemo(kObs, text);
      t->Go(2);
      t->SetMemo(kObs, "other " + text);
      t->Go(1);
      EXPECT_EQ(t->MemoText(kObs), text);
      t->Go(2);
      EXPECT_EQ(t->MemoText(kObs), "other " + text);
    }
    t->Close();
  }
  auto t = Table::Open(path);
  t->Go(1);
  EXPECT_EQ(t->MemoText(kObs), "");
  t->Go(2);
  EXPECT_EQ(t->MemoText(kObs), "other ");
  EXPECT_EQ(Problems(path), "");
}

// A rewrite never touches the blocks the record on disk points at: a crash
// before the record is written leaves it with its old text whole. Setting
// the same text again writes no block at all.
TEST_F(TableTest, MemoRewriteLeavesTheOldBlocksWhole) {
  auto t = Table::Open(path);
  Add(*t, 1, 1, "a", "A", 1);
  t->Go(1);
  t->SetMemo(kObs, std::string(100, 'o'));
  t->Flush();
  const std::string before = ReadAll(dir / "PROCESSO.FPT");
  const uint32_t oldBlock = DecodeMemoPointer(t->RawField(kObs));
  t->SetMemo(kObs, std::string(90, 'n'));  // would fit the old blocks
  t->Flush();
  const std::string after = ReadAll(dir / "PROCESSO.FPT");
  const uint32_t newBlock = DecodeMemoPointer(t->RawField(kObs));
  EXPECT_GT(newBlock, oldBlock);
  ASSERT_GT(after.size(), before.size());
  EXPECT_EQ(after.compare(512, before.size() - 512, before, 512), 0);  // every old block as it was
  t->SetMemo(kObs, std::string(90, 'n'));
  t->Flush();
  EXPECT_EQ(ReadAll(dir / "PROCESSO.FPT"), after);
  EXPECT_EQ(DecodeMemoPointer(t->RawField(kObs)), newBlock);
  t->Close();
  EXPECT_EQ(Problems(path), "");
}

// A kill can cut a record rewrite where it crosses a 4 KiB boundary of the
// file. For records whose memo pointer straddles one, every rewrite must
// leave a pointer that, cut there, still names the old memo or the new one
// (the new memo's block is chosen so), never a block in between.
TEST(TableCut, AMemoPointerAcrossAPageBoundarySurvivesACutRewrite) {
  for (uint8_t version : {kVfp, kFoxPro2}) {
    SCOPED_TRACE(version == kVfp ? "binary pointers" : "text pointers");
    TempDir dir;
    TableSchema s;
    s.version = version;
    s.fields = {{"NAME", 'C', 2, 0}, {"OBS", 'M', version == kVfp ? 4 : 10, 0}};
    const fs::path path = CreateTable(dir.path(), "T", s);
    auto t = Table::Open(path);
    const DbfField& obs = t->fields()[1];
    // The first records whose pointer straddles a boundary, one per cut position.
    std::map<uint64_t, uint32_t> straddling;  // bytes before the boundary -> record
    for (uint32_t r = 1; r < 20000 && straddling.size() < 3; ++r) {
      const uint64_t at = uint64_t(t->dbf().headerLength()) +
                          uint64_t(r - 1) * uint64_t(t->dbf().recordLength()) +
                          uint64_t(obs.offset);
      const uint64_t below = kUncutBlock - at % kUncutBlock;
      if (below < uint64_t(obs.length))
        straddling.emplace(below, r);
    }
    ASSERT_FALSE(straddling.empty());
    const uint32_t last =
        std::max_element(straddling.begin(), straddling.end(), [](auto& a, auto& b) {
          return a.second < b.second;
        })->second;
    for (uint32_t r = 0; r < last; ++r)
      t->AppendBlank();
    t->Go(1);
    t->SetMemo(1, std::string(30000, 'b'));  // the memo file now runs past block 256
    for (const auto& [below, r] : straddling) {
      for (std::size_t size : {10u, 700u, 90u, 5000u}) {
        t->Go(r);
        const std::string old(t->RawField(1));
        t->SetMemo(1, std::string(size, char('a' + size % 26)));
        t->Flush();
        const std::string now(t->RawField(1));
        const std::string cut = now.substr(0, below) + old.substr(below);
        EXPECT_TRUE(cut == old || cut == now) << "record " << r << ", cut after " << below
                                              << " bytes: '" << old << "' -> '" << now << "'";
      }
    }
    t->Close();
    EXPECT_EQ(Problems(path), "");
  }
}

TEST_F(TableTest, CandidateDuplicatesAreRefusedBeforeAnyByteIsWritten) {
  auto t = Table::Open(path);
  Add(*t, 1, 1, "a", "A", 1);
  Add(*t, 1, 2, "a", "B", 1);
  t->Flush();
  std::string dbf = ReadAll(path), cdx = ReadAll(dir / "PROCESSO.CDX");
  std::string fpt = ReadAll(dir / "PROCESSO.FPT");
  t->AppendStart();
  t->SetValue(kPasta, NumericValue(1));
  t->SetValue(kTrib, NumericValue(1));
  t->SetRaw(kChave, "A");  // UPPER makes it the key of record 1
  t->SetMemo(kObs, "never written");
  EXPECT_THROW(t->Append(), DuplicateKey);
  t->Go(2);  // the failed append is dropped
  t->SetValue(kTrib, NumericValue(1));
  EXPECT_THROW(t->Flush(), DuplicateKey);
  EXPECT_EQ(ReadAll(path), dbf);
  EXPECT_EQ(ReadAll(dir / "PROCESSO.CDX"), cdx);
  EXPECT_EQ(ReadAll(dir / "PROCESSO.FPT"), fpt);
  t->SetValue(kTrib, NumericValue(3));
  t->Close();
  EXPECT_EQ(Problems(path), "");
}

TEST_F(TableTest, UniqueTagKeepsTheFirstRecordOrRefusesWhenAsked) {
  {
    auto t = Table::Open(path);
    Add(*t, 1, 1, "a", "Same", 1);
    Add(*t, 2, 1, "b", "Same", 2);
    EXPECT_EQ(Walk(*t, "UNOME"), (std::vector<uint32_t>{1}));
    t->Close();
  }
  EXPECT_EQ(Problems(path), "");
  auto t = Table::Open(path, Table::Options{.rejectUniqueDuplicates = true});
  EXPECT_THROW(Add(*t, 3, 1, "c", "Same", 3), DuplicateKey);
  EXPECT_EQ(t->RecordCount(), 2u);
}

TEST_F(TableTest, SeekFindsByKeyPrefix) {
  auto t = Table::Open(path);
  Add(*t, 1, 1, "a", "Carlos", 1);
  Add(*t, 2, 1, "b", "Beatriz", 2);
  Add(*t, 3, 1, "c", "Bruno", 3);
  t->SelectTag(t->FindTag("NOME"));
  EXPECT_EQ(t->Seek(CharacterValue("BR")), Table::SeekResult::Found);
  EXPECT_EQ(t->RecNo(), 3u);
  EXPECT_EQ(t->Seek(CharacterValue("BZ")), Table::SeekResult::After);
  EXPECT_EQ(t->RecNo(), 1u);
  EXPECT_EQ(t->Seek(CharacterValue("Z")), Table::SeekResult::Eof);
  t->SelectTag(t->FindTag("VALOR"));
  EXPECT_EQ(t->Seek(NumericValue(2)), Table::SeekResult::Found);
  EXPECT_EQ(t->RecNo(), 2u);
}

TEST(TableFiles, FoundWithoutRegardToCase) {
  TempDir dir;
  CreateTable(dir.path(), "PROCESSO", Processo(kFoxPro2));
  fs::rename(dir / "PROCESSO.FPT", dir / "processo.fpt");
  fs::rename(dir / "PROCESSO.CDX", dir / "Processo.CDX");
  auto t = Table::Open(dir / "processo.dbf");
  EXPECT_EQ(t->path(), dir / "PROCESSO.DBF");
  ASSERT_NE(t->cdx(), nullptr);
  EXPECT_EQ(t->tags().size(), 5u);
  Add(*t, 1, 1, "a", "A", 1);
  t->SetMemo(kObs, "memo");
  t->Close();
  std::string rec = ReadAll(dir / "PROCESSO.DBF");
  // FoxPro 2.x keeps memo pointers as 10 ASCII digits.
  EXPECT_NE(rec.find("         8"), std::string::npos);
  EXPECT_EQ(Problems(dir / "PROCESSO.DBF"), "");
  EXPECT_THROW(Table::Open(dir / "nothere.dbf"), FileError);
}

// Damaged files: each refused with its reason, none of them changed.
TEST(TableFiles, DamagedFilesGiveClearErrorsAndStayUnchanged) {
  TempDir dir;
  fs::path path = CreateTable(dir.path(), "T", Processo());
  {
    auto t = Table::Open(path);
    for (int i = 0; i < 300; ++i)
      Add(*t, i, i, "chave " + std::to_string(i), "nome", i);
    t->Go(1);
    t->SetMemo(kObs, "memo");
    t->Close();
  }
  const std::string dbf = ReadAll(path), cdx = ReadAll(dir / "T.CDX"), fpt = ReadAll(dir / "T.FPT");
  auto restore = [&] {
    WriteAll(path, dbf);
    WriteAll(dir / "T.CDX", cdx);
    WriteAll(dir / "T.FPT", fpt);
  };
  auto unchanged = [&](const std::string& d, const std::string& c, const std::string& f) {
    EXPECT_EQ(ReadAll(path), d);
    EXPECT_EQ(ReadAll(dir / "T.CDX"), c);
    EXPECT_EQ(ReadAll(dir / "T.FPT"), f);
  };

  {  // truncated table
    SCOPED_TRACE("truncated");
    std::string d = dbf.substr(0, dbf.size() - 500);
    WriteAll(path, d);
    EXPECT_THROW(Table::Open(path), FileError);
    unchanged(d, cdx, fpt);
    restore();
  }
  {  // memo pointer past the memo file
    SCOPED_TRACE("memo pointer");
    std::string d = dbf;
    auto t0 = Table::Open(path, Table::Options{.readOnly = true});
    const DbfField& obs = t0->fields()[kObs];
    PutLe32(d.data() + t0->dbf().headerLength() + obs.offset, 9999);
    t0.reset();
    WriteAll(path, d);
    auto t = Table::Open(path);
    t->Go(1);
    try {
      t->MemoText(kObs);
      ADD_FAILURE();
    } catch (const FileError& e) {
      EXPECT_NE(std::string(e.what()).find("fora do arquivo de memos"), std::string::npos);
    }
    EXPECT_NE(Problems(path).find("9999"), std::string::npos);
    t->Close();
    unchanged(d, cdx, fpt);
    restore();
  }
  {  // unknown key expression: readable, not writable
    SCOPED_TRACE("expression");
    std::string c = cdx;
    std::size_t at = c.find("UPPER(NOME)");
    ASSERT_NE(at, std::string::npos);
    c.replace(at, 5, "XUPPR");
    WriteAll(dir / "T.CDX", c);
    auto t = Table::Open(path);
    EXPECT_TRUE(t->readOnly());
    EXPECT_NE(t->readOnlyReason().find("NOME"), std::string::npos);
    EXPECT_NE(t->readOnlyReason().find("XUPPR(NOME)"), std::string::npos) << t->readOnlyReason();
    t->GoTop();
    EXPECT_THROW(t->SetRaw(kNome, "x"), Error);
    EXPECT_THROW(t->AppendStart(), Error);
    t->Close();
    unchanged(dbf, c, fpt);
    restore();
  }
  {  // index page loop: a branch entry that leads back to its own page
    SCOPED_TRACE("page loop");
    auto t0 = Table::Open(path, Table::Options{.readOnly = true});
    uint32_t root = t0->cdx()->tags()[0].rootPage;
    int keyLength = t0->cdx()->tags()[0].keyLength;
    t0.reset();
    std::string c = cdx;
    ASSERT_EQ(GetLe16(c.data() + root) & 2, 0) << "root is not a branch";
    // First branch entry: key, record (4, BE), child (4, BE).
    PutBe32(c.data() + root + 12 + keyLength + 4, root);
    WriteAll(dir / "T.CDX", c);
    EXPECT_THROW(Table::Open(path), FileError);
    EXPECT_NE(Problems(path), "");
    unchanged(dbf, c, fpt);
    restore();
  }
  {  // bad header
    SCOPED_TRACE("header");
    std::string d = dbf;
    d[0] = '\x04';
    WriteAll(path, d);
    EXPECT_THROW(Table::Open(path), FileError);
    unchanged(d, cdx, fpt);
    restore();
  }
  EXPECT_EQ(Problems(path), "");
}

}  // namespace
}  // namespace cau::xbase
