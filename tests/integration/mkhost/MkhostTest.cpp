// The sample host installation: mkhost run as a process, its files read back
// by the table engine, the check tool, two independent readers and pushsim.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <pugixml.hpp>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "config/Cp1252.h"
#include "config/IniFile.h"
#include "config/Scrambler.h"
#include "db/xbase/Table.h"
#include "interop/xbase/Run.h"

namespace fs = std::filesystem;
using cau::xbase::Table;
using cau::xbase::testing::Quote;
using cau::xbase::testing::RunCommand;
using nlohmann::json;

namespace {

const std::string kBin = CAU_BIN_DIR;
const std::string kSource = CAU_TEST_SOURCE_DIR;
const char* const kTables[] = {"PROCESSO", "PASTA", "AGENDA", "PushAux"};
// Non-ASCII and punctuation, so the scrambled values go through Windows-1252.
const std::string kUser = "joão.silva";
const std::string kPassword = "s3nh@ç/x";

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

fs::path TempDir(const std::string& name) {
  fs::path p =
      fs::temp_directory_path() / ("mkhost-test-" + std::to_string(::getpid()) + "-" + name);
  fs::remove_all(p);
  return p;
}

cau::xbase::testing::RunResult RunMkhost(const fs::path& dir, const std::string& extra) {
  return RunCommand(kBin + "/mkhost " + Quote(dir.string()) + " " + extra + " 2>&1");
}

std::string Trim(std::string s) {
  while (!s.empty() && s.back() == ' ')
    s.pop_back();
  while (!s.empty() && s.front() == ' ')
    s.erase(s.begin());
  return s;
}

std::string Text(const Table& t, const char* field) {
  return cau::text::FromCp1252(t.FieldValue(t.FieldIndex(field)).text);
}

std::string Memo(const Table& t, const char* field) {
  return cau::text::FromCp1252(t.MemoText(t.FieldIndex(field)));
}

int Int(const Table& t, const char* field) {
  return int(t.FieldValue(t.FieldIndex(field)).number);
}

std::string Header(const Table& t, const std::string& section) {
  char head[16];
  std::snprintf(head, sizeof head, "%4d%4d", Int(t, "CODPASTA"), Int(t, "CODTRIB"));
  std::string number = Trim(Text(t, "CHAVEPROC"));
  std::string key = head + cau::text::UpperAscii(number);
  key.append(number.size() < 100 ? 100 - number.size() : 0, ' ');
  return "chave= " + key + "&" + section;
}

class Mkhost : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = TempDir("host");
    auto r =
        RunMkhost(dir_, "--cases 300 --courts 6 --seed 5 --user " + Quote(kUser) + " --password " +
                            Quote(kPassword) + " --scenario " + Quote((dir_.string() + ".json")));
    ASSERT_EQ(r.status, 0) << r.out;
  }
  static void TearDownTestSuite() {
    fs::remove_all(dir_);
    fs::remove(dir_.string() + ".json");
  }
  static fs::path dir_;
};
fs::path Mkhost::dir_;

TEST_F(Mkhost, InstallationFilesAreThere) {
  ASSERT_TRUE(fs::is_regular_file(dir_ / "Causarium.exe"));
  EXPECT_EQ(fs::file_size(dir_ / "Causarium.exe"), 0u);

  pugi::xml_document xml;
  ASSERT_TRUE(xml.load_file((dir_ / "orgaos.xml").c_str()));
  std::set<std::string> codes, names;
  int courts = 0;
  for (pugi::xml_node n = xml.document_element().first_child(); n; n = n.next_sibling()) {
    std::string id = n.attribute("id").value();
    ASSERT_GE(id.size(), 2u);
    EXPECT_EQ(id[0], 'k');
    EXPECT_NE(id[1], '0') << "a code without leading zeros";
    EXPECT_EQ(id.find_first_not_of("0123456789", 1), std::string::npos) << id;
    codes.insert(id.substr(1));
    names.insert(n.attribute("nomeReduzido").value());
    ++courts;
  }
  EXPECT_EQ(courts, 6);
  EXPECT_EQ(codes.size(), 6u);
  EXPECT_EQ(names.size(), 6u);

  cau::IniFile ini(dir_ / "causarium.ini");
  EXPECT_EQ(ini.ReadInteger("GLOBAL", "PROXY", 0), 1);
  EXPECT_EQ(cau::Unscramble(ini.ReadString("GLOBAL", "X01YlOQZ0VOPSPAOT0K0")), kUser);
  EXPECT_EQ(cau::Unscramble(ini.ReadString("GLOBAL", "X01YlOQZOV0PSPA0TOKO")), kPassword);
  EXPECT_EQ(cau::Unscramble(ini.ReadString("GLOBAL", "X01Y10QZ0V0PSPA0T0K0")), "");
}

