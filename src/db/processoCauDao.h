// The host's case table PROCESSO.DBF: one record per court case, its push
// state (ESTADOPUSH: blank, "0" unregistered, "1" unregistration under way,
// "2" registration under way, "3" registered, "5" error), its movement memo
// and the stamps of the last consultation.
//
// Writes change the current record; it reaches the file when the record
// pointer moves (Next, First, Locate, SaveAndNext, SaveMovements, the
// destructor) or at a flush.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "config/Clock.h"
#include "db/KeyMap.h"
#include "db/cbCau.h"
#include "db/tramitaList.h"

namespace cau::db {

class TProcessoDao final : public TcbCau {
 public:
  // `clock` stamps INICIOCOB, DTULTCONS/HRULTCONS and the MsgErro line; it
  // must outlive the object.
  TProcessoDao(std::string_view hostFolder, const Clock& clock,
               std::string_view defaultDir = kDefaultHostDir);

  std::string TableName() const override { return "PROCESSO.DBF"; }

  // The loaded copy of the current record.
  int32_t CodTrib() const { return codTrib_; }
  int32_t CodPasta() const { return codPasta_; }
  const std::string& ChaveProc() const { return chaveProc_; }    // trimmed
  const std::string& EstadoPush() const { return estadoPush_; }  // trimmed
  bool Suspenso() const { return suspenso_; }
  // The movements of the case, as the last LoadMovements read them.
  TTramitaList& Tramitas() { return tramitas_; }

  // "%4d%4d%-100s" of CodPasta, CodTrib and ChaveProc in upper case (a to z).
  std::string RecordKey() const;
  // Goes to the first record; true when the table has no field ESTADOPUSH
  // (a host version without push support).
  bool LacksEstadoPush();

  // ESTADOPUSH of the current record (empty: blank); EstadoPush() unchanged.
  void SetEstadoPush(std::string_view code);
  // Rewrites the "MsgErro" line of OUTROS: "MsgErro=dd/mm/yyyy - hh:mm
  // -[PUSH]- message", or "MsgErro=" for an empty message; the header line
  // is put first when missing.
  void SetMsgErro(std::string_view message);

  // The first record, in tag order, of the court whose trimmed CHAVEPROC
  // equals `chaveProc` exactly; it becomes current and is loaded. False
  // leaves the properties cleared. Writes a pending change first.
  bool Locate(int32_t codTrib, std::string_view chaveProc);
  // As Locate, skipping records in state "1"; false at once (the record
  // pointer unmoved) for a blank number.
  bool LocateForImport(int32_t codTrib, std::string_view chaveProc);

  // Appends a new case with its three memo headers, VISTO 'T' and INICIOCOB
  // today; it becomes current. False when the engine refused (LastError()).
  bool AppendProcesso(int32_t codPasta, int32_t codTrib, std::string_view chaveProc);

  // One movement of the server: `stamp` "yyyy-mm-dd hh:mm...", newest first.
  void AddMovement(std::string_view stamp, std::string_view text);
  // Writes Tramitas to TRAMITA, DTULTCONS/HRULTCONS now, DTULTTRAM the newest
  // movement, VISTO 'F' when a movement was added; then moves one record on
  // and flushes. The properties are not reloaded.
  void SaveMovements();
  // Refills Tramitas from TRAMITA.
  TTramitaList& LoadMovements();

  void SetTramita(std::string_view text);
  void SetOutros(std::string_view text);
  void SetAnotacao(std::string_view text);
  std::string GetOutros();

  // A record as the scans see it, read from its bytes.
  struct CaseRow {
    long recno = 0;
    int32_t codTrib = 0;
    std::string_view number;  // CHAVEPROC trimmed, Windows-1252 bytes as stored
    std::string_view state;   // ESTADOPUSH trimmed; a value longer than one byte reads as "**"
    bool suspended = false;
  };
  using CaseVisit = std::function<void(const CaseRow& row)>;
  // Hands every record the tag PRIMARYKEY holds to `visit`, in tag order, as
  // a walk from First meets them, then leaves the table at its end (a
  // pending change written, the blank record loaded). The records come from
  // one read of the file in large blocks, which also rebuilds the lookup
  // map. `fresh` reads the file again; otherwise the read of an earlier scan
  // serves while this object has written nothing since but ESTADOPUSH (which
  // the kept rows follow) and memos. `visit` may Go to a record and write it.
  // With WalkingLookups the table is walked record by record instead.
  void ScanCases(bool fresh, const CaseVisit& visit);
  // Makes record `recno` current and loads it; a pending change is written first.
  void Go(long recno);

  // DTPROXAUD ("yyyymmdd") and HRPROXAUD.
  void SetProxAudiencia(std::string_view date, std::string_view time);
  // Trimmed PARTEB for 2, PARTEC for 3, PARTEA otherwise.
  std::string GetParte(int position);
  // TITPARTEx and PARTEx (x = A, B, C for 1, 2, 3), stored untrimmed; nothing
  // is written unless both are non-blank, nor for another position.
  void SetParte(int position, std::string_view title, std::string_view names);

 protected:
  void LoadRecord() override;
  void FieldWritten(std::string_view field) override;

 private:
  void ClearProperties();
  // From the top: the first record of the case in tag order, loaded; the
  // table is left at that record or at its end.
  bool Find(int32_t codTrib, std::string_view chaveProc, bool skipUnregistering);
  bool Scan(int32_t codTrib, std::string_view chaveProc, bool skipUnregistering);
  bool Matches(std::string_view record, int32_t codTrib, std::string_view chaveProc,
               bool skipUnregistering) const;

  // CODTRIB of a record, as f4intOf reads it.
  long CodTribOf(std::string_view record) const;
  // The scan's fields of one record: views into `record`.
  CaseRow RowOf(std::string_view record) const;
  // The kept copy of a record for the scans (its number in numbers_).
  struct Row {
    int32_t codTrib = 0;
    uint32_t numberAt = 0;
    uint16_t numberSize = 0;
    uint8_t stateSize = 0;  // 0 blank, 1 one byte, 2 longer
    char state = 0;
    bool suspended = false;
  };
  void ReadRows();
  // What a row keeps of ESTADOPUSH's trimmed text.
  static void KeepState(Row& row, std::string_view state);

  const Clock& clock_;
  TTramitaList tramitas_;
  int32_t codTrib_ = 0;
  int32_t codPasta_ = 0;
  std::string chaveProc_;
  std::string estadoPush_;
  bool suspenso_ = false;
  // Fields read by every load and scan.
  Field4* fCodTrib_ = nullptr;
  Field4* fCodPasta_ = nullptr;
  Field4* fChaveProc_ = nullptr;
  Field4* fEstadoPush_ = nullptr;
  Field4* fSuspenso_ = nullptr;
  char codTribType_ = 0;
  char suspensoType_ = 0;
  // Records by court and trimmed case number.
  KeyMap cases_;
  // The scans' rows: by record number - 1, the tag's order, the numbers.
  std::vector<Row> rows_;
  std::vector<long> order_;
  std::string numbers_;
  bool rowsHeld_ = false;
  static constexpr long kJumpsPerTop = 256;
  long jumps_ = 0;
};

}  // namespace cau::db
