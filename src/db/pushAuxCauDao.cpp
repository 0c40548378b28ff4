#include "db/pushAuxCauDao.h"

#include "config/Utils.h"

namespace cau::db {

TPushAuxDao::TPushAuxDao(std::string_view hostFolder, std::string_view defaultDir)
    : TcbCau(hostFolder, defaultDir) {
  OpenTable();
  fCodTrib_ = FieldOf("CODTRIB");
  fChaveProc_ = FieldOf("CHAVEPROC");
}

void TPushAuxDao::LoadRecord() {
  codTrib_ = int32_t(f4int(fCodTrib_));
  chaveProc_ = Trim(f4str(fChaveProc_));
}

void TPushAuxDao::Delete() {
  Require();
  Check(d4delete(Table()));
}

}  // namespace cau::db
