#include "Scenario.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "Random.h"
#include "db/xbase/Dbf.h"

namespace cau::mkhost {

namespace {

using nlohmann::ordered_json;

constexpr uint64_t kScenarioStream = 11;
constexpr uint64_t kLookAhead = 3000;  // host cases the scenario draws from

const Court* CourtOf(const HostPlan& plan, int code) {
  for (const Court& c : plan.courts) {
    if (c.code == code)
      return &c;
  }
  return nullptr;
}

std::string Kind(const std::string& number) {
  auto dot = number.find('.');
  return dot == std::string::npos ? std::string() : number.substr(0, dot);
}

bool KindMatches(const Court& court, const std::string& kind) {
  if (kind.empty())
    return false;
  std::string types;
  for (const std::string& t : court.types)
    types += t + ",";
  return types.find(kind) != std::string::npos;
}

std::string Stamp(Day day, const std::string& time) {
  return IsoDay(day) + " " + (time.empty() ? "00:00" : time) + ":00";
}

std::string PartyCode(const std::string& title) {
  if (title == "Réu")
    return "REU";
  std::string out;
  for (char c : title) {
    if (c == ' ')
      out += '_';
    else if (c >= 'a' && c <= 'z')
      out += char(c - 'a' + 'A');
    else
      out += c;
  }
  return out;
}

const char* const kNewMovements[] = {
    "Conclusos para decisão",
    "Juntada de documento",
    "Publicado acórdão\nEmenta: recurso conhecido e provido.",
    "Expedido alvará de levantamento",
    "Audiência realizada: acordo homologado",
    "Intimação eletrônica expedida",
};

const char* const kLawyers[] = {"Ana Souza", "Ricardo Menezes", "Beatriz Lopes", "Otávio Reis"};

class Builder {
 public:
  Builder(const HostPlan& plan) : plan_(plan), rng_(Rng::For(plan.seed, kScenarioStream, 0)) {}

  // `fresh`: a movement the host does not have yet; only those carry markup
  // metadata, so the ones the host has come back with the same text.
  ordered_json Movement(Day day, const std::string& time, const std::string& text, bool fresh) {
    ordered_json m;
    m["id"] = ++lastMovementId_;
    m["date"] = IsoDay(day);
    m["time"] = time.empty() ? "00:00" : time;
    m["text"] = text;
    if (fresh && rng_.Percent(25)) {
      ordered_json meta;
      meta["numInicio"] = 0;
      meta["numFim"] = 9;
      meta["tipoMeta"] = rng_.Percent(50) ? "DESTAQUE" : "TITULO";
      meta["txtValor"] = "";
      m["metas"] = ordered_json::array({meta});
    }
    return m;
  }

  ordered_json Parties(const HostCase& c) {
    ordered_json partes = ordered_json::array();
    for (const Party& p : c.parties) {
      if (p.title.empty())
        continue;
      ordered_json party;
      party["codParte"] = PartyCode(p.title);
      party["nomParte"] = ordered_json::array({p.names});
      if (partes.empty()) {
        char oab[16];
        std::snprintf(oab, sizeof oab, "SP%06d", int(rng_.Below(999999)));
        party["advogados"] = ordered_json::array(
            {{{"nomTitulo", "Dr(a)."}, {"nomAdvogado", rng_.Pick(kLawyers)}, {"codOab", oab}}});
      }
      partes.push_back(party);
    }
    return partes;
  }

  // The service's side of a host case: the movements the host has, then newer ones.
  ordered_json ServerCase(const HostCase& c, const Court& court, bool monitored) {
    ordered_json j;
    j["codOrgao"] = court.shortName;
    j["codProcesso"] = c.number;
    j["monitored"] = monitored;
    ordered_json hist = ordered_json::array();
    for (auto it = c.movements.rbegin(); it != c.movements.rend(); ++it)
      hist.push_back(Movement(it->day, it->time, it->text, false));
    Day from = c.movements.empty() ? plan_.today - 60 : c.movements.front().day + 1;
    int fresh = rng_.Range(monitored ? 1 : 0, 3);
    for (int i = 0; i < fresh && from <= plan_.today; ++i) {
      from += Day(rng_.Range(0, std::max(0, int(plan_.today - from) / 2)));
      std::string time = rng_.Percent(80) ? "1" + std::to_string(rng_.Range(0, 7)) + ":30" : "";
      std::string text = rng_.Pick(kNewMovements);
      hist.push_back(Movement(from, time, text, true));
      ++from;
    }
    if (rng_.Percent(30)) {
      int hour = rng_.Range(9, 17);
      int minute = rng_.Percent(50) ? 0 : 30;
      char t[8];
      std::snprintf(t, sizeof t, "%02d:%02d", hour, minute);
      j["sdtAudiencia"] = Stamp(plan_.today + Day(rng_.Range(5, 120)), t);
    }
    j["partes"] = Parties(c);
    j["outros"] = ordered_json::array({{{"codOutro", "VARA"}, {"txtOutro", c.vara}}});
    j["historicos"] = hist;
    return j;
  }

