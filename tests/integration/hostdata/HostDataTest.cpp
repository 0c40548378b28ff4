// The program as a process on host installations whose data is not what it
// expects. Each refusal gives its message at start-up, the reason reaches the
// log file, and not one byte of the host's files changes.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "config/Cp1252.h"
#include "config/Scrambler.h"
#include "db/xbase/Dbf.h"
#include "db/xbase/Schema.h"
#include "support/Process.h"

namespace cau {
namespace {

namespace fs = std::filesystem;

using test::Finished;
using test::ReadFile;
using test::RunProcess;
using test::WriteFile;

using Files = std::map<std::string, std::string>;

const std::string kOpenProcesso =
    "Não foi possível abrir o Banco de dados. Feche o Causarium e tente novamente";

// Every file of the installation but the log and the lock, which a start
// may create.
Files Snapshot(const fs::path& host) {
  Files files;
  for (const auto& entry : fs::recursive_directory_iterator(host)) {
    const std::string name = fs::relative(entry.path(), host).string();
    if (entry.is_regular_file() && name != "dados/LogCau.log" && name != "dados/lock")
      files[name] = ReadFile(entry.path());
  }
  return files;
}

void ReplaceOnce(const fs::path& file, const std::string& from, const std::string& to) {
  std::string bytes = ReadFile(file);
  const auto at = bytes.find(from);
  ASSERT_NE(at, std::string::npos) << from << " in " << file;
  bytes.replace(at, from.size(), to);
  WriteFile(file, bytes);
}

// The sample host's case table, empty, with its fields changed by `edit`.
void RecreateProcesso(const fs::path& dados,
                      const std::function<void(std::vector<xbase::DbfFile::NewField>&)>& edit) {
  for (const char* ext : {".DBF", ".FPT", ".CDX"})
    fs::remove(dados / (std::string("PROCESSO") + ext));
  xbase::TableSchema s;
  s.fields = {{"CODPASTA", 'N', 4},   {"CODTRIB", 'N', 4},    {"CHAVEPROC", 'C', 100},
              {"ESTADOPUSH", 'C', 1}, {"SUSPENSO", 'L', 1},   {"VISTO", 'C', 1},
              {"TRAMITA", 'M', 4},    {"OUTROS", 'M', 4},     {"ANOTACAO", 'M', 4},
              {"DTPROXAUD", 'C', 8},  {"HRPROXAUD", 'C', 5},  {"TITPARTEA", 'C', 30},
              {"PARTEA", 'C', 150},   {"TITPARTEB", 'C', 30}, {"PARTEB", 'C', 150},
              {"TITPARTEC", 'C', 30}, {"PARTEC", 'C', 150},   {"INICIOCOB", 'C', 8},
              {"DTULTCONS", 'C', 8},  {"HRULTCONS", 'C', 5},  {"DTULTTRAM", 'C', 12}};
  edit(s.fields);
  s.tags = {{"PRIMARYKEY", "STR(CODPASTA,4)+STR(CODTRIB,4)+UPPER(CHAVEPROC)", ""}};
  xbase::CreateTable(dados, "PROCESSO", s);
}

void DropField(std::vector<xbase::DbfFile::NewField>& fields, const std::string& name) {
  std::erase_if(fields, [&](const auto& f) { return f.name == name; });
}

// Back to `files`: what they hold, and nothing else.
void Restore(const fs::path& host, const Files& files) {
  for (const auto& entry : fs::recursive_directory_iterator(host)) {
    const std::string name = fs::relative(entry.path(), host).string();
    if (entry.is_regular_file() && !files.contains(name))
      fs::remove(entry.path());
  }
  for (const auto& [name, bytes] : files)
    WriteFile(host / name, bytes);
}

// Where field `field` of each record lies in the table file.
std::vector<std::size_t> FieldPlaces(const fs::path& dbf, const std::string& field) {
  auto file = xbase::DbfFile::Open(dbf, false);
  std::vector<std::size_t> places;
  for (const auto& f : file->fields())
    if (f.name == field)
      for (uint32_t r = 0; r < file->recordCount(); ++r)
        places.push_back(std::size_t(file->headerLength()) +
                         std::size_t(r) * std::size_t(file->recordLength()) +
                         std::size_t(f.offset));
  return places;
}

class HostDataTest : public ::testing::Test {
 public:  // the cases below spoil the host through it
  void SetUp() override {
    ::setenv("XDG_CONFIG_HOME", (root_.path() / "config").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (root_.path() / "data").c_str(), 1);
    MakeHost(host_, 1);
    ASSERT_EQ(Check().status, 0) << "the sample host is sound";
    fs::copy_file(test::BinPath("VuzaZoz"), host_ / "VuzaZoz");
  }

