// Compound-index trees built in one go: a tag's whole tree from its entries,
// and new bags with their directory and empty tags.
#include <fcntl.h>

#include <algorithm>
#include <cstring>
#include <set>

#include "config/Errors.h"
#include "db/xbase/CdxStore.h"

namespace cau::xbase {
namespace {

void Put16(unsigned char* p, uint32_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
}
void Put32(unsigned char* p, uint32_t v) {
  for (int i = 0; i < 4; ++i)
    p[i] = static_cast<unsigned char>(v >> (8 * i));
}

// A tag header: root, key length, options, order and the expression pool.
std::vector<unsigned char> TagHeader(uint32_t root, int keyLength, uint8_t options,
                                     const std::string& keyExpr, const std::string& forExpr,
                                     bool descending) {
  std::vector<unsigned char> h(kCdxHeaderSize, 0);
  Put32(&h[0], root);
  Put16(&h[12], static_cast<uint32_t>(keyLength));
  h[14] = options;
  h[15] = 1;
  Put16(&h[502], descending ? 1 : 0);
  Put16(&h[504], static_cast<uint32_t>(keyExpr.size() + 1));
  Put16(&h[506], static_cast<uint32_t>(forExpr.size() + 1));
  Put16(&h[508], 0);
  Put16(&h[510], static_cast<uint32_t>(keyExpr.size() + 1));
  std::memcpy(&h[512], keyExpr.data(), keyExpr.size());
  std::memcpy(&h[512 + keyExpr.size() + 1], forExpr.data(), forExpr.size());
  return h;
}

}  // namespace

void CdxStore::Build(const TagInfo& t, std::vector<CdxEntry> sorted) {
  std::unordered_set<uint32_t> old;
  CollectBelowRoot(t, t.rootPage, 0, old);
  std::vector<uint32_t> ordered(old.begin(), old.end());
  std::sort(ordered.rbegin(), ordered.rend());  // reused lowest first
  for (uint32_t p : ordered)
    Release(p);
  ++generation;

  // Leaves, greedily filled: an entry that makes the page overflow starts the next.
  std::vector<CdxNode> level;
  CdxNode cur(kAttrLeaf, t.keyLength, t.fill);
  for (const auto& e : sorted) {
    cur.Append(e.key, e.recno);
    if (cur.size() > 1 && cur.Overflows()) {
      cur.Erase(cur.size() - 1);
      level.push_back(std::move(cur));
      cur = CdxNode(kAttrLeaf, t.keyLength, t.fill);
      cur.Append(e.key, e.recno);
    }
  }
  if (!cur.empty() || level.empty())
    level.push_back(std::move(cur));

  // Branch levels over them, each entry the last pair of its child.
  const std::size_t cap = BranchCapacity(t.keyLength);
  while (level.size() > 1) {
    std::vector<uint32_t> pages;
    for (std::size_t i = 0; i < level.size(); ++i)
      pages.push_back(Allocate(CdxNode(0, t.keyLength, t.fill)));
    std::vector<CdxNode> up;
    for (std::size_t i = 0; i < level.size(); ++i) {
      CdxNode& n = level[i];
      n.left = i == 0 ? kCdxNone : pages[i - 1];
      n.right = i + 1 == level.size() ? kCdxNone : pages[i + 1];
      if (up.empty() || up.back().size() == cap)
        up.emplace_back(0, t.keyLength, t.fill);
      up.back().Append(n.Key(n.size() - 1), n.RecNo(n.size() - 1), pages[i]);
      Find(pages[i])->node = std::move(n);
    }
    level = std::move(up);
  }
  CdxNode& root = Node(t, t.rootPage);
  root = std::move(level.front());
  root.attr = static_cast<uint16_t>(root.attr | kAttrRoot);
  root.left = root.right = kCdxNone;
  MarkDirty(t.rootPage);
}

void CdxFile::Build(int tag, std::vector<std::pair<std::string, uint32_t>> entries) {
  CdxStore& s = *store_;
  const TagInfo& t = WritableTag(s, tag, std::string(TagAt(s, tag).keyLength, ' '));
  for (const auto& [key, recno] : entries) {
    if (static_cast<int>(key.size()) != t.keyLength)
      throw Error("tag " + t.name + ": chave de tamanho errado");
    if (recno == 0)
      throw Error("índice: registro 0");
  }
  std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
    return ComparePair(a.first, a.second, b.first, b.second) < 0;
  });
  std::vector<CdxEntry> sorted;
  sorted.reserve(entries.size());
  for (auto& [key, recno] : entries) {
    if (!sorted.empty() && sorted.back().key == key) {
      if (sorted.back().recno == recno)
        continue;
      if (t.candidate)
        throw Error("tag " + t.name + ": chave repetida não é permitida (candidata)");
      if (t.unique)
        continue;
    }
    sorted.push_back({std::move(key), recno, 0});
  }
  Guarded(s, [&] {
    s.Build(t, std::move(sorted));
    return 0;
  });
}

