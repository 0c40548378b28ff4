#include "db/xbase/Dbf.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <limits>

#include "config/Errors.h"

namespace cau::xbase {

namespace {

constexpr int kVfpBacklink = 263;

[[noreturn]] void Refuse(const std::string& path, const std::string& why) {
  throw FileError(path, path + ": tabela inválida: " + why);
}

char UpperAsciiChar(char c) {
  return (c >= 'a' && c <= 'z') ? char(c - 32) : c;
}

bool KnownVersion(uint8_t v) {
  return v == kDbaseIII || v == kDbaseIIIMemo || v == kFoxPro2 || v == kVfp || v == kVfpAutoinc ||
         v == kVfpVarchar;
}

// Lengths a field type may have; false when the descriptor cannot be right.
bool PlausibleLength(char type, int length, bool vfp) {
  switch (type) {
    case 'C':
      return length >= 1 && length <= 254 + (vfp ? 0 : 1);
    case 'N':
    case 'F':
      return length >= 1 && length <= 20;
    case 'D':
      return length == 8;
    case 'L':
      return length == 1;
    case 'M':
    case 'G':
      return length == 4 || length == 10;
    case 'W':
      return length == 4;
    case 'I':
      return length == 4;
    case 'B':
    case 'Y':
    case 'T':
      return length == 8;
    case 'V':
    case 'Q':
      return length >= 1 && length <= 254;
    case '0':
      return length >= 1 && length <= 32;
    default:
      return false;
  }
}

std::string_view Trim(std::string_view s) {
  std::size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\0'))
    ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\0'))
    --e;
  return s.substr(b, e - b);
}

// The usual text of a numeric field, [-]digits[.digits] with at most 15
// digits: mantissa and power of ten are exact doubles, so one division gives
// the correctly rounded value, the same as from_chars. False for anything else.
bool PlainNumber(std::string_view t, double& out) {
  static constexpr double kPow10[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                      1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
  std::size_t i = 0;
  const bool negative = !t.empty() && t[0] == '-';
  if (negative)
    ++i;
  uint64_t mantissa = 0;
  int digits = 0, decimals = -1;
  for (; i < t.size(); ++i) {
    const char c = t[i];
    if (c >= '0' && c <= '9') {
      if (++digits > 15)
        return false;
      mantissa = mantissa * 10 + uint64_t(c - '0');
      if (decimals >= 0)
        ++decimals;
    } else if (c == '.' && decimals < 0) {
      decimals = 0;
    } else {
      return false;
    }
  }
  if (digits == 0)
    return false;
  double v = double(mantissa);
  if (decimals > 0)
    v /= kPow10[decimals];
  out = negative ? -v : v;
  return true;
}

int64_t GetLe64(const char* p) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i)
    v = v << 8 | uint64_t(static_cast<unsigned char>(p[i]));
  return int64_t(v);
}

void PutLe64(char* p, uint64_t v) {
  for (int i = 0; i < 8; ++i)
    p[i] = char(v >> (8 * i));
}

}  // namespace

// ---- dates ----

int32_t JulianFromYmd(int y, int m, int d) {
  int a = (14 - m) / 12;
  int yy = y + 4800 - a;
  int mm = m + 12 * a - 3;
  return d + (153 * mm + 2) / 5 + 365 * yy + yy / 4 - yy / 100 + yy / 400 - 32045;
}

void YmdFromJulian(int32_t julian, int& y, int& m, int& d) {
  int a = julian + 32044;
  int b = (4 * a + 3) / 146097;
  int c = a - 146097 * b / 4;
  int dd = (4 * c + 3) / 1461;
  int e = c - 1461 * dd / 4;
  int mm = (5 * e + 2) / 153;
  d = e - (153 * mm + 2) / 5 + 1;
  m = mm + 3 - 12 * (mm / 10);
  y = 100 * b + dd - 4800 + mm / 10;
}

std::string FormatDate(int32_t julian) {
  if (julian <= 0)
    return std::string(8, ' ');
  int y, m, d;
  YmdFromJulian(julian, y, m, d);
  if (y < 0 || y > 9999)
    throw Error("data fora do intervalo");
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d%02d%02d", y, m, d);
  return buf;
}

