// xbase: look into, check, repair and create the host's tables.
//
//   xbase info FILE
//   xbase dump FILE [--tag NAME]
//   xbase check DIR|FILE
//   xbase reindex FILE
//   xbase create SCHEMA.json DIR
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "config/Cp1252.h"
#include "config/Errors.h"
#include "db/xbase/Check.h"
#include "db/xbase/Schema.h"
#include "db/xbase/Table.h"

namespace fs = std::filesystem;
using nlohmann::json;
using namespace cau::xbase;

namespace {

int Usage() {
  std::cerr << "uso: xbase info ARQUIVO\n"
               "     xbase dump ARQUIVO [--tag NOME]\n"
               "     xbase check PASTA|ARQUIVO\n"
               "     xbase reindex ARQUIVO\n"
               "     xbase create ESQUEMA.json PASTA\n";
  return 2;
}

std::string Hex(std::string_view bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (char c : bytes) {
    out += digits[static_cast<unsigned char>(c) >> 4];
    out += digits[static_cast<unsigned char>(c) & 15];
  }
  return out;
}

std::string RTrim(std::string_view s) {
  std::size_t e = s.size();
  while (e > 0 && (s[e - 1] == ' ' || s[e - 1] == '\0'))
    --e;
  return std::string(s.substr(0, e));
}

std::string IsoDate(int32_t julian) {
  int y, m, d;
  YmdFromJulian(julian, y, m, d);
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", y, m, d);
  return buf;
}

// One field of the current record as JSON: text as UTF-8 without trailing
// blanks, numbers, ISO dates, booleans; null for NULL and blank values.
json FieldJson(const Table& t, int i) {
  const DbfField& f = t.fields()[std::size_t(i)];
  if (t.IsNull(i))
    return nullptr;
  std::string_view raw = t.RawField(i);
  switch (f.type) {
    case 'C':
      return cau::text::FromCp1252(RTrim(raw));
    case 'V':
      return cau::text::FromCp1252(RTrim(t.FieldValue(i).text));
    case 'M':
      return cau::text::FromCp1252(t.MemoText(i));
    case 'G':
    case 'W':
      return Hex(t.MemoText(i));
    case 'N':
    case 'F':
      if (raw.find_first_not_of(' ') == std::string_view::npos)
        return nullptr;
      return t.FieldValue(i).number;
    case 'D': {
      Value v = t.FieldValue(i);
      return v.julian == 0 ? json(nullptr) : json(IsoDate(v.julian));
    }
    case 'L':
      if (raw[0] == ' ' || raw[0] == '?')
        return nullptr;
      return t.FieldValue(i).logical;
    case 'T': {
      Value v = t.FieldValue(i);
      if (v.julian == 0)
        return nullptr;
      auto ms = int64_t(v.number);
      char buf[40];
      std::snprintf(buf, sizeof buf, "%sT%02d:%02d:%02d", IsoDate(v.julian).c_str(),
                    int(ms / 3600000), int(ms / 60000 % 60), int(ms / 1000 % 60));
      return buf;
    }
    case 'I':
    case 'B':
    case 'Y':
      return t.FieldValue(i).number;
    default:
      return Hex(t.FieldValue(i).text);
  }
}

std::string VersionName(uint8_t v) {
  switch (v) {
    case kDbaseIII:
      return "dBASE III / FoxPro sem memo";
    case kDbaseIIIMemo:
      return "dBASE III com memo";
    case kFoxPro2:
      return "FoxPro 2.x com memo";
    case kVfp:
      return "Visual FoxPro";
    case kVfpAutoinc:
      return "Visual FoxPro com autoincremento";
    case kVfpVarchar:
      return "Visual FoxPro com varchar";
    default:
      return "?";
  }
}

int Info(const fs::path& file) {
  auto t = Table::Open(file, Table::Options{.readOnly = true});
  const DbfFile& d = t->dbf();
  json out;
  out["file"] = t->path().string();
  char buf[8];
  std::snprintf(buf, sizeof buf, "0x%02X", d.version());
  out["version"] = std::string(buf) + " " + VersionName(d.version());
  std::snprintf(buf, sizeof buf, "0x%02X", d.codePage());
  out["codePage"] = buf;
  out["records"] = d.recordCount();
  out["headerLength"] = d.headerLength();
  out["recordLength"] = d.recordLength();
  for (const DbfField& f : d.fields()) {
    out["fields"].push_back({{"name", f.name},
                             {"type", std::string(1, f.type)},
                             {"length", f.length},
                             {"decimals", f.decimals},
                             {"nullable", f.nullable()}});
  }
  if (t->fpt())
    out["memo"] = {{"file", t->fpt()->path()}, {"blockSize", t->fpt()->blockSize()}};
  if (t->cdx()) {
    out["index"] = t->cdx()->path().string();
    for (std::size_t i = 0; i < t->tags().size(); ++i) {
      const TagInfo& info = t->cdx()->tags()[i];
      json tag = {{"name", info.name},           {"key", info.keyExpr},
                  {"keyLength", info.keyLength}, {"unique", info.unique},
                  {"candidate", info.candidate}, {"descending", info.descending}};
      if (!info.forExpr.empty())
        tag["for"] = info.forExpr;
      if (!info.collation.empty())
        tag["collation"] = info.collation;
      if (!t->tags()[i].problem.empty())
        tag["problem"] = t->tags()[i].problem;
      out["tags"].push_back(tag);
    }
  }
  out["readOnly"] = t->readOnly();
  if (t->readOnly())
    out["readOnlyReason"] = t->readOnlyReason();
  std::cout << out.dump(2) << "\n";
  return 0;
}

int Dump(const fs::path& file, const std::string& tagName) {
  auto t = Table::Open(file, Table::Options{.readOnly = true});
  if (!tagName.empty()) {
    int tag = t->FindTag(tagName);
    if (tag < 0)
      throw cau::Error(t->path().string() + ": tag " + tagName + " não encontrada");
    t->SelectTag(tag);
  }
  json records = json::array();
  for (t->GoTop(); !t->Eof(); t->Skip(1)) {
    json r;
    r["recno"] = t->RecNo();
    r["deleted"] = t->Deleted();
    json values = json::object();
    for (std::size_t i = 0; i < t->fields().size(); ++i) {
      if (t->fields()[i].type == '0')
        continue;
      values[t->fields()[i].name] = FieldJson(*t, int(i));
    }
    r["values"] = values;
    records.push_back(r);
  }
  std::cout << records.dump(1) << "\n";
  return 0;
}

bool IsTableFile(const fs::path& p) {
  std::string ext = p.extension().string();
  for (auto& c : ext)
    c = char(std::tolower(static_cast<unsigned char>(c)));
  return ext == ".dbf" || ext == ".dbc";  // a database container is a table too
}

int Check(const fs::path& target) {
  std::vector<fs::path> files;
  if (fs::is_directory(target)) {
    for (const auto& e : fs::directory_iterator(target)) {
      if (e.is_regular_file() && IsTableFile(e.path()))
        files.push_back(e.path());
    }
    std::sort(files.begin(), files.end());
  } else {
    files.push_back(target);
  }
  if (files.empty()) {
    std::cerr << target.string() << ": nenhuma tabela\n";
    return 1;
  }
  bool ok = true;
  for (const auto& f : files) {
    CheckReport report = CheckTable(f);
    for (const auto& n : report.notes)
      std::cout << "nota: " << n << "\n";
    for (const auto& p : report.problems)
      std::cout << "ERRO: " << p << "\n";
    std::cout << f.string() << ": " << (report.ok() ? "ok" : "com problemas") << "\n";
    ok = ok && report.ok();
  }
  return ok ? 0 : 1;
}

DbfFile::NewField FieldFromJson(const json& j) {
  DbfFile::NewField f;
  f.name = j.at("name").get<std::string>();
  std::string type = j.at("type").get<std::string>();
  if (type.size() != 1)
    throw cau::Error("tipo de campo inválido: " + type);
  f.type = type[0];
  f.length = j.value("length", 0);
  f.decimals = j.value("decimals", 0);
  f.nullable = j.value("nullable", false);
  f.autoincrement = j.value("autoincrement", false);
  return f;
}

// {"name": "PROCESSO", "version": "vfp"|"foxpro2"|"dbase3"|number, "codePage": 3,
//  "memoBlockSize": 64, "fields": [{"name","type","length","decimals"}...],
//  "tags": [{"name","key","for","unique","candidate","descending"}...]}
int Create(const fs::path& schemaFile, const fs::path& dir) {
  std::ifstream in(schemaFile);
  if (!in)
    throw cau::FileError(schemaFile.string(), schemaFile.string() + ": não foi possível ler");
  json j;
  try {
    j = json::parse(in);
  } catch (const json::exception& e) {
    throw cau::Error(schemaFile.string() + ": JSON inválido: " + e.what());
  }
  try {
    TableSchema s;
    const json& v = j.value("version", json("vfp"));
    if (v.is_number()) {
      s.version = v.get<uint8_t>();
    } else {
      std::string name = v.get<std::string>();
      if (name == "vfp") {
        s.version = kVfp;
      } else if (name == "foxpro2") {
        s.version = kFoxPro2;
      } else if (name == "dbase3") {
        s.version = kDbaseIII;
      } else {
        throw cau::Error("versão desconhecida: " + name);
      }
    }
    s.codePage = j.value("codePage", uint8_t(0x03));
    s.memoBlockSize = j.value("memoBlockSize", 64u);
    for (const json& f : j.at("fields"))
      s.fields.push_back(FieldFromJson(f));
    for (const json& t : j.value("tags", json::array())) {
      s.tags.push_back(TagSchema{t.at("name").get<std::string>(), t.at("key").get<std::string>(),
                                 t.value("for", std::string()), t.value("unique", false),
                                 t.value("candidate", false), t.value("descending", false)});
    }
    fs::path made = CreateTable(dir, j.at("name").get<std::string>(), s);
    std::cout << made.string() << "\n";
  } catch (const json::exception& e) {
    throw cau::Error(schemaFile.string() + ": esquema inválido: " + e.what());
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty())
    return Usage();
  try {
    const std::string& cmd = args[0];
    if (cmd == "info" && args.size() == 2)
      return Info(args[1]);
    if (cmd == "dump" && args.size() == 2)
      return Dump(args[1], "");
    if (cmd == "dump" && args.size() == 4 && args[2] == "--tag")
      return Dump(args[1], args[3]);
    if (cmd == "check" && args.size() == 2)
      return Check(args[1]);
    if (cmd == "reindex" && args.size() == 2) {
      Reindex(args[1]);
      return 0;
    }
    if (cmd == "create" && args.size() == 3)
      return Create(args[1], args[2]);
    return Usage();
  } catch (const std::exception& e) {
    std::cerr << "xbase: " << e.what() << "\n";
    return 1;
  }
}
