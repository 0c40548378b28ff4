#include "config/IniFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "TestSupport.h"
#include "config/Errors.h"

namespace cau {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

// A host file as the host leaves it: CRLF, Windows-1252 accents, comments,
// odd spacing, a repeated key and a repeated section.
const std::string kHostIni =
    "; Configura\xE7\xE3o do escrit\xF3rio\r\n"
    "orphan=before any section\r\n"
    "[GLOBAL]\r\n"
    "Escritorio =  Advocacia S\xE3o Jo\xE3o  \r\n"
    "PROXY=2\r\n"
    "  Idioma\t=\tpt-BR\r\n"
    "PROXY=7\r\n"
    "; the last line of the section is a comment\r\n"
    "\r\n"
    "[ Impress\xE3o ]\r\n"
    "Fonte=Arial\r\n"
    "Margem=\r\n"
    "\r\n"
    "[global]\r\n"
    "Tema=escuro\r\n";

TEST(IniDocument, ReadsWithTheHostsRules) {
  const IniDocument doc(kHostIni);
  const struct {
    const char* section;
    const char* key;
    std::optional<std::string> value;
  } cases[] = {
      {"GLOBAL", "Escritorio", "Advocacia S\xE3o Jo\xE3o"},
      {"global", "ESCRITORIO", "Advocacia S\xE3o Jo\xE3o"},
      {"GLOBAL", "PROXY", "2"},  // the first occurrence wins
      {"GLOBAL", "idioma", "pt-BR"},
      {"IMPRESS\xC3O", "fonte", "Arial"},  // accented names ignore case too
      {"Impress\xE3o", "Margem", ""},
      {"GLOBAL", "Tema", "escuro"},  // a repeated section adds its keys
      {"GLOBAL", "orphan", std::nullopt},
      {"GLOBAL", "; the last line of the section is a comment", std::nullopt},
      {"GLOBAL", "Fonte", std::nullopt},
      {"OUTRA", "PROXY", std::nullopt},
  };
  for (const auto& c : cases)
    EXPECT_EQ(doc.Read(c.section, c.key), c.value) << c.section << "/" << c.key;
}

TEST(IniDocument, ChangingOneKeyKeepsEveryOtherByte) {
  const struct {
    const char* what;
    std::string section, key, value;
    std::string from, to;  // the one change expected in the text
  } cases[] = {
      {"existing key, spacing kept", "global", "escritorio", "Outro",
       "Escritorio =  Advocacia S\xE3o Jo\xE3o  \r\n", "Escritorio =  Outro\r\n"},
      {"first of a repeated key", "GLOBAL", "PROXY", "3", "PROXY=2\r\n", "PROXY=3\r\n"},
      {"new key after the section's last key", "GLOBAL", "IDSESSAOPUSH", "S-1", "PROXY=7\r\n",
       "PROXY=7\r\nIDSESSAOPUSH=S-1\r\n"},
      {"new key in a section with an empty value", "Impress\xE3o", "Cor", "azul", "Margem=\r\n",
       "Margem=\r\nCor=azul\r\n"},
      {"new section at the end", "CAUPUSH", "syncPush", "1", "Tema=escuro\r\n",
       "Tema=escuro\r\n[CAUPUSH]\r\nsyncPush=1\r\n"},
  };
  for (const auto& c : cases) {
    IniDocument doc(kHostIni);
    EXPECT_TRUE(doc.Write(c.section, c.key, c.value)) << c.what;
    std::string expected = kHostIni;
    expected.replace(expected.find(c.from), c.from.size(), c.to);
    EXPECT_EQ(doc.Bytes(), expected) << c.what;
    EXPECT_EQ(doc.Read(c.section, c.key), c.value) << c.what;
  }
}

TEST(IniDocument, ErasingRemovesOnlyTheKeysLines) {
  IniDocument doc(kHostIni);
  EXPECT_TRUE(doc.Erase("Global", "proxy"));
  std::string expected = kHostIni;
  for (const std::string line : {"PROXY=2\r\n", "PROXY=7\r\n"})
    expected.erase(expected.find(line), line.size());
  EXPECT_EQ(doc.Bytes(), expected);
  EXPECT_EQ(doc.Read("GLOBAL", "PROXY"), std::nullopt);
  EXPECT_FALSE(doc.Erase("GLOBAL", "PROXY"));
  EXPECT_FALSE(doc.Erase("NADA", "x"));
  EXPECT_EQ(doc.Bytes(), expected);
}

TEST(IniDocument, KeepsTheLineEndsItFinds) {
  const struct {
    std::string before, after;
  } cases[] = {
      {"[A]\nx=1\n", "[A]\nx=1\ny=2\n"},                    // LF stays LF
      {"[A]\r\nx=1", "[A]\r\nx=1\r\ny=2\r\n"},              // no final line end
      {"", "[A]\r\ny=2\r\n"},                               // new file: CRLF
      {"[A]\nx=1\r\n[B]\r\n", "[A]\nx=1\r\ny=2\n[B]\r\n"},  // mixed: the first one found
  };
  for (const auto& c : cases) {
    IniDocument doc(c.before);
    doc.Write("A", "y", "2");
    EXPECT_EQ(doc.Bytes(), c.after) << c.before;
  }
  IniDocument same("[A]\r\nx = 1\r\n");
  EXPECT_FALSE(same.Write("a", "X", "1"));
}

class IniFileTest : public ::testing::Test {
 protected:
  TempDir tmp_;
  std::filesystem::path path_ = tmp_.path() / "causarium.ini";
};

TEST_F(IniFileTest, MissingFileReadsAsEmptyAndIsCreatedOnWrite) {
  IniFile ini(path_);
  EXPECT_EQ(ini.Read("GLOBAL", "PROXY"), std::nullopt);
  EXPECT_EQ(ini.ReadInteger("GLOBAL", "PROXY", 1), 1);
  EXPECT_EQ(ini.ReadString("GLOBAL", "X", "padrão"), "padrão");
  ini.DeleteKey("GLOBAL", "PROXY");
  EXPECT_FALSE(std::filesystem::exists(path_));
  ini.WriteString("GLOBAL", "Nome", "Conceição");
  EXPECT_EQ(ReadFile(path_), "[GLOBAL]\r\nNome=Concei\xE7\xE3o\r\n");
  EXPECT_EQ(test::Names(tmp_.path()), std::vector<std::string>{"causarium.ini"});  // no leftovers
}

TEST_F(IniFileTest, ValuesAreUtf8InsideAndWindows1252InTheFile) {
  WriteFile(path_, kHostIni);
  IniFile ini(path_);
  EXPECT_EQ(ini.ReadString("GLOBAL", "Escritorio"), "Advocacia São João");
  ini.WriteString("GLOBAL", "Nome", "Ação 中 €");
  EXPECT_EQ(IniDocument(ReadFile(path_)).Read("GLOBAL", "Nome"), "A\xE7\xE3o ? \x80");
  // A line break in a value cannot make keys or sections of its own.
  ini.WriteString("GLOBAL", "Nome", "x\r\n[CAUPUSH]\r\nsyncPush=1");
  EXPECT_EQ(ini.Read("CAUPUSH", "syncPush"), std::nullopt);
  EXPECT_EQ(ini.ReadString("GLOBAL", "Nome"), "x  [CAUPUSH]  syncPush=1");
  EXPECT_THROW(ini.WriteString("GLOBAL", "a=b", "1"), Error);
  EXPECT_THROW(ini.WriteString("A]B", "a", "1"), Error);
}

TEST_F(IniFileTest, ReadsIntegersOrTheFallback) {
  WriteFile(path_,
            "[S]\r\na=12\r\nb= -3 \r\nc=abc\r\nd=1.5\r\ne=\r\nf=+4\r\ng=99999999999999999999\r\n"
            "h=$10\r\ni=4x\r\n");
  IniFile ini(path_);
  const std::pair<const char*, std::int64_t> cases[] = {{"a", 12}, {"b", -3}, {"c", 9}, {"d", 9},
                                                        {"e", 9},  {"f", 4},  {"g", 9}, {"h", 9},
                                                        {"i", 9},  {"z", 9}};
  for (const auto& [key, value] : cases)
    EXPECT_EQ(ini.ReadInteger("S", key, 9), value) << key;
}

TEST_F(IniFileTest, ReplacesTheFileAtomicallyKeepingItsPermissions) {
  WriteFile(path_, kHostIni);
  ::chmod(path_.c_str(), 0640);
  struct stat before {};
  ::stat(path_.c_str(), &before);
  IniFile(path_).WriteInteger("GLOBAL", "PROXY", 5);
  struct stat after {};
  ::stat(path_.c_str(), &after);
  EXPECT_NE(after.st_ino, before.st_ino);  // a new file renamed over the old one
  EXPECT_EQ(after.st_mode & 07777, 0640u);
  EXPECT_EQ(test::Names(tmp_.path()), std::vector<std::string>{"causarium.ini"});

  // Writing what is already there leaves the file alone.
  IniFile(path_).WriteInteger("GLOBAL", "PROXY", 5);
  struct stat again {};
  ::stat(path_.c_str(), &again);
  EXPECT_EQ(again.st_ino, after.st_ino);
}

TEST_F(IniFileTest, WritesThroughASymbolicLink) {
  const auto real = tmp_.path() / "real.ini";
  WriteFile(real, "[A]\r\n");
  std::filesystem::create_symlink(real, path_);
  IniFile(path_).WriteString("A", "x", "1");
  EXPECT_TRUE(std::filesystem::is_symlink(path_));
  EXPECT_EQ(ReadFile(real), "[A]\r\nx=1\r\n");
}

TEST_F(IniFileTest, FailuresNameTheFile) {
  WriteFile(tmp_.path() / "dados", "a file where a folder should be");
  const auto inside = tmp_.path() / "dados" / "cauPush.cfg";
  IniFile ini(inside);
  EXPECT_EQ(ini.Read("A", "x"), std::nullopt);
  try {
    ini.WriteString("A", "x", "1");
    FAIL() << "no error";
  } catch (const FileError& e) {
    EXPECT_EQ(e.path(), inside.string());
    EXPECT_NE(std::string(e.what()).find(inside.string()), std::string::npos) << e.what();
  }
  // A file that exists but cannot be read is an error, not an empty file
  // (writing over it would lose it).
  std::filesystem::create_directory(path_);
  EXPECT_THROW(IniFile(path_).Read("A", "x"), FileError);
  EXPECT_THROW(IniFile(path_).WriteString("A", "x", "1"), FileError);
}

}  // namespace
}  // namespace cau
