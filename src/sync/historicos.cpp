// Not yet available: does nothing, so a run walks its step and goes on.
#include "app/atualizaPush.h"

namespace cau {

void TfrmAtualizaPush::btnHistoricosClick() {}

std::int32_t TfrmAtualizaPush::ApplyProcesso(ProcessoVO&) {
  return 0;
}

}  // namespace cau
