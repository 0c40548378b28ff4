#include "HostModel.h"

#include <cstdio>

#include "Random.h"
#include "db/xbase/Dbf.h"

namespace cau::mkhost {

namespace {

// Streams of the generator, one per kind of choice.
enum Stream : uint64_t { kPlan = 1, kIdentity, kCase, kDuplicate };

struct CourtName {
  const char* shortName;
  const char* name;
  int segment;
  int region;
};

const CourtName kCourtNames[] = {
    {"TJSP", "Tribunal de Justica de Sao Paulo", 8, 26},
    {"TJRJ", "Tribunal de Justica do Rio de Janeiro", 8, 19},
    {"TRT2", "Tribunal Regional do Trabalho da 2a Regiao", 5, 2},
    {"TJMG", "Tribunal de Justica de Minas Gerais", 8, 13},
    {"TRF3", "Tribunal Regional Federal da 3a Regiao", 4, 3},
    {"TRT1", "Tribunal Regional do Trabalho da 1a Regiao", 5, 1},
    {"TJRS", "Tribunal de Justica do Rio Grande do Sul", 8, 21},
    {"TJPR", "Tribunal de Justica do Parana", 8, 16},
    {"TRT15", "Tribunal Regional do Trabalho da 15a Regiao", 5, 15},
    {"TRF1", "Tribunal Regional Federal da 1a Regiao", 4, 1},
    {"TJBA", "Tribunal de Justica da Bahia", 8, 5},
    {"TJSC", "Tribunal de Justica de Santa Catarina", 8, 24},
    {"TRT4", "Tribunal Regional do Trabalho da 4a Regiao", 5, 4},
    {"TJPE", "Tribunal de Justica de Pernambuco", 8, 17},
    {"TRF4", "Tribunal Regional Federal da 4a Regiao", 4, 4},
    {"TJGO", "Tribunal de Justica de Goias", 8, 9},
    {"TRT3", "Tribunal Regional do Trabalho da 3a Regiao", 5, 3},
    {"TJDFT", "Tribunal de Justica do Distrito Federal", 8, 7},
    {"TJCE", "Tribunal de Justica do Ceara", 8, 6},
    {"TRF2", "Tribunal Regional Federal da 2a Regiao", 4, 2},
    {"TJES", "Tribunal de Justica do Espirito Santo", 8, 8},
    {"TRT9", "Tribunal Regional do Trabalho da 9a Regiao", 5, 9},
    {"TJMT", "Tribunal de Justica de Mato Grosso", 8, 11},
    {"TJPA", "Tribunal de Justica do Para", 8, 14},
};

const std::vector<std::vector<std::string>> kTypeSets = {
    {"1", "2", "3", "4"}, {"1", "2"}, {"1", "2", "3"}, {"1", "3"}, {"2", "4"}, {"1"},
};

const char* const kFolderNames[] = {
    "Trabalhista", "Cível",       "Família",     "Tributário", "Previdenciário",
    "Consumidor",  "Empresarial", "Imobiliário", "Criminal",   "Bancário",
    "Contratos",   "Execuções",   "Inventários", "Ambiental",  "Administrativo",
};

const char* const kFirstNames[] = {
    "Maria",  "José",    "Ana",    "João",     "Antônio",   "Francisca", "Carlos", "Paulo",
    "Lúcia",  "Pedro",   "Márcia", "Luís",     "Sebastião", "Adriana",   "Fábio",  "Cláudia",
    "Rafael", "Juliana", "Sérgio", "Patrícia", "Marcos",    "Aline",     "André",  "Tânia",
};

const char* const kSurnames[] = {
    "Silva",   "Santos",  "Oliveira", "Souza",     "Rodrigues", "Ferreira",   "Alves",
    "Pereira", "Lima",    "Gomes",    "Conceição", "Ribeiro",   "Carvalho",   "Araújo",
    "Melo",    "Barbosa", "Cardoso",  "Rocha",     "Dias",      "Nascimento", "Simões",
};

const char* const kCompanies[] = {
    "Banco Horizonte S.A.",
    "Construtora Alvorada Ltda.",
    "Companhia de Energia do Vale",
    "Transportes Rápido Sul Ltda.",
    "Supermercados Boa Compra Ltda.",
    "Telefônica Nacional S.A.",
    "Instituto Nacional do Seguro Social",
    "Fazenda Pública do Estado",
    "Seguradora Confiança S.A.",
    "Indústria Têxtil São Bento Ltda.",
};

const char* const kMovements[] = {
    "Distribuído por sorteio",
    "Conclusos para despacho",
    "Juntada de petição",
    "Audiência designada",
    "Publicado despacho no DJE",
    "Expedição de mandado de citação",
    "Mandado devolvido cumprido",
    "Recebidos os autos do contador",
    "Decorrido prazo sem manifestação",
    "Sentença proferida: julgado procedente em parte",
    "Trânsito em julgado",
    "Certidão de publicação expedida",
    "Designada perícia técnica",
    "Remetidos os autos ao Tribunal",
    "<b>Despacho</b><br/>Intime-se a parte autora para manifestação em 15 dias.",
    "Petição de réplica juntada &quot;fls. 120&quot;",
};

const char* const kNotes[] = {
    "Cliente pediu retorno por telefone.", "Aguardar cópia do contrato.",
    "Prazo controlado pela Dra. Márcia.",  "Verificar custas antes do recurso.",
    "Acordo proposto: 12 parcelas.",       "Testemunhas confirmadas para a audiência.",
};

const char* const kAppointments[] = {
    "Reunião com o cliente", "Prazo para contestação", "Protocolar petição",
    "Despacho com o juiz",   "Retirar alvará",
};

const char* const kHearings[] = {
    "Audiência de conciliação",
    "Audiência de instrução e julgamento",
    "Audiência una",
    "Sessão de julgamento",
};

const char* const kVaras[] = {
    "1ª Vara Cível",   "2ª Vara Cível",          "3ª Vara do Trabalho",        "Vara de Família",
    "5ª Vara Federal", "Juizado Especial Cível", "4ª Vara da Fazenda Pública",
};

std::string Person(Rng& rng) {
  std::string s = rng.Pick(kFirstNames);
  s += " ";
  s += rng.Pick(kSurnames);
  if (rng.Percent(50)) {
    s += " ";
    s += rng.Pick(kSurnames);
  }
  return s;
}

std::string Time(Rng& rng, int fromHour, int toHour) {
  // Drawn one by one: the order in which arguments are evaluated is unspecified.
  int hour = rng.Range(fromHour, toHour);
  int minute = rng.Range(0, 11) * 5;
  char b[8];
  std::snprintf(b, sizeof b, "%02d:%02d", hour, minute);
  return b;
}

struct Identity {
  int codTrib = 0;
  std::string number;
  int year = 2000;
};

const Court* CourtByCode(const HostPlan& plan, int code) {
  for (const Court& c : plan.courts) {
    if (c.code == code)
      return &c;
  }
  return nullptr;
}

// Court and number of case `index` before duplicates are resolved.
Identity RawIdentity(const HostPlan& plan, uint64_t index) {
  Rng rng = Rng::For(plan.seed, kIdentity, index);
  Identity id;
  int segment = 8, region = 26;
  if (!plan.courts.empty() && !rng.PerMille(15)) {
    const Court& court = plan.courts[rng.Below(plan.courts.size())];
    id.codTrib = court.code;
    segment = court.segment;
    region = court.region;
  } else {
    id.codTrib = 9000 + rng.Range(0, 9);  // a court the court list does not know
  }
  static const char* const kKinds[] = {"1", "1", "1", "1", "2", "2", "3", "4"};
  id.year = rng.Range(1998, 2026);
  std::string kind = rng.Pick(kKinds);
  auto sequence = uint32_t(rng.Below(9000000));
  int origin = rng.Range(1, 400);
  id.number = kind + "." + CourtNumber(sequence, id.year, segment, region, origin);
  return id;
}

// An earlier case that case `index` copies, or `index` itself.
uint64_t DuplicateOf(const HostPlan& plan, uint64_t index) {
  while (index > 0) {
    Rng rng = Rng::For(plan.seed, kDuplicate, index);
    if (!rng.PerMille(12))
      break;
    index = rng.Below(index);
  }
  return index;
}

std::vector<Movement> Movements(Rng& rng, Day newest, int count) {
  std::vector<Movement> out;
  Day day = newest;
  for (int i = 0; i < count; ++i) {
    Movement m;
    m.day = day;
    if (!rng.Percent(20))
      m.time = Time(rng, 8, 18);
    m.text = rng.Pick(kMovements);
    out.push_back(std::move(m));
    day -= rng.Range(1, 40);
  }
  return out;
}

}  // namespace

std::string Ymd(Day day) {
  return xbase::FormatDate(day);
}

std::string IsoDay(Day day) {
  int y, m, d;
  xbase::YmdFromJulian(day, y, m, d);
  char b[16];
  std::snprintf(b, sizeof b, "%04d-%02d-%02d", y, m, d);
  return b;
}

std::string DmyDay(Day day) {
  int y, m, d;
  xbase::YmdFromJulian(day, y, m, d);
  char b[16];
  std::snprintf(b, sizeof b, "%02d/%02d/%04d", d, m, y);
  return b;
}

std::string CourtNumber(uint32_t sequence, int year, int segment, int region, int origin) {
  // Check digits: 98 - (NNNNNNN YYYY J TR OOOO 00 mod 97).
  char digits[32];
  std::snprintf(digits, sizeof digits, "%07u%04d%d%02d%04d00", sequence, year, segment, region,
                origin);
  int rest = 0;
  for (const char* p = digits; *p; ++p)
    rest = (rest * 10 + (*p - '0')) % 97;
  char b[40];
  std::snprintf(b, sizeof b, "%07u-%02d.%04d.%d.%02d.%04d", sequence, 98 - rest, year, segment,
                region, origin);
  return b;
}

HostPlan MakePlan(uint64_t seed, uint64_t cases, int courts) {
  HostPlan plan;
  plan.seed = seed;
  plan.cases = cases;
  Rng rng = Rng::For(seed, kPlan, 0);
  // "Today" of the data: a fixed day of 2026 chosen by the seed.
  plan.today = xbase::JulianFromYmd(2026, 1, 5) + Day(seed % 330);
  constexpr int kNames = int(sizeof kCourtNames / sizeof kCourtNames[0]);
  for (int i = 0; i < courts; ++i) {
    Court c;
    c.code = 1 + i * 3 + (i % 2);  // codes with gaps, as a host's list has
    const CourtName& n = kCourtNames[i % kNames];
    c.shortName = n.shortName;
    c.name = n.name;
    if (i >= kNames) {
      c.shortName += "X" + std::to_string(i / kNames);
      c.name += " (" + std::to_string(i / kNames) + ")";
    }
    c.segment = n.segment;
    c.region = n.region;
    c.inScope = i % 5 != 4;
    c.types = kTypeSets[rng.Below(kTypeSets.size())];
    plan.courts.push_back(std::move(c));
  }
  uint64_t folders = cases / 80;
  if (folders < 4)
    folders = 4;
  if (folders > 400)
    folders = 400;
  constexpr int kFolders = int(sizeof kFolderNames / sizeof kFolderNames[0]);
  for (uint64_t i = 0; i < folders; ++i) {
    Folder f;
    f.code = int(i + 1 + i / 6);  // a gap after every sixth
    f.name = kFolderNames[i % kFolders];
    if (i >= kFolders) {
      f.name += " - " + std::string(rng.Pick(kSurnames));
      f.name += " " + std::to_string(i / kFolders);
    }
    f.created = plan.today - Day(rng.Range(30, 4000));
    plan.folders.push_back(std::move(f));
  }
  return plan;
}

HostCase MakeCase(const HostPlan& plan, uint64_t index) {
  Rng rng = Rng::For(plan.seed, kCase, index);
  HostCase c;
  c.index = index;
  uint64_t original = DuplicateOf(plan, index);
  Identity id = RawIdentity(plan, original);
  c.duplicate = original != index;
  c.codTrib = id.codTrib;
  c.number = id.number;
  c.codPasta = plan.folders[rng.Below(plan.folders.size())].code;

  int state = int(rng.Below(100));
  c.estado = state < 45   ? ""
             : state < 75 ? "3"
             : state < 83 ? "0"
             : state < 90 ? "2"
             : state < 94 ? "1"
                          : "5";
  c.suspenso = rng.PerMille(85);
  if (c.duplicate && c.estado != "5")
    c.estado = rng.Percent(50) ? "" : "3";

  bool monitored = c.estado == "3" || c.estado == "2" || c.estado == "5" || c.estado == "1";
  int movements = monitored ? rng.Range(1, 8) : c.estado == "0" ? rng.Range(0, 3) : 0;
  Day newest = plan.today - Day(rng.Range(1, 200));
  c.movements = Movements(rng, newest, movements);
  c.hasTramita = !c.movements.empty() || rng.Percent(50);
  static const char* const kVisto[] = {"T", "F", "F", ""};
  c.visto = rng.Pick(kVisto);

  int month = rng.Range(1, 12);
  c.distrib = xbase::JulianFromYmd(id.year, month, rng.Range(1, 28));
  if (c.distrib > plan.today)
    c.distrib = plan.today - 10;
  c.valorCausa = double(rng.Below(50000000)) / 100.0;
  c.vara = rng.Pick(kVaras);
  c.cliente = rng.Percent(30) ? std::string(rng.Pick(kCompanies)) : Person(rng);

  if (monitored || c.estado == "0") {
    c.inicioCob = std::max(c.distrib, plan.today - Day(rng.Range(30, 900)));
    c.ultCons = plan.today - Day(rng.Range(0, 20));
    c.hrUltCons = Time(rng, 7, 22);
  }

  if (rng.Percent(70)) {
    const Court* court = CourtByCode(plan, c.codTrib);
    bool labour = court && court->segment == 5;
    c.parties[0] = {labour ? "Reclamante" : "Autor", Person(rng)};
    c.parties[1] = {labour ? "Reclamado" : "Réu", rng.Pick(kCompanies)};
    if (rng.Percent(20)) {
      std::string first = Person(rng);
      c.parties[2] = {"Terceiro interessado", first + ", " + Person(rng)};
    }
  }

  if (rng.Percent(15)) {
    c.hearing = plan.today + Day(rng.Range(-20, 150));
    c.hearingTime = Time(rng, 9, 17);
    c.hearingKind = rng.Pick(kHearings);
    c.automaticAppointment = monitored && rng.Percent(60);
  }

  c.hasOutros = c.estado == "5" || rng.Percent(60);
  if (c.hasOutros) {
    c.outrosHeaderLower = rng.PerMille(20);
    c.outros.push_back("Vara=" + c.vara);
    if (rng.Percent(50))
      c.outros.push_back("Juiz=Dr. " + Person(rng));
    if (rng.Percent(40))
      c.outros.push_back("Assunto=Indenização por dano moral");
    if (c.estado == "5") {
      const char* why = c.duplicate ? "Processo duplicado." : "Número de processo inválido";
      std::string day = DmyDay(plan.today - Day(rng.Range(1, 60)));
      c.outros.push_back("MsgErro=" + day + " - " + Time(rng, 8, 20) + " -[PUSH]- " + why);
    } else if (rng.Percent(10)) {
      c.outros.push_back("MsgErro=");
    }
    if (rng.Percent(30))
      c.outros.push_back("Comarca=São Paulo");
  }

  c.hasAnotacao = rng.Percent(60);
  if (c.hasAnotacao && rng.Percent(40)) {
    int n = rng.Range(1, 3);
    for (int i = 0; i < n; ++i)
      c.notes.push_back(rng.Pick(kNotes));
  }

  if (rng.Percent(6))
    c.userAppointments.push_back(rng.Pick(kAppointments));
  c.queued = c.suspenso && rng.Percent(30);
  return c;
}

std::string RecordKey(int codPasta, int codTrib, const std::string& number) {
  char head[32];
  std::snprintf(head, sizeof head, "%4d%4d", codPasta, codTrib);
  std::string key = head;
  for (char ch : number)
    key += ch >= 'a' && ch <= 'z' ? char(ch - 'a' + 'A') : ch;
  if (number.size() < 100)
    key.append(100 - number.size(), ' ');
  return key;
}

std::string TramitaText(const HostCase& c) {
  std::string out = "chave= " + RecordKey(c.codPasta, c.codTrib, c.number) + "&Tramita\r\n";
  int n = 1;
  for (const Movement& m : c.movements) {
    std::string k = std::to_string(n++);
    out += "Dt_" + k + "=" + DmyDay(m.day) + "\r\n";
    if (!m.time.empty() && m.time != "00:00")
      out += "Hr_" + k + "=" + m.time + "\r\n";
    out += "Txt_" + k + "=" + m.text + "\r\n";
  }
  return out;
}

std::string OutrosText(const HostCase& c) {
  std::string out = "chave= " + RecordKey(c.codPasta, c.codTrib, c.number) +
                    (c.outrosHeaderLower ? "&outros" : "&Outros") + "\r\n";
  for (const std::string& line : c.outros)
    out += line + "\r\n";
  return out;
}

std::string AnotacaoText(const HostCase& c) {
  std::string out = "chave= " + RecordKey(c.codPasta, c.codTrib, c.number) + "&Anotacao\r\n";
  for (const std::string& line : c.notes)
    out += line + "\r\n";
  return out;
}

}  // namespace cau::mkhost