static int32_t ParseDate(std::string_view s) {
  if (s.size() != 8)
    return 0;
  int digits[8];
  for (std::size_t i = 0; i < 8; ++i) {
    if (s[i] < '0' || s[i] > '9')
      return 0;
    digits[i] = s[i] - '0';
  }
  int y = digits[0] * 1000 + digits[1] * 100 + digits[2] * 10 + digits[3];
  int m = digits[4] * 10 + digits[5];
  int d = digits[6] * 10 + digits[7];
  if (m < 1 || m > 12 || d < 1 || d > 31)
    return 0;
  return JulianFromYmd(y, m, d);
}

// ---- numbers ----

std::string FormatNumeric(double value, int length, int decimals) {
  if (!std::isfinite(value))
    throw Error("número inválido");
  if (decimals < 0 || decimals >= length)
    decimals = 0;
  char buf[400];
  double scale = std::pow(10.0, decimals);
  if (std::fabs(value) < 1e300 && std::round(value * scale) == 0)
    value = 0;  // no "-0.00"
  // Always a decimal point, whatever the process's locale says.
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals);
  const auto n = std::size_t(end - buf);
  if (ec != std::errc{} || n > std::size_t(length)) {
    throw Error("o número " + std::string(buf, ec == std::errc{} ? n : 0) +
                " não cabe num campo de " + std::to_string(length) + " posições");
  }
  return std::string(std::size_t(length) - n, ' ') + std::string(buf, n);
}

// ---- field values ----

Value DecodeField(const DbfField& field, std::string_view bytes) {
  Value v;
  DecodeField(field, bytes, v);
  return v;
}

void DecodeField(const DbfField& field, std::string_view b, Value& v) {
  v.text.clear();  // keeps its buffer for the next character field
  v.number = 0;
  v.julian = 0;
  v.logical = false;
  switch (field.type) {
    case 'N':
    case 'F': {
      v.type = ValueType::Numeric;
      std::string_view t = Trim(b);
      if (!t.empty() && t[0] == '+')
        t.remove_prefix(1);
      // The leading number, locale-free; no number reads as 0.
      if (!PlainNumber(t, v.number) &&
          std::from_chars(t.data(), t.data() + t.size(), v.number).ec != std::errc{})
        v.number = 0;
      break;
    }
    case 'D':
      v.type = ValueType::Date;
      v.julian = ParseDate(b);
      break;
    case 'L':
      v.type = ValueType::Logical;
      v.logical = !b.empty() && (b[0] == 'T' || b[0] == 't' || b[0] == 'Y' || b[0] == 'y');
      break;
    case 'I':
      v.type = ValueType::Numeric;
      v.number = double(int32_t(GetLe32(b.data())));
      break;
    case 'B': {
      v.type = ValueType::Numeric;
      uint64_t bits = uint64_t(GetLe64(b.data()));
      std::memcpy(&v.number, &bits, 8);
      break;
    }
    case 'Y':
      v.type = ValueType::Numeric;
      v.number = double(GetLe64(b.data())) / 10000.0;
      break;
    case 'T': {
      v.type = ValueType::Date;
      int32_t day = int32_t(GetLe32(b.data()));
      int32_t ms = int32_t(GetLe32(b.data() + 4));
      if (day == 0x20202020 || day <= 0)
        day = 0, ms = 0;
      v.julian = day;
      v.number = double(ms);
      break;
    }
    default:
      v.type = ValueType::Character;
      v.text.assign(b);
      break;
  }
}

