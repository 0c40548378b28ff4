// The scope step: which courts and kinds of case the account may monitor,
// mapped onto the host's court codes through the court list "orgaos.xml".
#include <charconv>
#include <optional>
#include <string>
#include <string_view>

#include "app/atualizaPush.h"
#include "config/Cp1252.h"

namespace cau {

namespace {

// A whole decimal integer, optionally negative, that fits 32 bits.
std::optional<std::int32_t> ParseCode(std::string_view text) {
  if (text.empty())
    return std::nullopt;
  std::int32_t value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (ec != std::errc() || ptr != end)
    return std::nullopt;
  return value;
}

// "17=TJXX" -> "17" and "TJXX"; a line without "=" has an empty name.
std::string_view CodePart(std::string_view line) {
  return line.substr(0, line.find('='));
}

std::string_view NamePart(std::string_view line) {
  const auto eq = line.find('=');
  return eq == std::string_view::npos ? std::string_view() : line.substr(eq + 1);
}

}  // namespace

std::unique_ptr<TStringList> TfrmAtualizaPush::CarregaOrgaos() {
  auto lista = std::make_unique<TStringList>();
  int position = 0;
  for (const pugi::xml_node court : OrgaosXML.document_element().children()) {
    if (court.type() != pugi::node_element)
      continue;
    ++position;
    const std::string which = "orgaos.xml: o órgão " + std::to_string(position);
    const pugi::xml_attribute id = court.attribute("id");
    const pugi::xml_attribute nome = court.attribute("nomeReduzido");
    if (!id) {
      AddErro(which + " não tem o atributo id.");
      continue;
    }
    if (!nome) {
      AddErro(which + " não tem o atributo nomeReduzido.");
      continue;
    }
    // One character, whatever it is, then the code.
    const std::string_view idText = id.value();
    std::size_t after = 0;
    if (!idText.empty())
      text::NextCodePoint(idText, after);
    const std::string_view code = idText.substr(after);
    if (!ParseCode(code)) {
      AddErro(which + " tem o id \"" + std::string(idText) + "\", que não é um código numérico.");
      continue;
    }
    lista->push_back(std::string(code) + "=" + nome.value());
  }
  return lista;
}

std::int32_t TfrmAtualizaPush::CodigoDoOrgao(std::string_view nome) const {
  if (!ListaOrgaos)
    return -1;
  const std::string wanted = text::UpperAscii(nome);
  for (const std::string& line : *ListaOrgaos) {
    if (text::UpperAscii(NamePart(line)) != wanted)
      continue;
    // CarregaOrgaos keeps only numeric codes; a line set otherwise is passed over.
    if (const auto code = ParseCode(CodePart(line)))
      return *code;
  }
  return -1;
}

void TfrmAtualizaPush::btnEscopoClick() {
  ListaEscopo = std::make_unique<TStringList>();
  ListaOrgaos = CarregaOrgaos();
  // What earlier runs queued and the service has not taken yet goes first.
  RestorePendingUnregistrations();
  if (ListaOrgaos->empty()) {
    AddErro(
        "Não foram encontrados orgãos habilitados para consulta PUSH ou arquivo orgaos.xml está "
        "corrompido. Entre em contato com a VEXO.");
  }

  pgbTotal.SetProgress(0);
  SetStatus("Conectando com o servidor...");
  desktop_.ProcessMessages();

  ArrayOfEscopoVO escopo;
  try {
    escopo = Service().escopoN(IdSessao);
  } catch (const std::exception& e) {
    AddErro("[Escopo] " + std::string(e.what()));
    Cancelado = true;
    return;
  }
  if (escopo.empty()) {
    AddErro("");
    return;
  }

  std::string resumo;
  for (const EscopoVO& orgao : escopo) {
    std::string tipos;
    for (const std::string& tipo : orgao.tipoProcesso)
      tipos += tipo + ",";
    resumo += " " + orgao.codOrgao + " (" + tipos + ")";
    const std::int32_t code = CodigoDoOrgao(orgao.codOrgao);
    if (code > 0)
      ListaEscopo->push_back(std::to_string(code) + "=" + tipos);
  }
  AddLog(std::to_string(escopo.size()) + " tribunais PUSH autorizados. " + resumo);

  if (!ListaCadastrar)
    ListaCadastrar = std::make_unique<TStringList>();
  if (!ListaDescadastrar)
    ListaDescadastrar = std::make_unique<TStringList>();
  ProcuraDuplicados();
  BuscaParaCadastrar();

  if (const std::size_t k = ListaDescadastrar->size(); k > 0) {
    btnDescadastra.SetCaption("Descadastra (" + std::to_string(k) + ")");
    const std::string n = std::to_string(k);
    AddLog(k == 1 ? "Foi encontrado " + n + " processo para descadastrar."
                  : "Foram encontrados " + n + " processos para descadastrar.");
  }
  if (const std::size_t k = ListaCadastrar->size(); k == 0) {
    btnCadastra.SetEnabled(false);
  } else {
    btnCadastra.SetCaption("Cadastra (" + std::to_string(k) + ")");
    const std::string n = std::to_string(k);
    AddLog(k == 1 ? "Foi encontrado " + n + " novo processo ainda não cadastrado."
                  : "Foram encontrados " + n + " novos processos ainda não cadastrados.");
  }
  pgbTotal.SetProgress(20);
}

}  // namespace cau
