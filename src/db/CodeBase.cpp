#include "db/CodeBase.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>

#include "config/Cp1252.h"
#include "config/Errors.h"
#include "db/xbase/CdxKey.h"
#include "db/xbase/Table.h"
#include "db/xbase/TableFile.h"

namespace cau::db {

using xbase::Table;

class Field4 {
 public:
  Field4(Data4& table, int index) : table(table), index(index) {}
  Data4& table;
  int index;
};

class Tag4 {
 public:
  explicit Tag4(int index) : index(index) {}
  int index;
};

class Data4 {
 public:
  Data4(Code4& engine, std::unique_ptr<Table> table) : engine(engine), table(std::move(table)) {}
  Code4& engine;
  std::unique_ptr<Table> table;
  std::map<int, std::unique_ptr<Field4>> fields;
  std::map<int, std::unique_ptr<Tag4>> tags;
};

class Code4 {
 public:
  int errUnique = e4unique;
  int errFieldName = 1;
  int errorCode = 0;
  std::string errorText;
  std::vector<std::unique_ptr<Data4>> tables;

  int Fail(int code, std::string text) {
    errorCode = code;
    errorText = std::move(text);
    return code;
  }
};

namespace {

// Runs `op` on the engine of `table`, turning exceptions into error codes.
template <typename Op>
int Guard(Data4* table, int failCode, Op&& op) {
  if (!table)
    return e4data;
  try {
    return op(*table->table);
  } catch (const xbase::DuplicateKey& e) {
    return table->engine.Fail(e4unique, e.what());
  } catch (const FileError& e) {
    return table->engine.Fail(e4data, e.what());
  } catch (const Error& e) {
    int code = failCode;
    if (table->table->readOnly())
      code = e4readOnly;
    return table->engine.Fail(code, e.what());
  } catch (const std::exception& e) {
    return table->engine.Fail(e4write, e.what());
  }
}

std::string Trimmed(std::string_view s) {
  std::size_t b = 0, e = s.size();
  while (b < e && s[b] == ' ')
    ++b;
  while (e > b && s[e - 1] == ' ')
    --e;
  return std::string(s.substr(b, e - b));
}

// A number as tables hold it ("-12.50", "1e3"), whatever locale a front end
// has set: a decimal comma never applies.
bool ParseNumber(const std::string& s, double& out) {
  const char* begin = s.data() + (s[0] == '+' && s.size() > 1 && s[1] != '-' ? 1 : 0);
  const char* end = s.data() + s.size();
  const auto [ptr, ec] = std::from_chars(begin, end, out, std::chars_format::general);
  return ec == std::errc() && ptr == end && std::isfinite(out);
}

}  // namespace

void Code4Deleter::operator()(Code4* engine) const {
  delete engine;
}

// The handle owns the engine; released by code4initUndo or when it goes out of scope.
Code4Handle code4initP() {
  return Code4Handle(new Code4);
}

int code4initUndo(Code4Handle& engine) {
  if (!engine)
    return r4success;
  int result = r4success;
  while (!engine->tables.empty()) {
    int r = d4close(engine->tables.back().get());
    if (r < 0)
      result = r;
  }
  engine.reset();
  return result;
}

int code4errDefaultUnique(Code4& engine, int setting) {
  int old = engine.errUnique;
  engine.errUnique = setting;
  return old;
}

int code4errFieldName(Code4& engine, int setting) {
  int old = engine.errFieldName;
  engine.errFieldName = setting;
  return old;
}

int code4errorCode(const Code4& engine) {
  return engine.errorCode;
}
const std::string& code4errorText(const Code4& engine) {
  return engine.errorText;
}
void code4errorClear(Code4& engine) {
  engine.errorCode = 0;
  engine.errorText.clear();
}

Data4* d4open(Code4& engine, std::string_view path) {
  std::filesystem::path p{std::string(path)};
  try {
    Table::Options options;
    options.rejectUniqueDuplicates = engine.errUnique != r4uniqueContinue && engine.errUnique != 0;
    auto table = Table::Open(p, options);
    engine.tables.push_back(std::make_unique<Data4>(engine, std::move(table)));
    engine.errorCode = 0;
    engine.errorText.clear();
    return engine.tables.back().get();
  } catch (const std::exception& e) {
    std::error_code ec;
    bool missing = xbase::FindFileNoCase(p.parent_path(), p.filename().string()).empty();
    engine.Fail(missing ? e4open : e4data, e.what());
    return nullptr;
  }
}

bool d4readOnly(const Data4* table) {
  return table && table->table->readOnly();
}

std::string d4readOnlyReason(const Data4* table) {
  return table ? table->table->readOnlyReason() : std::string();
}

int d4close(Data4* table) {
  if (!table)
    return r4success;
  Code4& engine = table->engine;
  int result = Guard(table, e4write, [](Table& t) {
    t.Close();
    return r4success;
  });
  for (auto it = engine.tables.begin(); it != engine.tables.end(); ++it) {
    if (it->get() == table) {
      engine.tables.erase(it);
      break;
    }
  }
  return result;
}

Tag4* d4tag(Data4* table, std::string_view name) {
  if (!table)
    return nullptr;
  int index = table->table->FindTag(name);
  if (index < 0) {
    table->engine.Fail(
        e4data, table->table->path().string() + ": tag " + std::string(name) + " não encontrada");
    return nullptr;
  }
  auto& slot = table->tags[index];
  if (!slot)
    slot = std::make_unique<Tag4>(index);
  return slot.get();
}

int d4tagSelectP(Data4* table, Tag4* tag) {
  return Guard(table, e4data, [&](Table& t) {
    t.SelectTag(tag ? tag->index : -1);
    return r4success;
  });
}

int d4goBof(Data4* table) {
  return Guard(table, e4data, [](Table& t) {
    t.GoTop();
    return t.Eof() ? r4eof : r4success;
  });
}

int d4skip(Data4* table, long n) {
  return Guard(table, e4data, [&](Table& t) {
    t.Skip(n);
    if (t.Eof())
      return r4eof;
    return t.Bof() ? r4bof : r4success;
  });
}

int d4eof(Data4* table) {
  if (!table)
    return e4data;
  return table->table->Eof() ? 1 : 0;
}

long d4recCountDo(Data4* table) {
  if (!table)
    return e4data;
  return long(table->table->RecordCount());
}

long d4recNo(Data4* table) {
  if (!table)
    return e4data;
  return long(table->table->RecNo());
}

int d4go(Data4* table, long recno) {
  return Guard(table, e4data, [&](Table& t) {
    t.Go(recno < 1 ? 0 : uint32_t(recno));
    return t.Eof() ? r4eof : r4success;
  });
}

std::string_view d4record(Data4* table) {
  return table ? table->table->RawRecord() : std::string_view();
}

bool d4readRecord(Data4* table, long recno, std::string& bytes) {
  if (!table || recno < 1 || recno > long(table->table->RecordCount()))
    return false;
  return Guard(table, e4data, [&](Table& t) {
           t.dbf().ReadRecord(uint32_t(recno), bytes);
           return r4success;
         }) == r4success;
}

long d4readRecords(Data4* table, long from,
                   const std::function<void(long recno, std::string_view bytes)>& visit) {
  if (!table)
    return e4data;
  from = std::max(from, 1L);
  long last = from - 1;
  int result = Guard(table, e4data, [&](Table& t) {
    const xbase::DbfFile& dbf = t.dbf();
    const std::size_t length = std::size_t(dbf.recordLength());
    const long count = long(dbf.recordCount());
    // A handle of our own: the table's read cache stays as it is.
    xbase::TableFile file = xbase::TableFile::Open(t.path(), false);
    const long perBlock = std::max(1L, long((1u << 20) / length));
    std::string block;
    for (long first = from; first <= count; first += perBlock) {
      long n = std::min(perBlock, count - first + 1);
      block.resize(std::size_t(n) * length);
      file.ReadExact(uint64_t(dbf.headerLength()) + uint64_t(first - 1) * length, block.data(),
                     block.size());
      for (long i = 0; i < n; ++i)
        visit(first + i, std::string_view(block).substr(std::size_t(i) * length, length));
      last = first + n - 1;
    }
    return r4success;
  });
  return result < 0 ? result : last;
}

std::vector<long> d4tagOrder(Data4* table, std::vector<long> records) {
  if (!table)
    return {};
  Table& t = *table->table;
  const int tag = t.selectedTag();
  if (tag < 0 || !t.cdx()) {
    std::sort(records.begin(), records.end());
    records.erase(std::unique(records.begin(), records.end()), records.end());
    return records;
  }
  struct Entry {
    std::string key;
    long recno;
  };
  std::vector<Entry> held;
  std::string bytes;
  for (long recno : records) {
    if (!d4readRecord(table, recno, bytes))
      continue;
    std::optional<std::string> key;
    try {
      key = t.KeyOf(tag, xbase::RecordImage(t.dbf(), bytes, uint32_t(recno)));
    } catch (const std::exception& e) {
      table->engine.Fail(e4data, e.what());
      continue;
    }
    if (!key)
      continue;  // left out by the FOR clause
    // The entry itself: a unique tag holds one record per key.
    xbase::CdxFile::Cursor cursor = t.cdx()->OpenCursor(tag);
    if (!cursor.SeekExact(*key, uint32_t(recno)) || cursor.RecNo() != uint32_t(recno) ||
        cursor.Key() != *key)
      continue;
    held.push_back({std::move(*key), recno});
  }
  std::sort(held.begin(), held.end(), [](const Entry& a, const Entry& b) {
    int c = xbase::CompareKeys(a.key, b.key);
    return c != 0 ? c < 0 : a.recno < b.recno;
  });
  held.erase(std::unique(held.begin(), held.end(),
                         [](const Entry& a, const Entry& b) { return a.recno == b.recno; }),
             held.end());
  if (t.cdx()->tags()[std::size_t(tag)].descending)
    std::reverse(held.begin(), held.end());
  std::vector<long> order;
  order.reserve(held.size());
  for (const Entry& e : held)
    order.push_back(e.recno);
  return order;
}

int d4tagRecords(Data4* table, std::vector<long>& records) {
  records.clear();
  return Guard(table, e4data, [&](Table& t) {
    const long count = long(t.RecordCount());
    const int tag = t.selectedTag();
    if (tag < 0 || !t.cdx()) {
      records.reserve(std::size_t(count));
      for (long recno = 1; recno <= count; ++recno)
        records.push_back(recno);
      return r4success;
    }
    records.reserve(std::size_t(count));
    xbase::CdxFile::Cursor cursor = t.cdx()->OpenCursor(tag);
    for (bool ok = cursor.First(); ok; ok = cursor.Next()) {
      const long recno = long(cursor.RecNo());
      if (recno < 1 || recno > count) {
        const std::string where = t.cdx()->path().string();
        throw FileError(where, where + ": a tag " + t.tags()[std::size_t(tag)].name +
                                   " aponta para o registro " + std::to_string(recno) +
                                   ", a tabela tem " + std::to_string(count));
      }
      records.push_back(recno);
    }
    return r4success;
  });
}

Field4* d4field(Data4* table, std::string_view name) {
  if (!table)
    return nullptr;
  int index = table->table->FieldIndex(name);
  if (index < 0 || table->table->fields()[std::size_t(index)].type == '0') {
    if (table->engine.errFieldName != 0) {
      table->engine.Fail(e4fieldName, table->table->path().string() + ": campo " +
                                          std::string(name) + " não existe");
    }
    return nullptr;
  }
  auto& slot = table->fields[index];
  if (!slot)
    slot = std::make_unique<Field4>(*table, index);
  return slot.get();
}

char f4type(Field4* field) {
  return field ? field->table.table->fields()[std::size_t(field->index)].type : '\0';
}

long f4intOf(Field4* field, std::string_view record) {
  if (!field)
    return 0;
  Table& t = *field->table.table;
  const auto& f = t.fields()[std::size_t(field->index)];
  xbase::Value v = xbase::RecordImage(t.dbf(), record, 0).Field(field->index);
  if (v.type == xbase::ValueType::Numeric)
    return long(v.number);
  if (f.type == 'C')
    return std::strtol(Trimmed(v.text).c_str(), nullptr, 10);
  return 0;
}

long f4int(Field4* field) {
  return field ? f4intOf(field, field->table.table->RawRecord()) : 0;
}

int f4assignInt(Field4* field, long value) {
  if (!field)
    return e4fieldName;
  return Guard(&field->table, e4value, [&](Table& t) {
    const auto& f = t.fields()[std::size_t(field->index)];
    if (f.type == 'C') {
      std::string digits = std::to_string(value);
      if (digits.size() > std::size_t(f.length)) {
        throw Error("campo " + f.name + ": o número " + digits + " não cabe");
      }
      t.SetRaw(field->index, std::string(std::size_t(f.length) - digits.size(), ' ') + digits);
    } else {
      xbase::Value v;
      v.type = xbase::ValueType::Numeric;
      v.number = double(value);
      t.SetValue(field->index, v);
    }
    return r4success;
  });
}

std::string_view f4rawOf(Field4* field, std::string_view record) {
  if (!field)
    return {};
  const auto& f = field->table.table->fields()[std::size_t(field->index)];
  return record.substr(std::size_t(f.offset), std::size_t(f.length));
}

std::string f4strOf(Field4* field, std::string_view record) {
  return field ? text::FromCp1252(f4rawOf(field, record)) : std::string();
}

std::string f4str(Field4* field) {
  return field ? f4strOf(field, field->table.table->RawRecord()) : std::string();
}

int f4assign(Field4* field, std::string_view value) {
  if (!field)
    return e4fieldName;
  return Guard(&field->table, e4value, [&](Table& t) {
    const auto& f = t.fields()[std::size_t(field->index)];
    std::string bytes = text::ToCp1252(text::LeftChars(value, std::size_t(f.length)));
    switch (f.type) {
      case 'C':
      case 'D':
      case 'L':
        t.SetRaw(field->index, bytes);
        break;
      case 'N':
      case 'F': {
        std::string s = Trimmed(bytes);
        if (s.empty()) {
          t.SetRaw(field->index, "");
          break;
        }
        xbase::Value v;
        v.type = xbase::ValueType::Numeric;
        if (!ParseNumber(s, v.number))
          throw Error("campo " + f.name + ": número inválido: " + s);
        t.SetValue(field->index, v);
        break;
      }
      default:
        throw Error("campo " + f.name + ": texto não pode ser gravado num campo do tipo " +
                    std::string(1, f.type));
    }
    return r4success;
  });
}

int f4true(Field4* field) {
  if (!field)
    return 0;
  xbase::Value v = field->table.table->FieldValue(field->index);
  return v.type == xbase::ValueType::Logical && v.logical ? 1 : 0;
}

int f4assignChar(Field4* field, char32_t character) {
  if (!field)
    return e4fieldName;
  return Guard(&field->table, e4value, [&](Table& t) {
    auto byte = text::Cp1252Byte(character);
    if (!byte)
      throw Error("caractere fora da página de código 1252");
    t.SetRaw(field->index, std::string(1, char(*byte)));
    return r4success;
  });
}

std::string f4memoStr(Field4* field) {
  if (!field)
    return {};
  try {
    return text::FromCp1252(field->table.table->MemoText(field->index));
  } catch (const std::exception& e) {
    field->table.engine.Fail(e4data, e.what());
    return {};
  }
}

int f4memoAssign(Field4* field, std::string_view value) {
  if (!field)
    return e4fieldName;
  return Guard(&field->table, e4value, [&](Table& t) {
    t.SetMemo(field->index, text::ToCp1252(value));
    return r4success;
  });
}

int d4appendStart(Data4* table, int useMemoEntries) {
  return Guard(table, e4write, [&](Table& t) {
    std::map<int, std::string> memos;
    if (useMemoEntries && !t.Eof()) {
      for (std::size_t i = 0; i < t.fields().size(); ++i) {
        if (t.fields()[i].type == 'M')
          memos[int(i)] = t.MemoText(int(i));
      }
    }
    t.AppendStart();
    for (auto& [index, text] : memos)
      t.SetMemo(index, text);
    return r4success;
  });
}

int d4blank(Data4* table) {
  return Guard(table, e4write, [](Table& t) {
    t.Blank();
    return r4success;
  });
}

int d4append(Data4* table) {
  return Guard(table, e4write, [](Table& t) {
    t.Append();
    return r4success;
  });
}

int d4delete(Data4* table) {
  return Guard(table, e4write, [](Table& t) {
    t.SetDeleted(true);
    return r4success;
  });
}

int d4flush(Data4* table) {
  return Guard(table, e4write, [](Table& t) {
    t.Flush();
    return r4success;
  });
}

}  // namespace cau::db