TEST_F(Mkhost, TablesPassTheCheckAndReadTheSameInIndependentReaders) {
  auto check = RunCommand(kBin + "/xbase check " + Quote((dir_ / "dados").string()) + " 2>&1");
  EXPECT_EQ(check.status, 0) << check.out;
  for (const char* name : kTables)
    EXPECT_NE(check.out.find(std::string(name) + ".DBF: ok"), std::string::npos) << check.out;

  const std::string dbfread =
      "/usr/bin/python3 " + kSource + "/tests/interop/xbase/dbfread_dump.py";
  for (const char* name : kTables) {
    SCOPED_TRACE(name);
    fs::path table = dir_ / "dados" / (std::string(name) + ".DBF");
    auto ours = RunCommand(kBin + "/xbase dump " + Quote(table.string()));
    auto theirs = RunCommand(dbfread + " " + Quote(table.string()));
    ASSERT_EQ(ours.status, 0);
    ASSERT_EQ(theirs.status, 0) << theirs.out;
    json a = json::parse(ours.out), b = json::parse(theirs.out);
    ASSERT_EQ(a.size(), b.size());
    ASSERT_FALSE(a.empty());
    for (std::size_t i = 0; i < a.size(); ++i) {
      for (auto& [field, value] : a[i]["values"].items()) {
        const json& other = b[i]["values"][field];
        auto empty = [](const json& v) {
          return v.is_null() || (v.is_string() && v.get<std::string>().empty());
        };
        if (empty(value) || empty(other)) {
          EXPECT_TRUE(empty(value) && empty(other)) << i << " " << field;
        } else if (value.is_number()) {
          EXPECT_NEAR(value.get<double>(), other.get<double>(), 1e-9) << i << " " << field;
        } else {
          EXPECT_EQ(value, other) << "record " << i + 1 << " field " << field;
        }
      }
    }
  }

  // The second reader: record counts and one memo through its own memo code.
  std::string script =
      "import dbf,sys\n"
      "for n in sys.argv[1:]:\n"
      "  t=dbf.Table(n); t.open(); print(len(t))\n"
      "  if 'tramita' in t.field_names: print(sum(1 for r in t if r.tramita.startswith('chave= "
      "')))\n";
  std::string cmd = "/usr/bin/python3 -c " + Quote(script);
  for (const char* name : kTables)
    cmd += " " + Quote((dir_ / "dados" / (std::string(name) + ".DBF")).string());
  auto other = RunCommand(cmd + " 2>&1");
  ASSERT_EQ(other.status, 0) << other.out;
  std::istringstream lines(other.out);
  std::vector<long> counts;
  for (long v; lines >> v;)
    counts.push_back(v);
  ASSERT_EQ(counts.size(), 5u) << other.out;
  EXPECT_EQ(counts[0], 300);
  EXPECT_GT(counts[1], 100);  // cases with a movement memo
  std::size_t k = 0;
  for (const char* name : kTables) {
    auto t = Table::Open(dir_ / "dados" / (std::string(name) + ".DBF"));
    EXPECT_EQ(long(t->RecordCount()), counts[k == 0 ? 0 : k + 1]) << name;
    ++k;
  }
}

