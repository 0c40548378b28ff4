// A sample host installation for the table-object tests: a temporary folder
// with "orgaos.xml" and "dados/", the host's four tables made with the
// engine's creation API, rows written straight through the engine, and the
// table check after the tests' writes.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "../xbase_table/TempDir.h"
#include "config/Cp1252.h"
#include "db/xbase/Check.h"
#include "db/xbase/Schema.h"
#include "db/xbase/Table.h"

namespace cau::db::testing {

namespace fs = std::filesystem;
using xbase::TableSchema;
using xbase::TagSchema;

// A host installation folder ending in "/".
class HostDir {
 public:
  HostDir() {
    fs::create_directories(dir_.path() / "dados");
    xbase::testing::WriteAll(dir_.path() / "orgaos.xml", "<orgaos/>");
  }
  std::string Folder() const { return dir_.path().string() + "/"; }
  fs::path Dados() const { return dir_.path() / "dados"; }
  fs::path Table(const std::string& file) const { return Dados() / file; }

 private:
  xbase::testing::TempDir dir_;
};

inline TagSchema Tag(std::string name, std::string key, std::string forExpr = "") {
  TagSchema t;
  t.name = std::move(name);
  t.keyExpr = std::move(key);
  t.forExpr = std::move(forExpr);
  return t;
}

inline TableSchema ProcessoSchema(bool withEstadoPush = true) {
  TableSchema s;
  s.fields = {{"CODPASTA", 'N', 4, 0},   {"CODTRIB", 'N', 4, 0},    {"CHAVEPROC", 'C', 100, 0},
              {"SUSPENSO", 'L', 1, 0},   {"TRAMITA", 'M', 4, 0},    {"OUTROS", 'M', 4, 0},
              {"ANOTACAO", 'M', 4, 0},   {"DTPROXAUD", 'D', 8, 0},  {"HRPROXAUD", 'C', 5, 0},
              {"TITPARTEA", 'C', 30, 0}, {"TITPARTEB", 'C', 30, 0}, {"TITPARTEC", 'C', 30, 0},
              {"PARTEA", 'C', 120, 0},   {"PARTEB", 'C', 120, 0},   {"PARTEC", 'C', 120, 0},
              {"VISTO", 'L', 1, 0},      {"INICIOCOB", 'D', 8, 0},  {"DTULTCONS", 'D', 8, 0},
              {"HRULTCONS", 'C', 8, 0},  {"DTULTTRAM", 'D', 8, 0},  {"DTDISTRIB", 'D', 8, 0},
              {"VALORCAUSA", 'N', 14, 2}};
  s.tags = {Tag("PRIMARYKEY", "STR(CODPASTA,4)+STR(CODTRIB,4)+UPPER(CHAVEPROC)"),
            Tag("PROXAUD", "DTOS(DTPROXAUD)+HRPROXAUD", "!EMPTY(DTPROXAUD)"),
            Tag("ULTTRAM", "DTOS(DTULTTRAM)+STR(CODPASTA,4)")};
  if (withEstadoPush) {
    s.fields.insert(s.fields.begin() + 3, {"ESTADOPUSH", 'C', 1, 0});
    s.tags.push_back(Tag("ESTADO", "ESTADOPUSH+STR(CODTRIB,4)"));
  }
  return s;
}

inline TableSchema PushAuxSchema(const std::string& forExpr = "") {
  TableSchema s;
  s.fields = {{"CODTRIB", 'N', 4, 0}, {"CHAVEPROC", 'C', 100, 0}};
  s.tags = {Tag("PRIMARYKEY", "STR(CODTRIB,4)+CHAVEPROC", forExpr)};
  return s;
}

inline TableSchema PastaSchema() {
  TableSchema s;
  s.fields = {{"CODPASTA", 'N', 4, 0}, {"NOME", 'C', 40, 0}, {"CRIACAO", 'D', 8, 0}};
  s.tags = {Tag("PRIMARYKEY", "CODPASTA"), Tag("NOME", "UPPER(NOME)")};
  return s;
}

inline TableSchema AgendaSchema() {
  TableSchema s;
  s.fields = {{"DATA", 'D', 8, 0},       {"HORA", 'C', 5, 0},        {"CODPASTA", 'N', 4, 0},
              {"CODTRIB", 'N', 4, 0},    {"CHAVEPROC", 'C', 100, 0}, {"AUTOMATICO", 'C', 1, 0},
              {"COMPROMISS", 'C', 80, 0}};
  s.tags = {Tag("PRIMARYKEY", "DTOS(DATA)+HORA"), Tag("PROCESSO", "STR(CODTRIB,4)+CHAVEPROC")};
  return s;
}

inline fs::path Create(const HostDir& host, const std::string& base, const TableSchema& schema) {
  return xbase::CreateTable(host.Dados(), base, schema);
}

// Field name -> UTF-8 text (numbers in decimal, dates "yyyymmdd", logicals "T"/"F").
using Row = std::vector<std::pair<std::string, std::string>>;

inline void AddRows(const fs::path& dbf, const std::vector<Row>& rows) {
  auto t = xbase::Table::Open(dbf);
  for (const Row& row : rows) {
    t->AppendStart();
    t->Blank();
    for (const auto& [name, value] : row) {
      int i = t->FieldIndex(name);
      ASSERT_GE(i, 0) << name;
      char type = t->fields()[std::size_t(i)].type;
      if (type == 'N') {
        xbase::Value v;
        v.type = xbase::ValueType::Numeric;
        v.number = std::stod(value);
        t->SetValue(i, v);
      } else if (type == 'M') {
        t->SetMemo(i, text::ToCp1252(value));
      } else {
        t->SetRaw(i, text::ToCp1252(value));
      }
    }
    t->Append();
  }
  t->Close();
}

// Every record in record order: field name -> UTF-8 text (fields trimmed on
// the right, numbers on both sides, memos whole), plus "*" -> "*" for a deleted record.
inline std::vector<std::map<std::string, std::string>> Records(const fs::path& dbf) {
  auto t = xbase::Table::Open(dbf, xbase::Table::Options{.readOnly = true});
  std::vector<std::map<std::string, std::string>> out;
  for (t->GoTop(); !t->Eof(); t->Skip(1)) {
    std::map<std::string, std::string> r;
    for (std::size_t i = 0; i < t->fields().size(); ++i) {
      const auto& f = t->fields()[i];
      std::string bytes = f.isMemo() ? t->MemoText(int(i)) : std::string(t->RawField(int(i)));
      if (!f.isMemo())
        bytes.erase(bytes.find_last_not_of(' ') + 1);
      if (f.type == 'N')
        bytes.erase(0, bytes.find_first_not_of(' '));
      r[f.name] = text::FromCp1252(bytes);
    }
    if (t->Deleted())
      r["*"] = "*";
    out.push_back(std::move(r));
  }
  return out;
}

inline std::string CheckProblems(const fs::path& dbf) {
  xbase::CheckReport report = xbase::CheckTable(dbf);
  std::string all;
  for (const std::string& p : report.problems)
    all += p + "\n";
  return all;
}

}  // namespace cau::db::testing
