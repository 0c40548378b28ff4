// The host's queue of cases to unregister, PushAux.DBF: one row per case
// (court code and case number). A pass reads every row in tag order and
// marks it deleted; nothing else is ever written.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "db/cbCau.h"

namespace cau::db {

class TPushAuxDao final : public TcbCau {
 public:
  explicit TPushAuxDao(std::string_view hostFolder, std::string_view defaultDir = kDefaultHostDir);

  std::string TableName() const override { return "PushAux.DBF"; }

  int32_t CodTrib() const { return codTrib_; }
  const std::string& ChaveProc() const { return chaveProc_; }  // trimmed

  // Marks the current row deleted; the record pointer and the properties
  // stay. The mark reaches the file with the next move.
  void Delete();

 protected:
  void LoadRecord() override;

 private:
  int32_t codTrib_ = 0;
  std::string chaveProc_;
  Field4* fCodTrib_ = nullptr;
  Field4* fChaveProc_ = nullptr;
};

}  // namespace cau::db
