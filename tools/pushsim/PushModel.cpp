#include "PushModel.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <iostream>
#include <random>
#include <sstream>

namespace pushsim {
namespace {

std::string UpperAscii(std::string text) {
  for (char& ch : text) {
    if (ch >= 'a' && ch <= 'z') {
      ch = static_cast<char>(ch - 'a' + 'A');
    }
  }
  return text;
}

std::string Trim(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) {
    return {};
  }
  const auto last = text.find_last_not_of(" \t\r\n");
  return text.substr(first, last - first + 1);
}

std::string LocalTime(const char* format) {
  const std::time_t now = std::time(nullptr);
  std::tm parts{};
  localtime_r(&now, &parts);
  char buffer[32];
  std::strftime(buffer, sizeof buffer, format, &parts);
  return buffer;
}

std::string Now() {
  return LocalTime("%Y-%m-%d %H:%M:%S");
}
std::string ThisMonth() {
  return LocalTime("%Y-%m");
}

std::string NewSessionId() {
  static thread_local std::mt19937_64 random{std::random_device{}()};
  std::ostringstream id;
  id << std::hex;
  for (int i = 0; i < 2; ++i) {
    id.width(16);
    id.fill('0');
    id << random();
  }
  return id.str();
}

struct CaseRef {
  std::string codOrgao;
  std::string codProcesso;
};

// The cases named by the "processos" parameter, items under whatever names.
std::vector<CaseRef> RequestedCases(pugi::xml_node request) {
  std::vector<CaseRef> refs;
  for (pugi::xml_node item : soap::Items(soap::Param(request, "processos"))) {
    refs.push_back({Trim(soap::Text(soap::Param(item, "codOrgao"))),
                    Trim(soap::Text(soap::Param(item, "codProcesso")))});
  }
  return refs;
}

Notice Direct(const Case& c, const std::string& estado, const std::string& text) {
  Notice n;
  n.id = 0;
  n.sdtAviso = Now();
  n.txtAviso = text;
  n.codOrgao = c.codOrgao;
  n.codProcesso = c.codProcesso;
  n.estadoProcesso = estado;
  n.tipoAviso = "PROCESSO";
  return n;
}

long long PositiveLimit(pugi::xml_node request) {
  const long long limite = soap::Int64Param(request, "limite");
  if (limite <= 0) {
    throw ServiceFault("Server", "Parâmetro limite deve ser maior que zero.");
  }
  return limite;
}

}  // namespace

int CompareVersions(const std::string& a, const std::string& b) {
  std::istringstream left(a);
  std::istringstream right(b);
  std::string l;
  std::string r;
  while (true) {
    const bool hasL = static_cast<bool>(std::getline(left, l, '.'));
    const bool hasR = static_cast<bool>(std::getline(right, r, '.'));
    if (!hasL && !hasR) {
      return 0;
    }
    const long long x = hasL ? std::atoll(l.c_str()) : 0;
    const long long y = hasR ? std::atoll(r.c_str()) : 0;
    if (x != y) {
      return x < y ? -1 : 1;
    }
  }
}

PushModel::PushModel(Scenario scenario, std::optional<std::filesystem::path> statePath)
    : scenario_(std::move(scenario)), statePath_(std::move(statePath)) {
  if (statePath_ && std::filesystem::exists(*statePath_)) {
    scenario_.state = LoadState(*statePath_);
  }
  if (scenario_.state.counters.month.empty()) {
    scenario_.state.counters.month = ThisMonth();
  }
  RefreshMonthly();
}

std::string PushModel::Call(const std::string& operation, pugi::xml_node request,
                            const soap::WriteOptions& options) {
  std::lock_guard lock(mutex_);
  soap::ResponseWriter out(operation, options);
  if (operation == "login") {
    Login(request, out);
  } else if (operation == "logout") {
    Logout(request, out);
  } else if (operation == "escopoN") {
    Escopo(request, out);
  } else if (operation == "cadastraN") {
    Cadastra(request, out);
  } else if (operation == "descadastraN") {
    Descadastra(request, out);
  } else if (operation == "consultaN") {
    Consulta(request, out);
  } else if (operation == "historicosN") {
    Historicos(request, out);
  } else if (operation == "avisosN") {
    Avisos(request, out);
  } else {
    throw ServiceFault("Client", "Operação desconhecida: " + operation);
  }
  return out.Finish();
}