  ordered_json OabCase(int k, const Court& court) {
    HostCase c;
    int year = rng_.Range(2015, 2026);
    c.number = "1." + CourtNumber(9000000u + uint32_t(k), year, court.segment, court.region,
                                  rng_.Range(1, 400));
    c.vara = "Vara Única";
    c.parties[0] = {"Autor", "Cliente Novo " + std::to_string(k + 1)};
    c.parties[1] = {"Réu", "Empresa Demandada " + std::to_string(k + 1)};
    ordered_json j = ServerCase(c, court, true);
    j.erase("monitored");
    return j;
  }

 private:
  const HostPlan& plan_;
  Rng rng_;
  int64_t lastMovementId_ = 100;
};

ordered_json Notice(int id, const std::string& stamp, const std::string& kind,
                    const std::string& text) {
  ordered_json n;
  n["id"] = id;
  n["sdtAviso"] = stamp;
  n["tipoAviso"] = kind;
  n["txtAviso"] = text;
  return n;
}

}  // namespace

ordered_json MakeScenario(const HostPlan& plan, const Credentials& credentials,
                          uint64_t busyCases) {
  Builder b(plan);
  ordered_json s;
  s["accounts"] =
      ordered_json::array({{{"user", credentials.user}, {"password", credentials.password}}});

  ordered_json scope = ordered_json::array();
  std::vector<const Court*> scoped;
  for (const Court& c : plan.courts) {
    if (!c.inScope)
      continue;
    std::string name = c.shortName;
    if (scoped.size() == 1) {  // the service need not spell a name as the court list does
      for (char& ch : name)
        ch = ch >= 'A' && ch <= 'Z' ? char(ch - 'A' + 'a') : ch;
    }
    scope.push_back({{"codOrgao", name}, {"tipoProcesso", c.types}});
    scoped.push_back(&c);
  }
  scope.push_back({{"codOrgao", "TJZZ"}, {"tipoProcesso", {"1"}}});  // unknown to the host
  s["scope"] = scope;

  // Host cases the notices name, by what they suit.
  std::vector<HostCase> registering, unregistering, blank, suspendedRegistered, withHearing, any;
  ordered_json cases = ordered_json::array();
  int monitored = 0;
  uint64_t look = std::min<uint64_t>(plan.cases, kLookAhead);
  for (uint64_t i = 0; i < look; ++i) {
    HostCase c = MakeCase(plan, i);
    const Court* court = CourtOf(plan, c.codTrib);
    if (!court || !court->inScope || c.duplicate || !KindMatches(*court, Kind(c.number)))
      continue;
    auto keep = [](std::vector<HostCase>& v, const HostCase& hc) {
      if (v.size() < 8)
        v.push_back(hc);
    };
    keep(any, c);
    if (c.hearing != 0)
      keep(withHearing, c);
    if (c.estado == "2")
      keep(registering, c);
    if (c.estado == "1")
      keep(unregistering, c);
    if (c.estado.empty() && !c.suspenso)
      keep(blank, c);
    if (c.estado == "3" && c.suspenso)
      keep(suspendedRegistered, c);
    if (cases.size() >= 200)
      continue;
    bool isMonitored = (c.estado == "3" || c.estado == "2") || (c.estado == "1" && i % 2 == 0);
    if (isMonitored || (c.estado.empty() && i % 4 == 0)) {
      cases.push_back(b.ServerCase(c, *court, isMonitored));
      monitored += isMonitored ? 1 : 0;
    }
  }
  std::vector<HostCase> busy;
  if (busyCases > 0) {
    cases = ordered_json::array();
    monitored = 0;
    uint64_t stride = std::max<uint64_t>(1, plan.cases / busyCases);
    for (uint64_t i = 0; i < plan.cases && busy.size() < busyCases; i += stride) {
      HostCase c = MakeCase(plan, i);
      const Court* court = CourtOf(plan, c.codTrib);
      if (!court)
        continue;
      cases.push_back(b.ServerCase(c, *court, true));
      ++monitored;
      busy.push_back(std::move(c));
    }
  }
  s["cases"] = cases;

  ordered_json oab = ordered_json::array();
  if (!scoped.empty()) {
    int count = int(std::clamp<uint64_t>(plan.cases / 40, 2, 40));
    if (busyCases > busy.size())
      count = std::max(count, int(busyCases - busy.size()));
    for (int k = 0; k < count; ++k)
      oab.push_back(b.OabCase(k, *scoped[std::size_t(k) % scoped.size()]));
  }
  s["oab"] = oab;

  ordered_json notices = ordered_json::array();
  int id = 0;
  auto at = [&](int daysAgo) { return Stamp(plan.today - daysAgo, "08:15"); };
  notices.push_back(
      Notice(++id, at(9), "ALERTA", "Manutenção programada no domingo, das 02:00 às 04:00."));
  notices.push_back(Notice(++id, at(8), "COBRANCA", "Sua fatura do mês está disponível."));
  notices.push_back(Notice(++id, at(7), "URL", "http://www.vexo.example/novidades"));
  auto caseNotice = [&](const std::vector<HostCase>& from, std::size_t pick, const char* state,
                        const std::string& text) {
    if (from.empty())
      return;
    const HostCase& c = from[pick % from.size()];
    ordered_json n = Notice(++id, at(6), "PROCESSO", text);
    n["codOrgao"] = CourtOf(plan, c.codTrib)->shortName;
    n["codProcesso"] = c.number;
    n["estadoProcesso"] = state;
    notices.push_back(n);
  };
  caseNotice(blank, 0, "EM_CADASTRAMENTO", "Cadastramento em andamento");
  caseNotice(blank, 1, "EM_CADASTRAMENTO_2", "Cadastramento em andamento");
  caseNotice(registering, 0, "CADASTRADO", "Processo cadastrado");
  caseNotice(suspendedRegistered, 0, "EM_DESCADASTRAMENTO", "Descadastramento em andamento");
  caseNotice(suspendedRegistered, 1, "EM_DESCADASTRAMENTO_2", "Descadastramento em andamento");
  caseNotice(unregistering, 0, "DESCADASTRADO", "Processo descadastrado");
  caseNotice(blank, 2, "ERRO", "Número de processo inválido");
  if (!scoped.empty()) {  // a case the host does not have
    ordered_json n = Notice(++id, at(5), "PROCESSO", "Processo cadastrado");
    n["codOrgao"] = scoped.front()->shortName;
    n["codProcesso"] =
        "1." + CourtNumber(8999999, 2020, scoped.front()->segment, scoped.front()->region, 1);
    n["estadoProcesso"] = "CADASTRADO";
    notices.push_back(n);
  }
  if (!any.empty()) {
    const HostCase& c = any.front();
    ordered_json n =
        Notice(++id, Stamp(plan.today + 21, "14:30"), "AUDIENCIA_INC", "Audiência de conciliação");
    n["codOrgao"] = CourtOf(plan, c.codTrib)->shortName;
    n["codProcesso"] = c.number;
    notices.push_back(n);
  }
  if (!withHearing.empty()) {
    const HostCase& c = withHearing.front();
    ordered_json n = Notice(++id, Stamp(c.hearing, c.hearingTime), "AUDIENCIA_EXC",
                            "Audiência de instrução e julgamento");
    n["codOrgao"] = CourtOf(plan, c.codTrib)->shortName;
    n["codProcesso"] = c.number;
    notices.push_back(n);
  }
  for (std::size_t k = 0; k < busy.size(); k += 10) {
    const HostCase& c = busy[k];
    ordered_json n =
        Notice(++id, Stamp(plan.today + 30, "10:00"), "AUDIENCIA_INC", "Audiência designada");
    n["codOrgao"] = CourtOf(plan, c.codTrib)->shortName;
    n["codProcesso"] = c.number;
    notices.push_back(n);
  }
  for (std::size_t k = 5; k < busy.size(); k += 20) {
    const HostCase& c = busy[k];
    ordered_json n = Notice(++id, at(2), "PROCESSO", "Processo cadastrado");
    n["codOrgao"] = CourtOf(plan, c.codTrib)->shortName;
    n["codProcesso"] = c.number;
    n["estadoProcesso"] = "CADASTRADO";
    notices.push_back(n);
  }
  notices.push_back(Notice(++id, at(1), "VERSAO", "Nova versão do programa disponível."));
  s["notices"] = notices;

  int y, m, d;
  xbase::YmdFromJulian(plan.today, y, m, d);
  char month[16];
  std::snprintf(month, sizeof month, "%04d-%02d", y, m);
  s["counters"] = {{"numProcessosMes", monitored + int(oab.size()) + 3},
                   {"month", month},
                   {"sdtAviso", Stamp(plan.today, "23:00")}};
  return s;
}

}  // namespace cau::mkhost
