// The workflow steps of a run. Not yet available: each does nothing, so a
// run logs in, walks the step labels and logs out. The workflows replace
// this file with one file per step.
#include "app/atualizaPush.h"

namespace cau {

void TfrmAtualizaPush::btnEscopoClick() {}
void TfrmAtualizaPush::btnCadastraClick() {}
void TfrmAtualizaPush::btnHistoricosClick() {}
void TfrmAtualizaPush::btnDescadastraClick() {}
void TfrmAtualizaPush::btnAvisosClick() {}
void TfrmAtualizaPush::Resincroniza() {}

}  // namespace cau