std::string EncodeField(const DbfField& f, const Value& v) {
  auto wrongType = [&]() -> std::string {
    throw Error("valor de tipo incompatível com o campo " + f.name);
  };
  switch (f.type) {
    case 'C': {
      if (v.type != ValueType::Character)
        wrongType();
      std::string s = v.text.substr(0, std::size_t(f.length));
      s.resize(std::size_t(f.length), ' ');
      return s;
    }
    case 'N':
    case 'F':
      if (v.type != ValueType::Numeric)
        wrongType();
      try {
        return FormatNumeric(v.number, f.length, f.decimals);
      } catch (const Error& e) {
        throw Error("campo " + f.name + ": " + e.what());
      }
    case 'D':
      if (v.type == ValueType::Date)
        return FormatDate(v.julian);
      if (v.type == ValueType::Character) {
        std::string t(Trim(v.text));
        if (t.empty())
          return std::string(8, ' ');
        if (ParseDate(t) == 0)
          throw Error("data inválida para o campo " + f.name + ": " + t);
        return t;
      }
      return wrongType();
    case 'L':
      if (v.type != ValueType::Logical)
        wrongType();
      return v.logical ? "T" : "F";
    case 'I': {
      if (v.type != ValueType::Numeric)
        wrongType();
      if (v.number != std::trunc(v.number) || v.number < -2147483648.0 || v.number > 2147483647.0) {
        throw Error("campo " + f.name + ": valor inteiro fora do intervalo");
      }
      std::string s(4, '\0');
      PutLe32(s.data(), uint32_t(int32_t(v.number)));
      return s;
    }
    case 'B': {
      if (v.type != ValueType::Numeric)
        wrongType();
      uint64_t bits;
      std::memcpy(&bits, &v.number, 8);
      std::string s(8, '\0');
      PutLe64(s.data(), bits);
      return s;
    }
    case 'Y': {
      if (v.type != ValueType::Numeric)
        wrongType();
      double scaled = std::round(v.number * 10000.0);
      if (!(std::fabs(scaled) < 9.2e18))
        throw Error("campo " + f.name + ": valor fora do intervalo");
      std::string s(8, '\0');
      PutLe64(s.data(), uint64_t(int64_t(scaled)));
      return s;
    }
    case 'T': {
      std::string s(8, '\0');
      if (v.type == ValueType::Date) {
        if (v.julian > 0) {
          PutLe32(s.data(), uint32_t(v.julian));
          PutLe32(s.data() + 4, uint32_t(int32_t(v.number)));
        }
        return s;
      }
      if (v.type != ValueType::Numeric)
        wrongType();
      if (v.number > 0) {
        double day = std::floor(v.number);
        auto ms = int32_t(std::llround((v.number - day) * 86400000.0));
        if (ms >= 86400000)
          day += 1, ms = 0;
        PutLe32(s.data(), uint32_t(int32_t(day)));
        PutLe32(s.data() + 4, uint32_t(ms));
      }
      return s;
    }
    default:
      throw Error("o campo " + f.name + " (tipo " + std::string(1, f.type) +
                  ") não pode ser gravado");
  }
}

bool FieldIsNull(const DbfFile& dbf, const DbfField& field, std::string_view record) {
  if (field.nullBit < 0 || dbf.nullFlagsField() < 0)
    return false;
  const DbfField& nf = dbf.fields()[std::size_t(dbf.nullFlagsField())];
  auto byte = static_cast<unsigned char>(record[std::size_t(nf.offset + field.nullBit / 8)]);
  return (byte >> (field.nullBit % 8)) & 1;
}

void SetFieldNull(const DbfFile& dbf, const DbfField& field, std::string& record, bool null) {
  if (field.nullBit < 0 || dbf.nullFlagsField() < 0)
    return;
  const DbfField& nf = dbf.fields()[std::size_t(dbf.nullFlagsField())];
  char& byte = record[std::size_t(nf.offset + field.nullBit / 8)];
  auto mask = char(1 << (field.nullBit % 8));
  byte = null ? char(byte | mask) : char(byte & ~mask);
}

// ---- the file ----

std::unique_ptr<DbfFile> DbfFile::Open(const std::filesystem::path& path, bool writable) {
  std::unique_ptr<DbfFile> dbf(new DbfFile);
  dbf->file_ = TableFile::Open(path, writable);
  uint64_t size = dbf->file_.Size();
  if (size < 32)
    Refuse(dbf->path(), "arquivo menor que o cabeçalho (" + std::to_string(size) + " bytes)");
  char head[32];
  dbf->file_.ReadExact(0, head, 32);
  int headerLength = GetLe16(head + 8);
  if (headerLength < 32 || uint64_t(headerLength) > size) {
    Refuse(dbf->path(), "tamanho do cabeçalho " + std::to_string(headerLength) +
                            " incompatível com o arquivo de " + std::to_string(size) + " bytes");
  }
  std::string image(std::size_t(headerLength), '\0');
  dbf->file_.ReadExact(0, image.data(), image.size());
  dbf->ParseHeader(image, size);
  return dbf;
}

