// Table engine speed, measured side by side in one run:
//   walking 100 000 records in tag order vs reading the .DBF bytes once,
//   and vs an independent reader (dbfread) reading the same table, both
//   sides turning every field of every record into a value;
//   appending 100 000 records one by one with three tags vs building the
//   same three tags in bulk.
// Usage: xbase_bench [RECORDS] [walk|append|all] [--keep]
//   walk / append run one half only (for profiling); --keep leaves the
//   tables in the temporary folder and prints where.
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
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

double TimeAppends(const fs::path& table, Table::Options options, int n) {
  auto start = Clock::now();
  auto t = Table::Open(table, options);
  Fill(*t, n);
  t->Close();
  return Seconds(start);
}

// One read of the whole file into memory, the fastest a reader can get the bytes.
double TimeRawRead(const fs::path& file, std::size_t& size) {
  auto start = Clock::now();
  int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  std::string bytes(fs::file_size(file), '\0');
  std::size_t done = 0;
  while (fd >= 0 && done < bytes.size()) {
    ssize_t got = ::read(fd, bytes.data() + done, bytes.size() - done);
    if (got <= 0)
      break;
    done += std::size_t(got);
  }
  if (fd >= 0)
    ::close(fd);
  size = done;
  return Seconds(start);
}

struct Walk {
  double seconds = 0;
  std::size_t records = 0;
  double checksum = 0;
};

// Every record in NOME order; `decode` turns each field into a value
// (what dbfread does), otherwise only the record's bytes are looked at.
Walk TimeWalk(const fs::path& table, bool decode) {
  Walk w;
  auto start = Clock::now();
  auto t = Table::Open(table, Table::Options{.readOnly = true});
  t->SelectTag(t->FindTag("NOME"));
  const int fields = int(t->fields().size());
  for (t->GoTop(); !t->Eof(); t->Skip(1)) {
    if (decode) {
      for (int i = 0; i < fields; ++i) {
        Value v = t->FieldValue(i);
        w.checksum += v.number + v.julian + double(v.text.size());
      }
    } else {
      w.checksum += double(static_cast<unsigned char>(t->RawRecord()[10]));
    }
    ++w.records;
  }
  w.seconds = Seconds(start);
  return w;
}

double TimeCursor(const fs::path& table, std::size_t& entries) {
  auto start = Clock::now();
  auto t = Table::Open(table, Table::Options{.readOnly = true});
  auto c = t->cdx()->OpenCursor(t->FindTag("NOME"));
  for (bool ok = c.First(); ok; ok = c.Next())
    entries += c.RecNo() > 0;
  return Seconds(start);
}

// dbfread at its fastest while still decoding every field: records as plain
// lists of (name, value) pairs instead of ordered dictionaries.
double TimeDbfread(const fs::path& table) {
  std::string cmd =
      "/usr/bin/python3 -c 'import sys,time,dbfread\n"
      "t=time.perf_counter()\n"
      "n=sum(1 for r in dbfread.DBF(sys.argv[1],recfactory=None))\n"
      "print(time.perf_counter()-t)' " +
      table.string();
  double seconds = -1;
  if (FILE* p = ::popen(cmd.c_str(), "r")) {
    if (std::fscanf(p, "%lf", &seconds) != 1)
      seconds = -1;
    ::pclose(p);
  }
  return seconds;
}

}  // namespace

int main(int argc, char** argv) {
  int n = 100000;
  std::string part = "all";
  bool keep = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--keep")
      keep = true;
    else if (a == "walk" || a == "append" || a == "all")
      part = a;
    else
      n = std::stoi(a);
  }
  fs::path dir = fs::temp_directory_path() / ("xbase_bench_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  std::printf("records                          %d\n", n);

  // Appends one by one, three tags maintained: index pages written once at
  // Close (the default: at the next move, Flush or Close), and written after
  // every record.
  fs::path tagged = CreateTable(dir, "TAGGED", Schema(true));
  if (part != "walk") {
    double appendTagged = TimeAppends(tagged, Table::Options{}, n);
    fs::path each = CreateTable(dir, "EACH", Schema(true));
    double appendEach = TimeAppends(each, Table::Options{.writeIndexEachRecord = true}, n);
    // The same records without tags, then the three tags built in bulk.
    fs::path plain = CreateTable(dir, "PLAIN", Schema(false));
    double appendPlain = TimeAppends(plain, Table::Options{}, n);
    auto start = Clock::now();
    BuildStructuralIndex(plain, Schema(true).tags);
    double bulk = Seconds(start);

    std::printf("append one by one, three tags    %8.4f s\n", appendTagged);
    std::printf("  same, index pages every record  %8.4f s\n", appendEach);
    std::printf("append one by one, no tags       %8.4f s\n", appendPlain);
    std::printf("build the three tags in bulk     %8.4f s\n", bulk);
    std::printf("ratio appends with tags / bulk build            %6.2f\n", appendTagged / bulk);
    std::printf("ratio appends with tags / (appends + bulk)      %6.2f\n",
                appendTagged / (appendPlain + bulk));
    std::printf("ratio, index pages every record / bulk build    %6.2f\n", appendEach / bulk);
  } else {
    TimeAppends(tagged, Table::Options{}, n);
  }

  if (part != "append") {
    std::size_t size = 0, entries = 0;
    double raw = TimeRawRead(tagged, size);
    Walk bytes = TimeWalk(tagged, false);
    Walk values = TimeWalk(tagged, true);
    double cursor = TimeCursor(tagged, entries);
    double dbfread = TimeDbfread(tagged);

    std::printf("table file                       %zu bytes\n", size);
    std::printf("read .DBF bytes once             %8.4f s\n", raw);
    std::printf("walk in tag order (NOME), bytes  %8.4f s   ratio to raw read %6.2f   (%zu)\n",
                bytes.seconds, bytes.seconds / raw, bytes.records);
    std::printf("  of which the index cursor alone %8.4f s   (%zu entries)\n", cursor, entries);
    std::printf("walk in tag order, every field   %8.4f s   ratio to raw read %6.2f   (%zu)\n",
                values.seconds, values.seconds / raw, values.records);
    if (dbfread > 0) {
      std::printf("dbfread, every field             %8.4f s   dbfread / walk   %6.1f\n", dbfread,
                  dbfread / values.seconds);
    }
  }
  if (keep) {
    std::printf("tables kept in %s\n", dir.c_str());
  } else {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
  return 0;
}