void PushModel::Login(pugi::xml_node request, soap::ResponseWriter& out) {
  const std::string origem = Trim(soap::Text(soap::Param(request, "origem")));
  if (origem != "CAU" && origem != "ORBE") {
    throw ServiceFault("Client", "Origem inválida: \"" + origem + "\"");
  }
  const std::string credencial = soap::Text(soap::Param(request, "credencial"));
  const auto slash = credencial.find('/');
  const std::string user = credencial.substr(0, slash);
  const std::string password =
      slash == std::string::npos ? std::string{} : credencial.substr(slash + 1);
  const bool known =
      slash != std::string::npos &&
      std::any_of(scenario_.accounts.begin(), scenario_.accounts.end(),
                  [&](const Account& a) { return a.user == user && a.password == password; });
  if (!known) {
    throw ServiceFault("Server", "Usuário ou senha inválidos.");
  }
  std::string id = NewSessionId();
  sessions_[id] = Session{user, false, {}};
  out.Return().text().set(id.c_str());
}

PushModel::Session& PushModel::RequireSession(pugi::xml_node request) {
  const std::string id = Trim(soap::Text(soap::Param(request, "sessionId")));
  const auto it = sessions_.find(id);
  if (id.empty() || it == sessions_.end()) {
    throw ServiceFault("Server", "Sessão inválida ou expirada.");
  }
  return it->second;
}

void PushModel::Logout(pugi::xml_node request, soap::ResponseWriter& out) {
  RequireSession(request);
  sessions_.erase(Trim(soap::Text(soap::Param(request, "sessionId"))));
  RefreshMonthly();
  const Counters& counters = scenario_.state.counters;
  out.String(out.Return(), "sdtAviso", counters.sdtAviso.value_or(Now()));
  out.Int(out.Return(), "numProcessos", CurrentCount());
  out.Int(out.Return(), "numProcessosMes", counters.numProcessosMes);
  SaveQuietly();
}

void PushModel::Escopo(pugi::xml_node request, soap::ResponseWriter& out) {
  RequireSession(request);
  for (const ScopeCourt& court : scenario_.scope) {
    out.Scope(out.Return(), "escopoVO", court);
  }
}

void PushModel::Cadastra(pugi::xml_node request, soap::ResponseWriter& out) {
  RequireSession(request);
  for (const CaseRef& ref : RequestedCases(request)) {
    Case probe;
    probe.codOrgao = ref.codOrgao;
    probe.codProcesso = ref.codProcesso;
    if (ref.codProcesso.empty()) {
      out.Notice(out.Return(), "avisoVO", Direct(probe, "ERRO", "Número do processo vazio."));
      continue;
    }
    if (!InScope(ref.codOrgao)) {
      out.Notice(out.Return(), "avisoVO",
                 Direct(probe, "ERRO", "Órgão não autorizado para a conta: " + ref.codOrgao));
      continue;
    }
    Case* c = FindCase(ref.codOrgao, ref.codProcesso);
    if (c == nullptr) {
      int id = 0;
      for (const Case& other : scenario_.state.cases) {
        id = std::max(id, other.id);
      }
      probe.id = id + 1;
      scenario_.state.cases.push_back(probe);
      c = &scenario_.state.cases.back();
    }
    if (c->monitored) {
      out.Notice(out.Return(), "avisoVO", Direct(*c, "CADASTRADO", "Processo já cadastrado."));
      continue;
    }
    c->monitored = true;
    out.Notice(out.Return(), "avisoVO",
               Direct(*c, "EM_CADASTRAMENTO", "Processo em cadastramento."));
    AppendNotice(*c, "CADASTRADO", "Processo cadastrado.");
  }
  RefreshMonthly();
  SaveQuietly();
}

void PushModel::Descadastra(pugi::xml_node request, soap::ResponseWriter& out) {
  RequireSession(request);
  for (const CaseRef& ref : RequestedCases(request)) {
    Case* c = FindCase(ref.codOrgao, ref.codProcesso);
    if (c == nullptr || !c->monitored) {
      Case probe;
      probe.codOrgao = ref.codOrgao;
      probe.codProcesso = ref.codProcesso;
      out.Notice(out.Return(), "avisoVO",
                 Direct(c ? *c : probe, "DESCADASTRADO", "Processo não monitorado."));
      continue;
    }
    c->monitored = false;
    out.Notice(out.Return(), "avisoVO",
               Direct(*c, "EM_DESCADASTRAMENTO", "Processo em descadastramento."));
    AppendNotice(*c, "DESCADASTRADO", "Processo descadastrado.");
  }
  SaveQuietly();
}

void PushModel::Consulta(pugi::xml_node request, soap::ResponseWriter& out) {
  RequireSession(request);
  for (const CaseRef& ref : RequestedCases(request)) {
    if (const Case* c = FindCase(ref.codOrgao, ref.codProcesso)) {
      out.Case(out.Return(), "processoVO", *c);
    }
  }
}

