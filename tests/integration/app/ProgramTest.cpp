// The program as a process, in the terminal front end, on a host folder
// with real tables, against the stand-in service on loopback.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "config/Scrambler.h"
#include "db/xbase/Schema.h"
#include "support/Process.h"

namespace cau {
namespace {

namespace fs = std::filesystem;

using test::Finished;
using test::Pushsim;
using test::ReadFile;
using test::RunProcess;
using test::WriteFile;

class ProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() /
            ("app-program-" + std::to_string(::getpid()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    host_ = root_ / "host";
    fs::create_directories(host_ / "dados");
    ::setenv("XDG_CONFIG_HOME", (root_ / "config").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (root_ / "data").c_str(), 1);

    WriteFile(host_ / "Causarium.exe", "");
    WriteFile(host_ / "orgaos.xml", "<orgaos><orgao id=\"k19\" nomeReduzido=\"TJXX\"/></orgaos>");
    WriteFile(host_ / "causarium.ini", "[GLOBAL]\r\nX01YlOQZ0VOPSPAOT0K0=" + Scramble("advogado") +
                                           "\r\nX01YlOQZOV0PSPA0TOKO=" + Scramble("segredo") +
                                           "\r\n");
    using xbase::TableSchema;
    TableSchema processo;
    processo.fields = {
        {"CODPASTA", 'N', 4}, {"CODTRIB", 'N', 4}, {"CHAVEPROC", 'C', 100}, {"ESTADOPUSH", 'C', 1}};
    processo.tags = {{"PRIMARYKEY", "STR(CODPASTA,4)+STR(CODTRIB,4)+UPPER(CHAVEPROC)", ""}};
    xbase::CreateTable(host_ / "dados", "PROCESSO", processo);
    TableSchema pasta;
    pasta.fields = {{"CODPASTA", 'N', 4}, {"NOME", 'C', 40}};
    pasta.tags = {{"PRIMARYKEY", "STR(CODPASTA,4)", ""}};
    xbase::CreateTable(host_ / "dados", "PASTA", pasta);
    TableSchema agenda;
    agenda.fields = {{"CODAGENDA", 'N', 8}, {"DATA", 'D', 8}};
    agenda.tags = {{"PRIMARYKEY", "STR(CODAGENDA,8)", ""}};
    xbase::CreateTable(host_ / "dados", "AGENDA", agenda);
    TableSchema pushAux;
    pushAux.fields = {{"CODTRIB", 'N', 4}, {"CHAVEPROC", 'C', 100}};
    pushAux.tags = {{"PRIMARYKEY", "STR(CODTRIB,4)+CHAVEPROC", ""}};
    xbase::CreateTable(host_ / "dados", "PushAux", pushAux);

    program_ = host_ / "VuzaZoz";
    fs::copy_file(fs::path(CAU_BIN_DIR) / "VuzaZoz", program_);
  }
  void TearDown() override { fs::remove_all(root_); }

  Finished Run(std::vector<std::string> args) {
    args.insert(args.begin(), program_.string());
    return RunProcess(std::move(args), root_);
  }

  fs::path root_, host_, program_;
};

TEST_F(ProgramTest, CompleteRunExitsZero) {
  Pushsim sim;
  ASSERT_TRUE(sim.Running());
  const Finished f = Run({"-CONSOLE", "-AUTOSTART", "-URL", sim.Url()});
  EXPECT_EQ(f.status, 0) << f.out << f.err;
  EXPECT_NE(f.out.find(">Login: advogado\n"), std::string::npos) << f.out;
  EXPECT_NE(f.out.find("2 tribunais PUSH autorizados.  TJXX (1,2,) TRTYY ()\n"), std::string::npos)
      << f.out;
  EXPECT_NE(f.out.find("< Logout\nFim\n"), std::string::npos) << f.out;
  // The only red line: the sample's bar-registration case names a court this
  // host's court list lacks, so no record is made for it.
  const std::string unknown =
      "[ERRO] Órgão desconhecido para o processo TRTYY.0100200-30.2026.5.01.0001\n";
  const std::size_t at = f.out.find(unknown);
  EXPECT_NE(at, std::string::npos) << f.out;
  EXPECT_EQ(f.out.find("[ERRO]", at == std::string::npos ? 0 : at + unknown.size()),
            std::string::npos)
      << f.out;
  EXPECT_EQ(f.out.find("[ERRO]"), at) << f.out;
  // The counters reached the state file, the session id the host's INI.
  EXPECT_NE(ReadFile(host_ / "dados" / "cauPush.cfg").find("maxProcs=4"), std::string::npos);
  EXPECT_NE(ReadFile(host_ / "causarium.ini").find("IDSESSAOPUSH="), std::string::npos);
  const std::string log = ReadFile(host_ / "dados" / "LogCau.log");
  EXPECT_NE(log.find("[PUSH] Login "), std::string::npos);
  EXPECT_NE(log.find("[PUSH] <> numProcs no M\xEAs: 4\r\n"), std::string::npos);  // Windows-1252
}

TEST_F(ProgramTest, RefusedLoginExitsOneWithTheCancellationLines) {
  Pushsim sim({"--fault", "login:fault=Conta bloqueada"});
  ASSERT_TRUE(sim.Running());
  const Finished f = Run({"-CONSOLE", "-AUTOSTART", "-URL", sim.Url()});
  EXPECT_EQ(f.status, 1) << f.out << f.err;
  EXPECT_NE(f.out.find("[ERRO] Erro: [Login] Conta bloqueada\n"
                       "[ERRO] Não foi possível abrir uma sessão com o servidor.\n"
                       "[ERRO] Operação Cancelada.\n"
                       "Fim\n"),
            std::string::npos)
      << f.out;
}

TEST_F(ProgramTest, StartUpRefusalsExitTwoAndStopsExitOne) {
  // Without a terminal the registration question would be answered No;
  // here the run needs no question: a stop at start-up leaves it undone.
  fs::remove(host_ / "dados" / "AGENDA.DBF");
  Finished f = Run({"-CONSOLE", "-AUTOSTART", "-URL", "http://127.0.0.1:9/x"});
  EXPECT_EQ(f.status, 1) << f.out;
  EXPECT_NE(f.out.find("[ERRO] Não foi possível abrir o Banco de dados. (Agenda de Compromissos)"),
            std::string::npos)
      << f.out;

  fs::remove(host_ / "Causarium.exe");
  f = Run({"-CONSOLE"});
  EXPECT_EQ(f.status, 2) << f.out;
  EXPECT_NE(f.out.find("Causarium não foi encontrado."), std::string::npos) << f.out;
}

TEST_F(ProgramTest, UnreachableServerIsAConnectionError) {
  const Finished f =
      Run({"-CONSOLE", "-URL", "http://127.0.0.1:9/PushServer/services/PushService"});
  EXPECT_EQ(f.status, 1) << f.out;
  EXPECT_NE(f.out.find("[ERRO] Erro de conexão com o servidor. Verifique se o acesso a internet "
                       "está funcionando e configurado corretamente.\n"),
            std::string::npos)
      << f.out;
}

TEST_F(ProgramTest, SampleInstallationAgainstItsScenario) {
  const fs::path sample = root_ / "sample", scenario = root_ / "scenario.json";
  const Finished made =
      RunProcess({std::string(CAU_BIN_DIR) + "/mkhost", sample.string(), "--cases", "60", "--user",
                  "advogado", "--password", "segredo", "--scenario", scenario.string()},
                 root_);
  ASSERT_EQ(made.status, 0) << made.err;
  fs::copy_file(fs::path(CAU_BIN_DIR) / "VuzaZoz", sample / "VuzaZoz");
  Pushsim sim({}, scenario.string());
  ASSERT_TRUE(sim.Running());
  const Finished f = RunProcess(
      {(sample / "VuzaZoz").string(), "-CONSOLE", "-AUTOSTART", "-URL", sim.Url()}, root_);
  EXPECT_EQ(f.status, 0) << f.out << f.err;
  EXPECT_NE(f.out.find(">Login: advogado\n"), std::string::npos) << f.out;
  EXPECT_NE(f.out.find("< Logout\nFim\n"), std::string::npos) << f.out;
  const Finished check = RunProcess(
      {std::string(CAU_BIN_DIR) + "/xbase", "check", (sample / "dados").string()}, root_);
  EXPECT_EQ(check.status, 0) << check.out << check.err;
}

}  // namespace
}  // namespace cau
