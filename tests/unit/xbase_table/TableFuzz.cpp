// libFuzzer target: arbitrary bytes as a table with its memo file and index.
// Opening, walking in record and tag order, reading every field and memo,
// checking, and writing to what opened for writing must end in a result or a
// cau::Error, never a crash or a hang.
//
// Input: 4-byte table length, 4-byte memo length (little-endian), then the
// table bytes, the memo bytes and the index bytes.
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "config/Errors.h"
#include "db/xbase/Check.h"
#include "db/xbase/Table.h"

namespace {

namespace fs = std::filesystem;
using namespace cau::xbase;

void Write(const fs::path& p, const uint8_t* data, size_t size) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

void ReadAll(Table& t) {
  int steps = 0;
  for (t.GoTop(); !t.Eof() && steps < 20000; t.Skip(1), ++steps) {
    for (std::size_t i = 0; i < t.fields().size(); ++i) {
      t.FieldValue(int(i));
      if (t.fields()[i].isMemo()) t.MemoText(int(i));
    }
  }
}

void Walk(Table& t) {
  t.SelectTag(-1);
  ReadAll(t);
  for (std::size_t i = 0; i < t.tags().size(); ++i) {
    t.SelectTag(int(i));
    ReadAll(t);
    t.GoBottom();
    t.Skip(-3);
  }
}

void Change(Table& t) {
  t.SelectTag(t.tags().empty() ? -1 : 0);
  t.GoTop();
  if (!t.Eof()) {
    for (std::size_t i = 0; i < t.fields().size(); ++i) {
      const DbfField& f = t.fields()[i];
      if (f.type == 'C') t.SetRaw(int(i), "fuzz");
      if (f.type == 'M') t.SetMemo(int(i), std::string(100, 'm'));
    }
    t.SetDeleted(true);
    t.Skip(1);
  }
  t.AppendBlank();
  t.Close();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 8) return 0;
  uint32_t dbfLength, fptLength;
  std::memcpy(&dbfLength, data, 4);
  std::memcpy(&fptLength, data + 4, 4);
  data += 8;
  size -= 8;
  dbfLength = size ? dbfLength % (size + 1) : 0;
  fptLength = (size - dbfLength) ? fptLength % (size - dbfLength + 1) : 0;
  static const fs::path dir = fs::temp_directory_path() / ("table-fuzz-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  Write(dir / "T.DBF", data, dbfLength);
  Write(dir / "T.FPT", data + dbfLength, fptLength);
  Write(dir / "T.CDX", data + dbfLength + fptLength, size - dbfLength - fptLength);
  try {
    auto t = Table::Open(dir / "T.DBF", Table::Options{.readOnly = true});
    Walk(*t);
  } catch (const cau::Error&) {
  }
  try {
    CheckTable(dir / "T.DBF");
  } catch (const cau::Error&) {
  }
  try {
    auto t = Table::Open(dir / "T.DBF");
    if (!t->readOnly()) Change(*t);
  } catch (const cau::Error&) {
  }
  return 0;
}