void DbfFile::ParseHeader(const std::string& h, uint64_t fileSize) {
  const std::string& p = path();
  version_ = uint8_t(h[0]);
  if (!KnownVersion(version_)) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%02X", version_);
    Refuse(p, std::string("versão de tabela desconhecida ") + buf);
  }
  recordCount_ = GetLe32(h.data() + 4);
  headerLength_ = GetLe16(h.data() + 8);
  recordLength_ = GetLe16(h.data() + 10);
  tableFlags_ = uint8_t(h[28]);
  codePage_ = uint8_t(h[29]);
  if (recordLength_ < 2)
    Refuse(p, "tamanho de registro " + std::to_string(recordLength_));

  bool vfp = isVfp();
  int running = 1;
  int bit = 0;
  std::size_t pos = 32;
  bool terminated = false;
  while (pos < h.size()) {
    if (h[pos] == 0x0D) {
      terminated = true;
      break;
    }
    if (pos + 32 > h.size())
      break;
    const char* d = h.data() + pos;
    DbfField f;
    std::size_t nameLen = 0;
    while (nameLen < 11 && d[nameLen] != '\0')
      ++nameLen;
    for (std::size_t i = 0; i < nameLen; ++i)
      f.name += UpperAsciiChar(d[i]);
    f.type = UpperAsciiChar(d[11]);
    f.length = static_cast<unsigned char>(d[16]);
    f.decimals = static_cast<unsigned char>(d[17]);
    f.offset = vfp ? int(GetLe32(d + 12)) : running;
    if (vfp) {
      f.flags = uint8_t(d[18]);
      f.autoNext = int32_t(GetLe32(d + 19));
      f.autoStep = uint8_t(d[23]);
    }
    std::string label = "campo " + std::to_string(fields_.size() + 1) + " (" + f.name + ")";
    if (f.name.empty())
      Refuse(p, label + " sem nome");
    if (!PlausibleLength(f.type, f.length, vfp)) {
      Refuse(p, label + ": tipo '" + std::string(1, f.type) + "' com tamanho " +
                    std::to_string(f.length) + " não suportado");
    }
    if (f.offset < 1 || f.offset + f.length > recordLength_) {
      Refuse(p, label + " fora do registro de " + std::to_string(recordLength_) + " bytes");
    }
    if (vfp) {
      if (f.type == 'V' || f.type == 'Q')
        f.varBit = bit++;
      if ((f.flags & 0x02) && f.type != '0')
        f.nullBit = bit++;
      if (f.type == '0')
        nullFlagsField_ = int(fields_.size());
    }
    running += f.length;
    descriptorOffsets_.push_back(int(pos));
    fields_.push_back(std::move(f));
    pos += 32;
  }
  if (!terminated)
    Refuse(p, "lista de campos sem terminador");
  if (fields_.empty())
    Refuse(p, "nenhum campo");
  if (running > recordLength_) {
    Refuse(p, "os campos somam " + std::to_string(running) + " bytes, o registro tem " +
                  std::to_string(recordLength_));
  }
  if (nullFlagsField_ >= 0 && (bit + 7) / 8 > fields_[std::size_t(nullFlagsField_)].length) {
    Refuse(p, "campo _NullFlags pequeno demais");
  }
  if (nullFlagsField_ < 0 && bit > 0)
    Refuse(p, "campos anuláveis sem _NullFlags");
  uint64_t need = uint64_t(headerLength_) + uint64_t(recordCount_) * uint64_t(recordLength_);
  if (need > fileSize) {
    Refuse(p, "o cabeçalho indica " + std::to_string(recordCount_) + " registros (" +
                  std::to_string(need) + " bytes), o arquivo tem " + std::to_string(fileSize) +
                  " bytes");
  }
  cache_.Reset(uint64_t(headerLength_), uint32_t(recordLength_));
}

bool DbfFile::hasMemoFields() const {
  return std::any_of(fields_.begin(), fields_.end(), [](const DbfField& f) { return f.isMemo(); });
}

std::vector<FieldDef> DbfFile::fieldDefs() const {
  std::vector<FieldDef> out;
  out.reserve(fields_.size());
  for (const auto& f : fields_)
    out.push_back(FieldDef{f.name, f.type, f.length, f.decimals});
  return out;
}

int DbfFile::FindField(std::string_view name) const {
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    const std::string& n = fields_[i].name;
    if (n.size() != name.size())
      continue;
    bool same = true;
    for (std::size_t k = 0; k < n.size() && same; ++k)
      same = n[k] == UpperAsciiChar(name[k]);
    if (same)
      return int(i);
  }
  return -1;
}

void DbfFile::RefreshCount() {
  char buf[4];
  file_.ReadExact(4, buf, 4);
  uint32_t count = GetLe32(buf);
  if (count == recordCount_)
    return;
  uint64_t need = uint64_t(headerLength_) + uint64_t(count) * uint64_t(recordLength_);
  if (need > file_.Size()) {
    throw FileError(path(), path() + ": o cabeçalho indica " + std::to_string(count) +
                                " registros, mais do que o arquivo contém");
  }
  recordCount_ = count;
  cache_.Truncate(count);  // fewer records: what was past them is gone
}

