// The workflow steps of a run that are not yet available: each does
// nothing, so a run walks their step labels and goes on. The workflows in
// src/sync replace them one by one.
#include "app/atualizaPush.h"

namespace cau {

void TfrmAtualizaPush::ProcuraDuplicados() {}
void TfrmAtualizaPush::BuscaParaCadastrar() {}
void TfrmAtualizaPush::btnCadastraClick() {}
void TfrmAtualizaPush::btnHistoricosClick() {}
void TfrmAtualizaPush::btnDescadastraClick() {}
void TfrmAtualizaPush::btnAvisosClick() {}
void TfrmAtualizaPush::Resincroniza() {}

}  // namespace cau
