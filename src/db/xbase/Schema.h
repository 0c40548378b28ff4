// New tables from a schema, and structural indexes built in bulk from the
// records of a table (creation and reindex).
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "db/xbase/Cdx.h"
#include "db/xbase/Dbf.h"

namespace cau::xbase {

struct TagSchema {
  std::string name;
  std::string keyExpr;
  std::string forExpr;  // empty: none
  bool unique = false;
  bool candidate = false;
  bool descending = false;
};

struct TableSchema {
  uint8_t version = kVfp;   // kVfp, kFoxPro2, kDbaseIII ...
  uint8_t codePage = 0x03;  // Windows-1252
  uint32_t memoBlockSize = 64;
  std::vector<DbfFile::NewField> fields;
  std::vector<TagSchema> tags;
};

// Creates BASE.DBF (+ BASE.FPT when a field is a memo, + BASE.CDX when there
// are tags) in `dir`. Fails, writing nothing, when any of the files exists or
// a tag expression cannot be compiled. Returns the .DBF path.
std::filesystem::path CreateTable(const std::filesystem::path& dir, const std::string& baseName,
                                  const TableSchema& schema);

// The tag specs (key type and length from the expressions) for `tags` over
// the fields of `dbf`. Throws cau::Error naming a tag that cannot be compiled.
std::vector<TagSpec> TagSpecs(const DbfFile& dbf, const std::vector<TagSchema>& tags);

// Writes a new structural index for the table at `dbfPath` holding `tags`,
// each built in bulk from the records (then sets the table's index flag).
// The new index is written beside the old one and renamed over it only when
// complete.
void BuildStructuralIndex(const std::filesystem::path& dbfPath, const std::vector<TagSchema>& tags);

// Rebuilds the structural index of a table from its records, with the same
// tags and options. Throws when a tag cannot be evaluated exactly.
void Reindex(const std::filesystem::path& dbfPath);

}  // namespace cau::xbase