TEST_F(Mkhost, TablesHoldTheTagsOurWritesMaintain) {
  const std::map<std::string, std::set<std::string>> expected = {
      {"PROCESSO",
       {"PRIMARYKEY=STR(CODPASTA,4)+STR(CODTRIB,4)+UPPER(CHAVEPROC)",
        "ESTADOPUSH=ESTADOPUSH+STR(CODTRIB,4)",
        "PROXAUD=DTPROXAUD+HRPROXAUD FOR .NOT. EMPTY(DTPROXAUD)", "ULTTRAM=DTULTTRAM"}},
      {"PASTA", {"PRIMARYKEY=CODPASTA", "NOME=UPPER(NOME)"}},
      {"AGENDA", {"PRIMARYKEY=DATA+HORA", "PROCESSO=STR(CODTRIB,4)+UPPER(CHAVEPROC)"}},
      {"PushAux", {"PRIMARYKEY=STR(CODTRIB,4)+CHAVEPROC"}},
  };
  for (const auto& [name, tags] : expected) {
    auto t = Table::Open(dir_ / "dados" / (name + ".DBF"));
    EXPECT_FALSE(t->readOnly()) << t->readOnlyReason();
    std::set<std::string> got;
    for (const auto& info : t->cdx()->tags())
      got.insert(info.name + "=" + info.keyExpr +
                 (info.forExpr.empty() ? "" : " FOR " + info.forExpr));
    EXPECT_EQ(got, tags) << name;
  }
  // The FOR clause leaves the cases without a hearing out of the hearing tag.
  auto t = Table::Open(dir_ / "dados" / "PROCESSO.DBF");
  t->SelectTag(t->FindTag("PROXAUD"));
  int withHearing = 0;
  for (t->GoTop(); !t->Eof(); t->Skip()) {
    EXPECT_FALSE(Trim(Text(*t, "DTPROXAUD")).empty());
    ++withHearing;
  }
  EXPECT_GT(withHearing, 0);
  EXPECT_LT(withHearing, 300);
}

TEST_F(Mkhost, EveryTagWalksInTheSameOrderInAnIndependentReader) {
  struct TagCase {
    const char* table;
    const char* tag;
    const char* type;  // C or N, as the other reader wants it
  };
  const TagCase tags[] = {
      {"PROCESSO", "PRIMARYKEY", "C"}, {"PROCESSO", "ESTADOPUSH", "C"},
      {"PROCESSO", "PROXAUD", "C"},    {"PROCESSO", "ULTTRAM", "C"},
      {"PASTA", "PRIMARYKEY", "N"},    {"PASTA", "NOME", "C"},
      {"AGENDA", "PRIMARYKEY", "C"},   {"AGENDA", "PROCESSO", "C"},
      {"PushAux", "PRIMARYKEY", "C"},
  };
  for (const TagCase& c : tags) {
    SCOPED_TRACE(std::string(c.table) + " " + c.tag);
    auto t = Table::Open(dir_ / "dados" / (std::string(c.table) + ".DBF"));
    t->SelectTag(t->FindTag(c.tag));
    std::string ours;
    for (t->GoTop(); !t->Eof(); t->Skip())
      ours += std::to_string(t->RecNo()) + "\n";
    auto theirs = RunCommand("/usr/bin/perl " + kSource + "/tests/unit/xbase_cdx/read_tag.pl " +
                             Quote((dir_ / "dados" / (std::string(c.table) + ".CDX")).string()) +
                             " " + c.tag + " " + c.type + " 2>&1");
    ASSERT_EQ(theirs.status, 0) << theirs.out;
    EXPECT_FALSE(ours.empty());
    EXPECT_EQ(ours, theirs.out);
  }
}