void DbfFile::DropCache() {
  cache_.Drop();
}

void DbfFile::ReadRecord(uint32_t recno, std::string& out) const {
  if (recno < 1 || recno > recordCount_) {
    throw Error(path() + ": registro " + std::to_string(recno) + " inexistente");
  }
  const char* bytes = cache_.Record(file_, recno, recordCount_);
  if (out.size() == std::size_t(recordLength_))  // the usual case: over the previous record
    std::memcpy(out.data(), bytes, out.size());
  else
    out.assign(bytes, std::size_t(recordLength_));
}

void DbfFile::Prefetch(uint32_t recno) const {
  if (recno < 1 || recno > recordCount_)
    return;
  const char* p = cache_.Record(file_, recno, recordCount_);
  // Each cache line of the record once.
  const char* line = p - (reinterpret_cast<std::uintptr_t>(p) & 63);
  for (; line < p + recordLength_; line += 64)
    __builtin_prefetch(line);
}

void DbfFile::WriteRecord(uint32_t recno, std::string_view bytes) {
  if (recno < 1 || recno > recordCount_ || bytes.size() != std::size_t(recordLength_)) {
    throw Error(path() + ": gravação do registro " + std::to_string(recno) + " inválida");
  }
  std::size_t len = std::size_t(recordLength_);
  file_.WriteAt(uint64_t(headerLength_) + uint64_t(recno - 1) * len, bytes);
  cache_.Written(recno, bytes);
}

void DbfFile::AssignAutoincrement(std::string& bytes) {
  // Autoincrement values: the descriptor's next value moves first, so a crash
  // leaves a gap in the numbering, never a value used twice.
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    DbfField& f = fields_[i];
    if (!f.autoincrement() || f.type != 'I')
      continue;
    char d[4];
    file_.ReadExact(uint64_t(descriptorOffsets_[i] + 19), d, 4);
    int32_t next = int32_t(GetLe32(d));
    PutLe32(bytes.data() + f.offset, uint32_t(next));
    f.autoNext = int32_t(uint32_t(next) + f.autoStep);
    PutLe32(d, uint32_t(f.autoNext));
    file_.WriteAt(uint64_t(descriptorOffsets_[i] + 19), std::string_view(d, 4));
  }
}

uint32_t DbfFile::AppendRecord(std::string_view bytes) {
  if (bytes.size() != std::size_t(recordLength_))
    throw Error(path() + ": registro inválido");
  uint32_t recno = recordCount_ + 1;
  std::string out(bytes);
  out.push_back('\x1A');
  file_.WriteAt(uint64_t(headerLength_) + uint64_t(recordCount_) * uint64_t(recordLength_), out);
  recordCount_ = recno;
  cache_.Appended(recno, bytes);
  WriteHeaderDateAndCount();
  return recno;
}

void DbfFile::WriteHeaderDateAndCount() {
  std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::tm tm{};
  localtime_r(&now, &tm);
  char b[7];
  bool dbase = version_ == kDbaseIII || version_ == kDbaseIIIMemo;
  b[0] = char(dbase ? tm.tm_year : tm.tm_year % 100);
  b[1] = char(tm.tm_mon + 1);
  b[2] = char(tm.tm_mday);
  PutLe32(b + 3, recordCount_);
  file_.WriteAt(1, std::string_view(b, 7));
}

std::string DbfFile::BlankRecord() const {
  std::string r(std::size_t(recordLength_), ' ');
  for (const auto& f : fields_) {
    char fill = ' ';
    switch (f.type) {
      case 'I':
      case 'B':
      case 'Y':
      case 'T':
      case 'Q':
      case '0':
      case 'W':
        fill = '\0';
        break;
      case 'M':
      case 'G':
        fill = f.length == 4 ? '\0' : ' ';
        break;
      default:
        break;
    }
    std::fill_n(r.begin() + f.offset, f.length, fill);
  }
  return r;
}

