// Thousands of random appends, key changes, memo rewrites and deletion marks
// on a table with several tags; after every batch the tag walks equal a plain
// in-memory model, the check passes, and a reopened table gives the same.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>

#include "TempDir.h"
#include "db/xbase/CdxKey.h"
#include "db/xbase/Check.h"
#include "db/xbase/Schema.h"
#include "db/xbase/Table.h"

namespace cau::xbase {
namespace {

enum { kPasta, kTrib, kChave, kNome, kValor, kData, kObs };

struct Rec {
  int pasta = 0, trib = 0;
  std::string chave, nome;
  double valor = 0;
  int32_t julian = 0;
  bool deleted = false;
  std::string memo;
};

std::string Pad(std::string s, std::size_t n) {
  s.resize(n, ' ');
  return s;
}

std::string Upper(std::string s) {
  for (auto& c : s)
    c = char(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

std::string Str4(int v) {
  char b[16];
  std::snprintf(b, sizeof b, "%4d", v);
  return b;
}

using Entry = std::pair<std::string, uint32_t>;

std::vector<uint32_t> Ordered(std::vector<Entry> e, bool descending) {
  std::sort(e.begin(), e.end(), [](const Entry& a, const Entry& b) {
    int c = CompareKeys(a.first, b.first);
    return c != 0 ? c < 0 : a.second < b.second;
  });
  if (descending)
    std::reverse(e.begin(), e.end());
  std::vector<uint32_t> out;
  for (auto& x : e)
    out.push_back(x.second);
  return out;
}

// The order each tag must have, from the model alone.
std::vector<uint32_t> Expected(const std::vector<Rec>& m, const std::string& tag) {
  std::vector<Entry> e;
  for (uint32_t i = 0; i < m.size(); ++i) {
    const Rec& r = m[i];
    if (tag == "PROC")
      e.emplace_back(Str4(r.pasta) + Str4(r.trib) + Upper(Pad(r.chave, 100)), i + 1);
    if (tag == "VALOR")
      e.emplace_back(EncodeDouble(r.valor), i + 1);
    if (tag == "DATA")
      e.emplace_back(EncodeDouble(r.julian), i + 1);
    if (tag == "NOME" && !r.deleted)
      e.emplace_back(Upper(Pad(r.nome, 30)), i + 1);
  }
  return Ordered(std::move(e), tag == "VALOR");
}

std::vector<uint32_t> Walk(Table& t, const std::string& tag) {
  t.SelectTag(t.FindTag(tag));
  std::vector<uint32_t> out;
  for (t.GoTop(); !t.Eof(); t.Skip(1))
    out.push_back(t.RecNo());
  return out;
}

class Model {
 public:
  explicit Model(uint32_t seed) : rng_(seed) {}

  Rec Random() {
    Rec r;
    r.pasta = Int(0, 30);
    r.trib = Int(0, 9);
    static const char* stems[] = {"proc", "PROC", "Apelacao", "agravo", "x"};
    r.chave = std::string(stems[Int(0, 4)]) + " " + std::to_string(Int(0, 400)) +
              std::string(std::size_t(Int(0, 60)), char('a' + Int(0, 25)));
    r.nome = "nome " + std::to_string(Int(0, 300));
    r.valor = Int(-5000, 5000) / 4.0;
    r.julian = Int(0, 5) == 0 ? 0 : 2451545 + Int(0, 3000);
    r.memo = RandomMemo();
    return r;
  }

  // Sizes around the 64-byte block boundaries, and some large ones.
  std::string RandomMemo() {
    static const int sizes[] = {0, 1, 55, 56, 57, 119, 120, 121, 183, 184, 500, 1000, 3000, 9000};
    int n = sizes[Int(0, 13)] + Int(0, 2);
    return std::string(std::size_t(n), char('A' + Int(0, 25)));
  }

  int Int(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }

 private:
  std::mt19937 rng_;
};

void Write(Table& t, const Rec& r) {
  t.SetValue(kPasta, NumericValue(r.pasta));
  t.SetValue(kTrib, NumericValue(r.trib));
  t.SetRaw(kChave, r.chave);
  t.SetRaw(kNome, r.nome);
  t.SetValue(kValor, NumericValue(r.valor));
  t.SetValue(kData, DateValue(r.julian));
  t.SetMemo(kObs, r.memo);
}

void Compare(Table& t, const std::vector<Rec>& m, const char* when) {
  SCOPED_TRACE(when);
  ASSERT_EQ(t.RecordCount(), m.size());
  for (const char* tag : {"PROC", "VALOR", "DATA", "NOME"}) {
    ASSERT_EQ(Walk(t, tag), Expected(m, tag)) << "tag " << tag;
  }
  t.SelectTag(-1);
  for (uint32_t i = 0; i < m.size(); ++i) {
    t.Go(i + 1);
    ASSERT_EQ(t.MemoText(kObs), m[i].memo) << "record " << i + 1;
    ASSERT_EQ(t.Deleted(), m[i].deleted) << "record " << i + 1;
    ASSERT_EQ(t.RawField(kChave), Pad(m[i].chave, 100)) << "record " << i + 1;
  }
}

TEST(Model, RandomOperationsKeepEveryTagEqualToTheModel) {
  testing::TempDir dir;
  TableSchema s;
  s.fields = {{"CODPASTA", 'N', 4, 0}, {"CODTRIB", 'N', 4, 0}, {"CHAVEPROC", 'C', 100, 0},
              {"NOME", 'C', 30, 0},    {"VALOR", 'N', 12, 2},  {"DATA", 'D', 8, 0},
              {"OBS", 'M', 4, 0}};
  s.tags = {{"PROC", "STR(CODPASTA,4)+STR(CODTRIB,4)+UPPER(CHAVEPROC)", "", false, false, false},
            {"VALOR", "VALOR", "", false, false, true},
            {"DATA", "DATA", "", false, false, false},
            {"NOME", "UPPER(NOME)", "!DELETED()", false, false, false}};
  auto path = CreateTable(dir.path(), "MODELO", s);

  Model gen(20240607);
  std::vector<Rec> model;
  auto t = Table::Open(path);
  const int kBatches = 12, kPerBatch = 300;
  for (int batch = 0; batch < kBatches; ++batch) {
    for (int op = 0; op < kPerBatch; ++op) {
      int kind = model.empty() ? 0 : gen.Int(0, 99);
      if (kind < 40) {
        Rec r = gen.Random();
        t->AppendStart();
        t->Blank();
        Write(*t, r);
        t->Append();
        model.push_back(r);
        continue;
      }
      uint32_t recno = uint32_t(gen.Int(1, int(model.size())));
      Rec& r = model[recno - 1];
      // Reach the record in tag order sometimes, so cursors see the changes.
      if (gen.Int(0, 3) == 0) {
        t->SelectTag(t->FindTag("PROC"));
      } else {
        t->SelectTag(-1);
      }
      t->Go(recno);
      if (kind < 70) {
        Rec n = gen.Random();
        switch (gen.Int(0, 3)) {
          case 0:
            r.pasta = n.pasta, r.trib = n.trib, r.chave = n.chave;
            break;
          case 1:
            r.valor = n.valor;
            break;
          case 2:
            r.julian = n.julian;
            break;
          default:
            r.nome = n.nome;
        }
        Write(*t, r);
      } else if (kind < 85) {
        r.memo = gen.RandomMemo();
        t->SetMemo(kObs, r.memo);
      } else {
        r.deleted = !r.deleted;
        t->SetDeleted(r.deleted);
      }
      if (gen.Int(0, 1))
        t->Skip(1);  // the move writes the change
    }
    t->Flush();
    Compare(*t, model, "same session");
    t->Close();
    CheckReport report = CheckTable(path);
    std::string problems;
    for (auto& p : report.problems)
      problems += p + "\n";
    ASSERT_TRUE(report.ok()) << "batch " << batch << "\n" << problems;
    t = Table::Open(path);
    Compare(*t, model, "reopened");
  }
  // Deep enough that branch pages split: the 108-byte tag has three levels or more
  // (its root's first child is a branch too).
  const TagInfo& proc = t->cdx()->tags()[std::size_t(t->FindTag("PROC"))];
  std::string bytes = testing::ReadAll(t->cdx()->path());
  uint32_t root = proc.rootPage;
  ASSERT_EQ(GetLe16(bytes.data() + root) & 2, 0);
  uint32_t child = GetBe32(bytes.data() + root + 12 + proc.keyLength + 4);
  EXPECT_EQ(GetLe16(bytes.data() + child) & 2, 0);
  EXPECT_GE(model.size(), 1200u);
}

}  // namespace
}  // namespace cau::xbase