TEST_F(Mkhost, CasesAreRealistic) {
  auto t = Table::Open(dir_ / "dados" / "PROCESSO.DBF");
  std::set<std::string> states, kinds, keys;
  std::set<int> folders, courts;
  int suspended = 0, duplicates = 0, errors = 0, notes = 0;
  for (t->GoTop(); !t->Eof(); t->Skip()) {
    std::string number = Trim(Text(*t, "CHAVEPROC"));
    ASSERT_NE(number.find('.'), std::string::npos) << number;
    kinds.insert(number.substr(0, number.find('.')));
    states.insert(Trim(Text(*t, "ESTADOPUSH")));
    folders.insert(Int(*t, "CODPASTA"));
    courts.insert(Int(*t, "CODTRIB"));
    suspended += t->FieldValue(t->FieldIndex("SUSPENSO")).logical;
    if (!keys.insert(std::to_string(Int(*t, "CODTRIB")) + "." + number).second)
      ++duplicates;

    std::string tramita = Memo(*t, "TRAMITA");
    if (!tramita.empty()) {
      EXPECT_EQ(tramita.rfind(Header(*t, "Tramita") + "\r\n", 0), 0u) << tramita;
      EXPECT_EQ(tramita.substr(tramita.size() - 2), "\r\n");
      std::string newest = Trim(Text(*t, "DTULTTRAM"));
      if (tramita.find("\r\nDt_1=") != std::string::npos) {
        // DTULTTRAM is the key of the first (newest) entry.
        std::string d = tramita.substr(tramita.find("Dt_1=") + 5, 10);
        EXPECT_EQ(newest.substr(0, 8), d.substr(6, 4) + d.substr(3, 2) + d.substr(0, 2));
        EXPECT_EQ(newest.size(), 12u);
      }
    }
    std::string outros = Memo(*t, "OUTROS");
    if (!outros.empty()) {
      std::string first = outros.substr(0, outros.find("\r\n"));
      // A few headers differ in letter case only, as the host may write them.
      EXPECT_EQ(cau::text::UpperAscii(first), cau::text::UpperAscii(Header(*t, "Outros")));
      errors += outros.find("\r\nMsgErro=") != std::string::npos;
    }
    std::string anotacao = Memo(*t, "ANOTACAO");
    if (!anotacao.empty()) {
      EXPECT_EQ(anotacao.rfind(Header(*t, "Anotacao") + "\r\n", 0), 0u);
      notes += anotacao.size() > Header(*t, "Anotacao").size() + 2;
    }
  }
  EXPECT_EQ(states, (std::set<std::string>{"", "0", "1", "2", "3", "5"}));
  EXPECT_EQ(kinds, (std::set<std::string>{"1", "2", "3", "4"}));
  EXPECT_GE(folders.size(), 4u);
  EXPECT_GE(courts.size(), 6u);
  EXPECT_GT(suspended, 0);
  EXPECT_GT(duplicates, 0);
  EXPECT_GT(errors, 0);
  EXPECT_GT(notes, 0);

  auto agenda = Table::Open(dir_ / "dados" / "AGENDA.DBF");
  std::set<std::string> marks;
  for (agenda->GoTop(); !agenda->Eof(); agenda->Skip())
    marks.insert(Trim(Text(*agenda, "AUTOMATICO")));
  EXPECT_EQ(marks, (std::set<std::string>{"", "*"}));

  auto queue = Table::Open(dir_ / "dados" / "PushAux.DBF");
  ASSERT_GT(queue->RecordCount(), 0u);
  bool padded = false;
  for (queue->GoTop(); !queue->Eof(); queue->Skip()) {
    std::string raw = Text(*queue, "CHAVEPROC");
    padded = padded || raw[0] == ' ';
    std::string number = Trim(raw);
    EXPECT_TRUE(keys.count(std::to_string(Int(*queue, "CODTRIB")) + "." + number)) << number;
  }
  EXPECT_TRUE(padded);
}

