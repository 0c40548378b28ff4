// Not yet available: does nothing, so a run walks its step and goes on.
#include "app/atualizaPush.h"

namespace cau {

void TfrmAtualizaPush::ProcuraDuplicados() {}
void TfrmAtualizaPush::BuscaParaCadastrar() {}
void TfrmAtualizaPush::btnCadastraClick() {}

}  // namespace cau
