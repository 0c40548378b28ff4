#include "db/processoCauDao.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "config/Cp1252.h"
#include "config/Utils.h"

namespace cau::db {
namespace {

std::string Ymd(const LocalTime& t) {
  char s[16];
  std::snprintf(s, sizeof s, "%04d%02d%02d", t.year % 10000, t.month % 100, t.day % 100);
  return s;
}

std::string Hm(const LocalTime& t) {
  char s[8];
  std::snprintf(s, sizeof s, "%02d:%02d", t.hour % 100, t.minute % 100);
  return s;
}

std::string DmyHm(const LocalTime& t) {
  char s[24];
  std::snprintf(s, sizeof s, "%02d/%02d/%04d - %02d:%02d", t.day % 100, t.month % 100,
                t.year % 10000, t.hour % 100, t.minute % 100);
  return s;
}

// Characters `from` (1-based) to `from + count - 1`, as many as there are.
std::string Part(std::string_view s, std::size_t from, std::size_t count) {
  if (from < 1 || from > s.size())
    return {};
  return std::string(s.substr(from - 1, count));
}

std::vector<std::string> SplitCrLf(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find("\r\n", pos);
    if (end == std::string_view::npos)
      end = text.size();
    lines.emplace_back(text.substr(pos, end - pos));
    pos = end + 2;
  }
  return lines;
}

bool SameText(std::string_view a, std::string_view b) {
  return text::UpperCp1252(a) == text::UpperCp1252(b);
}

// Blanks and control characters off both ends, as Trim does on the decoded
// text (they are the same bytes in Windows-1252 and UTF-8).
std::string_view TrimBytes(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ')
    s.remove_prefix(1);
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ')
    s.remove_suffix(1);
  return s;
}

// A number stored as blanks, an optional minus and at most nine digits, the
// way the host writes its codes; false for anything else, which the engine
// then reads.
bool PlainInt(std::string_view raw, long& value) {
  std::size_t i = 0;
  while (i < raw.size() && raw[i] == ' ')
    ++i;
  const bool negative = i < raw.size() && raw[i] == '-';
  if (negative)
    ++i;
  if (i == raw.size() || raw.size() - i > 9)
    return false;
  long v = 0;
  for (; i < raw.size(); ++i) {
    if (raw[i] < '0' || raw[i] > '9')
      return false;
    v = v * 10 + (raw[i] - '0');
  }
  value = negative ? -v : v;
  return true;
}

std::string OneLine(std::string_view text) {
  std::string s(text);
  std::replace_if(
      s.begin(), s.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
  return s;
}

}  // namespace

TProcessoDao::TProcessoDao(std::string_view hostFolder, const Clock& clock,
                           std::string_view defaultDir)
    : TcbCau(hostFolder, defaultDir), clock_(clock), cases_([this](std::string_view record) {
        return CaseHashOfRecord(CodTribOf(record), f4rawOf(fChaveProc_, record));
      }) {
  OpenTable();
  fCodTrib_ = FieldOf("CODTRIB");
  fCodPasta_ = FieldOf("CODPASTA");
  fChaveProc_ = FieldOf("CHAVEPROC");
  fEstadoPush_ = FieldOf("ESTADOPUSH");
  fSuspenso_ = FieldOf("SUSPENSO");
  codTribType_ = f4type(fCodTrib_);
  suspensoType_ = f4type(fSuspenso_);
}

void TProcessoDao::LoadRecord() {
  codPasta_ = int32_t(f4int(fCodPasta_));
  codTrib_ = int32_t(f4int(fCodTrib_));
  chaveProc_ = Trim(f4str(fChaveProc_));
  estadoPush_ = Trim(f4str(fEstadoPush_));
  suspenso_ = f4true(fSuspenso_) > 0;
}

void TProcessoDao::ClearProperties() {
  codPasta_ = codTrib_ = 0;
  chaveProc_.clear();
  estadoPush_.clear();
  suspenso_ = false;
}

std::string TProcessoDao::RecordKey() const {
  return db::RecordKey(codPasta_, codTrib_, chaveProc_);
}

bool TProcessoDao::LacksEstadoPush() {
  Require();
  Check(d4goBof(Table()));
  return FieldOf("ESTADOPUSH") == nullptr;
}

void TProcessoDao::SetEstadoPush(std::string_view code) {
  Check(Put("ESTADOPUSH", code));
}

void TProcessoDao::SetMsgErro(std::string_view message) {
  std::vector<std::string> lines = SplitCrLf(Memo("OUTROS"));
  std::string header = "chave= " + RecordKey() + "&Outros";
  if (std::none_of(lines.begin(), lines.end(),
                   [&](const std::string& l) { return SameText(l, header); }))
    lines.insert(lines.begin(), header);
  std::string line = "MsgErro=";
  if (!message.empty())
    line += DmyHm(clock_.NowLocal()) + " -[PUSH]- " + OneLine(message);
  auto old = std::find_if(lines.begin(), lines.end(), [](const std::string& l) {
    std::size_t eq = l.find('=');
    return eq != std::string::npos && SameText(std::string_view(l).substr(0, eq), "MsgErro");
  });
  if (old != lines.end())
    *old = line;
  else
    lines.push_back(line);
  std::string text;
  for (const std::string& l : lines)
    text += l + "\r\n";
  Check(PutMemo("OUTROS", text));
}

void TProcessoDao::FieldWritten(std::string_view field) {
  const long recno = d4recNo(Table());
  if (field == "CODTRIB" || field == "CHAVEPROC")
    cases_.Touch(recno);
  if (!rowsHeld_)
    return;
  if (field == "ESTADOPUSH" && recno >= 1 && recno <= long(rows_.size())) {
    KeepState(rows_[std::size_t(recno - 1)], TrimBytes(f4rawOf(fEstadoPush_, RawRecord())));
  } else if (f4type(FieldOf(field)) != 'M') {
    rowsHeld_ = false;  // a field the rows hold, or one the tag's order may read
  }
}

long TProcessoDao::CodTribOf(std::string_view record) const {
  long code = 0;
  const bool text = codTribType_ == 'N' || codTribType_ == 'F' || codTribType_ == 'C';
  if (!text || !PlainInt(f4rawOf(fCodTrib_, record), code))
    code = f4intOf(fCodTrib_, record);
  return code;
}

TProcessoDao::CaseRow TProcessoDao::RowOf(std::string_view record) const {
  CaseRow row;
  row.codTrib = int32_t(CodTribOf(record));
  row.number = TrimBytes(f4rawOf(fChaveProc_, record));
  const std::string_view state = TrimBytes(f4rawOf(fEstadoPush_, record));
  row.state = state.size() > 1 ? std::string_view("**") : state;
  const std::string_view suspenso = f4rawOf(fSuspenso_, record);
  row.suspended = suspensoType_ == 'L' && !suspenso.empty() &&
                  std::string_view("TtYy").find(suspenso.front()) != std::string_view::npos;
  return row;
}

void TProcessoDao::KeepState(Row& row, std::string_view state) {
  row.stateSize = uint8_t(std::min<std::size_t>(state.size(), 2));
  row.state = state.empty() ? '\0' : state.front();
}

void TProcessoDao::ReadRows() {
  rowsHeld_ = false;
  Data4* t = Table();
  rows_.clear();
  numbers_.clear();
  rows_.reserve(std::size_t(std::max(0L, d4recCountDo(t))));
  cases_.Rebuild(t, [&](long recno, std::string_view record) {
    const CaseRow seen = RowOf(record);
    Row row;
    row.codTrib = seen.codTrib;
    row.numberAt = uint32_t(numbers_.size());
    row.numberSize = uint16_t(seen.number.size());
    numbers_.append(seen.number);
    KeepState(row, seen.state);
    row.suspended = seen.suspended;
    rows_.resize(std::size_t(recno - 1));  // records come in order; no gap is left
    rows_.push_back(row);
    return CaseHashOfRecord(CodTribOf(record), seen.number);
  });
  Check(d4tagRecords(t, order_));
  rowsHeld_ = true;
}

void TProcessoDao::ScanCases(bool fresh, const CaseVisit& visit) {
  Require();
  Data4* t = Table();
  Check(d4goBof(t));  // writes a pending change and reads the record count again
  if (WalkingLookups()) {
    for (LoadRecord(); !Eof(); Next()) {
      CaseRow row = RowOf(RawRecord());
      row.recno = RecNo();
      visit(row);
    }
    return;
  }
  if (fresh || !rowsHeld_ || long(rows_.size()) != d4recCountDo(t))
    ReadRows();
  const std::string_view numbers = numbers_;
  for (const long recno : order_) {
    const Row& kept = rows_[std::size_t(recno - 1)];
    CaseRow row;
    row.recno = recno;
    row.codTrib = kept.codTrib;
    row.number = numbers.substr(kept.numberAt, kept.numberSize);
    row.state = kept.stateSize == 0   ? std::string_view()
                : kept.stateSize == 1 ? std::string_view(&kept.state, 1)
                                      : std::string_view("**");
    row.suspended = kept.suspended;
    visit(row);
  }
  Check(d4go(t, 0));
  LoadRecord();
}

void TProcessoDao::Go(long recno) {
  Require();
  // The engine keeps the blocks of records it reads until the next move to
  // the top: without one now and then, the jumps of a scan's writes across
  // a large table would keep most of the table in memory.
  if (++jumps_ % kJumpsPerTop == 0)
    Check(d4goBof(Table()));
  Check(d4go(Table(), recno));
  LoadRecord();
}

bool TProcessoDao::Matches(std::string_view record, int32_t codTrib, std::string_view chaveProc,
                           bool skipUnregistering) const {
  return f4intOf(fCodTrib_, record) == codTrib && Trim(f4strOf(fChaveProc_, record)) == chaveProc &&
         !(skipUnregistering && Trim(f4strOf(fEstadoPush_, record)) == "1");
}

bool TProcessoDao::Scan(int32_t codTrib, std::string_view chaveProc, bool skipUnregistering) {
  Data4* t = Table();
  while (d4eof(t) <= 0) {
    if (Matches(RawRecord(), codTrib, chaveProc, skipUnregistering)) {
      LoadRecord();
      return true;
    }
    Check(d4skip(t, 1));
  }
  return false;
}

bool TProcessoDao::Find(int32_t codTrib, std::string_view chaveProc, bool skipUnregistering) {
  Data4* t = Table();
  Check(d4goBof(t));
  if (WalkingLookups())
    return Scan(codTrib, chaveProc, skipUnregistering);
  cases_.Update(t);
  std::vector<long> found;
  std::string record;
  for (long recno : cases_.Candidates(CaseHashOfLookup(codTrib, chaveProc))) {
    if (d4readRecord(t, recno, record) && Matches(record, codTrib, chaveProc, skipUnregistering))
      found.push_back(recno);
  }
  found = d4tagOrder(t, std::move(found));
  Check(d4go(t, found.empty() ? 0 : found.front()));
  if (found.empty())
    return false;
  LoadRecord();
  return true;
}

bool TProcessoDao::Locate(int32_t codTrib, std::string_view chaveProc) {
  ClearProperties();
  Require();
  Check(d4skip(Table(), 1));
  return Find(codTrib, chaveProc, false);
}

bool TProcessoDao::LocateForImport(int32_t codTrib, std::string_view chaveProc) {
  ClearProperties();
  if (Trim(chaveProc).empty())
    return false;
  Require();
  return Find(codTrib, chaveProc, true);
}

bool TProcessoDao::AppendProcesso(int32_t codPasta, int32_t codTrib, std::string_view chaveProc) {
  Require();
  if (Note(d4appendStart(Table(), 0)) != 0)
    return false;
  // A field the engine refuses leaves the new record unappended; the next
  // move drops it.
  if (Note(d4blank(Table())) < 0 || PutInt("CODPASTA", codPasta) < 0 ||
      PutInt("CODTRIB", codTrib) < 0 || Put("CHAVEPROC", chaveProc) < 0)
    return false;
  codPasta_ = codPasta;
  codTrib_ = codTrib;
  chaveProc_ = std::string(chaveProc);
  std::string key = "chave= " + db::RecordKey(codPasta, codTrib, chaveProc);
  if (PutMemo("TRAMITA", key + "&Tramita\r\n") < 0 ||
      PutMemo("ANOTACAO", key + "&Anotacao\r\n") < 0 ||
      PutMemo("OUTROS", key + "&Outros\r\n") < 0 || PutChar("VISTO", U'T') < 0 ||
      Put("INICIOCOB", Ymd(clock_.NowLocal())) < 0)
    return false;
  return Note(d4append(Table())) == 0;
}

void TProcessoDao::AddMovement(std::string_view stamp, std::string_view text) {
  std::string date = Part(stamp, 9, 2) + "/" + Part(stamp, 6, 2) + "/" + Part(stamp, 1, 4);
  tramitas_.AddEntry(date, Trim(Part(stamp, 12, 5)), text, true);
}

void TProcessoDao::SaveMovements() {
  Check(PutMemo("TRAMITA", tramitas_.RenderText(codPasta_, codTrib_, chaveProc_)));
  LocalTime now = clock_.NowLocal();
  Check(Put("DTULTCONS", Ymd(now)));
  Check(Put("HRULTCONS", Hm(now)));
  Check(Put("DTULTTRAM", tramitas_.NewestKey()));
  if (tramitas_.Added())
    Check(PutChar("VISTO", U'F'));
  Check(d4skip(Table(), 1));
  Check(d4flush(Table()));
}

TTramitaList& TProcessoDao::LoadMovements() {
  tramitas_.LoadText(Memo("TRAMITA"));
  return tramitas_;
}

void TProcessoDao::SetTramita(std::string_view text) {
  Check(PutMemo("TRAMITA", text));
}

void TProcessoDao::SetOutros(std::string_view text) {
  Check(PutMemo("OUTROS", text));
}

void TProcessoDao::SetAnotacao(std::string_view text) {
  Check(PutMemo("ANOTACAO", text));
}

std::string TProcessoDao::GetOutros() {
  return Memo("OUTROS");
}

void TProcessoDao::SetProxAudiencia(std::string_view date, std::string_view time) {
  Check(Put("DTPROXAUD", date));
  Check(Put("HRPROXAUD", time));
}

std::string TProcessoDao::GetParte(int position) {
  const char* field = position == 2 ? "PARTEB" : position == 3 ? "PARTEC" : "PARTEA";
  return Trim(f4str(FieldOf(field)));
}

void TProcessoDao::SetParte(int position, std::string_view title, std::string_view names) {
  if (position < 1 || position > 3 || Trim(title).empty() || Trim(names).empty())
    return;
  std::string letter(1, char('A' + position - 1));
  Check(Put("TITPARTE" + letter, title));
  Check(Put("PARTE" + letter, names));
}

}  // namespace cau::db
