#include "HostWriter.h"

#include <fstream>
#include <memory>
#include <utility>
#include <vector>

#include "Random.h"
#include "config/Clock.h"
#include "config/Cp1252.h"
#include "config/Errors.h"
#include "config/IniFile.h"
#include "config/Scrambler.h"
#include "db/xbase/Dbf.h"
#include "db/xbase/Fpt.h"
#include "db/xbase/TableFile.h"

namespace fs = std::filesystem;

namespace cau::mkhost {

namespace {

using xbase::DbfFile;
using xbase::TableSchema;
using xbase::TagSchema;
using xbase::Value;
using xbase::ValueType;

DbfFile::NewField F(const char* name, char type, int length = 0, int decimals = 0) {
  return DbfFile::NewField{name, type, length, decimals, false, false};
}

// Streams records into a new table (no index work per record), then builds
// its tags in bulk and stamps the header with a fixed date.
class TableSink {
 public:
  TableSink(const fs::path& dir, const std::string& base, TableSchema schema, Day headerDay)
      : schema_(std::move(schema)), headerDay_(headerDay) {
    path_ = xbase::CreateTable(dir, base, schema_);
    dbf_ = DbfFile::Open(path_, true);
    fs::path fpt = xbase::FindFileNoCase(dir, base + ".fpt");
    if (!fpt.empty())
      fpt_ = xbase::FptFile::Open(fpt, true);
    blank_ = dbf_->BlankRecord();
  }

  void Begin() { record_ = blank_; }
  void Text(const char* field, const std::string& utf8) {
    Put(field, Value{ValueType::Character, text::ToCp1252(utf8), 0, 0, false});
  }
  void Number(const char* field, double n) {
    Put(field, Value{ValueType::Numeric, {}, n, 0, false});
  }
  void Date(const char* field, Day day) { Put(field, Value{ValueType::Date, {}, 0, day, false}); }
  void Logical(const char* field, bool b) { Put(field, Value{ValueType::Logical, {}, 0, 0, b}); }
  void Memo(const char* field, const std::string& utf8) {
    const xbase::DbfField& f = Field(field);
    uint32_t block = fpt_->Write(text::ToCp1252(utf8));
    record_.replace(std::size_t(f.offset), std::size_t(f.length),
                    xbase::EncodeMemoPointer(block, f.length));
  }
  void End() {
    dbf_->AppendRecord(record_);
    ++count_;
  }
  uint64_t count() const { return count_; }

  void Finish() {
    dbf_->Close();
    if (fpt_)
      fpt_->Close();
    xbase::BuildStructuralIndex(path_, schema_.tags);
    // The last-update date of the header: fixed, so that a seed gives the same bytes.
    int y, m, d;
    xbase::YmdFromJulian(headerDay_, y, m, d);
    bool dbase = schema_.version == xbase::kDbaseIII || schema_.version == xbase::kDbaseIIIMemo;
    char date[3] = {char(dbase ? y - 1900 : y % 100), char(m), char(d)};
    xbase::TableFile file = xbase::TableFile::Open(path_, true);
    file.WriteAt(1, std::string_view(date, 3));
    file.Sync();
    file.Close();
  }

 private:
  const xbase::DbfField& Field(const char* name) {
    for (const auto& [n, index] : slots_) {
      if (n == name)
        return dbf_->fields()[std::size_t(index)];
    }
    int index = dbf_->FindField(name);
    if (index < 0)
      throw Error(path_.string() + ": campo " + name + " ausente");
    slots_.emplace_back(name, index);
    return dbf_->fields()[std::size_t(index)];
  }
  void Put(const char* field, const Value& v) {
    const xbase::DbfField& f = Field(field);
    record_.replace(std::size_t(f.offset), std::size_t(f.length), xbase::EncodeField(f, v));
  }

