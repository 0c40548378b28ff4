// Not yet available: does nothing, so a run walks its step and goes on.
#include "app/atualizaPush.h"

namespace cau {

void TfrmAtualizaPush::btnDescadastraClick() {}

bool TfrmAtualizaPush::QueueDescadastrar(const std::string& key) {
  if (!ListaDescadastrar)
    ListaDescadastrar = std::make_unique<TStringList>();
  ListaDescadastrar->push_back(key);
  return true;
}

void TfrmAtualizaPush::SalvaDescadastrar() {}

}  // namespace cau
