// libFuzzer target: arbitrary bytes as a compound index. Opening, walking,
// seeking and checking must end in a result or a cau::Error, never a crash
// or a hang; a file that opens for writing must stay sound under our changes.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "config/Errors.h"
#include "db/xbase/Cdx.h"

namespace {

namespace fs = std::filesystem;
using cau::xbase::CdxFile;

fs::path Scratch(const char* name) {
  return fs::temp_directory_path() / ("cdx-fuzz-" + std::to_string(::getpid()) + name);
}

void Write(const fs::path& p, const uint8_t* data, size_t size) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

void Walk(const CdxFile& cdx) {
  for (int i = 0; i < static_cast<int>(cdx.tags().size()); ++i) {
    const auto entries = cdx.Entries(i);
    auto c = cdx.OpenCursor(i);
    int steps = 0;
    for (bool ok = c.Last(); ok && steps < 100000; ok = c.Prev())
      ++steps;
    if (!entries.empty())
      c.Seek(entries[entries.size() / 2].first);
    cdx.Stats(i);
  }
  cdx.CheckStructure();
}

void Change(CdxFile& cdx) {
  for (int i = 0; i < static_cast<int>(cdx.tags().size()); ++i) {
    const auto& t = cdx.tags()[i];
    if (!t.collation.empty())
      continue;
    const auto entries = cdx.Entries(i);
    const std::string key(static_cast<size_t>(t.keyLength), 'M');
    for (uint32_t r = 1; r <= 40; ++r) {
      try {
        cdx.Insert(i, key, r * 977);
      } catch (const cau::FileError&) {
        throw;
      } catch (const cau::Error&) {  // candidate tag refusing a repeated key
      }
    }
    for (size_t k = 0; k < entries.size() && k < 300; ++k)  // fills leaves until they split
      try {
        cdx.Insert(i, entries[k].first, entries[k].second + 100000);
      } catch (const cau::FileError&) {
        throw;
      } catch (const cau::Error&) {
      }
    for (size_t k = 0; k < entries.size(); k += 2)
      cdx.Remove(i, entries[k].first, entries[k].second);
  }
  if (!cdx.CheckStructure().empty())
    __builtin_trap();  // our own changes broke the tree
  cdx.Flush();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const fs::path file = Scratch(".cdx");
  Write(file, data, size);
  try {
    Walk(*CdxFile::Open(file, false));
  } catch (const cau::Error&) {
  }
  try {
    auto cdx = CdxFile::Open(file, true);
    Change(*cdx);
    cdx.reset();
    Walk(*CdxFile::Open(file, false));
  } catch (const cau::Error&) {
  }
  std::error_code ec;
  fs::remove(file, ec);
  return 0;
}
