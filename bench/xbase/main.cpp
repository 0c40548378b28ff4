// Table engine speed, measured side by side in one run:
//   walking 100 000 records in tag order vs reading the .DBF bytes once,
//   and vs an independent reader (dbfread) reading the same table, both
//   sides turning every field of every record into a value; with two
//   floors of the walk: the .DBF and .CDX bytes read once (what the walk
//   must get from the system), and the .DBF read once with its records
//   copied out in the tag's order known beforehand (the memory side);
//   appending 100 000 records one by one with three tags vs building the
//   same three tags in bulk.
// Each figure is the best of a few repetitions, as elapsed time and as
// processor time (user + system) of the process doing the work: on a
// machine shared with other jobs, the processor time is the steadier one.
// Usage: xbase_bench [RECORDS] [walk|append|all] [--reps N] [--keep]
//   walk / append run one half only (for profiling); --keep leaves the
//   tables in the temporary folder and prints where.
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "db/xbase/Schema.h"
#include "db/xbase/Table.h"

namespace fs = std::filesystem;
using namespace cau::xbase;

namespace {

struct Timing {
  double wall = 0;
  double cpu = 0;
};

double CpuSeconds() {
  rusage u{};
  ::getrusage(RUSAGE_SELF, &u);
  return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// The best elapsed and the best processor time of `reps` runs of `run`;
// `prepare`, when given, runs untimed before each.
Timing Best(int reps, const std::function<void()>& run,
            const std::function<void()>& prepare = nullptr) {
  Timing best{1e30, 1e30};
  for (int i = 0; i < reps; ++i) {
    if (prepare)
      prepare();
    auto wall = std::chrono::steady_clock::now();
    double cpu = CpuSeconds();
    run();
    best.cpu = std::min(best.cpu, CpuSeconds() - cpu);
    best.wall = std::min(
        best.wall, std::chrono::duration<double>(std::chrono::steady_clock::now() - wall).count());
  }
  return best;
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

void Fill(const fs::path& table, Table::Options options, int n) {
  auto t = Table::Open(table, options);
  for (int i = 0; i < n; ++i) {
    unsigned h = unsigned(i) * 2654435761u;
    t->AppendStart();
    t->Blank();
    t->SetValue(0, Value{ValueType::Numeric, "", double(h % 10000000), 0, false});
    t->SetRaw(1, "Cliente " + std::to_string(h % 100003) + " da Silva");
    t->SetValue(2, Value{ValueType::Numeric, "", double(h % 100000) / 100.0, 0, false});
    t->SetValue(3, Value{ValueType::Date, "", 0, int32_t(2451545 + h % 9000), false});
    t->Append();
  }
  t->Close();
}

// A fresh table named `name` in `dir` before each run.
std::function<void()> Fresh(const fs::path& dir, const std::string& name, bool withTags,
                            fs::path& out) {
  return [&dir, name, withTags, &out] {
    for (const char* ext : {".DBF", ".CDX"})
      fs::remove(dir / (name + ext));
    out = CreateTable(dir, name, Schema(withTags));
  };
}

// One read of the whole file into memory, the fastest a reader can get the bytes.
std::string ReadBytes(const fs::path& file) {
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
  bytes.resize(done);
  return bytes;
}

std::size_t ReadRaw(const fs::path& file) {
  return ReadBytes(file).size();
}

// The record numbers of the NOME tag in its order, and the record layout.
struct TagOrder {
  std::vector<uint32_t> recnos;
  std::size_t headerLength = 0;
  std::size_t recordLength = 0;
};

TagOrder ReadTagOrder(const fs::path& table) {
  TagOrder out;
  auto t = Table::Open(table, Table::Options{.readOnly = true});
  out.headerLength = std::size_t(t->dbf().headerLength());
  out.recordLength = std::size_t(t->dbf().recordLength());
  auto c = t->cdx()->OpenCursor(t->FindTag("NOME"));
  for (bool ok = c.First(); ok; ok = c.Next())
    out.recnos.push_back(c.RecNo());
  return out;
}

// The least a walk in tag order does besides following the index: the
// .DBF read once into memory, then each record's bytes copied out in the
// tag's order (known beforehand, untimed).
std::size_t VisitInOrder(const fs::path& table, const TagOrder& order, double& checksum) {
  const std::string bytes = ReadBytes(table);
  std::string record(order.recordLength, '\0');
  for (uint32_t recno : order.recnos) {
    const std::size_t at = order.headerLength + std::size_t(recno - 1) * order.recordLength;
    if (at + record.size() > bytes.size())
      return 0;
    std::memcpy(record.data(), bytes.data() + at, record.size());
    checksum += double(static_cast<unsigned char>(record[10]));
  }
  return order.recnos.size();
}

// Every record in NOME order, from opening the table to closing it; `decode`
// turns each field into a typed value (what dbfread does: text copied out,
// numbers parsed, dates made day numbers) in a row of values reused from one
// record to the next, otherwise only the record's bytes are looked at.
std::size_t Walk(const fs::path& table, bool decode, double& checksum) {
  std::size_t records = 0;
  auto t = Table::Open(table, Table::Options{.readOnly = true});
  t->SelectTag(t->FindTag("NOME"));
  const int fields = int(t->fields().size());
  std::vector<Value> row(std::size_t(fields), Value{});
  // One sum per field: the values are all used, without one long chain of
  // additions timing the adder instead of the walk.
  std::vector<double> sums(std::size_t(fields), 0.0);
  for (t->GoTop(); !t->Eof(); t->Skip(1)) {
    if (decode) {
      for (int i = 0; i < fields; ++i) {
        Value& v = row[std::size_t(i)];
        t->FieldValue(i, v);
        sums[std::size_t(i)] += v.number + v.julian + double(v.text.size());
      }
    } else {
      checksum += double(static_cast<unsigned char>(t->RawRecord()[10]));
    }
    ++records;
  }
  for (double sum : sums)
    checksum += sum;
  return records;
}

std::size_t Cursor(const fs::path& table) {
  std::size_t entries = 0;
  auto t = Table::Open(table, Table::Options{.readOnly = true});
  auto c = t->cdx()->OpenCursor(t->FindTag("NOME"));
  for (bool ok = c.First(); ok; ok = c.Next())
    entries += c.RecNo() > 0;
  return entries;
}

// dbfread at its fastest while still decoding every field: records as plain
// lists of (name, value) pairs instead of ordered dictionaries. Timed inside
// the interpreter, so its start-up is not counted.
Timing Dbfread(const fs::path& table, int reps) {
  std::string cmd =
      "/usr/bin/python3 -c 'import sys,time,dbfread\n"
      "w=c=1e30\n"
      "for i in range(int(sys.argv[2])):\n"
      "  t=time.perf_counter(); p=time.process_time()\n"
      "  n=sum(1 for r in dbfread.DBF(sys.argv[1],recfactory=None))\n"
      "  w=min(w,time.perf_counter()-t); c=min(c,time.process_time()-p)\n"
      "print(w,c)' " +
      table.string() + " " + std::to_string(reps);
  Timing t{-1, -1};
  if (FILE* p = ::popen(cmd.c_str(), "r")) {
    if (std::fscanf(p, "%lf %lf", &t.wall, &t.cpu) != 2)
      t = {-1, -1};
    ::pclose(p);
  }
  return t;
}

void Line(const char* what, Timing t) {
  std::printf("%-38s %8.4f s  %8.4f s\n", what, t.wall, t.cpu);
}

void Ratio(const char* what, Timing a, Timing b) {
  std::printf("%-38s %8.2f    %8.2f\n", what, a.wall / b.wall, a.cpu / b.cpu);
}

}  // namespace

int main(int argc, char** argv) {
  int n = 100000;
  int reps = 3;
  std::string part = "all";
  bool keep = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--keep")
      keep = true;
    else if (a == "--reps" && i + 1 < argc)
      reps = std::max(1, std::stoi(argv[++i]));
    else if (a == "walk" || a == "append" || a == "all")
      part = a;
    else
      n = std::stoi(a);
  }
  fs::path dir = fs::temp_directory_path() / ("xbase_bench_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  std::printf("records %d, best of %d; elapsed, processor\n", n, reps);

  fs::path tagged;
  if (part != "walk") {
    // Appends one by one, three tags maintained: index pages written once at
    // Close (the default: at the next move, Flush or Close), and written
    // after every record.
    Timing appendTagged = Best(
        reps, [&] { Fill(tagged, Table::Options{}, n); }, Fresh(dir, "TAGGED", true, tagged));
    fs::path each;
    Timing appendEach = Best(
        reps, [&] { Fill(each, Table::Options{.writeIndexEachRecord = true}, n); },
        Fresh(dir, "EACH", true, each));
    // The same records without tags, then the three tags built in bulk.
    fs::path plain;
    Timing appendPlain = Best(
        reps, [&] { Fill(plain, Table::Options{}, n); }, Fresh(dir, "PLAIN", false, plain));
    Timing bulk = Best(reps, [&] { BuildStructuralIndex(plain, Schema(true).tags); });

    Line("append one by one, three tags", appendTagged);
    Line("  same, index pages every record", appendEach);
    Line("append one by one, no tags", appendPlain);
    Line("build the three tags in bulk", bulk);
    Ratio("ratio appends with tags / bulk build", appendTagged, bulk);
    Ratio("  index pages every record / bulk", appendEach, bulk);
    Ratio("ratio appends with tags / (no tags+bulk)", appendTagged,
          Timing{appendPlain.wall + bulk.wall, appendPlain.cpu + bulk.cpu});
  } else {
    Fresh(dir, "TAGGED", true, tagged)();
    Fill(tagged, Table::Options{}, n);
  }

  if (part != "append") {
    std::size_t size = 0, seen = 0, values = 0, entries = 0;
    double checksum = 0;
    Timing raw = Best(reps, [&] { size = ReadRaw(tagged); });
    fs::path index = tagged;
    index.replace_extension(".CDX");
    std::size_t bothSize = 0, visited = 0;
    Timing rawBoth = Best(reps, [&] { bothSize = ReadRaw(tagged) + ReadRaw(index); });
    const TagOrder order = ReadTagOrder(tagged);
    Timing visit = Best(reps, [&] { visited = VisitInOrder(tagged, order, checksum); });
    Timing walkBytes = Best(reps, [&] { seen = Walk(tagged, false, checksum); });
    Timing walkValues = Best(reps, [&] { values = Walk(tagged, true, checksum); });
    Timing cursor = Best(reps, [&] { entries = Cursor(tagged); });
    Timing dbfread = Dbfread(tagged, reps);

    std::printf(
        "table file %zu bytes, with its index %zu; walks saw %zu and %zu records, cursor %zu "
        "entries, known order %zu\n",
        size, bothSize, seen, values, entries, visited);
    Line("read .DBF bytes once", raw);
    Line("read .DBF and .CDX bytes once", rawBoth);
    Line("read .DBF once, records in known order", visit);
    Line("walk in tag order (NOME), record bytes", walkBytes);
    Line("  of which the index cursor alone", cursor);
    Line("walk in tag order, every field decoded", walkValues);
    if (dbfread.wall > 0)
      Line("dbfread, every field decoded", dbfread);
    Ratio("ratio .DBF+.CDX read / raw read", rawBoth, raw);
    Ratio("ratio records in known order / raw", visit, raw);
    Ratio("ratio walk (bytes) / raw read", walkBytes, raw);
    Ratio("ratio walk (every field) / raw read", walkValues, raw);
    if (dbfread.wall > 0)
      Ratio("ratio dbfread / walk (every field)", dbfread, walkValues);
  }
  if (keep) {
    std::printf("tables kept in %s\n", dir.c_str());
  } else {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
  return 0;
}
