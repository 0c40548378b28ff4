#include "db/xbase/Schema.h"

#include <system_error>

#include "config/Errors.h"
#include "db/xbase/Expr.h"
#include "db/xbase/Fpt.h"
#include "db/xbase/Table.h"

namespace cau::xbase {

namespace {

bool UpperExtension(const std::filesystem::path& p) {
  std::string ext = p.extension().string();
  return ext.size() > 1 && ext[1] >= 'A' && ext[1] <= 'Z';
}

// The path of the table's index: the existing file, else BASE.CDX in the
// extension case of the table.
std::filesystem::path IndexPathOf(const std::filesystem::path& dbfPath) {
  std::string stem = dbfPath.stem().string();
  auto found = FindFileNoCase(dbfPath.parent_path(), stem + ".cdx");
  if (!found.empty())
    return found;
  return dbfPath.parent_path() / (stem + (UpperExtension(dbfPath) ? ".CDX" : ".cdx"));
}

// (key, recno) of every record `tag` holds, in record order.
std::vector<std::pair<std::string, uint32_t>> TagEntries(const DbfFile& dbf, const TableTag& tag) {
  std::vector<std::pair<std::string, uint32_t>> out;
  out.reserve(dbf.recordCount());
  std::string record;
  for (uint32_t r = 1; r <= dbf.recordCount(); ++r) {
    dbf.ReadRecord(r, record);
    auto key = TagKey(dbf, tag, RecordImage(dbf, record, r));
    if (key)
      out.emplace_back(std::move(*key), r);
  }
  return out;
}

}  // namespace

std::vector<TagSpec> TagSpecs(const DbfFile& dbf, const std::vector<TagSchema>& tags) {
  std::vector<FieldDef> defs = dbf.fieldDefs();
  std::vector<TagSpec> specs;
  for (const TagSchema& t : tags) {
    try {
      Expression key = Expression::Compile(t.keyExpr, defs);
      if (!t.forExpr.empty()) {
        Expression f = Expression::Compile(t.forExpr, defs);
        if (f.type() != ValueType::Logical)
          throw Error("a condição FOR não é lógica");
      }
      TagSpec s;
      s.name = t.name;
      s.keyExpr = t.keyExpr;
      s.forExpr = t.forExpr;
      s.keyType = key.type();
      s.unique = t.unique;
      s.candidate = t.candidate;
      s.descending = t.descending;
      int single = key.singleField();
      switch (key.type()) {
        case ValueType::Character:
          s.keyLength = key.length();
          break;
        case ValueType::Numeric:
          s.keyLength = single >= 0 && defs[std::size_t(single)].type == 'I' ? 4 : 8;
          if (single >= 0 && (defs[std::size_t(single)].type == 'Y')) {
            throw Error("chave de campo moeda (Y) não suportada");
          }
          break;
        case ValueType::Date:
          if (single >= 0 && defs[std::size_t(single)].type == 'T') {
            throw Error("chave de campo data-hora (T) não suportada");
          }
          s.keyLength = 8;
          break;
        case ValueType::Logical:
          s.keyLength = 1;
          break;
      }
      if (single >= 0 && dbf.fields()[std::size_t(single)].nullable()) {
        s.nullable = true;
        s.keyLength += 1;
      }
      if (s.keyLength < 1 || s.keyLength > 240) {
        throw Error("tamanho de chave " + std::to_string(s.keyLength) + " fora de 1..240");
      }
      specs.push_back(std::move(s));
    } catch (const Error& e) {
      throw Error("tag " + t.name + " (" + t.keyExpr + "): " + e.what());
    }
  }
  return specs;
}

void BuildStructuralIndex(const std::filesystem::path& dbfPath,
                          const std::vector<TagSchema>& tags) {
  auto dbf = DbfFile::Open(dbfPath, true);
  std::vector<TagSpec> specs = TagSpecs(*dbf, tags);
  std::filesystem::path target = IndexPathOf(dbfPath);
  std::filesystem::path temp = target;
  temp += ".new";
  std::error_code ec;
  std::filesystem::remove(temp, ec);
  {
    auto cdx = CdxFile::Create(temp, specs);
    for (std::size_t i = 0; i < specs.size(); ++i) {
      TableTag tag = MakeTableTag(*dbf, cdx->tags()[i]);
      if (!tag.problem.empty())
        throw Error(tag.problem);
      cdx->Build(int(i), TagEntries(*dbf, tag));
    }
    cdx->Close();
  }
  std::filesystem::rename(temp, target, ec);
  if (ec) {
    throw FileError(target.string(),
                    target.string() + ": não foi possível substituir o índice: " + ec.message());
  }
  if (!(dbf->tableFlags() & kFlagStructuralCdx)) {
    dbf->SetTableFlags(uint8_t(dbf->tableFlags() | kFlagStructuralCdx));
  }
  dbf->Close();
}

void Reindex(const std::filesystem::path& dbfPath) {
  std::vector<TagSchema> tags;
  std::filesystem::path found;
  {
    auto table = Table::Open(dbfPath, Table::Options{.readOnly = true});
    found = table->path();
    if (!table->cdx())
      throw Error(found.string() + ": a tabela não tem índice estrutural");
    for (std::size_t i = 0; i < table->tags().size(); ++i) {
      const TagInfo& info = table->cdx()->tags()[i];
      if (!table->tags()[i].problem.empty()) {
        throw Error(found.string() + ": não é possível reindexar: " + table->tags()[i].problem);
      }
      tags.push_back(TagSchema{info.name, info.keyExpr, info.forExpr, info.unique, info.candidate,
                               info.descending});
    }
    table->Close();
  }
  BuildStructuralIndex(found, tags);
}

std::filesystem::path CreateTable(const std::filesystem::path& dir, const std::string& baseName,
                                  const TableSchema& schema) {
  bool memo = false;
  for (const auto& f : schema.fields)
    memo = memo || f.type == 'M' || f.type == 'm';
  std::filesystem::path dbfPath = dir / (baseName + ".DBF");
  std::filesystem::path fptPath = dir / (baseName + ".FPT");
  for (const char* ext : {".dbf", ".fpt", ".dbt", ".cdx"}) {
    auto existing = FindFileNoCase(dir, baseName + ext);
    if (!existing.empty())
      throw FileError(existing.string(), existing.string() + ": já existe");
  }
  if (memo && schema.version == kDbaseIII) {
    throw Error(dbfPath.string() + ": memos exigem a versão 0x83, 0xF5 ou VFP");
  }
  bool dbt = schema.version == kDbaseIIIMemo;
  if (dbt) fptPath = dir / (baseName + ".DBT");

  bool vfp =
      schema.version == kVfp || schema.version == kVfpAutoinc || schema.version == kVfpVarchar;
  uint8_t flags = memo && vfp ? kFlagMemo : 0;
  try {
    auto dbf = DbfFile::Create(dbfPath, schema.version, schema.codePage, flags, schema.fields);
    TagSpecs(*dbf, schema.tags);  // every tag must compile before anything else is written
    dbf->Close();
    if (memo) {
      (dbt ? FptFile::CreateDbt(fptPath) : FptFile::Create(fptPath, schema.memoBlockSize))->Close();
    }
    if (!schema.tags.empty())
      BuildStructuralIndex(dbfPath, schema.tags);
  } catch (...) {
    std::error_code ec;
    std::filesystem::remove(dbfPath, ec);
    std::filesystem::remove(fptPath, ec);
    std::filesystem::remove(dir / (baseName + ".CDX"), ec);
    std::filesystem::remove(dir / (baseName + ".CDX.new"), ec);
    throw;
  }
  return dbfPath;
}

}  // namespace cau::xbase
