// A .DBF table file: header, field descriptors and fixed-length records.
// Opening validates everything it reads and never writes; writes follow the
// crash-harmless order (record bytes first, then the header's count).
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "db/xbase/RecordCache.h"
#include "db/xbase/TableFile.h"
#include "db/xbase/Value.h"

namespace cau::xbase {

// Version bytes the engine knows.
inline constexpr uint8_t kDbaseIII = 0x03;
inline constexpr uint8_t kDbaseIIIMemo = 0x83;
inline constexpr uint8_t kFoxPro2 = 0xF5;
inline constexpr uint8_t kVfp = 0x30;
inline constexpr uint8_t kVfpAutoinc = 0x31;
inline constexpr uint8_t kVfpVarchar = 0x32;

// Table flags (header offset 28).
inline constexpr uint8_t kFlagStructuralCdx = 0x01;
inline constexpr uint8_t kFlagMemo = 0x02;

struct DbfField {
  std::string name;  // upper case, as stored
  char type = 'C';
  int offset = 0;  // inside the record; byte 0 is the deletion mark
  int length = 0;
  int decimals = 0;
  uint8_t flags = 0;     // VFP field flags
  int nullBit = -1;      // bit in _NullFlags marking NULL, -1 when not nullable
  int varBit = -1;       // bit in _NullFlags of a V/Q field's length marker
  int32_t autoNext = 0;  // autoincrement: next value
  uint8_t autoStep = 0;  // autoincrement: step (0 = not autoincrement)

  bool nullable() const { return nullBit >= 0; }
  bool autoincrement() const { return autoStep != 0 && (flags & 0x08); }
  bool isMemo() const { return type == 'M' || type == 'G' || type == 'W'; }
};

class DbfFile {
 public:
  // Validates header, descriptors and size; throws FileError with a clear
  // message and writes nothing.
  static std::unique_ptr<DbfFile> Open(const std::filesystem::path& path, bool writable);

  struct NewField {
    std::string name;
    char type = 'C';
    int length = 0;
    int decimals = 0;
    bool nullable = false;
    bool autoincrement = false;
  };
  // Writes a new empty table; throws FileError for a field the version cannot hold.
  static std::unique_ptr<DbfFile> Create(const std::filesystem::path& path, uint8_t version,
                                         uint8_t codePage, uint8_t tableFlags,
                                         std::span<const NewField> fields);

  const std::string& path() const { return file_.path(); }
  bool writable() const { return file_.writable(); }
  uint8_t version() const { return version_; }
  bool isVfp() const {
    return version_ == kVfp || version_ == kVfpAutoinc || version_ == kVfpVarchar;
  }
  uint8_t codePage() const { return codePage_; }
  uint8_t tableFlags() const { return tableFlags_; }
  bool hasMemoFields() const;
  int headerLength() const { return headerLength_; }
  int recordLength() const { return recordLength_; }
  uint32_t recordCount() const { return recordCount_; }
  const std::vector<DbfField>& fields() const { return fields_; }
  std::vector<FieldDef> fieldDefs() const;  // the visible fields, for expressions
  // Index of the field named `name` (case-insensitive), -1 when none. System
  // fields (_NullFlags) are included; their names start with '_'.
  int FindField(std::string_view name) const;
  // The record in which field `nullFlags` lives, -1 when the table has none.
  int nullFlagsField() const { return nullFlagsField_; }

  // Re-reads the record count from the header (another program may have appended).
  void RefreshCount();
  // Drops cached record bytes.
  void DropCache();

  // Reads record `recno` (1-based) into `out` (recordLength bytes).
  void ReadRecord(uint32_t recno, std::string& out) const;
  // Record `recno` will be read soon (a walk in tag order knows the records
  // ahead): its block is read now and its bytes brought towards the processor.
  void Prefetch(uint32_t recno) const;
  void WriteRecord(uint32_t recno, std::string_view bytes);
  // Gives the autoincrement fields of a new record their values and moves
  // the descriptors' next values on (written at once).
  void AssignAutoincrement(std::string& bytes);
  // Appends a record after the last one the header counts: record bytes and
  // end-of-file mark first, then header date and count.
  uint32_t AppendRecord(std::string_view bytes);
  // A record with every field blank (and _NullFlags clear).
  std::string BlankRecord() const;

  void SetTableFlags(uint8_t flags);

  void Sync();
  void Close();

 private:
  DbfFile() = default;
  void ParseHeader(const std::string& image, uint64_t fileSize);
  void WriteHeaderDateAndCount();

  TableFile file_;
  uint8_t version_ = 0;
  uint8_t codePage_ = 0;
  uint8_t tableFlags_ = 0;
  int headerLength_ = 0;
  int recordLength_ = 0;
  uint32_t recordCount_ = 0;
  int nullFlagsField_ = -1;
  std::vector<DbfField> fields_;
  std::vector<int> descriptorOffsets_;  // header offset of each field's descriptor

  mutable RecordCache cache_;  // records read so far, kept in step with writes
};

// Field bytes <-> values. Character bytes stay raw Windows-1252.
Value DecodeField(const DbfField& field, std::string_view bytes);
// The same into `out`, whose text buffer is reused: no allocation once it is large enough.
void DecodeField(const DbfField& field, std::string_view bytes, Value& out);
bool FieldIsNull(const DbfFile& dbf, const DbfField& field, std::string_view record);
void SetFieldNull(const DbfFile& dbf, const DbfField& field, std::string& record, bool null);

// Numeric text of `value` for an N/F field; throws cau::Error when the
// integer part does not fit (never a field of asterisks).
std::string FormatNumeric(double value, int length, int decimals);
// Date text YYYYMMDD of a Julian day, 8 blanks for 0.
std::string FormatDate(int32_t julian);
int32_t JulianFromYmd(int y, int m, int d);
void YmdFromJulian(int32_t julian, int& y, int& m, int& d);

// Encodes `value` into a field's bytes (C padded/cut, N/F formatted, D, L,
// I, B, Y; T from Numeric julian.fraction). Throws cau::Error when it cannot.
std::string EncodeField(const DbfField& field, const Value& value);

}  // namespace cau::xbase
