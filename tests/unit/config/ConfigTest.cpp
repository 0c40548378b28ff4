#include "config/uConfig.h"

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "config/Cp1252.h"
#include "config/Errors.h"
#include "config/Registry.h"

namespace cau {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::WriteFile;

const FixedClock kClock(LocalTime{2026, 3, 2, 9, 30, 0, 0});

class ConfigTest : public test::IsolatedHomeTest {
 protected:
  fs::path App() const { return Root() / "Causarium"; }
  std::string AppDir() const { return App().string() + "/"; }
  fs::path IniPath() const { return App() / "causarium.ini"; }
  void SetUp() override { fs::create_directories(App() / "dados"); }

  Scrambler scrambler_{kClock};
};

// The host's causarium.ini with every key this program reads.
std::string HostIni(Scrambler& s) {
  return "; Causarium 9.2\r\n"
         "[GLOBAL]\r\n"
         "Escrit\xF3rio=Silva & Concei\xE7\xE3o Advogados\r\n"
         "PROXY = abc\r\n"
         "X01YlOQZ0VOPSPAOT0K0=" +
         s.Scramble("joão.silva") +
         "\r\n"
         "X01YlOQZOV0PSPA0TOKO=" +
         s.Scramble("s3nh@ ç") +
         "\r\n"
         "X01Y10QZ0V0PSPA0T0K0=" +
         s.Scramble("proxy.local:3128") +
         "\r\n"
         "X01Y10QZ0V0PSPAOTOK0=" +
         s.Scramble("proxyuser") +
         "\r\n"
         "X0lY1OQZ0VOPSPA0TOKO=" +
         s.Scramble("proxypass") +
         "\r\n"
         "IDSESSAOPUSH=  S-2026-0001\r\n"
         "\r\n"
         "[Janelas]\r\n"
         "  Principal = 10,10,800,600\r\n"
         "\r\n"
         "[CAUPUSH]\r\n"
         "syncPush=1\r\n"
         "ultimaVerificacao=01/03/2026\r\n"
         "\r\n"
         "; fim\r\n";
}

TEST_F(ConfigTest, FoldersAndDefaultsWithoutAnIniFile) {
  TConfig cfg(App().string(), scrambler_);  // no final "/": one is added
  EXPECT_EQ(cfg.AppDir(), AppDir());
  EXPECT_EQ(cfg.DataDir(), AppDir() + "dados/");
  EXPECT_EQ(cfg.BackupDir(), AppDir() + "backup/");
  EXPECT_EQ(cfg.LocalDir(), (DataDirHome() / "Causarium").string() + "/");
  EXPECT_TRUE(fs::is_directory(cfg.LocalDir()));
  EXPECT_EQ(cfg.ProxyMode(), 1);
  EXPECT_EQ(cfg.GetUsuario(), "");
  EXPECT_EQ(cfg.GetSenha(), "");
  EXPECT_EQ(cfg.GetProxy(), "");
  EXPECT_EQ(cfg.GetIdSessaoPush(), "");
  EXPECT_FALSE(cfg.SyncPushRequested());
  cfg.ClearSyncPush();
  EXPECT_FALSE(fs::exists(IniPath()));
}

TEST_F(ConfigTest, ReadsTheHostsValues) {
  WriteFile(IniPath(), HostIni(scrambler_));
  TConfig cfg(AppDir(), scrambler_);
  EXPECT_EQ(cfg.ProxyMode(), 1);  // "abc" is not an integer
  EXPECT_EQ(cfg.GetUsuario(), "joão.silva");
  EXPECT_EQ(cfg.GetSenha(), "s3nh@ ç");
  EXPECT_EQ(cfg.GetProxy(), "proxy.local:3128");
  EXPECT_EQ(cfg.GetProxyUsuario(), "proxyuser");
  EXPECT_EQ(cfg.GetProxySenha(), "proxypass");
  EXPECT_EQ(cfg.GetIdSessaoPush(), "S-2026-0001");
  EXPECT_TRUE(cfg.SyncPushRequested());
}

TEST_F(ConfigTest, ProxyModeAndSyncRequest) {
  const struct {
    const char* proxy;
    int mode;
    const char* sync;
    bool requested;
  } cases[] = {
      {"2", 2, "1", true}, {" 3 ", 3, " 1 ", true},  {"abc", 1, "2", false},
      {"", 1, "0", false}, {"-1", -1, "abc", false}, {"99999999999", 1, "01", true},
  };
  for (const auto& c : cases) {
    WriteFile(IniPath(), std::string("[GLOBAL]\r\nPROXY=") + c.proxy +
                             "\r\n[CAUPUSH]\r\nsyncPush=" + c.sync + "\r\n");
    TConfig cfg(AppDir(), scrambler_);
    EXPECT_EQ(cfg.ProxyMode(), c.mode) << c.proxy;
    EXPECT_EQ(cfg.SyncPushRequested(), c.requested) << c.sync;
  }
}

TEST_F(ConfigTest, WritesTouchOnlyTheirLine) {
  const std::string original = HostIni(scrambler_);
  WriteFile(IniPath(), original);
  TConfig cfg(AppDir(), scrambler_);

  cfg.SetIdSessaoPush("S-2026-0002");
  std::string expected = original;
  const std::string oldId = "IDSESSAOPUSH=  S-2026-0001\r\n";
  expected.replace(expected.find(oldId), oldId.size(), "IDSESSAOPUSH=  S-2026-0002\r\n");
  EXPECT_EQ(ReadFile(IniPath()), expected);
  EXPECT_EQ(cfg.GetIdSessaoPush(), "S-2026-0002");

  cfg.ClearSyncPush();
  expected.erase(expected.find("syncPush=1\r\n"), std::string("syncPush=1\r\n").size());
  EXPECT_EQ(ReadFile(IniPath()), expected);
  EXPECT_FALSE(cfg.SyncPushRequested());

  // Values are read afresh: the host may change the file during a run.
  WriteFile(IniPath(), "[caupush]\r\nSYNCPUSH=1\r\n");
  EXPECT_TRUE(cfg.SyncPushRequested());
}

TEST_F(ConfigTest, FailedWriteNamesTheFile) {
  fs::create_directories(IniPath());  // a folder where the file should be
  TConfig cfg(AppDir(), scrambler_);
  try {
    cfg.SetIdSessaoPush("S-1");
    FAIL() << "no error";
  } catch (const FileError& e) {
    EXPECT_NE(std::string(e.what()).find("causarium.ini"), std::string::npos) << e.what();
  }
}

TEST_F(ConfigTest, RecordsTheInstallationInTheRegistry) {
  EXPECT_EQ(RegistryFile(), ConfigDir() / "Causarium" / "registry.ini");
  { TConfig cfg(AppDir(), scrambler_); }
  EXPECT_EQ(RegistryRead("Software\\VEXO\\Causarium", ""), AppDir());
  EXPECT_EQ(RegistryRead("\\software\\vexo\\causarium\\", ""), AppDir());

  // Only the letter case differs: left as it is.
  std::string upper = text::UpperCp1252(AppDir());
  ASSERT_TRUE(RegistryWrite("Software\\VEXO\\Causarium", "", upper));
  const std::string before = ReadFile(RegistryFile());
  { TConfig cfg(AppDir(), scrambler_); }
  EXPECT_EQ(ReadFile(RegistryFile()), before);

  ASSERT_TRUE(RegistryWrite("Software\\VEXO\\Causarium", "", "/outra/instalacao/"));
  { TConfig cfg(AppDir(), scrambler_); }
  EXPECT_EQ(RegistryRead("Software\\VEXO\\Causarium", ""), AppDir());
}

TEST_F(ConfigTest, RegistryKeysAndValues) {
  EXPECT_EQ(RegistryRead("Software\\VEXO\\Causarium", "Versao"), std::nullopt);
  EXPECT_TRUE(RegistryWrite("Software\\VEXO\\Causarium", "Versao", "9.2 中文"));
  EXPECT_TRUE(RegistryWrite("Software\\Outro", "Versao", "1"));
  EXPECT_EQ(RegistryRead("SOFTWARE\\vexo\\CAUSARIUM", "versao"), "9.2 中文");  // Unicode kept
  EXPECT_EQ(RegistryRead("Software\\Outro", "VERSAO"), "1");
  EXPECT_EQ(RegistryRead("Software\\VEXO\\Causarium", ""), std::nullopt);
  EXPECT_FALSE(RegistryWrite("Software\\Bad]Key", "x", "1"));
  // An unwritable configuration folder is a failure, not an exception.
  WriteFile(ConfigDir() / "Causarium" / "blocker", "");
  test::ScopedEnv env("XDG_CONFIG_HOME", (ConfigDir() / "Causarium" / "blocker").string());
  EXPECT_FALSE(RegistryWrite("Software\\VEXO\\Causarium", "", "x"));
  EXPECT_EQ(RegistryRead("Software\\VEXO\\Causarium", "Versao"), std::nullopt);
}

TEST_F(ConfigTest, LocalDirFallsBackToTheDocumentsFolder) {
  WriteFile(Root() / "not-a-folder", "");
  test::ScopedEnv data("XDG_DATA_HOME", (Root() / "not-a-folder").string());
  test::ScopedEnv docs("XDG_DOCUMENTS_DIR", (Home() / "Documentos").string());
  TConfig cfg(AppDir(), scrambler_);
  EXPECT_EQ(cfg.LocalDir(), (Home() / "Documentos" / "Causarium").string() + "/");
  EXPECT_TRUE(fs::is_directory(cfg.LocalDir()));
}

// Files of the host's data folder, in the spelling a Windows copy may have.
const std::vector<std::string> kStale = {"chprocesso.dbf",   "AGENDA.CDX",   "CCorrente.cdx",
                                         "chprocesso.cdx",   "clientes.cdx", "Links.CDX",
                                         "log.cdx",          "PASTA.CDX",    "processo.cdx",
                                         "ProcsCliente.cdx", "tribextra.CDX"};
const std::vector<std::string> kKept = {"AGENDA.DBF", "PROCESSO.DBF", "PROCESSO.FPT", "outro.cdx",
                                        "log.dbf"};

TEST_F(ConfigTest, FirstStartCleansTheDataFolder) {
  const fs::path data = App() / "dados";
  for (const auto& name : kStale)
    WriteFile(data / name, "x");
  for (const auto& name : kKept)
    WriteFile(data / name, "x");
  fs::create_directories(data / "LOG.CDX");  // a folder of that name is not a file
  const fs::path local = DataDirHome() / "Causarium";
  WriteFile(local / "LOG.DBF", "x");
  WriteFile(local / "log.cdx", "x");
  WriteFile(local / "outro.dbf", "x");

  // Without the marker nothing is touched.
  { TConfig cfg(AppDir(), scrambler_); }
  EXPECT_EQ(test::Names(data).size(), kStale.size() + kKept.size() + 1);
  EXPECT_EQ(test::Names(local).size(), 3u);

  WriteFile(App() / "PrimeiraVez", "");
  { TConfig cfg(AppDir(), scrambler_); }
  std::vector<std::string> expected = kKept;
  expected.push_back("LOG.CDX");
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(test::Names(data), expected);
  EXPECT_EQ(test::Names(local), std::vector<std::string>{"outro.dbf"});
  EXPECT_FALSE(fs::exists(App() / "PrimeiraVez"));
}

TEST_F(ConfigTest, FirstStartMovesTheOldBackups) {
  const fs::path old = Root() / "BACKUP.CAU";
  WriteFile(old / "copia1.zip", "1");
  WriteFile(old / "2025-12" / "PROCESSO.DBF", "2");
  WriteFile(old / "ja-existe.zip", "novo");
  WriteFile(App() / "backup" / "_ja-existe.zip", "antigo");
  WriteFile(App() / "primeiraVez", "");
  EXPECT_TRUE(FirstStartCleanUp(App(), App() / "dados", DataDirHome(), App() / "backup", old));
  EXPECT_EQ(ReadFile(App() / "backup" / "_copia1.zip"), "1");
  EXPECT_EQ(ReadFile(App() / "backup" / "_2025-12" / "PROCESSO.DBF"), "2");
  // An existing backup is never replaced: that one stays, and so does its folder.
  EXPECT_EQ(ReadFile(App() / "backup" / "_ja-existe.zip"), "antigo");
  EXPECT_EQ(test::Names(old), std::vector<std::string>{"ja-existe.zip"});
  EXPECT_FALSE(fs::exists(App() / "primeiraVez"));

  fs::remove(old / "ja-existe.zip");
  WriteFile(App() / "primeiraVez", "");
  EXPECT_TRUE(FirstStartCleanUp(App(), App() / "dados", DataDirHome(), App() / "backup", old));
  EXPECT_FALSE(fs::exists(old));
  EXPECT_FALSE(FirstStartCleanUp(App(), App() / "dados", DataDirHome(), App() / "backup", old));
}

TEST(OldBackupsFolder, IsAtTheRootOfTheInstallationsFileSystem) {
  EXPECT_EQ(OldBackupsFolder("/"), fs::path("/backup.cau"));
  struct stat shm {
  }, root{};
  if (::stat("/dev/shm", &shm) != 0 || ::stat("/", &root) != 0 || shm.st_dev == root.st_dev)
    GTEST_SKIP() << "no second file system mounted at /dev/shm";
  test::ScopedEnv tmp("TMPDIR", "/dev/shm");
  test::TempDir dir;
  EXPECT_EQ(OldBackupsFolder(dir.path() / "Causarium"), fs::path("/dev/shm/backup.cau"));
}

}  // namespace
}  // namespace cau
