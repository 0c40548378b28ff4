// The host's folders, PASTA.DBF: every case lives in one. The movement
// import finds (or creates) the folder of the cases the service brings.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "db/KeyMap.h"
#include "db/cbCau.h"

namespace cau::db {

class TPastaDao final : public TcbCau {
 public:
  explicit TPastaDao(std::string_view hostFolder, std::string_view defaultDir = kDefaultHostDir);

  std::string TableName() const override { return "PASTA.DBF"; }

  int32_t CodPasta() const { return codPasta_; }
  const std::string& Nome() const { return nome_; }  // trimmed

  // The code of the folder whose trimmed name equals `name` (letters a to z
  // compared in upper case); otherwise a new folder named `name` with the
  // smallest code from RecordCount() + 1 up that no folder has. -1 when the
  // engine refused the new folder (LastError()). The properties stay.
  int32_t GetOrCreateFolder(std::string_view name);

 protected:
  void LoadRecord() override;
  void FieldWritten(std::string_view field) override;

 private:
  // The folder's record, or 0; the table is left at it or at its end.
  long FindName(const std::string& upperName);
  long FindNameWalking(const std::string& upperName, long& candidate);
  // Whether a record in tag order has folder code `code`.
  bool CodeTaken(long code);

  int32_t codPasta_ = 0;
  std::string nome_;
  Field4* fCodPasta_ = nullptr;
  Field4* fNome_ = nullptr;
  KeyMap names_;  // by trimmed name in upper case
  KeyMap codes_;  // by folder code
};

}  // namespace cau::db
