// mkhost: builds a sample host installation to develop and test against.
//
//   mkhost DIR [--cases N] [--courts K] [--seed S] [--user U] [--password P]
//              [--scenario FILE [--busy M]]
//
// The same arguments give the same bytes in every file.
#include <charconv>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "HostModel.h"
#include "HostWriter.h"
#include "Scenario.h"

namespace fs = std::filesystem;
using namespace cau::mkhost;

namespace {

int Usage(const std::string& why) {
  if (!why.empty())
    std::cerr << "mkhost: " << why << "\n";
  std::cerr << "uso: mkhost PASTA [--cases N] [--courts K] [--seed S] [--user U]"
               " [--password P] [--scenario ARQUIVO [--busy M]]\n";
  return 2;
}

std::optional<uint64_t> Number(const std::string& text, uint64_t lo, uint64_t hi) {
  uint64_t v = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc() || end != text.data() + text.size() || v < lo || v > hi)
    return std::nullopt;
  return v;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  fs::path dir;
  uint64_t cases = 200, courts = 8, seed = 1;
  Credentials credentials;
  fs::path scenario;
  uint64_t busy = 0;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a.rfind("--", 0) != 0) {
      if (!dir.empty())
        return Usage("pasta repetida: " + a);
      dir = a;
      continue;
    }
    if (i + 1 >= args.size())
      return Usage("falta o valor de " + a);
    const std::string& v = args[++i];
    std::optional<uint64_t> n;
    if (a == "--cases") {
      if (!(n = Number(v, 0, 10000000)))
        return Usage("--cases deve ser um número de 0 a 10000000");
      cases = *n;
    } else if (a == "--courts") {
      if (!(n = Number(v, 1, 999)))
        return Usage("--courts deve ser um número de 1 a 999");
      courts = *n;
    } else if (a == "--seed") {
      if (!(n = Number(v, 0, UINT64_MAX)))
        return Usage("--seed deve ser um número inteiro sem sinal");
      seed = *n;
    } else if (a == "--user") {
      credentials.user = v;
    } else if (a == "--password") {
      credentials.password = v;
    } else if (a == "--scenario") {
      scenario = v;
    } else if (a == "--busy") {
      if (!(n = Number(v, 1, 10000000)))
        return Usage("--busy deve ser um número de 1 a 10000000");
      busy = *n;
    } else {
      return Usage("opção desconhecida: " + a);
    }
  }
  if (dir.empty())
    return Usage("falta a pasta");

  try {
    HostPlan plan = MakePlan(seed, cases, int(courts));
    WriteSummary done = WriteInstallation(plan, credentials, dir);
    if (!scenario.empty()) {
      std::ofstream out(scenario, std::ios::binary | std::ios::trunc);
      out << MakeScenario(plan, credentials, busy).dump(2) << "\n";
      out.close();
      if (!out) {
        std::cerr << "mkhost: " << scenario.string() << ": não foi possível gravar\n";
        return 1;
      }
    }
    std::cout << dir.string() << ": " << done.cases << " processos, " << done.folders << " pastas, "
              << done.appointments << " compromissos, " << done.queueRows
              << " na fila PushAux, data " << IsoDay(plan.today) << "\n";
  } catch (const std::exception& e) {
    std::cerr << "mkhost: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
