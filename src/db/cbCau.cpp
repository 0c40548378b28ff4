#include "db/cbCau.h"

#include <cstdlib>

#include "config/Errors.h"
#include "db/xbase/Check.h"
#include "db/xbase/TableFile.h"

namespace cau::db {
namespace {

// The entry `name` of `dir`, found without regard to case; `dir` + `name` when absent.
std::string InFolder(const std::string& dir, std::string_view name) {
  if (!dir.empty()) {
    std::filesystem::path found = xbase::FindFileNoCase(dir, name);
    if (!found.empty())
      return found.string();
  }
  return dir + std::string(name);
}

}  // namespace

TcbCau::TcbCau(std::string_view hostFolder, std::string_view defaultDir) {
  const char* walk = std::getenv("CAU_WALKING_LOOKUPS");
  walking_ = walk && std::string_view(walk) == "1";
  std::size_t slash = hostFolder.rfind('/');
  baseDir_ = slash == std::string_view::npos ? std::string()
                                             : std::string(hostFolder.substr(0, slash + 1));
  if (baseDir_.empty() || xbase::FindFileNoCase(baseDir_, "orgaos.xml").empty()) {
    baseDir_ = defaultDir;
    if (!baseDir_.empty() && baseDir_.back() != '/')
      baseDir_ += '/';
  }
}

TcbCau::~TcbCau() {
  try {
    Close();
  } catch (const std::exception&) {  // NOLINT: a destructor cannot report; Close() does
  }
}

void TcbCau::OpenTable() {
  engine_ = code4initP();
  code4errDefaultUnique(*engine_, e4unique);
  code4errFieldName(*engine_, 0);
  tablePath_ = InFolder(InFolder(baseDir_, "dados") + "/", TableName());
  Data4* table = d4open(*engine_, tablePath_);
  if (!table) {
    openError_ = code4errorText(*engine_);
    if (openError_.empty())
      openError_ = tablePath_ + ": a tabela não pôde ser aberta";
    return;
  }
  if (d4readOnly(table)) {
    openError_ = d4readOnlyReason(table);
  } else if (Tag4* key = d4tag(table, "PRIMARYKEY"); !key) {
    openError_ = tablePath_ + ": o índice não tem a tag PRIMARYKEY";
  } else if (d4tagSelectP(table, key) < 0) {
    openError_ = code4errorText(*engine_);
  }
  if (!openError_.empty()) {
    d4close(table);
    return;
  }
  table_ = table;
}

std::string TcbCau::CheckFiles() const {
  if (!table_)
    return openError_;
  constexpr std::size_t kShown = 3;
  const xbase::CheckReport report = xbase::CheckTable(tablePath_);
  std::string why;
  for (std::size_t i = 0; i < report.problems.size() && i < kShown; ++i)
    why += (i ? "; " : "") + report.problems[i];
  if (report.problems.size() > kShown)
    why += "; " + std::to_string(report.problems.size() - kShown) + " problemas a mais";
  return why;
}

void TcbCau::Require() const {
  if (table_)
    return;
  throw Error(openError_.empty() ? tablePath_ + ": tabela fechada" : openError_);
}

int TcbCau::Note(int result) {
  if (result < 0 && engine_)
    lastError_ = code4errorText(*engine_);
  return result;
}

void TcbCau::Check(int result) {
  if (Note(result) < 0)
    throw Error(lastError_.empty() ? tablePath_ + ": erro " + std::to_string(result) : lastError_);
}

Field4* TcbCau::FieldOf(std::string_view name) const {
  return table_ ? d4field(table_, name) : nullptr;
}

Field4* TcbCau::Writable(std::string_view name) {
  Require();
  Field4* field = FieldOf(name);
  if (!field)
    lastError_ = tablePath_ + ": campo " + std::string(name) + " não existe";
  return field;
}

int TcbCau::Written(std::string_view field, int result) {
  if (result >= 0)
    FieldWritten(field);
  return result;
}

int TcbCau::Put(std::string_view field, std::string_view text) {
  Field4* f = Writable(field);
  return f ? Written(field, Note(f4assign(f, text))) : e4fieldName;
}

int TcbCau::PutInt(std::string_view field, long value) {
  Field4* f = Writable(field);
  return f ? Written(field, Note(f4assignInt(f, value))) : e4fieldName;
}

int TcbCau::PutChar(std::string_view field, char32_t character) {
  Field4* f = Writable(field);
  return f ? Written(field, Note(f4assignChar(f, character))) : e4fieldName;
}

int TcbCau::PutMemo(std::string_view field, std::string_view text) {
  Field4* f = Writable(field);
  return f ? Written(field, Note(f4memoAssign(f, text))) : e4fieldName;
}

std::string TcbCau::Memo(std::string_view field) {
  Require();
  Field4* f = FieldOf(field);
  if (!f)
    return {};
  code4errorClear(*engine_);
  std::string text = f4memoStr(f);
  Check(code4errorCode(*engine_));
  return text;
}

void TcbCau::First() {
  Require();
  Check(d4goBof(table_));
  LoadRecord();
}

void TcbCau::Next() {
  Require();
  Check(d4skip(table_, 1));
  LoadRecord();
}

bool TcbCau::Eof() const {
  return !table_ || d4eof(table_) > 0;
}

long TcbCau::RecordCount() const {
  return table_ ? d4recCountDo(table_) : 0;
}

void TcbCau::SaveAndNext() {
  Require();
  Check(d4skip(table_, 1));
  Check(d4flush(table_));
  LoadRecord();
}

void TcbCau::Close() {
  if (!engine_)
    return;
  std::string failure;
  if (table_) {
    if (d4skip(table_, 1) < 0)
      failure = code4errorText(*engine_);
    if (d4close(table_) < 0 && failure.empty())
      failure = code4errorText(*engine_);
    table_ = nullptr;
  }
  code4initUndo(engine_);
  if (openError_.empty())
    openError_ = tablePath_ + ": tabela fechada";
  if (!failure.empty())
    throw Error(failure);
}

}  // namespace cau::db