  TableSchema schema_;
  Day headerDay_;
  fs::path path_;
  std::unique_ptr<DbfFile> dbf_;
  std::unique_ptr<xbase::FptFile> fpt_;
  std::string blank_;
  std::string record_;
  std::vector<std::pair<const char*, int>> slots_;  // field name literal -> index
  uint64_t count_ = 0;
};

void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  out.close();
  if (!out)
    throw FileError(path.string(), path.string() + ": não foi possível gravar");
}

std::string XmlEscape(const std::string& s) {
  std::string out;
  for (char c : s) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string OrgaosXml(const HostPlan& plan) {
  std::string x = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<orgaos>\r\n";
  for (const Court& c : plan.courts) {
    x += "  <orgao id=\"k" + std::to_string(c.code) + "\" nomeReduzido=\"" +
         XmlEscape(c.shortName) + "\" nome=\"" + XmlEscape(c.name) + "\"/>\r\n";
  }
  return x + "</orgaos>\r\n";
}

std::string IniText(const HostPlan& plan, const Credentials& credentials) {
  // A fixed generator state: the scrambled values, too, follow the seed.
  FixedClock clock(TimePoint{});
  Scrambler scrambler(clock, (Mix(plan.seed ^ 0x1A1) & 0xFFFFFFFFFFFFULL) | 1);
  IniDocument ini;
  ini.Write("GLOBAL", "PROXY", "1");
  ini.Write("GLOBAL", "X01YlOQZ0VOPSPAOT0K0", scrambler.Scramble(credentials.user));
  ini.Write("GLOBAL", "X01YlOQZOV0PSPA0TOKO", scrambler.Scramble(credentials.password));
  ini.Write("GLOBAL", "X01Y10QZ0V0PSPA0T0K0", scrambler.Scramble(""));
  ini.Write("GLOBAL", "X01Y10QZ0V0PSPAOTOK0", scrambler.Scramble(""));
  ini.Write("GLOBAL", "X0lY1OQZ0VOPSPA0TOKO", scrambler.Scramble(""));
  ini.Write("GLOBAL", "ULTIMOBACKUP", Ymd(plan.today - 3));
  ini.Write("CAUPUSH", "syncPush", "0");
  return ini.Bytes();
}

void WriteProcessoRecord(TableSink& t, const HostCase& c) {
  t.Begin();
  t.Number("CODPASTA", c.codPasta);
  t.Number("CODTRIB", c.codTrib);
  t.Text("CHAVEPROC", c.number);
  t.Text("ESTADOPUSH", c.estado);
  t.Logical("SUSPENSO", c.suspenso);
  t.Text("VISTO", c.visto);
  if (c.hasTramita)
    t.Memo("TRAMITA", TramitaText(c));
  if (c.hasOutros)
    t.Memo("OUTROS", OutrosText(c));
  if (c.hasAnotacao)
    t.Memo("ANOTACAO", AnotacaoText(c));
  if (c.hearing != 0) {
    t.Text("DTPROXAUD", Ymd(c.hearing));
    t.Text("HRPROXAUD", c.hearingTime);
  }
  static const char* const kTitles[] = {"TITPARTEA", "TITPARTEB", "TITPARTEC"};
  static const char* const kNames[] = {"PARTEA", "PARTEB", "PARTEC"};
  for (int i = 0; i < 3; ++i) {
    t.Text(kTitles[i], c.parties[std::size_t(i)].title);
    t.Text(kNames[i], c.parties[std::size_t(i)].names);
  }
  if (c.inicioCob != 0)
    t.Text("INICIOCOB", Ymd(c.inicioCob));
  if (c.ultCons != 0) {
    t.Text("DTULTCONS", Ymd(c.ultCons));
    t.Text("HRULTCONS", c.hrUltCons);
  }
  if (!c.movements.empty()) {
    const Movement& m = c.movements.front();
    std::string hm = m.time.empty() ? "0000" : m.time.substr(0, 2) + m.time.substr(3, 2);
    t.Text("DTULTTRAM", Ymd(m.day) + hm);
  }
  t.Date("DTDISTRIB", c.distrib);
  t.Number("VALORCAUSA", c.valorCausa);
  t.Text("VARA", c.vara);
  t.Text("CLIENTE", c.cliente);
  t.End();
}

void WriteAppointment(TableSink& t, const HostCase* c, bool automatic, Day day,
                      const std::string& time, const std::string& what) {
  t.Begin();
  if (c) {
    t.Number("CODPASTA", c->codPasta);
    t.Number("CODTRIB", c->codTrib);
    t.Text("CHAVEPROC", c->number);
  }
  t.Text("AUTOMATICO", automatic ? "*" : "");
  t.Text("DATA", Ymd(day));
  t.Text("HORA", time);
  t.Text("COMPROMISS", what);
  t.Logical("CONCLUIDO", false);
  t.End();
}

}  // namespace

TableSchema ProcessoSchema() {
  TableSchema s;
  s.fields = {F("CODPASTA", 'N', 4),   F("CODTRIB", 'N', 4),        F("CHAVEPROC", 'C', 100),
              F("ESTADOPUSH", 'C', 1), F("SUSPENSO", 'L', 1),       F("VISTO", 'C', 1),
              F("TRAMITA", 'M', 4),    F("OUTROS", 'M', 4),         F("ANOTACAO", 'M', 4),
              F("DTPROXAUD", 'C', 8),  F("HRPROXAUD", 'C', 5),      F("TITPARTEA", 'C', 30),
              F("PARTEA", 'C', 150),   F("TITPARTEB", 'C', 30),     F("PARTEB", 'C', 150),
              F("TITPARTEC", 'C', 30), F("PARTEC", 'C', 150),       F("INICIOCOB", 'C', 8),
              F("DTULTCONS", 'C', 8),  F("HRULTCONS", 'C', 5),      F("DTULTTRAM", 'C', 12),
              F("DTDISTRIB", 'D', 8),  F("VALORCAUSA", 'N', 15, 2), F("VARA", 'C', 60),
              F("CLIENTE", 'C', 60)};
  s.tags = {
      TagSchema{"PRIMARYKEY", "STR(CODPASTA,4)+STR(CODTRIB,4)+UPPER(CHAVEPROC)", "", false, false,
                false},
      TagSchema{"ESTADOPUSH", "ESTADOPUSH+STR(CODTRIB,4)", "", false, false, false},
      TagSchema{"PROXAUD", "DTPROXAUD+HRPROXAUD", ".NOT. EMPTY(DTPROXAUD)", false, false, false},
      TagSchema{"ULTTRAM", "DTULTTRAM", "", false, false, false},
  };
  return s;
}

TableSchema PastaSchema() {
  TableSchema s;
  s.fields = {F("CODPASTA", 'N', 4), F("NOME", 'C', 60), F("DTCRIACAO", 'D', 8)};
  s.tags = {TagSchema{"PRIMARYKEY", "CODPASTA", "", false, false, false},
            TagSchema{"NOME", "UPPER(NOME)", "", false, false, false}};
  return s;
}

TableSchema AgendaSchema() {
  TableSchema s;
  s.fields = {F("CODPASTA", 'N', 4),     F("CODTRIB", 'N', 4),  F("CHAVEPROC", 'C', 100),
              F("AUTOMATICO", 'C', 1),   F("DATA", 'C', 8),     F("HORA", 'C', 5),
              F("COMPROMISS", 'C', 200), F("CONCLUIDO", 'L', 1)};
  s.tags = {TagSchema{"PRIMARYKEY", "DATA+HORA", "", false, false, false},
            TagSchema{"PROCESSO", "STR(CODTRIB,4)+UPPER(CHAVEPROC)", "", false, false, false}};
  return s;
}

TableSchema PushAuxSchema() {
  TableSchema s;
  s.fields = {F("CODTRIB", 'N', 4), F("CHAVEPROC", 'C', 100), F("DTINCLUSAO", 'D', 8)};
  s.tags = {TagSchema{"PRIMARYKEY", "STR(CODTRIB,4)+CHAVEPROC", "", false, false, false}};
  return s;
}

WriteSummary WriteInstallation(const HostPlan& plan, const Credentials& credentials,
                               const fs::path& dir) {
  fs::path data = dir / "dados";
  std::error_code ec;
  fs::create_directories(data, ec);
  if (ec)
    throw FileError(data.string(), data.string() + ": não foi possível criar: " + ec.message());
  for (const char* name : {"PROCESSO", "PASTA", "AGENDA", "PushAux"}) {
    for (const char* ext : {".dbf", ".fpt", ".cdx"}) {
      fs::path found = xbase::FindFileNoCase(data, std::string(name) + ext);
      if (!found.empty())
        throw Error(found.string() + ": já existe; escolha uma pasta vazia");
    }
  }

  WriteFile(dir / "Causarium.exe", "");
  WriteFile(dir / "orgaos.xml", OrgaosXml(plan));
  WriteFile(dir / "causarium.ini", IniText(plan, credentials));

  WriteSummary summary;
  {
    TableSink pasta(data, "PASTA", PastaSchema(), plan.today);
    for (const Folder& f : plan.folders) {
      pasta.Begin();
      pasta.Number("CODPASTA", f.code);
      pasta.Text("NOME", f.name);
      pasta.Date("DTCRIACAO", f.created);
      pasta.End();
    }
    pasta.Finish();
    summary.folders = pasta.count();
  }

  TableSink processo(data, "PROCESSO", ProcessoSchema(), plan.today);
  TableSink agenda(data, "AGENDA", AgendaSchema(), plan.today);
  TableSink queue(data, "PushAux", PushAuxSchema(), plan.today);
  uint64_t maxQueue = 3 + plan.cases / 200;
  for (uint64_t i = 0; i < plan.cases; ++i) {
    HostCase c = MakeCase(plan, i);
    WriteProcessoRecord(processo, c);
    if (c.hearing != 0 && c.automaticAppointment) {
      std::string what = c.hearingKind + " - " + std::to_string(c.codTrib) + "." + c.number;
      WriteAppointment(agenda, &c, true, c.hearing, c.hearingTime, what);
    }
    for (std::size_t k = 0; k < c.userAppointments.size(); ++k) {
      Day day = c.hearing != 0 ? c.hearing : plan.today + Day(i % 60);
      WriteAppointment(agenda, &c, false, day, c.hearing != 0 ? c.hearingTime : "14:00",
                       c.userAppointments[k]);
    }
    if (i % 50 == 7) {  // appointments of no case
      WriteAppointment(agenda, nullptr, false, plan.today + Day(i % 90) - 30, "10:30",
                       "Reunião de equipe");
    }
    if (c.queued && queue.count() < maxQueue) {
      queue.Begin();
      queue.Number("CODTRIB", c.codTrib);
      // The first row keeps blanks around the number, as the host sometimes stores it.
      queue.Text("CHAVEPROC", queue.count() == 0 ? " " + c.number + " " : c.number);
      queue.Date("DTINCLUSAO", plan.today - Day(i % 7));
      queue.End();
    }
  }
  processo.Finish();
  agenda.Finish();
  queue.Finish();
  summary.cases = processo.count();
  summary.appointments = agenda.count();
  summary.queueRows = queue.count();
  return summary;
}

}  // namespace cau::mkhost