std::unique_ptr<CdxFile> CdxFile::Create(const std::filesystem::path& path,
                                         const std::vector<TagSpec>& specs) {
  std::set<std::string> names;
  for (const auto& spec : specs) {
    const std::string name = CdxUpper(spec.name);
    if (name.empty() || name.size() > 10)
      throw Error("nome de tag inválido: " + name);
    for (char c : name)
      if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_'))
        throw Error("nome de tag inválido: " + name);
    if (!names.insert(name).second)
      throw Error("tag repetida: " + name);
    if (spec.keyLength < 1 || spec.keyLength > kCdxMaxKeyLength)
      throw Error("tag " + name + ": tamanho de chave " + std::to_string(spec.keyLength));
    if (spec.keyExpr.empty() || spec.keyExpr.size() + spec.forExpr.size() + 2 > 512)
      throw Error("tag " + name + ": expressão vazia ou longa demais");
  }

  std::unique_ptr<CdxFile> file(new CdxFile());
  CdxStore& s = *file->store_;
  s.path = path;
  s.fd = Fd(::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (s.fd.get() < 0)
    s.IoError("não foi possível criar");
  s.writable = true;
  s.failed = true;  // until complete

  const uint32_t dirRoot = kCdxHeaderSize;
  s.directory.name = "(diretório)";
  s.directory.keyLength = 10;
  s.directory.options = 0xE0;
  s.directory.signature = 1;
  s.directory.rootPage = dirRoot;
  s.directory.fill = ' ';
  auto bag = TagHeader(dirRoot, 10, 0xE0, "", "", false);
  s.WriteAt(0, bag.data(), bag.size());

  // Each tag: its header, then its root page, in the order given.
  uint32_t at = dirRoot + kCdxPageSize;
  for (const auto& spec : specs) {
    TagInfo t;
    t.name = CdxUpper(spec.name);
    t.keyExpr = spec.keyExpr;
    t.forExpr = spec.forExpr;
    t.keyLength = spec.keyLength;
    t.unique = spec.unique;
    t.nullable = spec.nullable;
    t.candidate = spec.candidate;
    t.hasFor = !spec.forExpr.empty();
    t.descending = spec.descending;
    t.options = static_cast<uint8_t>(0x60 | (t.unique ? 0x01 : 0) | (t.nullable ? 0x02 : 0) |
                                     (t.candidate ? 0x04 : 0) | (t.hasFor ? 0x08 : 0));
    t.signature = 1;
    t.fill = FillByte(spec.keyType);
    t.headerOffset = at;
    t.rootPage = at + kCdxHeaderSize;
    auto h = TagHeader(t.rootPage, t.keyLength, t.options, t.keyExpr, t.forExpr, t.descending);
    s.WriteAt(at, h.data(), h.size());
    at += kCdxHeaderSize + kCdxPageSize;
    s.tags.push_back(std::move(t));
  }
  std::sort(s.tags.begin(), s.tags.end(),
            [](const TagInfo& a, const TagInfo& b) { return CompareKeys(a.name, b.name) < 0; });
  s.fileSize = at;
  s.diskSize = kCdxHeaderSize;
  s.Place(s.directory.rootPage, CdxNode(kAttrRoot | kAttrLeaf, 10, ' '));
  for (const auto& t : s.tags)
    s.Place(t.rootPage, CdxNode(kAttrRoot | kAttrLeaf, t.keyLength, t.fill));
  std::vector<CdxEntry> dir;
  for (const auto& t : s.tags) {
    std::string key = t.name;
    key.resize(10, ' ');
    dir.push_back({key, t.headerOffset, 0});
  }
  s.Build(s.directory, std::move(dir));
  s.failed = false;
  file->Flush(true);
  s.counter = 0;  // a new bag starts at zero
  unsigned char zero[4] = {0, 0, 0, 0};
  s.WriteAt(8, zero, 4);
  return file;
}

}  // namespace cau::xbase