void PushModel::Historicos(pugi::xml_node request, soap::ResponseWriter& out) {
  Session& session = RequireSession(request);
  const long long aPartir = soap::Int64Param(request, "aPartir");
  const long long limite = PositiveLimit(request);
  const long long offset = soap::Int64Param(request, "offset");
  if (offset < 0) {
    throw ServiceFault("Server", "Parâmetro offset não pode ser negativo.");
  }
  // Offset 0 fixes the listing; later pages read that listing whatever aPartir they carry.
  if (offset == 0 || !session.hasListing) {
    session.listing.clear();
    bool delivered = false;
    for (Case& c : scenario_.state.cases) {
      if (!c.monitored) {
        continue;
      }
      Case entry = c;
      entry.historicos.clear();
      for (const Movement& m : c.historicos) {
        if (m.id > aPartir) {
          entry.historicos.push_back(m);
        }
      }
      if (!entry.historicos.empty() || c.pending) {
        delivered = delivered || c.pending;
        c.pending = false;
        std::stable_sort(entry.historicos.begin(), entry.historicos.end(),
                         [](const Movement& a, const Movement& b) { return a.id < b.id; });
        session.listing.push_back(std::move(entry));
      }
    }
    session.hasListing = true;
    if (delivered) {
      SaveQuietly();
    }
  }
  const auto size = static_cast<long long>(session.listing.size());
  for (long long i = offset; i < size && i < offset + limite; ++i) {
    out.Case(out.Return(), "processoVO", session.listing[static_cast<std::size_t>(i)]);
  }
}

void PushModel::Avisos(pugi::xml_node request, soap::ResponseWriter& out) {
  RequireSession(request);
  const long long aPartir = soap::Int64Param(request, "aPartir");
  const long long limite = PositiveLimit(request);
  long long written = 0;
  for (const Notice& n : scenario_.state.notices) {
    if (n.id > aPartir && written < limite) {
      out.Notice(out.Return(), "avisoVO", n);
      ++written;
    }
  }
}

Case* PushModel::FindCase(const std::string& codOrgao, const std::string& codProcesso) {
  const std::string court = UpperAscii(Trim(codOrgao));
  const std::string number = Trim(codProcesso);
  for (Case& c : scenario_.state.cases) {
    if (UpperAscii(Trim(c.codOrgao)) == court && Trim(c.codProcesso) == number) {
      return &c;
    }
  }
  return nullptr;
}

bool PushModel::InScope(const std::string& codOrgao) const {
  const std::string court = UpperAscii(codOrgao);
  return std::any_of(scenario_.scope.begin(), scenario_.scope.end(),
                     [&](const ScopeCourt& s) { return UpperAscii(s.codOrgao) == court; });
}

Notice PushModel::AppendNotice(const Case& c, const std::string& estado, const std::string& text) {
  int id = 0;
  for (const Notice& n : scenario_.state.notices) {
    id = std::max(id, n.id);
  }
  Notice n = Direct(c, estado, text);
  n.id = id + 1;
  scenario_.state.notices.push_back(n);
  return n;
}

int PushModel::CurrentCount() const {
  if (scenario_.state.counters.numProcessos) {
    return *scenario_.state.counters.numProcessos;
  }
  return static_cast<int>(std::count_if(scenario_.state.cases.begin(), scenario_.state.cases.end(),
                                        [](const Case& c) { return c.monitored; }));
}

void PushModel::RefreshMonthly() {
  Counters& counters = scenario_.state.counters;
  const std::string month = ThisMonth();
  if (counters.month != month) {
    counters.month = month;
    counters.numProcessosMes = CurrentCount();
  } else {
    counters.numProcessosMes = std::max(counters.numProcessosMes, CurrentCount());
  }
}

void PushModel::Save() {
  std::lock_guard lock(mutex_);
  SaveQuietly();
}

void PushModel::SaveQuietly() {
  if (!statePath_) {
    return;
  }
  try {
    SaveState(*statePath_, scenario_.state);
  } catch (const std::exception& e) {
    std::cerr << "pushsim: " << e.what() << std::endl;
  }
}

std::string PushModel::UpdateAnswer(const std::string& clientVersion,
                                    const std::string& downloadBase) const {
  const UpdateInfo& update = scenario_.update;
  if (update.version.empty() || CompareVersions(clientVersion, update.version) >= 0) {
    return "versaoAtual=" + update.version + "\n";
  }
  const std::string url = update.url.empty() ? downloadBase + update.file : update.url;
  const std::string signature =
      update.signature.empty() ? std::string() : "assinatura=" + update.signature + "\n";
  return signature + "novaVersaoUrl=" + url + "\n";
}

}  // namespace pushsim
