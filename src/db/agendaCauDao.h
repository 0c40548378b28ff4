// The host's appointment book, AGENDA.DBF. This program keeps one automatic
// appointment per case (AUTOMATICO "*") holding the case's next hearing; the
// user's own appointments are never read or changed.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "db/KeyMap.h"
#include "db/cbCau.h"

namespace cau::db {

class TAgendaDao final : public TcbCau {
 public:
  explicit TAgendaDao(std::string_view hostFolder, std::string_view defaultDir = kDefaultHostDir);

  std::string TableName() const override { return "AGENDA.DBF"; }

  int32_t CodTrib() const { return codTrib_; }
  const std::string& ChaveProc() const { return chaveProc_; }  // trimmed
  int32_t CodPasta() const { return codPasta_; }
  const std::string& Compromisso() const { return compromisso_; }  // trimmed

  // The first automatic appointment, in tag order, of the court whose
  // trimmed CHAVEPROC equals `chaveProc` exactly; it becomes current and is
  // loaded. False leaves the table at its end.
  bool LocateAutomatic(int32_t codTrib, std::string_view chaveProc);
  // Updates the case's automatic appointment in place, or adds one: DATA
  // `date` ("yyyymmdd"), HORA `time`, COMPROMISS `description` trimmed; then
  // writes it and flushes. False when the engine refused the new record
  // (nothing is added; LastError() says why).
  bool SaveAutomatic(int32_t codTrib, int32_t codPasta, std::string_view description,
                     std::string_view time, std::string_view date, std::string_view chaveProc);

 protected:
  void LoadRecord() override;
  void FieldWritten(std::string_view field) override;

 private:
  bool Matches(std::string_view record, int32_t codTrib, std::string_view chaveProc) const;

  int32_t codTrib_ = 0;
  std::string chaveProc_;
  int32_t codPasta_ = 0;
  std::string compromisso_;
  Field4* fCodTrib_ = nullptr;
  Field4* fChaveProc_ = nullptr;
  Field4* fCodPasta_ = nullptr;
  Field4* fCompromisso_ = nullptr;
  Field4* fAutomatico_ = nullptr;
  KeyMap cases_;  // by court and trimmed case number
};

}  // namespace cau::db
