#include "db/xbase/Table.h"

#include <unistd.h>

#include <algorithm>

#include "config/Errors.h"
#include "db/xbase/CdxKey.h"

namespace cau::xbase {

namespace {

std::string Stem(const std::filesystem::path& p) {
  return p.stem().string();
}

bool StartsWith(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && s.substr(0, prefix.size()) == prefix;
}

}  // namespace

Value RecordImage::Field(int index) const {
  Value v;
  Field(index, v);
  return v;
}

void RecordImage::Field(int index, Value& out) const {
  const DbfField& f = dbf_.fields()[std::size_t(index)];
  std::string_view bytes = bytes_.substr(std::size_t(f.offset), std::size_t(f.length));
  if (f.varBit >= 0 && dbf_.nullFlagsField() >= 0) {
    // A V/Q value shorter than its field keeps its length in the last byte.
    const DbfField& nf = dbf_.fields()[std::size_t(dbf_.nullFlagsField())];
    auto flags = static_cast<unsigned char>(bytes_[std::size_t(nf.offset + f.varBit / 8)]);
    if ((flags >> (f.varBit % 8)) & 1) {
      auto n = static_cast<unsigned char>(bytes.back());
      bytes = bytes.substr(0, std::min<std::size_t>(n, bytes.size() - 1));
    }
  }
  DecodeField(f, bytes, out);
}

// ---- opening ----

std::unique_ptr<Table> Table::Open(const std::filesystem::path& dbfPath, Options options) {
  std::filesystem::path dir = dbfPath.parent_path();
  std::filesystem::path found = FindFileNoCase(dir, dbfPath.filename().string());
  if (found.empty()) {
    throw FileError(dbfPath.string(), dbfPath.string() + ": tabela não encontrada");
  }
  std::unique_ptr<Table> t(new Table);
  t->path_ = found;
  t->options_ = options;

  // Everything is read first without write access; files are reopened for
  // writing only when the whole table can be maintained.
  t->dbf_ = DbfFile::Open(found, false);
  std::filesystem::path memoPath, cdxPath;
  // A database container keeps its memos in .DCT and its index in .DCX.
  std::string ext = found.extension().string();
  bool container = ext.size() == 4 && (ext[3] == 'c' || ext[3] == 'C');
  const char* memoExt = container ? ".dct" : ".fpt";
  const char* indexExt = container ? ".dcx" : ".cdx";
  if (t->dbf_->hasMemoFields()) {
    bool dbt = t->dbf_->version() == kDbaseIIIMemo;
    memoPath = FindFileNoCase(dir, Stem(found) + (dbt ? ".dbt" : memoExt));
    if (memoPath.empty()) {
      throw FileError(found.string(), found.string() + ": arquivo de memos (" +
                                          (dbt ? ".DBT" : ".FPT") + ") não encontrado");
    }
    t->fpt_ = dbt ? FptFile::OpenDbt(memoPath, false) : FptFile::Open(memoPath, false);
  }
  cdxPath = FindFileNoCase(dir, Stem(found) + indexExt);
  if (cdxPath.empty() && (t->dbf_->tableFlags() & kFlagStructuralCdx)) {
    throw FileError(found.string(), found.string() + ": índice estrutural (.CDX) não encontrado");
  }
  if (!cdxPath.empty())
    t->cdx_ = CdxFile::Open(cdxPath, false);
  t->LoadTags();

  if (!options.readOnly && !t->readOnly_) {
    bool canWrite = ::access(found.c_str(), W_OK) == 0 &&
                    (memoPath.empty() || ::access(memoPath.c_str(), W_OK) == 0) &&
                    (cdxPath.empty() || ::access(cdxPath.c_str(), W_OK) == 0);
    if (!canWrite) {
      t->readOnly_ = true;
      t->readOnlyReason_ = found.string() + ": sem permissão de gravação";
    } else {
      t->cdx_.reset();
      t->fpt_.reset();
      t->dbf_ = DbfFile::Open(found, true);
      if (!memoPath.empty()) {
        t->fpt_ = t->dbf_->version() == kDbaseIIIMemo ? FptFile::OpenDbt(memoPath, true)
                                                      : FptFile::Open(memoPath, true);
      }
      if (!cdxPath.empty()) {
        t->cdx_ = CdxFile::Open(cdxPath, true);
        for (std::size_t i = 0; i < t->tags_.size(); ++i) {
          t->cdx_->SetKeyType(int(i), t->tags_[i].key->type());
        }
      }
    }
  } else if (options.readOnly && !t->readOnly_) {
    t->readOnly_ = true;
    t->readOnlyReason_ = found.string() + ": aberta somente para leitura";
  }
  t->SetEofState();
  return t;
}

TableTag MakeTableTag(const DbfFile& dbf, const TagInfo& info) {
  std::vector<FieldDef> defs = dbf.fieldDefs();
  TableTag tag;
  tag.name = info.name;
  tag.keyLength = info.keyLength;
  tag.nullable = info.nullable;
  try {
    if (!info.collation.empty()) {
      throw Error("ordenação " + info.collation + " não suportada");
    }
    tag.key = Expression::Compile(info.keyExpr, defs);
    if (info.hasFor || !info.forExpr.empty()) {
      tag.forExpr = Expression::Compile(info.forExpr, defs);
      if (tag.forExpr->type() != ValueType::Logical) {
        throw Error("a condição FOR '" + info.forExpr + "' não é lógica");
      }
    }
    int single = tag.key->singleField();
    int valueLength = info.keyLength - (info.nullable ? 1 : 0);
    switch (tag.key->type()) {
      case ValueType::Character:
        break;
      case ValueType::Numeric: {
        bool intKey = single >= 0 && defs[std::size_t(single)].type == 'I' && valueLength == 4;
        if (valueLength != 8 && !intKey)
          throw Error("chave numérica de tamanho inesperado");
        if (single >= 0 && defs[std::size_t(single)].type == 'Y') {
          throw Error("chave de campo moeda (Y) não suportada");
        }
        break;
      }
      case ValueType::Date:
        if (single >= 0 && defs[std::size_t(single)].type == 'T') {
          throw Error("chave de campo data-hora (T) não suportada");
        }
        if (valueLength != 8)
          throw Error("chave de data de tamanho inesperado");
        break;
      case ValueType::Logical:
        if (valueLength != 1)
          throw Error("chave lógica de tamanho inesperado");
        break;
    }
    if (info.nullable) {
      if (single < 0)
        throw Error("chave anulável sobre uma expressão composta");
      if (dbf.fields()[std::size_t(single)].nullable())
        tag.nullField = single;
    }
  } catch (const Error& e) {
    tag.key.reset();
    tag.forExpr.reset();
    tag.problem = "a tag " + info.name + " (expressão '" + info.keyExpr + "'" +
                  (info.forExpr.empty() ? "" : " FOR '" + info.forExpr + "'") +
                  ") não pode ser avaliada: " + e.what();
  }
  return tag;
}

std::optional<std::string> TagKey(const DbfFile& dbf, const TableTag& t,
                                  const RecordImage& record) {
  if (!t.key)
    throw Error(t.problem);
  if (t.forExpr && !t.forExpr->Evaluate(record).logical)
    return std::nullopt;
  if (t.nullField >= 0 &&
      FieldIsNull(dbf, dbf.fields()[std::size_t(t.nullField)], record.bytes())) {
    return NullKey(t.keyLength);
  }
  return EncodeKey(t.key->Evaluate(record), t.keyLength, t.nullable);
}

void Table::LoadTags() {
  tags_.clear();
  if (!cdx_)
    return;
  for (const TagInfo& info : cdx_->tags()) {
    TableTag tag = MakeTableTag(*dbf_, info);
    if (!tag.problem.empty() && !readOnly_) {
      readOnly_ = true;
      readOnlyReason_ = path_.string() + ": somente leitura: " + tag.problem;
    }
    tags_.push_back(std::move(tag));
  }
}

Table::~Table() {
  try {
    Close();
  } catch (...) {  // NOLINT: a destructor cannot report; Close() does
  }
}

// ---- tags ----

int Table::FindTag(std::string_view name) const {
  return cdx_ ? cdx_->FindTag(name) : -1;
}

void Table::SelectTag(int tag) {
  Settle();
  if (tag >= int(tags_.size()))
    throw Error("tag inexistente");
  selected_ = tag < 0 ? -1 : tag;
  cursor_.reset();
  if (selected_ >= 0)
    cursor_.emplace(cdx_->OpenCursor(selected_));
  if (!eof_)
    Go(recno_);
}

// ---- moves ----

void Table::LoadRecord(uint32_t recno) {
  dbf_->ReadRecord(recno, record_);  // disk_ follows on the first change (Touch)
  recno_ = recno;
  eof_ = false;
  bof_ = false;
  changed_ = false;
  appending_ = false;
  cursorAhead_ = false;
  pendingMemos_.clear();
}

void Table::SetEofState() {
  record_ = dbf_->BlankRecord();
  recno_ = dbf_->recordCount() + 1;
  eof_ = true;
  changed_ = false;
  appending_ = false;
  cursorAhead_ = false;
  pendingMemos_.clear();
}

void Table::FromCursor() {
  uint32_t recno = cursor_->RecNo();
  if (recno < 1 || recno > dbf_->recordCount()) {
    throw FileError(cdx_->path().string(),
                    cdx_->path().string() + ": a tag " + tags_[std::size_t(selected_)].name +
                        " aponta para o registro " + std::to_string(recno) + ", a tabela tem " +
                        std::to_string(dbf_->recordCount()));
  }
  LoadRecord(recno);
}

void Table::GoTop() {
  Settle();
  dbf_->RefreshCount();
  dbf_->DropCache();
  bof_ = false;
  if (selected_ >= 0) {
    if (cursor_->First()) {
      FromCursor();
    } else {
      SetEofState();
    }
  } else if (dbf_->recordCount() > 0) {
    LoadRecord(1);
  } else {
    SetEofState();
  }
}

void Table::GoBottom() {
  Settle();
  dbf_->RefreshCount();
  if (selected_ >= 0) {
    if (cursor_->Last()) {
      FromCursor();
    } else {
      SetEofState();
    }
  } else if (dbf_->recordCount() > 0) {
    LoadRecord(dbf_->recordCount());
  } else {
    SetEofState();
  }
}

void Table::Skip(long n) {
  Settle();
  if (n == 0)
    return;
  if (selected_ < 0) {
    if (eof_ && n > 0)
      return;
    int64_t target = int64_t(eof_ ? dbf_->recordCount() + 1 : recno_) + n;
    if (target < 1) {
      if (dbf_->recordCount() == 0)
        return SetEofState();
      LoadRecord(1);
      bof_ = true;
    } else if (target > int64_t(dbf_->recordCount())) {
      SetEofState();
    } else {
      LoadRecord(uint32_t(target));
    }
    return;
  }
  if (eof_) {
    if (n > 0)
      return;
    if (!cursor_->Last())
      return SetEofState();
    FromCursor();
    ++n;
  }
  for (; n > 0; --n) {
    bool ok = cursorAhead_ ? !cursor_->Eof() : cursor_->Next();
    cursorAhead_ = false;
    if (!ok)
      return SetEofState();
    FromCursor();
    if (n == 1)
      ReadAhead();
  }
  for (; n < 0; ++n) {
    cursorAhead_ = false;
    if (!cursor_->Prev()) {
      if (cursor_->First()) {
        FromCursor();
      } else {
        SetEofState();
      }
      bof_ = true;
      return;
    }
    FromCursor();
  }
}

// A walk goes on: the record a few entries ahead is wanted soon; at the start
// of a leaf, so are those before it.
void Table::ReadAhead() {
  if (cursor_->RecNoAhead(-1) == 0) {
    for (int k = 1; k < kReadAhead; ++k)
      dbf_->Prefetch(cursor_->RecNoAhead(k));
  }
  dbf_->Prefetch(cursor_->RecNoAhead(kReadAhead));
}

void Table::Go(uint32_t recno) {
  Settle();
  if (recno < 1 || recno > dbf_->recordCount())
    return SetEofState();
  LoadRecord(recno);
  if (selected_ >= 0) {
    if (!tags_[std::size_t(selected_)].key) {
      // A key the engine cannot compute: find the record by walking the tag.
      for (bool ok = cursor_->First(); ok && cursor_->RecNo() != recno; ok = cursor_->Next()) {
      }
      return;
    }
    std::optional<std::string> key = KeyOf(selected_, current());
    if (key) {
      cursor_->SeekExact(*key, recno);
    } else {
      cursor_->First();
    }
  }
}

Table::SeekResult Table::Seek(std::string_view key) {
  Settle();
  if (selected_ < 0)
    throw Error(path_.string() + ": busca sem tag selecionada");
  if (!cursor_->Seek(key)) {
    SetEofState();
    return SeekResult::Eof;
  }
  FromCursor();
  return StartsWith(cursor_->Key(), key) ? SeekResult::Found : SeekResult::After;
}

Table::SeekResult Table::Seek(const Value& value) {
  if (selected_ < 0)
    throw Error(path_.string() + ": busca sem tag selecionada");
  const TableTag& t = tags_[std::size_t(selected_)];
  if (value.type == ValueType::Character) {
    std::string k = t.nullable ? "\x80" + value.text : value.text;
    if (k.size() > std::size_t(t.keyLength))
      k.resize(std::size_t(t.keyLength));
    return Seek(k);
  }
  return Seek(EncodeKey(value, t.keyLength, t.nullable));
}

// ---- the current record ----

std::string_view Table::RawField(int index) const {
  const DbfField& f = fields().at(std::size_t(index));
  return std::string_view(record_).substr(std::size_t(f.offset), std::size_t(f.length));
}

bool Table::IsNull(int index) const {
  return FieldIsNull(*dbf_, fields().at(std::size_t(index)), record_);
}

uint32_t Table::MemoPointer(int index, std::string_view record) const {
  const DbfField& f = fields()[std::size_t(index)];
  std::string_view bytes = record.substr(std::size_t(f.offset), std::size_t(f.length));
  try {
    return DecodeMemoPointer(bytes);
  } catch (const Error&) {
    throw FileError(path_.string(), path_.string() + ": registro " + std::to_string(recno_) +
                                        ": ponteiro de memo inválido no campo " + f.name);
  }
}

std::string Table::MemoText(int index) const {
  const DbfField& f = fields().at(std::size_t(index));
  if (!f.isMemo())
    throw Error("o campo " + f.name + " não é memo");
  auto it = pendingMemos_.find(index);
  if (it != pendingMemos_.end())
    return it->second;
  uint32_t block = MemoPointer(index, record_);
  if (block == 0)
    return {};
  if (!fpt_)
    throw FileError(path_.string(), path_.string() + ": sem arquivo de memos");
  return fpt_->Read(block);
}

void Table::Require() const {
  if (readOnly_)
    throw Error(readOnlyReason_);
  if (eof_ && !appending_)
    throw Error(path_.string() + ": nenhum registro corrente");
}

// Keeps the record as it is on disk before the first change (old keys, old memo blocks).
void Table::Touch() {
  if (!changed_ && !appending_) {
    disk_ = record_;
  }
}

void Table::SetRaw(int index, std::string_view bytes) {
  Require();
  Touch();
  const DbfField& f = fields().at(std::size_t(index));
  if (f.isMemo())
    throw Error("o campo " + f.name + " é memo");
  if (std::string_view("CNFDLIBYT").find(f.type) == std::string_view::npos) {
    throw Error("o campo " + f.name + " (tipo " + std::string(1, f.type) +
                ") não pode ser gravado");
  }
  std::string s(bytes.substr(0, std::size_t(f.length)));
  s.resize(std::size_t(f.length), ' ');
  record_.replace(std::size_t(f.offset), std::size_t(f.length), s);
  SetFieldNull(*dbf_, f, record_, false);
  changed_ = true;
}

void Table::SetValue(int index, const Value& value) {
  const DbfField& f = fields().at(std::size_t(index));
  SetRaw(index, EncodeField(f, value));
}

void Table::SetMemo(int index, std::string_view bytes) {
  Require();
  Touch();
  const DbfField& f = fields().at(std::size_t(index));
  if (f.type != 'M')
    throw Error("o campo " + f.name + " não é memo de texto");
  pendingMemos_[index] = std::string(bytes);
  SetFieldNull(*dbf_, f, record_, false);
  changed_ = true;
}

void Table::SetDeleted(bool deleted) {
  Require();
  Touch();
  record_[0] = deleted ? '*' : ' ';
  changed_ = true;
}

void Table::Blank() {
  Require();
  Touch();
  char mark = record_[0];
  record_ = dbf_->BlankRecord();
  record_[0] = mark;
  pendingMemos_.clear();
  changed_ = true;
}

void Table::AppendStart() {
  WritePending();
  if (readOnly_)
    throw Error(readOnlyReason_);
  if (eof_)
    record_ = dbf_->BlankRecord();
  record_[0] = ' ';
  for (const DbfField& f : fields()) {
    if (f.isMemo())
      record_.replace(std::size_t(f.offset), std::size_t(f.length), EncodeMemoPointer(0, f.length));
  }
  pendingMemos_.clear();
  appending_ = true;
  changed_ = true;
}

void Table::Append() {
  if (!appending_)
    throw Error(path_.string() + ": inclusão sem início (AppendStart)");
  Commit(true);
}

void Table::WritePending() {
  if (appending_) {
    // A new record that was never appended is dropped.
    appending_ = false;
    if (recno_ >= 1 && recno_ <= dbf_->recordCount()) {
      LoadRecord(recno_);
    } else {
      SetEofState();
    }
    return;
  }
  if (changed_)
    Commit(false);
}

// Before a move: the pending record, then the index pages of every change
// since the last move (appends in a row share one write).
void Table::Settle() {
  WritePending();
  if (indexPending_) {
    indexPending_ = false;
    cdx_->Flush(false);
  }
}

// A record rewrite is one write; a kill can cut it where it crosses a page
// boundary of the file, leaving the bytes before the boundary new and the
// rest old. A memo pointer that straddles such a boundary would then read
// as neither its old nor its new value. For such a field this gives the
// test that the new memo's first block must pass: cut at the boundary, the
// pointer still names the old memo or the new one. (A new record needs no
// such care: until the header counts it, nobody reads it.)
std::function<bool(uint32_t)> Table::SurvivesACut(uint32_t recno, const DbfField& f,
                                                  const std::string& onDisk) const {
  const uint64_t at = uint64_t(dbf_->headerLength()) +
                      uint64_t(recno - 1) * uint64_t(dbf_->recordLength()) + uint64_t(f.offset);
  const uint64_t boundary = (at / kUncutBlock + 1) * kUncutBlock;
  if (boundary >= at + uint64_t(f.length))
    return nullptr;
  const std::size_t below = std::size_t(boundary - at);
  std::string old = onDisk.substr(std::size_t(f.offset), std::size_t(f.length));
  return [below, old = std::move(old), length = f.length](uint32_t block) {
    const std::string now = EncodeMemoPointer(block, length);
    const std::string cut = now.substr(0, below) + old.substr(below);
    return cut == old || cut == now;
  };
}

void Table::Commit(bool isNew) {
  if (readOnly_)
    throw Error(readOnlyReason_);
  if (isNew)
    dbf_->RefreshCount();
  uint32_t recno = isNew ? dbf_->recordCount() + 1 : recno_;
  std::string image = record_;
  if (isNew)
    dbf_->AssignAutoincrement(image);

  // Every key, old and new, before any byte is written.
  struct Change {
    std::optional<std::string> oldKey, newKey;
  };
  std::vector<Change> changes(tags_.size());
  RecordImage oldImage(*dbf_, disk_, recno), newImage(*dbf_, image, recno);
  for (std::size_t i = 0; i < tags_.size(); ++i) {
    if (!isNew)
      changes[i].oldKey = KeyOf(int(i), oldImage);
    changes[i].newKey = KeyOf(int(i), newImage);
  }
  for (std::size_t i = 0; i < tags_.size(); ++i) {
    const Change& c = changes[i];
    if (!c.newKey || (c.oldKey && *c.oldKey == *c.newKey))
      continue;
    const TagInfo& info = cdx_->tags()[i];
    bool strict = info.candidate || (info.unique && options_.rejectUniqueDuplicates);
    if (strict && cdx_->HasKey(int(i), *c.newKey)) {
      throw DuplicateKey(path_.string() + ": chave duplicada na tag " + info.name + " (" +
                         info.keyExpr + ")");
    }
  }

  // Memo blocks first, in fresh blocks, so the record never points at blocks
  // not yet written and its old memo stays whole until the record points
  // elsewhere. A memo whose text did not change keeps its blocks.
  for (auto& [index, text] : pendingMemos_) {
    const DbfField& f = fields()[std::size_t(index)];
    uint32_t old = isNew ? 0 : MemoPointer(index, disk_);
    // Reading the old text also refuses to write over a damaged pointer.
    const bool same = old == 0 ? text.empty() : fpt_->Read(old) == text;
    uint32_t block =
        same ? old : fpt_->Write(text, isNew ? nullptr : SurvivesACut(recno, f, disk_));
    image.replace(std::size_t(f.offset), std::size_t(f.length), EncodeMemoPointer(block, f.length));
  }
  if (isNew) {
    recno = dbf_->AppendRecord(image);
  } else {
    dbf_->WriteRecord(recno, image);
  }
  record_ = image;
  disk_ = image;
  recno_ = recno;
  eof_ = false;
  changed_ = false;
  appending_ = false;
  pendingMemos_.clear();

  // Index entries last.
  for (std::size_t i = 0; i < tags_.size(); ++i) {
    const Change& c = changes[i];
    bool same = c.oldKey && c.newKey && *c.oldKey == *c.newKey;
    if (same)
      continue;
    // An entry whose stored key is not the one the record gives now (an index
    // left stale by another program) is found by its record number instead.
    if (c.oldKey && !cdx_->Remove(int(i), *c.oldKey, recno))
      cdx_->RemoveRecord(int(i), recno);
    if (c.newKey)
      cdx_->Insert(int(i), *c.newKey, recno);
  }
  // Their pages go at the next move, Flush or Close, unless another program
  // reads along.
  if (cdx_ && !tags_.empty()) {
    indexPending_ = !options_.writeIndexEachRecord;
    if (options_.writeIndexEachRecord)
      cdx_->Flush(false);
  }

  // The selected tag's position follows the record.
  cursorAhead_ = false;
  if (selected_ >= 0) {
    const Change& c = changes[std::size_t(selected_)];
    if (c.newKey) {
      cursor_->SeekExact(*c.newKey, recno);
    } else if (c.oldKey) {
      cursor_->SeekExact(*c.oldKey, recno);
      cursorAhead_ = true;
    } else if (isNew) {
      cursor_->Last();
      cursor_->Next();
      cursorAhead_ = true;
    }
  }
}

void Table::Flush() {
  WritePending();
  indexPending_ = false;
  if (cdx_ && cdx_->writable()) {
    cdx_->Flush(false);
  }
}

void Table::Close() {
  if (closed_)
    return;
  closed_ = true;
  std::exception_ptr failure;
  try {
    WritePending();
  } catch (...) {
    failure = std::current_exception();
  }
  // Every file is released even when one of them fails.
  try {
    if (cdx_)
      cdx_->Close();
  } catch (...) {
    if (!failure)
      failure = std::current_exception();
  }
  try {
    if (fpt_)
      fpt_->Close();
  } catch (...) {
    if (!failure)
      failure = std::current_exception();
  }
  try {
    if (dbf_)
      dbf_->Close();
  } catch (...) {
    if (!failure)
      failure = std::current_exception();
  }
  if (failure)
    std::rethrow_exception(failure);
}

}  // namespace cau::xbase
