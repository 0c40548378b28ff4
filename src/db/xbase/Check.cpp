#include "db/xbase/Check.h"

#include <algorithm>
#include <cstdio>
#include <map>

#include "config/Errors.h"
#include "db/xbase/CdxKey.h"
#include "db/xbase/Table.h"

namespace cau::xbase {

namespace {

using Entry = std::pair<std::string, uint32_t>;
constexpr std::size_t kMaxPerTag = 20;  // problems listed per tag before a summary

std::string ShowKey(std::string_view key) {
  bool printable = std::all_of(key.begin(), key.end(), [](char c) {
    auto u = static_cast<unsigned char>(c);
    return u >= 0x20 && u != 0x7F;
  });
  if (printable) {
    std::size_t end = key.find_last_not_of(' ');
    return "'" + std::string(key.substr(0, end == std::string_view::npos ? 0 : end + 1)) + "'";
  }
  std::string hex = "0x";
  char buf[4];
  for (char c : key) {
    std::snprintf(buf, sizeof buf, "%02x", static_cast<unsigned char>(c));
    hex += buf;
  }
  return hex;
}

bool Less(const Entry& a, const Entry& b) {
  int c = CompareKeys(a.first, b.first);
  return c != 0 ? c < 0 : a.second < b.second;
}

void CheckRecords(const Table& table, CheckReport& report) {
  const DbfFile& dbf = table.dbf();
  const FptFile* fpt = table.fpt();
  struct Span {
    uint32_t first, count, recno;
  };
  std::vector<Span> spans;
  std::string record;
  std::size_t listed = 0;
  auto problem = [&](std::string text) {
    if (++listed <= kMaxPerTag * 5)
      report.problems.push_back(dbf.path() + ": " + text);
  };
  for (uint32_t r = 1; r <= dbf.recordCount(); ++r) {
    dbf.ReadRecord(r, record);
    if (record[0] != ' ' && record[0] != '*') {
      char buf[8];
      std::snprintf(buf, sizeof buf, "0x%02X", static_cast<unsigned char>(record[0]));
      problem("registro " + std::to_string(r) + ": marca de exclusão inválida " + buf);
    }
    for (const DbfField& f : dbf.fields()) {
      if (!f.isMemo())
        continue;
      std::string_view bytes =
          std::string_view(record).substr(std::size_t(f.offset), std::size_t(f.length));
      uint32_t block = 0;
      try {
        block = DecodeMemoPointer(bytes);
      } catch (const Error&) {
        problem("registro " + std::to_string(r) + ", campo " + f.name +
                ": ponteiro de memo inválido");
        continue;
      }
      if (block == 0)
        continue;
      if (!fpt) {
        problem("registro " + std::to_string(r) + ": memo sem arquivo de memos");
        continue;
      }
      try {
        uint32_t length = fpt->LengthAt(block);
        uint32_t count = fpt->BlocksOf(length);
        if (block + count > fpt->nextFree()) {
          problem("registro " + std::to_string(r) + ", campo " + f.name + ": memo no bloco " +
                  std::to_string(block) + " além do próximo bloco livre " +
                  std::to_string(fpt->nextFree()));
        }
        spans.push_back({block, count, r});
      } catch (const Error& e) {
        problem("registro " + std::to_string(r) + ", campo " + f.name + ": " + e.what());
      }
    }
  }
  // Two memos sharing blocks: rewriting one in place would overwrite the other.
  std::sort(spans.begin(), spans.end(),
            [](const Span& a, const Span& b) { return a.first < b.first; });
  for (std::size_t i = 1; i < spans.size(); ++i) {
    if (spans[i].first < spans[i - 1].first + spans[i - 1].count) {
      problem("os memos dos registros " + std::to_string(spans[i - 1].recno) + " e " +
              std::to_string(spans[i].recno) + " ocupam os mesmos blocos");
    }
  }
}

void CheckTag(const Table& table, int index, CheckReport& report) {
  const DbfFile& dbf = table.dbf();
  const TagInfo& info = table.cdx()->tags()[std::size_t(index)];
  const TableTag& tag = table.tags()[std::size_t(index)];
  std::string where = table.cdx()->path().string() + ": tag " + info.name + ": ";
  std::vector<Entry> actual;
  try {
    actual = table.cdx()->Entries(index);
  } catch (const std::exception& e) {
    report.problems.push_back(where + e.what());
    return;
  }
  std::size_t listed = 0;
  auto problem = [&](const std::string& text) {
    if (++listed <= kMaxPerTag)
      report.problems.push_back(where + text);
  };
  for (std::size_t i = 1; i < actual.size(); ++i) {
    bool inOrder =
        info.descending ? Less(actual[i], actual[i - 1]) : Less(actual[i - 1], actual[i]);
    if (!inOrder) {
      problem("fora de ordem na posição " + std::to_string(i + 1) + " (registro " +
              std::to_string(actual[i].second) + ")");
    }
  }
  if (!tag.key) {
    report.notes.push_back(where + "chaves não comparadas com a tabela: " + tag.problem);
    return;
  }
  std::vector<Entry> expected;
  std::map<std::string, uint32_t> firstOfKey;
  std::string record;
  for (uint32_t r = 1; r <= dbf.recordCount(); ++r) {
    dbf.ReadRecord(r, record);
    std::optional<std::string> key;
    try {
      key = TagKey(dbf, tag, RecordImage(dbf, record, r));
    } catch (const std::exception& e) {
      problem("registro " + std::to_string(r) + ": " + e.what());
      continue;
    }
    if (!key)
      continue;
    auto [it, fresh] = firstOfKey.emplace(*key, r);
    if (!fresh && info.candidate) {
      problem("chave " + ShowKey(*key) + " repetida nos registros " + std::to_string(it->second) +
              " e " + std::to_string(r) + " de uma tag candidata");
    }
    if (!fresh && info.unique)
      continue;
    expected.emplace_back(std::move(*key), r);
  }
  std::sort(expected.begin(), expected.end(), Less);
  std::sort(actual.begin(), actual.end(), Less);
  std::vector<Entry> missing, extra;
  std::set_difference(expected.begin(), expected.end(), actual.begin(), actual.end(),
                      std::back_inserter(missing), Less);
  std::set_difference(actual.begin(), actual.end(), expected.begin(), expected.end(),
                      std::back_inserter(extra), Less);
  for (const Entry& e : missing) {
    problem("falta a chave " + ShowKey(e.first) + " do registro " + std::to_string(e.second));
  }
  for (const Entry& e : extra) {
    problem("a chave " + ShowKey(e.first) + " do registro " + std::to_string(e.second) +
            " não corresponde à tabela");
  }
  if (listed > kMaxPerTag) {
    report.problems.push_back(where + std::to_string(listed - kMaxPerTag) + " problemas a mais");
  }
}

}  // namespace

CheckReport CheckTable(const std::filesystem::path& dbfPath) {
  CheckReport report;
  std::unique_ptr<Table> table;
  try {
    table = Table::Open(dbfPath, Table::Options{.readOnly = true});
  } catch (const std::exception& e) {
    report.problems.push_back(e.what());
    return report;
  }
  try {
    CheckRecords(*table, report);
    if (table->cdx()) {
      for (const std::string& p : table->cdx()->CheckStructure()) {
        report.problems.push_back(table->cdx()->path().string() + ": " + p);
      }
      for (std::size_t i = 0; i < table->tags().size(); ++i)
        CheckTag(*table, int(i), report);
    }
  } catch (const std::exception& e) {
    report.problems.push_back(e.what());
  }
  return report;
}

}  // namespace cau::xbase
