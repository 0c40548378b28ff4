// Table engine speed, measured side by side in one run:
//   walking 100 000 records in tag order vs reading the .DBF bytes once,
//   vs an independent reader (dbfread) reading the same table;
//   appending 100 000 records one by one with three tags vs building the
//   same three tags in bulk.
// Usage: xbase_bench [RECORDS]
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

#include "db/xbase/Schema.h"
#include "db/xbase/Table.h"

namespace fs = std::filesystem;
using namespace cau::xbase;
using Clock = std::chrono::steady_clock;

namespace {

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

TableSchema Schema(bool withTags) {
  TableSchema s;
  s.fields = {
      {"CODIGO", 'N', 8, 0}, {"NOME", 'C', 40, 0}, {"VALOR", 'N', 12, 2}, {"DATA", 'D', 8, 0}};
  if (withTags) {
    s.tags = {{"CODIGO", "CODIGO", "", false, false, false},
              {"NOME", "UPPER(NOME)", "", false, false, false},
              {"DATA", "DTOS(DATA)+STR(CODIGO,8)", "", false, false, false}};
  }
  return s;
}

void Fill(Table& t, int n) {
  for (int i = 0; i < n; ++i) {
    unsigned h = unsigned(i) * 2654435761u;
    t.AppendStart();
    t.Blank();
    t.SetValue(0, Value{ValueType::Numeric, "", double(h % 10000000), 0, false});
    t.SetRaw(1, "Cliente " + std::to_string(h % 100003) + " da Silva");
    t.SetValue(2, Value{ValueType::Numeric, "", double(h % 100000) / 100.0, 0, false});
    t.SetValue(3, Value{ValueType::Date, "", 0, int32_t(2451545 + h % 9000), false});
    t.Append();
  }
}

}  // namespace

int main(int argc, char** argv) {
  int n = argc > 1 ? std::stoi(argv[1]) : 100000;
  fs::path dir = fs::temp_directory_path() / ("xbase_bench_" + std::to_string(::getpid()));
  fs::create_directories(dir);

  // Appends one by one, three tags maintained: index pages written after
  // every record (the default, for files shared with the host), and batched.
  fs::path tagged = CreateTable(dir, "TAGGED", Schema(true));
  auto start = Clock::now();
  {
    auto t = Table::Open(tagged);
    Fill(*t, n);
    t->Close();
  }
  double appendTagged = Seconds(start);
  fs::path batched = CreateTable(dir, "BATCHED", Schema(true));
  start = Clock::now();
  {
    auto t = Table::Open(batched, Table::Options{.batchIndexWrites = true});
    Fill(*t, n);
    t->Close();
  }
  double appendBatched = Seconds(start);

  // The same records without tags, then the three tags built in bulk.
  fs::path plain = CreateTable(dir, "PLAIN", Schema(false));
  start = Clock::now();
  {
    auto t = Table::Open(plain);
    Fill(*t, n);
    t->Close();
  }
  double appendPlain = Seconds(start);
  start = Clock::now();
  BuildStructuralIndex(plain, Schema(true).tags);
  double bulk = Seconds(start);

  // Reading: the file's bytes once, our walk in tag order, dbfread.
  start = Clock::now();
  std::string bytes;
  {
    std::ifstream in(tagged, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), {});
  }
  double raw = Seconds(start);

  start = Clock::now();
  std::size_t seen = 0, sum = 0;
  {
    auto t = Table::Open(tagged, Table::Options{.readOnly = true});
    t->SelectTag(t->FindTag("NOME"));
    for (t->GoTop(); !t->Eof(); t->Skip(1)) {
      sum += t->RawField(1)[9];
      ++seen;
    }
  }
  double walk = Seconds(start);

  // The index cursor alone, to tell its share of the walk.
  start = Clock::now();
  std::size_t entries = 0;
  {
    auto t = Table::Open(tagged, Table::Options{.readOnly = true});
    auto c = t->cdx()->OpenCursor(t->FindTag("NOME"));
    for (bool ok = c.First(); ok; ok = c.Next())
      entries += c.RecNo() > 0;
  }
  double cursor = Seconds(start);

  std::string cmd =
      "/usr/bin/python3 -c 'import sys,time,dbfread\n"
      "t=time.perf_counter()\n"
      "n=sum(1 for r in dbfread.DBF(sys.argv[1]))\n"
      "print(time.perf_counter()-t)' " +
      tagged.string();
  double dbfread = -1;
  if (FILE* p = ::popen(cmd.c_str(), "r")) {
    if (std::fscanf(p, "%lf", &dbfread) != 1)
      dbfread = -1;
    ::pclose(p);
  }

  std::printf("records                          %d (walk saw %zu, checksum %zu)\n", n, seen, sum);
  std::printf("table file                       %zu bytes\n", bytes.size());
  std::printf("read .DBF bytes once             %8.4f s\n", raw);
  std::printf("walk in tag order (NOME)         %8.4f s   ratio to raw read %6.2f\n", walk,
              walk / raw);
  std::printf("  of which the index cursor alone %8.4f s   (%zu entries)\n", cursor, entries);
  if (dbfread > 0) {
    std::printf("dbfread, all records             %8.4f s   dbfread / walk   %6.1f\n", dbfread,
                dbfread / walk);
  }
  std::printf("append one by one, three tags    %8.4f s\n", appendTagged);
  std::printf("  same, index pages batched       %8.4f s\n", appendBatched);
  std::printf("append one by one, no tags       %8.4f s\n", appendPlain);
  std::printf("build the three tags in bulk     %8.4f s\n", bulk);
  std::printf("ratio appends with tags / bulk build            %6.2f\n", appendTagged / bulk);
  std::printf("ratio appends with tags / (appends + bulk)      %6.2f\n",
              appendTagged / (appendPlain + bulk));
  std::printf("ratio batched appends with tags / bulk build    %6.2f\n", appendBatched / bulk);
  std::printf("ratio batched appends / (appends + bulk)        %6.2f\n",
              appendBatched / (appendPlain + bulk));
  std::error_code ec;
  fs::remove_all(dir, ec);
  return 0;
}
