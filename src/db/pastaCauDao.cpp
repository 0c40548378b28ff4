#include "db/pastaCauDao.h"

#include "config/Cp1252.h"
#include "config/Utils.h"

namespace cau::db {

TPastaDao::TPastaDao(std::string_view hostFolder, std::string_view defaultDir)
    : TcbCau(hostFolder, defaultDir) {
  OpenTable();
  fCodPasta_ = FieldOf("CODPASTA");
  fNome_ = FieldOf("NOME");
}

void TPastaDao::LoadRecord() {
  codPasta_ = int32_t(f4int(fCodPasta_));
  nome_ = Trim(f4str(fNome_));
}

int32_t TPastaDao::GetOrCreateFolder(std::string_view name) {
  Require();
  Data4* t = Table();
  long candidate = RecordCount() + 1;
  const std::string wanted = text::UpperAscii(name);
  Check(d4goBof(t));
  while (d4eof(t) <= 0) {
    if (text::UpperAscii(Trim(f4str(fNome_))) == wanted)
      return int32_t(f4int(fCodPasta_));
    if (f4int(fCodPasta_) == candidate) {
      ++candidate;  // taken: look again from the top
      Check(d4goBof(t));
      continue;
    }
    Check(d4skip(t, 1));
  }
  // A field the engine refuses leaves the new record unappended; the next
  // move drops it.
  if (Note(d4appendStart(t, 0)) != 0 || Note(d4blank(t)) < 0 || PutInt("CODPASTA", candidate) < 0 ||
      Put("NOME", name) < 0 || Note(d4append(t)) != 0)
    return -1;
  return int32_t(candidate);
}

}  // namespace cau::db
