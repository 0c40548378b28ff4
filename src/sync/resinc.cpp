// Not yet available: does nothing, so a run walks its step and goes on.
#include "app/atualizaPush.h"

namespace cau {

void TfrmAtualizaPush::Resincroniza() {}

}  // namespace cau