TEST_F(Mkhost, ScenarioMatchesTheHost) {
  json s = json::parse(ReadAll(dir_.string() + ".json"));
  EXPECT_EQ(s["accounts"],
            json::parse(R"([{"user":")" + kUser + R"(","password":")" + kPassword + R"("}])"));
  ASSERT_FALSE(s["scope"].empty());
  for (const json& c : s["scope"])
    EXPECT_TRUE(c["tipoProcesso"].is_array());

  std::set<std::string> hostCases;
  std::map<std::string, std::string> courtOf;  // short name (upper) -> code
  {
    pugi::xml_document xml;
    xml.load_file((dir_ / "orgaos.xml").c_str());
    for (pugi::xml_node n = xml.document_element().first_child(); n; n = n.next_sibling())
      courtOf[cau::text::UpperAscii(n.attribute("nomeReduzido").value())] =
          std::string(n.attribute("id").value()).substr(1);
    auto t = Table::Open(dir_ / "dados" / "PROCESSO.DBF");
    for (t->GoTop(); !t->Eof(); t->Skip())
      hostCases.insert(std::to_string(Int(*t, "CODTRIB")) + "." + Trim(Text(*t, "CHAVEPROC")));
  }
  auto key = [&](const json& c) {
    return courtOf[cau::text::UpperAscii(c["codOrgao"].get<std::string>())] + "." +
           c["codProcesso"].get<std::string>();
  };
  ASSERT_FALSE(s["cases"].empty());
  std::set<int64_t> ids;
  bool hearing = false, parties = false;
  for (const json& c : s["cases"]) {
    EXPECT_TRUE(hostCases.count(key(c))) << c["codProcesso"];
    for (const json& h : c["historicos"])
      EXPECT_TRUE(ids.insert(h["id"].get<int64_t>()).second) << "movement ids are unique";
    hearing = hearing || c.contains("sdtAudiencia");
    parties = parties || !c["partes"].empty();
  }
  EXPECT_TRUE(hearing);
  EXPECT_TRUE(parties);
  ASSERT_FALSE(s["oab"].empty());
  for (const json& c : s["oab"]) {
    EXPECT_FALSE(hostCases.count(key(c))) << c["codProcesso"];
    EXPECT_FALSE(c["historicos"].empty());
  }
  std::set<std::string> kinds, states;
  for (const json& n : s["notices"]) {
    kinds.insert(n["tipoAviso"].get<std::string>());
    if (n.contains("estadoProcesso"))
      states.insert(n["estadoProcesso"].get<std::string>());
  }
  EXPECT_EQ(kinds, (std::set<std::string>{"ALERTA", "COBRANCA", "PROCESSO", "AUDIENCIA_INC",
                                          "AUDIENCIA_EXC", "VERSAO", "URL"}));
  EXPECT_EQ(states, (std::set<std::string>{"EM_CADASTRAMENTO", "EM_CADASTRAMENTO_2", "CADASTRADO",
                                           "EM_DESCADASTRAMENTO", "EM_DESCADASTRAMENTO_2",
                                           "DESCADASTRADO", "ERRO"}));

  // pushsim accepts it: it prints its port only after loading the scenario.
  if (!fs::exists(kBin + "/pushsim"))
    GTEST_SKIP() << "pushsim not built";
  auto r = RunCommand("timeout 2 " + kBin + "/pushsim --scenario " +
                      Quote(dir_.string() + ".json") + " 2>&1");
  EXPECT_EQ(r.out.rfind("port ", 0), 0u) << r.out;
}

TEST(MkhostRuns, SameSeedSameBytesOtherSeedOtherData) {
  fs::path a = TempDir("a"), b = TempDir("b"), c = TempDir("c");
  ASSERT_EQ(RunMkhost(a, "--cases 150 --seed 9 --scenario " + Quote(a.string() + ".json")).status,
            0);
  ASSERT_EQ(RunMkhost(b, "--cases 150 --seed 9 --scenario " + Quote(b.string() + ".json")).status,
            0);
  ASSERT_EQ(RunMkhost(c, "--cases 150 --seed 10").status, 0);
  int files = 0;
  for (const auto& e : fs::recursive_directory_iterator(a)) {
    if (!e.is_regular_file())
      continue;
    fs::path rel = fs::relative(e.path(), a);
    EXPECT_EQ(ReadAll(e.path()), ReadAll(b / rel)) << rel;
    ++files;
  }
  EXPECT_EQ(files, 3 + 3 + 2 + 2 + 2);
  EXPECT_EQ(ReadAll(a.string() + ".json"), ReadAll(b.string() + ".json"));
  EXPECT_NE(ReadAll(a / "dados" / "PROCESSO.DBF"), ReadAll(c / "dados" / "PROCESSO.DBF"));
  for (const fs::path& p : {a, b, c})
    fs::remove_all(p);
  fs::remove(a.string() + ".json");
  fs::remove(b.string() + ".json");
}