  void MakeHost(const fs::path& dir, int seed, int cases = 12) {
    // Only the installation under test needs its service.
    const fs::path scenario = dir == host_ ? scenario_ : fs::path(dir.string() + ".json");
    const Finished made =
        RunProcess({test::BinPath("mkhost"), dir.string(), "--cases", std::to_string(cases),
                    "--seed", std::to_string(seed), "--user", "advogado", "--password", "segredo",
                    "--scenario", scenario.string()},
                   root_.path());
    ASSERT_EQ(made.status, 0) << made.err;
  }

  Finished Run() {
    test::Pushsim sim({}, scenario_.string());
    EXPECT_TRUE(sim.Running());
    return RunProcess({(host_ / "VuzaZoz").string(), "-CONSOLE", "-AUTOSTART", "-URL", sim.Url()},
                      root_.path());
  }

  // The log file as text (it is Windows-1252 on disk).
  std::string Log() const { return text::FromCp1252(ReadFile(host_ / "dados" / "LogCau.log")); }

  Finished Check() {
    return RunProcess({test::BinPath("xbase"), "check", (host_ / "dados").string()}, root_.path());
  }

  test::TempDir root_{"cau-hostdata"};
  fs::path host_ = root_.path() / "host";
  fs::path scenario_ = root_.path() / "scenario.json";
};

struct Refusal {
  const char* name;
  std::function<void(HostDataTest&, const fs::path& host)> spoil;
  int status;          // 2: the start-up ended; 1: it stopped with a red line
  std::string shown;   // in the program's output
  std::string logged;  // in the log file (empty: nothing required)
};

TEST_F(HostDataTest, EachUnexpectedHostFileIsRefusedAtStartUpAndLeftAsItWas) {
  const std::vector<Refusal> refusals = {
      {"court list that is not XML",
       [](HostDataTest&, const fs::path& host) {
         WriteFile(host / "orgaos.xml", "<orgaos><orgao id=\"k1\" nomeReduzido=\"TJSP\"></orgaos");
       },
       2, "Erro abrindo arquivo de Orgaos. ", ""},
      {"empty court list file",
       [](HostDataTest&, const fs::path& host) { WriteFile(host / "orgaos.xml", ""); }, 2,
       "Erro abrindo arquivo de Orgaos. ", ""},
      {"credentials that are not scrambled text",
       [](HostDataTest&, const fs::path& host) {
         WriteFile(host / "causarium.ini", "[GLOBAL]\r\nX01YlOQZ0VOPSPAOT0K0=\x81" +
                                               std::string(1, '\0') +
                                               "\xFF\r\nX01YlOQZOV0PSPA0TOKO=zz\r\n");
       },
       2, "é necessário preencher \"Usuário\" e \"Senha\"", ""},
      {"case table without the push state field",
       [](HostDataTest&, const fs::path& host) {
         RecreateProcesso(host / "dados", [](auto& f) { DropField(f, "ESTADOPUSH"); });
       },
       1, "[ERRO] A versão instalada do Causarium é incompatível com este aplicativo.", ""},
      {"case table with a field of a type the engine does not know",
       [](HostDataTest&, const fs::path& host) {
         RecreateProcesso(host / "dados", [](auto& f) { f.push_back({"FOTO", 'C', 4}); });
         // The field descriptor's type byte follows the 11 bytes of the name.
         ReplaceOnce(host / "dados" / "PROCESSO.DBF", std::string("FOTO\0\0\0\0\0\0\0C", 12),
                     std::string("FOTO\0\0\0\0\0\0\0X", 12));
       },
       2, kOpenProcesso, "PROCESSO.DBF"},
      {"tag expression the engine cannot evaluate",
       [](HostDataTest&, const fs::path& host) {
         ReplaceOnce(host / "dados" / "PROCESSO.CDX", "DTULTTRAM", "DTULTTRAX");
       },
       2, kOpenProcesso, "ULTTRAM"},
      {"movement memo pointing past the end of the memo file",
       [](HostDataTest&, const fs::path& host) {
         const fs::path dbf = host / "dados" / "PROCESSO.DBF";
         const std::vector<std::size_t> places = FieldPlaces(dbf, "TRAMITA");
         ASSERT_FALSE(places.empty());
         std::string bytes = ReadFile(dbf);
         const uint32_t past = 0x00FFFFF0;
         std::memcpy(bytes.data() + places.back(), &past, 4);
         WriteFile(dbf, bytes);
       },
       2, kOpenProcesso, "TRAMITA"},
      {"case index of another installation",
       [](HostDataTest& t, const fs::path& host) {
         const fs::path other = t.root_.path() / "other";
         t.MakeHost(other, 7, 5);
         fs::copy_file(other / "dados" / "PROCESSO.CDX", host / "dados" / "PROCESSO.CDX",
                       fs::copy_options::overwrite_existing);
         fs::remove_all(other);
       },
       2, kOpenProcesso, "PROCESSO.CDX"},
      {"appointment index missing an entry",
       [](HostDataTest&, const fs::path& host) {
         // One more record than the index knows.
         const fs::path dbf = host / "dados" / "AGENDA.DBF";
         std::string bytes = ReadFile(dbf);
         auto file = xbase::DbfFile::Open(dbf, false);
         const std::size_t header = std::size_t(file->headerLength());
         const std::size_t length = std::size_t(file->recordLength());
         const uint32_t count = file->recordCount();
         file.reset();
         ASSERT_GT(count, 0u);
         const std::string first = bytes.substr(header, length);
         bytes.insert(header + count * length, first);
         const uint32_t more = count + 1;
         std::memcpy(bytes.data() + 4, &more, 4);
         WriteFile(dbf, bytes);
       },
       1, "[ERRO] Não foi possível abrir o Banco de dados. (Agenda de Compromissos)", "AGENDA.CDX"},
      {"folder table whose index is missing",
       [](HostDataTest&, const fs::path& host) { fs::remove(host / "dados" / "PASTA.CDX"); }, 1,
       "[ERRO] Não foi possível abrir o Banco de dados. (Pastas)", "PASTA"},
      {"appointment table shorter than its header says",
       [](HostDataTest&, const fs::path& host) {
         const fs::path agenda = host / "dados" / "AGENDA.DBF";
         fs::resize_file(agenda, fs::file_size(agenda) - 100);
       },
       1, "[ERRO] Não foi possível abrir o Banco de dados. (Agenda de Compromissos)", "AGENDA"},
  };
  const Files pristine = Snapshot(host_);
  for (const Refusal& r : refusals) {
    SCOPED_TRACE(r.name);
    r.spoil(*this, host_);
    const Files before = Snapshot(host_);
    fs::remove(host_ / "dados" / "LogCau.log");
    const Finished f = Run();
    EXPECT_EQ(f.status, r.status) << f.out << f.err;
    EXPECT_NE(f.out.find(r.shown), std::string::npos) << f.out;
    EXPECT_EQ(f.out.find(">Login"), std::string::npos) << "no run may start:\n" << f.out;
    if (!r.logged.empty()) {
      EXPECT_NE(Log().find(r.logged), std::string::npos) << Log();
    }
    EXPECT_TRUE(Snapshot(host_) == before) << "a host file changed";
    Restore(host_, pristine);
  }
}

TEST_F(HostDataTest, OddBytesInTheHostConfigurationSurviveARun) {
  // Bytes Windows-1252 leaves undefined, a NUL, a lone CR and a line without
  // its end, around the keys the program reads and the one it writes.
  const std::string odd = "\x81\x8D\x8F\x90\x9D";
  const std::string ini =
      "[GLOBAL]\r\nNOTA=" + odd + std::string(1, '\0') + "\xE7\xE3o\rCR=s\xF3\r\n" +
      "X01YlOQZ0VOPSPAOT0K0=" + Scramble("advogado") + "\r\n" +
      "X01YlOQZOV0PSPA0TOKO=" + Scramble("segredo") + "\r\n" + "[OUTRA]\r\nBIN=\xFF\xFE" + odd;
  WriteFile(host_ / "causarium.ini", ini);
  const Finished f = Run();
  ASSERT_EQ(f.status, 0) << f.out << f.err;
  // The session id is the only change.
  std::string after = ReadFile(host_ / "causarium.ini");
  const auto at = after.find("IDSESSAOPUSH=");
  ASSERT_NE(at, std::string::npos) << after;
  after.erase(at, after.find("\r\n", at) + 2 - at);
  EXPECT_EQ(after, ini);
}

}  // namespace
}  // namespace cau
