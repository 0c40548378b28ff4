#include "Scenario.h"

#include <algorithm>
#include <array>
#include <fstream>
#include <initializer_list>
#include <sstream>

namespace pushsim {
namespace {

using nlohmann::json;

constexpr std::array kEstados = {
    "EM_CADASTRAMENTO",      "EM_CADASTRAMENTO_2", "CADASTRADO", "EM_DESCADASTRAMENTO",
    "EM_DESCADASTRAMENTO_2", "DESCADASTRADO",      "ERRO"};
constexpr std::array kTiposAviso = {"ALERTA",        "COBRANCA", "PROCESSO", "AUDIENCIA_INC",
                                    "AUDIENCIA_EXC", "VERSAO",   "URL"};
constexpr std::array kTiposMeta = {"QUEBRA", "DESTAQUE", "URL", "TITULO", "PAGINA", "COLUNA"};

template <std::size_t N>
bool OneOf(const std::array<const char*, N>& values, const std::string& value) {
  return std::find(values.begin(), values.end(), value) != values.end();
}

// Reads one JSON object, naming the place of every fault it finds.
class Fields {
 public:
  Fields(const json& object, std::string where) : object_(object), where_(std::move(where)) {
    if (!object_.is_object()) {
      Fail("an object is expected");
    }
  }

  void Allow(std::initializer_list<const char*> keys) const {
    for (const auto& item : object_.items()) {
      const std::string& key = item.key();
      if (std::none_of(keys.begin(), keys.end(), [&](const char* k) { return key == k; })) {
        Fail("unknown key \"" + key + "\"");
      }
    }
  }

  bool Has(const char* key) const { return object_.contains(key) && !object_[key].is_null(); }
  const json& Raw(const char* key) const { return object_[key]; }
  std::string Where(const std::string& key) const { return where_ + "." + key; }

  std::string String(const char* key, const std::string& fallback = {}) const {
    if (!Has(key)) {
      return fallback;
    }
    if (!object_[key].is_string()) {
      Fail("\"" + std::string(key) + "\" must be a string");
    }
    return object_[key].get<std::string>();
  }

  std::string RequiredString(const char* key) const {
    if (!Has(key)) {
      Fail("\"" + std::string(key) + "\" is missing");
    }
    return String(key);
  }

  std::optional<std::string> OptionalString(const char* key) const {
    if (!Has(key)) {
      return std::nullopt;
    }
    return String(key);
  }

  std::optional<int> OptionalInt(const char* key) const {
    if (!Has(key)) {
      return std::nullopt;
    }
    const json& v = object_[key];
    if (!v.is_number_integer() || v.get<long long>() < INT32_MIN ||
        v.get<long long>() > INT32_MAX) {
      Fail("\"" + std::string(key) + "\" must be a 32-bit integer");
    }
    return v.get<int>();
  }

  bool Bool(const char* key, bool fallback) const {
    if (!Has(key)) {
      return fallback;
    }
    if (!object_[key].is_boolean()) {
      Fail("\"" + std::string(key) + "\" must be true or false");
    }
    return object_[key].get<bool>();
  }

  // Calls read(item, where) for every item of an optional array field.
  template <typename Read>
  void Each(const char* key, Read read) const {
    if (!Has(key)) {
      return;
    }
    const json& list = object_[key];
    if (!list.is_array()) {
      Fail("\"" + std::string(key) + "\" must be an array");
    }
    for (std::size_t i = 0; i < list.size(); ++i) {
      read(list[i], Where(key) + "[" + std::to_string(i) + "]");
    }
  }

  std::vector<std::string> Strings(const char* key) const {
    std::vector<std::string> out;
    Each(key, [&](const json& item, const std::string& where) {
      if (!item.is_string()) {
        throw ScenarioError(where + ": a string is expected");
      }
      out.push_back(item.get<std::string>());
    });
    return out;
  }

  [[noreturn]] void Fail(const std::string& what) const {
    throw ScenarioError(where_ + ": " + what);
  }