std::unique_ptr<DbfFile> DbfFile::Create(const std::filesystem::path& path, uint8_t version,
                                         uint8_t codePage, uint8_t tableFlags,
                                         std::span<const NewField> fields) {
  const std::string p = path.string();
  if (!KnownVersion(version))
    throw FileError(p, p + ": versão de tabela não suportada");
  if (fields.empty())
    throw FileError(p, p + ": a tabela precisa de ao menos um campo");
  bool vfp = version == kVfp || version == kVfpAutoinc || version == kVfpVarchar;
  std::vector<NewField> all(fields.begin(), fields.end());
  int nullBits = 0;
  bool autoinc = false;
  for (auto& f : all) {
    for (auto& c : f.name)
      c = UpperAsciiChar(c);
    if (f.name.empty() || f.name.size() > 10)
      throw FileError(p, p + ": nome de campo inválido: " + f.name);
    f.type = UpperAsciiChar(f.type);
    if (f.type == 'M' || f.type == 'G')
      f.length = vfp ? 4 : 10;
    if (f.type == 'D' || f.type == 'T' || f.type == 'B' || f.type == 'Y')
      f.length = 8;
    if (f.type == 'L')
      f.length = 1;
    if (f.type == 'I')
      f.length = 4;
    if (f.type == 'Y')
      f.decimals = 4;
    bool allowed =
        std::string_view(vfp ? "CNFDLMIBYTG" : "CNFDLM").find(f.type) != std::string_view::npos;
    if (!allowed || !PlausibleLength(f.type, f.length, vfp) ||
        ((f.type == 'N' || f.type == 'F') && f.decimals > 0 && f.decimals > f.length - 2)) {
      throw FileError(p, p + ": campo " + f.name + " (" + std::string(1, f.type) + " " +
                             std::to_string(f.length) + ") não pode ser criado nesta versão");
    }
    if ((f.nullable || f.autoincrement) && !vfp) {
      throw FileError(p, p + ": campo " + f.name + ": opção exclusiva de tabelas VFP");
    }
    if (f.autoincrement && f.type != 'I')
      throw FileError(p, p + ": autoincremento só em campo I");
    if (f.nullable)
      ++nullBits;
    autoinc = autoinc || f.autoincrement;
  }
  if (vfp && autoinc && version == kVfp)
    version = kVfpAutoinc;
  if (nullBits > 0)
    all.push_back(NewField{"_NullFlags", '0', (nullBits + 7) / 8, 0, false, false});

  int recordLength = 1;
  for (const auto& f : all)
    recordLength += f.length;
  if (recordLength > 65535)
    throw FileError(p, p + ": registro grande demais");
  int headerLength = 32 + 32 * int(all.size()) + 1 + (vfp ? kVfpBacklink : 0);
  std::string h(std::size_t(headerLength), '\0');
  h[0] = char(version);
  PutLe16(h.data() + 8, uint16_t(headerLength));
  PutLe16(h.data() + 10, uint16_t(recordLength));
  h[28] = char(tableFlags);
  h[29] = char(codePage);
  int offset = 1;
  for (std::size_t i = 0; i < all.size(); ++i) {
    const auto& f = all[i];
    char* d = h.data() + 32 + 32 * i;
    std::memcpy(d, f.name.data(), std::min<std::size_t>(f.name.size(), 10));
    d[11] = f.type;
    if (vfp)
      PutLe32(d + 12, uint32_t(offset));
    d[16] = char(f.length);
    d[17] = char(f.decimals);
    if (vfp) {
      uint8_t flags = 0;
      if (f.type == 'I' || f.type == 'T' || f.type == 'Y' || f.type == 'B')
        flags |= 0x04;
      if (f.nullable)
        flags |= 0x02;
      if (f.autoincrement) {
        flags |= 0x0C;
        PutLe32(d + 19, 1);
        d[23] = 1;
      }
      if (f.type == '0')
        flags = 0x05;
      d[18] = char(flags);
    }
    offset += f.length;
  }
  h[std::size_t(32 + 32 * all.size())] = 0x0D;
  {
    TableFile out = TableFile::Create(path);
    out.WriteAt(0, h + "\x1A");
    out.Sync();
    out.Close();
  }
  auto dbf = Open(path, true);
  dbf->WriteHeaderDateAndCount();
  return dbf;
}

void DbfFile::SetTableFlags(uint8_t flags) {
  char b = char(flags);
  file_.WriteAt(28, std::string_view(&b, 1));
  tableFlags_ = flags;
}

void DbfFile::Sync() {
  file_.Sync();
}

void DbfFile::Close() {
  if (file_.isOpen()) {
    Sync();
    file_.Close();
  }
}

}  // namespace cau::xbase
