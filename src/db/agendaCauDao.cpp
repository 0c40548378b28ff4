#include "db/agendaCauDao.h"

#include "config/Utils.h"

namespace cau::db {

TAgendaDao::TAgendaDao(std::string_view hostFolder, std::string_view defaultDir)
    : TcbCau(hostFolder, defaultDir), cases_([this](std::string_view record) {
        return CaseHashOfRecord(f4intOf(fCodTrib_, record), f4rawOf(fChaveProc_, record));
      }) {
  OpenTable();
  fCodTrib_ = FieldOf("CODTRIB");
  fChaveProc_ = FieldOf("CHAVEPROC");
  fCodPasta_ = FieldOf("CODPASTA");
  fCompromisso_ = FieldOf("COMPROMISS");
  fAutomatico_ = FieldOf("AUTOMATICO");
}

void TAgendaDao::LoadRecord() {
  codTrib_ = int32_t(f4int(fCodTrib_));
  chaveProc_ = Trim(f4str(fChaveProc_));
  codPasta_ = int32_t(f4int(fCodPasta_));
  compromisso_ = Trim(f4str(fCompromisso_));
}

void TAgendaDao::FieldWritten(std::string_view field) {
  if (field == "CODTRIB" || field == "CHAVEPROC")
    cases_.Touch(d4recNo(Table()));
}

bool TAgendaDao::Matches(std::string_view record, int32_t codTrib,
                         std::string_view chaveProc) const {
  return f4intOf(fCodTrib_, record) == codTrib && Trim(f4strOf(fChaveProc_, record)) == chaveProc &&
         Trim(f4strOf(fAutomatico_, record)) == "*";
}

bool TAgendaDao::LocateAutomatic(int32_t codTrib, std::string_view chaveProc) {
  codPasta_ = codTrib_ = 0;
  chaveProc_.clear();
  Require();
  Data4* t = Table();
  Check(d4goBof(t));
  if (WalkingLookups()) {
    while (d4eof(t) <= 0) {
      if (Matches(RawRecord(), codTrib, chaveProc)) {
        LoadRecord();
        return true;
      }
      Check(d4skip(t, 1));
    }
    return false;
  }
  cases_.Update(t);
  std::vector<long> found;
  std::string record;
  for (long recno : cases_.Candidates(CaseHashOfLookup(codTrib, chaveProc))) {
    if (d4readRecord(t, recno, record) && Matches(record, codTrib, chaveProc))
      found.push_back(recno);
  }
  found = d4tagOrder(t, std::move(found));
  Check(d4go(t, found.empty() ? 0 : found.front()));
  if (found.empty())
    return false;
  LoadRecord();
  return true;
}

bool TAgendaDao::SaveAutomatic(int32_t codTrib, int32_t codPasta, std::string_view description,
                               std::string_view time, std::string_view date,
                               std::string_view chaveProc) {
  const bool isNew = !LocateAutomatic(codTrib, chaveProc);
  Data4* t = Table();
  if (isNew) {
    // A field the engine refuses leaves the new record unappended; the next
    // move drops it.
    if (Note(d4appendStart(t, 0)) != 0 || Note(d4blank(t)) < 0 ||
        PutInt("CODPASTA", codPasta) < 0 || PutInt("CODTRIB", codTrib) < 0 ||
        Put("CHAVEPROC", chaveProc) < 0 || PutChar("AUTOMATICO", U'*') < 0)
      return false;
    codPasta_ = codPasta;
    codTrib_ = codTrib;
    chaveProc_ = std::string(chaveProc);
  }
  const std::string what = Trim(description);
  if (isNew) {
    if (Put("DATA", date) < 0 || Put("HORA", time) < 0 || Put("COMPROMISS", what) < 0 ||
        Note(d4append(t)) != 0)
      return false;
  } else {
    Check(Put("DATA", date));
    Check(Put("HORA", time));
    Check(Put("COMPROMISS", what));
  }
  if (Eof()) {
    Check(d4goBof(t));
    LoadRecord();
  } else {
    Check(d4skip(t, 1));
  }
  Check(d4flush(t));
  return true;
}

}  // namespace cau::db