 private:
  const json& object_;
  std::string where_;
};

Meta ReadMeta(const json& j, const std::string& where) {
  Fields f(j, where);
  f.Allow({"numInicio", "numFim", "tipoMeta", "txtValor"});
  Meta m;
  m.numInicio = f.OptionalInt("numInicio");
  m.numFim = f.OptionalInt("numFim");
  m.tipoMeta = f.String("tipoMeta", "QUEBRA");
  if (m.tipoMeta == "URL2") {
    m.tipoMeta = "URL";
  }
  if (!IsTipoMeta(m.tipoMeta)) {
    f.Fail("unknown tipoMeta \"" + m.tipoMeta + "\"");
  }
  m.txtValor = f.String("txtValor");
  return m;
}

Movement ReadMovement(const json& j, const std::string& where) {
  Fields f(j, where);
  f.Allow({"id", "date", "time", "text", "metas"});
  Movement m;
  const auto id = f.OptionalInt("id");
  if (!id || *id <= 0) {
    f.Fail("\"id\" must be a positive integer");
  }
  m.id = *id;
  m.date = f.RequiredString("date");
  m.time = f.String("time", "00:00");
  m.text = f.String("text");
  f.Each("metas",
         [&](const json& item, const std::string& w) { m.metas.push_back(ReadMeta(item, w)); });
  return m;
}

Party ReadParty(const json& j, const std::string& where) {
  Fields f(j, where);
  f.Allow({"codParte", "nomParte", "advogados"});
  Party p;
  p.codParte = f.String("codParte");
  p.nomParte = f.Strings("nomParte");
  f.Each("advogados", [&](const json& item, const std::string& w) {
    Fields a(item, w);
    a.Allow({"nomTitulo", "nomAdvogado", "codOab"});
    p.advogados.push_back(
        {a.OptionalString("nomTitulo"), a.String("nomAdvogado"), a.OptionalString("codOab")});
  });
  return p;
}

Case ReadCase(const json& j, const std::string& where, bool fromOab) {
  Fields f(j, where);
  f.Allow({"codOrgao", "codProcesso", "monitored", "codTipoVinculo", "sdtAudiencia",
           "codOrgaoOriginario", "codProcessoOriginario", "codProcessoAnt",
           "codProcessoOriginarioAnt", "partes", "outros", "historicos", "id", "pending"});
  Case c;
  c.codOrgao = f.RequiredString("codOrgao");
  c.codProcesso = f.RequiredString("codProcesso");
  c.codTipoVinculo =
      fromOab ? std::optional<std::string>("OAB") : f.OptionalString("codTipoVinculo");
  c.monitored = f.Bool("monitored", fromOab);
  c.pending = f.Bool("pending", false);
  c.sdtAudiencia = f.OptionalString("sdtAudiencia");
  c.codOrgaoOriginario = f.OptionalString("codOrgaoOriginario");
  c.codProcessoOriginario = f.OptionalString("codProcessoOriginario");
  c.codProcessoAnt = f.OptionalString("codProcessoAnt");
  c.codProcessoOriginarioAnt = f.OptionalString("codProcessoOriginarioAnt");
  c.id = f.OptionalInt("id").value_or(0);
  f.Each("partes",
         [&](const json& item, const std::string& w) { c.partes.push_back(ReadParty(item, w)); });
  f.Each("outros", [&](const json& item, const std::string& w) {
    Fields o(item, w);
    o.Allow({"codOutro", "txtOutro"});
    c.outros.push_back({o.String("codOutro"), o.String("txtOutro")});
  });
  f.Each("historicos", [&](const json& item, const std::string& w) {
    c.historicos.push_back(ReadMovement(item, w));
  });
  return c;
}

Notice ReadNotice(const json& j, const std::string& where) {
  Fields f(j, where);
  f.Allow({"id", "sdtAviso", "txtAviso", "codOrgao", "codProcesso", "estadoProcesso", "tipoAviso"});
  Notice n;
  n.id = f.OptionalInt("id").value_or(0);
  if (n.id < 0) {
    f.Fail("\"id\" must not be negative");
  }
  n.sdtAviso = f.String("sdtAviso");
  n.txtAviso = f.String("txtAviso");
  n.codOrgao = f.String("codOrgao");
  n.codProcesso = f.String("codProcesso");
  n.estadoProcesso = f.OptionalString("estadoProcesso");
  if (n.estadoProcesso && !IsEstadoProcesso(*n.estadoProcesso)) {
    f.Fail("unknown estadoProcesso \"" + *n.estadoProcesso + "\"");
  }
  n.tipoAviso = f.String("tipoAviso", "ALERTA");
  if (!IsTipoAviso(n.tipoAviso)) {
    f.Fail("unknown tipoAviso \"" + n.tipoAviso + "\"");
  }
  return n;
}

Counters ReadCounters(const json& j, const std::string& where) {
  Fields f(j, where);
  f.Allow({"numProcessos", "numProcessosMes", "month", "sdtAviso"});
  Counters c;
  c.numProcessos = f.OptionalInt("numProcessos");
  c.numProcessosMes = f.OptionalInt("numProcessosMes").value_or(0);
  c.month = f.String("month");
  c.sdtAviso = f.OptionalString("sdtAviso");
  return c;
}

// Gives every case and notice without an id one above the largest, in file order.
void NumberItems(MutableState& state) {
  int caseId = 0;
  for (const Case& c : state.cases) {
    caseId = std::max(caseId, c.id);
  }
  for (Case& c : state.cases) {
    if (c.id == 0) {
      c.id = ++caseId;
    }
  }
  int noticeId = 0;
  for (const Notice& n : state.notices) {
    noticeId = std::max(noticeId, n.id);
  }
  for (Notice& n : state.notices) {
    if (n.id == 0) {
      n.id = ++noticeId;
    }
  }
  std::stable_sort(state.notices.begin(), state.notices.end(),
                   [](const Notice& a, const Notice& b) { return a.id < b.id; });
}

void ReadMutable(const Fields& f, MutableState& state) {
  f.Each("cases", [&](const json& item, const std::string& w) {
    state.cases.push_back(ReadCase(item, w, false));
  });
  f.Each("oab", [&](const json& item, const std::string& w) {
    state.cases.push_back(ReadCase(item, w, true));
  });
  f.Each("notices", [&](const json& item, const std::string& w) {
    state.notices.push_back(ReadNotice(item, w));
  });
  if (f.Has("counters")) {
    state.counters = ReadCounters(f.Raw("counters"), f.Where("counters"));
  }
  NumberItems(state);
}

void PutOptional(json& j, const char* key, const std::optional<std::string>& value) {
  if (value) {
    j[key] = *value;
  }
}

json CaseToJson(const Case& c) {
  json j = {{"codOrgao", c.codOrgao},
            {"codProcesso", c.codProcesso},
            {"monitored", c.monitored},
            {"id", c.id}};
  PutOptional(j, "codTipoVinculo", c.codTipoVinculo);
  PutOptional(j, "sdtAudiencia", c.sdtAudiencia);
  PutOptional(j, "codOrgaoOriginario", c.codOrgaoOriginario);
  PutOptional(j, "codProcessoOriginario", c.codProcessoOriginario);
  PutOptional(j, "codProcessoAnt", c.codProcessoAnt);
  PutOptional(j, "codProcessoOriginarioAnt", c.codProcessoOriginarioAnt);
  json partes = json::array();
  for (const Party& p : c.partes) {
    json advogados = json::array();
    for (const Lawyer& a : p.advogados) {
      json aj = {{"nomAdvogado", a.nomAdvogado}};
      PutOptional(aj, "nomTitulo", a.nomTitulo);
      PutOptional(aj, "codOab", a.codOab);
      advogados.push_back(aj);
    }
    partes.push_back(
        {{"codParte", p.codParte}, {"nomParte", p.nomParte}, {"advogados", advogados}});
  }
  j["partes"] = partes;
  json outros = json::array();
  for (const Other& o : c.outros) {
    outros.push_back({{"codOutro", o.codOutro}, {"txtOutro", o.txtOutro}});
  }
  j["outros"] = outros;
  json historicos = json::array();
  for (const Movement& m : c.historicos) {
    json metas = json::array();
    for (const Meta& meta : m.metas) {
      json mj = {{"tipoMeta", meta.tipoMeta}, {"txtValor", meta.txtValor}};
      if (meta.numInicio) {
        mj["numInicio"] = *meta.numInicio;
      }
      if (meta.numFim) {
        mj["numFim"] = *meta.numFim;
      }
      metas.push_back(mj);
    }
    historicos.push_back(
        {{"id", m.id}, {"date", m.date}, {"time", m.time}, {"text", m.text}, {"metas", metas}});
  }
  j["historicos"] = historicos;
  return j;
}

json NoticeToJson(const Notice& n) {
  json j = {{"id", n.id},
            {"sdtAviso", n.sdtAviso},
            {"txtAviso", n.txtAviso},
            {"codOrgao", n.codOrgao},
            {"codProcesso", n.codProcesso},
            {"tipoAviso", n.tipoAviso}};
  PutOptional(j, "estadoProcesso", n.estadoProcesso);
  return j;
}

json ReadJsonFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    throw ScenarioError(file.string() + ": cannot be opened");
  }
  try {
    return json::parse(in);
  } catch (const json::parse_error& e) {
    throw ScenarioError(file.string() + ": not valid JSON (" + e.what() + ")");
  }
}

}  // namespace