TEST(MkhostRuns, BusyScenarioMonitorsTheAskedNumberOfCasesAcrossTheHost) {
  struct Case {
    int cases, busy;
  };
  for (const Case& c : {Case{400, 50}, Case{20, 50}}) {
    fs::path d = TempDir("busy");
    auto r =
        RunMkhost(d, "--cases " + std::to_string(c.cases) + " --courts 6 --busy " +
                         std::to_string(c.busy) + " --scenario " + Quote(d.string() + ".json"));
    ASSERT_EQ(r.status, 0) << r.out;
    json s = json::parse(ReadAll(d.string() + ".json"));
    std::vector<std::string> hostOrder;  // case numbers in record order
    {
      auto t = Table::Open(d / "dados" / "PROCESSO.DBF");
      for (t->Go(1); !t->Eof(); t->Skip())
        hostOrder.push_back(Trim(Text(*t, "CHAVEPROC")));
    }
    std::size_t last = 0;
    for (const json& k : s["cases"]) {
      EXPECT_TRUE(k["monitored"].get<bool>());
      EXPECT_FALSE(k["historicos"].empty());
      auto at = std::find(hostOrder.begin(), hostOrder.end(), k["codProcesso"].get<std::string>());
      ASSERT_NE(at, hostOrder.end());
      last = std::max(last, std::size_t(at - hostOrder.begin()));
    }
    // Spread over the whole table, and topped up from the bar registration.
    EXPECT_GE(last, hostOrder.size() * 3 / 4) << c.cases;
    EXPECT_GE(s["cases"].size() + s["oab"].size(), std::size_t(c.busy)) << c.cases;
    int hearings = 0;
    for (const json& n : s["notices"])
      hearings += n["tipoAviso"] == "AUDIENCIA_INC" ? 1 : 0;
    EXPECT_GE(hearings, int(s["cases"].size() / 10)) << c.cases;
    fs::remove_all(d);
    fs::remove(d.string() + ".json");
  }
}

TEST(MkhostRuns, EmptyHostIsValid) {
  fs::path d = TempDir("empty");
  auto r = RunMkhost(d, "--cases 0 --courts 1 --scenario " + Quote(d.string() + ".json"));
  ASSERT_EQ(r.status, 0) << r.out;
  auto check = RunCommand(kBin + "/xbase check " + Quote((d / "dados").string()) + " 2>&1");
  EXPECT_EQ(check.status, 0) << check.out;
  EXPECT_EQ(Table::Open(d / "dados" / "PROCESSO.DBF")->RecordCount(), 0u);
  EXPECT_NO_THROW(json::parse(ReadAll(d.string() + ".json")));
  fs::remove_all(d);
  fs::remove(d.string() + ".json");
}

TEST(MkhostRuns, BadArgumentsAndAnOccupiedFolderAreRefused) {
  fs::path d = TempDir("bad");
  struct Case {
    std::string args;
    int status;
    std::string message;
  };
  auto bare = RunCommand(kBin + "/mkhost 2>&1");
  EXPECT_EQ(bare.status, 2);
  EXPECT_NE(bare.out.find("uso:"), std::string::npos) << bare.out;
  const Case cases[] = {
      {"--cases", 2, "falta o valor"}, {"--cases -1", 2, "--cases"},
      {"--cases 12x", 2, "--cases"},   {"--courts 0", 2, "--courts"},
      {"--seed abc", 2, "--seed"},     {"--colour blue", 2, "opção desconhecida"},
      {"--busy 0", 2, "--busy"},
  };
  for (const Case& c : cases) {
    auto r = RunMkhost(d, c.args);
    EXPECT_EQ(r.status, c.status) << c.args << ": " << r.out;
    EXPECT_NE(r.out.find(c.message), std::string::npos) << c.args << ": " << r.out;
  }
  EXPECT_FALSE(fs::exists(d));

  ASSERT_EQ(RunMkhost(d, "--cases 20").status, 0);
  std::string before = ReadAll(d / "dados" / "PROCESSO.DBF");
  auto again = RunMkhost(d, "--cases 30 --seed 2");
  EXPECT_EQ(again.status, 1);
  EXPECT_NE(again.out.find("já existe"), std::string::npos) << again.out;
  EXPECT_EQ(ReadAll(d / "dados" / "PROCESSO.DBF"), before);
  fs::remove_all(d);
}

}  // namespace
