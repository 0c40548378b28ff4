// The unregistration step and the queue it sends, kept in the state file
// until the service accepts it.
#include "RegisterFixture.h"

namespace cau::testing {
namespace {

class DescadastroTest : public RegisterFixture {};

// The lines of a batch accepted: one per case, then the count.
Lines Accepted(const Lines& keys, const std::string& orgao, std::size_t left) {
  Lines lines;
  for (const std::string& key : keys)
    lines.push_back("[-]Descadastrado: " + orgao + "." + key.substr(key.find('.') + 1));
  lines.push_back("[-]" + std::to_string(keys.size()) + " processo(s) descadastrado(s). " +
                  (left ? " Faltam " + std::to_string(left) + "..." : ""));
  return lines;
}

TEST_F(DescadastroTest, BatchesOfTwentyWithTheirLines) {
  struct Case {
    const char* name;
    Lines queue;
    std::vector<std::size_t> calls;
    Lines lines;
  };
  const Lines k25 = Keys(25, "17."), k20 = Keys(20, "17.");
  Lines twentyFive = Accepted(Lines(k25.begin(), k25.begin() + 20), "TJXX", 5);
  const Lines lastFive = Accepted(Lines(k25.begin() + 20, k25.end()), "TJXX", 0);
  twentyFive.insert(twentyFive.end(), lastFive.begin(), lastFive.end());
  const std::vector<Case> cases = {
      {"25 in 20 and 5", k25, {20, 5}, twentyFive},
      {"exactly 20", k20, {20}, Accepted(k20, "TJXX", 0)},
      {"a court the list lacks", {"99.0001-2"}, {1}, Accepted({"99.0001-2"}, "", 0)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestForm& form = Ready();
    for (const std::string& key : c.queue)
      EXPECT_TRUE(form.QueueDescadastrar(key));
    EXPECT_EQ(Pending(), c.queue);
    Script().descadastra = [this](const ArrayOfProcessoVO&) {
      // The batch is still kept while the service works on it.
      EXPECT_FALSE(Pending().empty());
      return ArrayOfAvisoVO{};
    };
    form.TfrmAtualizaPush::btnDescadastraClick();
    EXPECT_EQ(Sizes(Script().descadastras), c.calls);
    EXPECT_EQ(StepLines(), c.lines);
    EXPECT_EQ(Script().descadastras.back().sessionId, "S9");
    EXPECT_TRUE(form.ListaDescadastrar->empty());
    EXPECT_EQ(Pending(), Lines{});
    EXPECT_EQ(form.lbStatus.Caption(), "Processos enviados para descadastramento.");
    EXPECT_EQ(form.pgbTotal.Progress(), 80);
    EXPECT_FALSE(form.Cancelado);
    TearDown();
    SetUp();
  }
}

TEST_F(DescadastroTest, NothingToSendOrAlreadyCancelled) {
  TestForm& form = Ready();
  form.pgbTotal.SetProgress(60);
  form.TfrmAtualizaPush::btnDescadastraClick();
  EXPECT_EQ(form.lbStatus.Caption(), "Nenhum processo para descadastrar.");
  EXPECT_EQ(form.pgbTotal.Progress(), 60);

  form.QueueDescadastrar("17.a");
  form.Cancelado = true;
  form.TfrmAtualizaPush::btnDescadastraClick();
  EXPECT_TRUE(Script().descadastras.empty());
  EXPECT_EQ(*form.ListaDescadastrar, Lines{"17.a"});
  EXPECT_EQ(Pending(), Lines{"17.a"});
  EXPECT_EQ(form.lbStatus.Caption(), "Processos enviados para descadastramento.");
  EXPECT_EQ(form.pgbTotal.Progress(), 80);
  EXPECT_EQ(StepLines(), Lines{});
}

TEST_F(DescadastroTest, FailedBatchStaysQueuedAndCancels) {
  struct Case {
    const char* name;
    int failingCall;
    std::size_t left;
    Lines lines;
  };
  const Lines k25 = Keys(25, "17.");
  const std::string erro =
      "*Erro ao enviar lista de processos para descadastramento PUSH.\r\nHTTP 500";
  Lines second = Accepted(Lines(k25.begin(), k25.begin() + 20), "TJXX", 5);
  second.push_back(erro);
  const std::vector<Case> cases = {
      {"the first batch", 1, 25, {erro}},
      {"the second batch", 2, 5, second},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestForm& form = Ready();
    for (const std::string& key : k25)
      form.QueueDescadastrar(key);
    Script().descadastra = [&c, calls = 0](const ArrayOfProcessoVO&) mutable {
      if (++calls == c.failingCall)
        throw TransportError("HTTP 500");
      return ArrayOfAvisoVO{};
    };
    form.TfrmAtualizaPush::btnDescadastraClick();
    const Lines left(k25.end() - static_cast<long>(c.left), k25.end());
    EXPECT_EQ(StepLines(), c.lines);
    EXPECT_EQ(*form.ListaDescadastrar, left);
    EXPECT_EQ(Pending(), left);
    EXPECT_TRUE(form.Cancelado);
    EXPECT_NE(form.pgbTotal.Progress(), 80);
    TearDown();
    SetUp();
  }
}

TEST_F(DescadastroTest, QueueHoldsEachKeyOnceIgnoringCase) {
  TestForm& form = Ready();
  EXPECT_TRUE(form.QueueDescadastrar("17.1.abc"));
  EXPECT_FALSE(form.QueueDescadastrar("17.1.ABC"));
  EXPECT_TRUE(form.QueueDescadastrar("17.1.ação"));
  EXPECT_FALSE(form.QueueDescadastrar("17.1.AÇÃO"));
  EXPECT_TRUE(form.QueueDescadastrar("5.1.abc"));
  EXPECT_EQ(*form.ListaDescadastrar, (Lines{"17.1.abc", "17.1.ação", "5.1.abc"}));
  EXPECT_EQ(Pending(), *form.ListaDescadastrar);

  // A window started afresh queues before any scope step: the kept entries stay.
  form_.reset();
  TestForm& next = Ready();
  EXPECT_TRUE(next.ListaDescadastrar->empty());
  EXPECT_FALSE(next.QueueDescadastrar("17.1.Abc"));
  EXPECT_TRUE(next.QueueDescadastrar("5.novo"));
  EXPECT_EQ(Pending(), (Lines{"17.1.abc", "17.1.ação", "5.1.abc", "5.novo"}));
}

// What one start of the program queued and could not send, the next start's
// scope step puts back before its scan adds its own.
TEST_F(DescadastroTest, KeptQueueSurvivesARunThatEndsEarly) {
  AddCasos({{1, 17, "1.susp", "3", true}, {1, 17, "1.outro", "2", true}});
  AddFila({{17, "1.fila"}});
  Script().escopo = [] { return ArrayOfEscopoVO{{"TJXX", {"1"}}}; };
  {
    TestForm& form = Ready();
    form.btnEscopoClick();
    form.QueueDescadastrar("17.1.naoachado");  // as the import does for a case it cannot place
    EXPECT_EQ(*form.ListaDescadastrar,
              (Lines{"17.1.outro", "17.1.susp", "17.1.fila", "17.1.naoachado"}));
    // The run ends before its unregistration step.
  }
  const fs::path cfg = dir_ / "dados" / "cauPushDescadastrar.cfg";
  const std::string kept = ReadFile(cfg);
  TearDown();
  SetUp();
  AddCasos({{1, 17, "1.novosusp", "3", true}});
  WriteFile(cfg, kept);
  Script().escopo = [] { return ArrayOfEscopoVO{{"TJXX", {"1"}}}; };
  Script().descadastra = [](const ArrayOfProcessoVO&) { return ArrayOfAvisoVO{}; };

  TestForm& form = Ready();
  form.btnEscopoClick();
  const Lines all = {"17.1.outro", "17.1.susp", "17.1.fila", "17.1.naoachado", "17.1.novosusp"};
  EXPECT_EQ(*form.ListaDescadastrar, all);
  EXPECT_EQ(Pending(), all);
  EXPECT_EQ(form.btnDescadastra.Caption(), "Descadastra (5)");
  form.btnEscopoClick();  // a second scope step (the resynchronisation's) adds nothing twice
  EXPECT_EQ(*form.ListaDescadastrar, all);

  form.TfrmAtualizaPush::btnDescadastraClick();
  ASSERT_EQ(Script().descadastras.size(), 1u);
  Lines sent;
  for (const ProcessoVO& p : Script().descadastras[0].processos)
    sent.push_back(p.codOrgao + "." + p.codProcesso);
  EXPECT_EQ(sent, (Lines{"TJXX.1.outro", "TJXX.1.susp", "TJXX.1.fila", "TJXX.1.naoachado",
                         "TJXX.1.novosusp"}));
  EXPECT_EQ(Pending(), Lines{});
  EXPECT_EQ(ReadFile(cfg).find("DESCADASTRAR"), std::string::npos);
}

}  // namespace
}  // namespace cau::testing