bool IsEstadoProcesso(const std::string& value) {
  return OneOf(kEstados, value);
}
bool IsTipoAviso(const std::string& value) {
  return OneOf(kTiposAviso, value);
}
bool IsTipoMeta(const std::string& value) {
  return OneOf(kTiposMeta, value);
}

Scenario ParseScenario(const json& doc, const std::filesystem::path& baseFolder) {
  Fields f(doc, "scenario");
  f.Allow({"accounts", "scope", "cases", "oab", "notices", "counters", "update", "faults"});
  Scenario s;
  f.Each("accounts", [&](const json& item, const std::string& w) {
    Fields a(item, w);
    a.Allow({"user", "password"});
    s.accounts.push_back({a.RequiredString("user"), a.String("password")});
  });
  f.Each("scope", [&](const json& item, const std::string& w) {
    Fields c(item, w);
    c.Allow({"codOrgao", "tipoProcesso"});
    s.scope.push_back({c.RequiredString("codOrgao"), c.Strings("tipoProcesso")});
  });
  ReadMutable(f, s.state);
  if (f.Has("update")) {
    Fields u(f.Raw("update"), f.Where("update"));
    u.Allow({"version", "file", "url", "folder", "signature"});
    s.update.version = u.String("version");
    s.update.file = u.String("file");
    s.update.url = u.String("url");
    s.update.signature = u.String("signature");
    if (u.Has("folder")) {
      s.update.folder = baseFolder / u.String("folder");
    }
  }
  if (f.Has("faults")) {
    if (!f.Raw("faults").is_object()) {
      f.Fail("\"faults\" must be an object keyed by operation");
    }
    s.faults = f.Raw("faults");
  }
  return s;
}

