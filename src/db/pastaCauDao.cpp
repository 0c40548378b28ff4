#include "db/pastaCauDao.h"

#include "config/Cp1252.h"
#include "config/Utils.h"

namespace cau::db {
namespace {

uint64_t NameHash(std::string_view upperName) {
  return KeyHash().Add(upperName).value();
}

uint64_t CodeHash(long code) {
  return KeyHash().Add(code).value();
}

}  // namespace

TPastaDao::TPastaDao(std::string_view hostFolder, std::string_view defaultDir)
    : TcbCau(hostFolder, defaultDir),
      names_([this](std::string_view record) {
        return NameHash(text::UpperAscii(Trim(f4strOf(fNome_, record))));
      }),
      codes_([this](std::string_view record) { return CodeHash(f4intOf(fCodPasta_, record)); }) {
  OpenTable();
  fCodPasta_ = FieldOf("CODPASTA");
  fNome_ = FieldOf("NOME");
}

void TPastaDao::LoadRecord() {
  codPasta_ = int32_t(f4int(fCodPasta_));
  nome_ = Trim(f4str(fNome_));
}

void TPastaDao::FieldWritten(std::string_view field) {
  if (field == "NOME")
    names_.Touch(d4recNo(Table()));
  else if (field == "CODPASTA")
    codes_.Touch(d4recNo(Table()));
}

long TPastaDao::FindNameWalking(const std::string& upperName, long& candidate) {
  Data4* t = Table();
  while (d4eof(t) <= 0) {
    if (text::UpperAscii(Trim(f4str(fNome_))) == upperName)
      return d4recNo(t);
    if (f4int(fCodPasta_) == candidate) {
      ++candidate;  // taken: look again from the top
      Check(d4goBof(t));
      continue;
    }
    Check(d4skip(t, 1));
  }
  return 0;
}

long TPastaDao::FindName(const std::string& upperName) {
  Data4* t = Table();
  names_.Update(t);
  std::vector<long> found;
  std::string record;
  for (long recno : names_.Candidates(NameHash(upperName))) {
    if (d4readRecord(t, recno, record) &&
        text::UpperAscii(Trim(f4strOf(fNome_, record))) == upperName)
      found.push_back(recno);
  }
  // The walk returns at the first record of the name in tag order: it
  // starts again from the top after each taken code, and so always gets there.
  found = d4tagOrder(t, std::move(found));
  Check(d4go(t, found.empty() ? 0 : found.front()));
  return found.empty() ? 0 : found.front();
}

bool TPastaDao::CodeTaken(long code) {
  Data4* t = Table();
  std::vector<long> found;
  std::string record;
  for (long recno : codes_.Candidates(CodeHash(code))) {
    if (d4readRecord(t, recno, record) && f4intOf(fCodPasta_, record) == code)
      found.push_back(recno);
  }
  return !d4tagOrder(t, std::move(found)).empty();
}

int32_t TPastaDao::GetOrCreateFolder(std::string_view name) {
  Require();
  Data4* t = Table();
  long candidate = RecordCount() + 1;
  const std::string wanted = text::UpperAscii(name);
  Check(d4goBof(t));
  long found = 0;
  if (WalkingLookups()) {
    found = FindNameWalking(wanted, candidate);
  } else {
    found = FindName(wanted);
    if (!found) {
      // The smallest code from the candidate up that no record has.
      codes_.Update(t);
      while (CodeTaken(candidate))
        ++candidate;
    }
  }
  if (found)
    return int32_t(f4int(fCodPasta_));
  // A field the engine refuses leaves the new record unappended; the next
  // move drops it.
  if (Note(d4appendStart(t, 0)) != 0 || Note(d4blank(t)) < 0 || PutInt("CODPASTA", candidate) < 0 ||
      Put("NOME", name) < 0 || Note(d4append(t)) != 0)
    return -1;
  return int32_t(candidate);
}

}  // namespace cau::db