Scenario LoadScenario(const std::filesystem::path& file) {
  const json doc = ReadJsonFile(file);
  try {
    return ParseScenario(doc, file.parent_path());
  } catch (const ScenarioError& e) {
    throw ScenarioError(file.string() + ": " + e.what());
  }
}

json StateToJson(const MutableState& state) {
  json cases = json::array();
  for (const Case& c : state.cases) {
    cases.push_back(CaseToJson(c));
  }
  json notices = json::array();
  for (const Notice& n : state.notices) {
    notices.push_back(NoticeToJson(n));
  }
  json counters = {{"numProcessosMes", state.counters.numProcessosMes},
                   {"month", state.counters.month}};
  if (state.counters.numProcessos) {
    counters["numProcessos"] = *state.counters.numProcessos;
  }
  PutOptional(counters, "sdtAviso", state.counters.sdtAviso);
  return {{"cases", cases}, {"notices", notices}, {"counters", counters}};
}

MutableState StateFromJson(const json& doc) {
  Fields f(doc, "state");
  f.Allow({"cases", "notices", "counters"});
  MutableState state;
  ReadMutable(f, state);
  return state;
}

MutableState LoadState(const std::filesystem::path& file) {
  const json doc = ReadJsonFile(file);
  try {
    return StateFromJson(doc);
  } catch (const ScenarioError& e) {
    throw ScenarioError(file.string() + ": " + e.what());
  }
}

void SaveState(const std::filesystem::path& file, const MutableState& state) {
  std::filesystem::path temp = file;
  temp += ".tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out << StateToJson(state).dump(1) << '\n';
    out.flush();
    if (!out) {
      throw ScenarioError(temp.string() + ": cannot be written");
    }
  }
  std::error_code ec;
  std::filesystem::rename(temp, file, ec);
  if (ec) {
    throw ScenarioError(file.string() + ": cannot be replaced (" + ec.message() + ")");
  }
}

}  // namespace pushsim
