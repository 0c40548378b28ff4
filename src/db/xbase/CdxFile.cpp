// The compound index file: opening and reading the bag, entry maintenance
// as the table calls it, and writing the changed pages.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <set>

#include "config/Errors.h"
#include "db/xbase/CdxStore.h"

namespace cau::xbase {
namespace {

uint16_t Get16(const unsigned char* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t Get32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

// ---- reading the bag --------------------------------------------------------

TagInfo CdxStore::ReadTagHeader(const std::string& name, uint32_t offset) {
  unsigned char h[kCdxHeaderSize];
  ReadAt(offset, h, sizeof h);
  TagInfo t;
  t.name = name;
  t.headerOffset = offset;
  t.rootPage = Get32(h);
  t.keyLength = Get16(h + 12);
  t.options = h[14];
  t.signature = h[15];
  const std::string label = "tag " + name;
  if (t.keyLength < 1 || t.keyLength > kCdxMaxKeyLength)
    Corrupt(label + ": tamanho de chave " + std::to_string(t.keyLength));
  if (!PageInRange(t.rootPage))
    Corrupt(label + ": raiz " + CdxHex(t.rootPage) + " inválida");
  const uint16_t order = Get16(h + 502);
  if (order > 1)
    Corrupt(label + ": ordem desconhecida");
  t.descending = order == 1;
  t.unique = (t.options & 0x01) != 0;
  t.nullable = (t.options & 0x02) != 0;
  t.candidate = (t.options & 0x04) != 0;
  t.hasFor = (t.options & 0x08) != 0;
  for (int i = 494; i < 502 && h[i] != 0; ++i) {
    if (h[i] < 0x21 || h[i] > 0x7E)
      Corrupt(label + ": nome de ordenação inválido");
    t.collation.push_back(static_cast<char>(h[i]));
  }
  auto poolText = [&](int offAt, int lenAt) {
    const uint32_t off = Get16(h + offAt), len = Get16(h + lenAt);
    if (off + len > 512)
      Corrupt(label + ": expressão fora do cabeçalho");
    const char* p = reinterpret_cast<const char*>(h + 512 + off);
    return std::string(p, strnlen(p, len));
  };
  t.keyExpr = poolText(508, 510);
  t.forExpr = t.hasFor ? poolText(504, 506) : std::string();
  return t;
}

// The fill byte the leaves were compressed with: a stored key never ends
// in its own fill byte, and branch keys keep it uncompressed.
char CdxStore::InferFill(const TagInfo& probe) {
  if (!probe.collation.empty())
    return '\0';
  int votesSpace = 0, votesZero = 0;
  CdxPageBytes bytes;
  uint32_t page = probe.rootPage;
  for (int depth = 0; depth < kCdxMaxDepth; ++depth) {
    ReadAt(page, bytes.data(), bytes.size());
    CdxNode a, b;
    if (DecodePage(bytes, probe.keyLength, ' ', a))
      return ' ';  // reported on first use
    if (!a.leaf()) {
      for (std::size_t i = 0; i < a.size(); ++i) {
        const char last = a.Key(i).back();
        if (last == ' ')
          ++votesSpace;
        if (last == '\0')
          ++votesZero;
      }
      if (a.empty() || !PageInRange(a.Child(0)))
        break;
      page = a.Child(0);
      continue;
    }
    DecodePage(bytes, probe.keyLength, '\0', b);
    auto ordered = [](const CdxNode& n) {
      for (std::size_t i = 1; i < n.size(); ++i)
        if (ComparePair(n.Key(i - 1), n.RecNo(i - 1), n.Key(i), n.RecNo(i)) >= 0)
          return false;
      return true;
    };
    if (ordered(a) != ordered(b))
      return ordered(a) ? ' ' : '\0';
    for (std::size_t i = 0; i < a.size(); ++i) {
      const std::string_view ka = a.Key(i);
      const std::string_view kb = b.Key(i);
      std::size_t s = ka.size();
      while (s > 0 && ka[s - 1] != kb[s - 1])
        --s;
      if (s == 0)
        continue;
      if (ka[s - 1] == ' ')
        votesZero += 4;
      if (ka[s - 1] == '\0')
        votesSpace += 4;
    }
    break;
  }
  if (votesSpace != votesZero)
    return votesSpace > votesZero ? ' ' : '\0';
  const int plain = probe.keyLength - (probe.nullable ? 1 : 0);
  return plain == 4 || plain == 8 ? '\0' : ' ';
}

void CdxStore::Load() {
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0)
    IoError("falha ao examinar");
  diskSize = fileSize = static_cast<uint64_t>(st.st_size);
  if (fileSize < kCdxHeaderSize + kCdxPageSize)
    Corrupt("arquivo curto demais");
  if (fileSize % kCdxPageSize != 0)
    Corrupt("tamanho não é múltiplo de 512");
  if (fileSize > 0xFFFFFE00u)
    Corrupt("arquivo grande demais");
  unsigned char h[kCdxHeaderSize];
  ReadAt(0, h, sizeof h);
  counter = (uint32_t{h[8]} << 24) | (uint32_t{h[9]} << 16) | (uint32_t{h[10]} << 8) | h[11];
  freeHead = Get32(h + 4);
  directory = ReadTagHeader("(diretório)", 0);
  directory.fill = ' ';
  std::set<uint32_t> headers;
  for (CdxPos pos = First(directory); pos.valid(); pos = Next(directory, pos)) {
    std::string name(KeyAt(directory, pos));
    while (!name.empty() && (name.back() == ' ' || name.back() == '\0'))
      name.pop_back();
    const uint32_t off = RecNoAt(directory, pos);
    if (off % kCdxPageSize != 0 || off < kCdxHeaderSize ||
        uint64_t{off} + kCdxHeaderSize > fileSize)
      Corrupt("tag " + name + ": cabeçalho em " + CdxHex(off) + " inválido");
    if (!headers.insert(off).second)
      Corrupt("duas tags com o mesmo cabeçalho " + CdxHex(off));
    tags.push_back(ReadTagHeader(name, off));
  }
  for (auto& t : tags) {
    t.fill = InferFill(t);
    Node(t, t.rootPage);
  }
}

// ---- CdxFile ----------------------------------------------------------------

CdxFile::CdxFile() : store_(std::make_unique<CdxStore>()) {}

CdxFile::~CdxFile() {
  if (store_ && store_->writable && !store_->failed && store_->fd.get() >= 0) {
    try {
      Flush(true);
    } catch (...) {  // nothing more can be done here; Flush reports when called
    }
  }
}

std::unique_ptr<CdxFile> CdxFile::Open(const std::filesystem::path& path, bool writable) {
  std::unique_ptr<CdxFile> file(new CdxFile());
  CdxStore& s = *file->store_;
  s.path = path;
  s.writable = false;  // until it has been checked
  s.fd = Fd(::open(path.c_str(), (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC));
  if (s.fd.get() < 0)
    s.IoError("não foi possível abrir");
  s.Load();
  if (writable) {
    auto problems = file->CheckStructure();
    if (!problems.empty())
      s.Corrupt(problems.front());
    s.writable = true;
  }
  return file;
}

const std::filesystem::path& CdxFile::path() const {
  return store_->path;
}
bool CdxFile::writable() const {
  return store_->writable;
}
const std::vector<TagInfo>& CdxFile::tags() const {
  return store_->tags;
}
uint32_t CdxFile::changeCounter() const {
  return store_->counter;
}

int CdxFile::FindTag(std::string_view name) const {
  const std::string want = CdxUpper(name);
  for (std::size_t i = 0; i < store_->tags.size(); ++i)
    if (CdxUpper(store_->tags[i].name) == want)
      return static_cast<int>(i);
  return -1;
}

const TagInfo& TagAt(const CdxStore& s, int tag) {
  if (tag < 0 || static_cast<std::size_t>(tag) >= s.tags.size())
    throw Error("índice: tag " + std::to_string(tag) + " não existe");
  return s.tags[static_cast<std::size_t>(tag)];
}

const TagInfo& WritableTag(const CdxStore& s, int tag, std::string_view key) {
  const TagInfo& t = TagAt(s, tag);
  if (!s.writable)
    throw Error("índice " + s.path.filename().string() + " aberto só para leitura");
  if (s.failed)
    throw Error("índice " + s.path.filename().string() + " inutilizado por erro anterior");
  if (!t.collation.empty())
    throw Error("tag " + t.name + " usa a ordenação " + t.collation + ", que não sabemos gravar");
  if (static_cast<int>(key.size()) != t.keyLength)
    throw Error("tag " + t.name + ": chave de " + std::to_string(key.size()) +
                " bytes, a tag usa " + std::to_string(t.keyLength));
  return t;
}

void CdxFile::SetKeyType(int tag, ValueType type) {
  CdxStore& s = *store_;
  TagAt(s, tag);
  TagInfo& t = s.tags[static_cast<std::size_t>(tag)];
  const char fill = FillByte(type, !t.collation.empty());
  if (fill == t.fill)
    return;
  if (s.HasDirtyPages())
    throw Error("índice: tipo de chave trocado com alterações pendentes");
  t.fill = fill;
  s.DropCache();
  if (s.writable) {  // the open-time check read the pages the other way
    const auto problems = CheckStructure();
    if (!problems.empty()) {
      s.failed = true;
      s.Corrupt(problems.front());
    }
  }
}

// ---- entries ----------------------------------------------------------------

bool CdxFile::Insert(int tag, std::string_view key, uint32_t recno) {
  CdxStore& s = *store_;
  const TagInfo& t = WritableTag(s, tag, key);
  if (recno == 0)
    throw Error("índice: registro 0");
  return Guarded(s, [&] {
    if (t.unique || t.candidate) {
      if (HasKey(tag, key)) {
        if (t.candidate)
          throw Error("tag " + t.name + ": chave repetida não é permitida (candidata)");
        return false;
      }
    }
    return s.Insert(t, key, recno);
  });
}

bool CdxFile::Remove(int tag, std::string_view key, uint32_t recno) {
  CdxStore& s = *store_;
  const TagInfo& t = WritableTag(s, tag, key);
  return Guarded(s, [&] { return s.Remove(t, key, recno); });
}

std::optional<std::string> CdxFile::RemoveRecord(int tag, uint32_t recno) {
  CdxStore& s = *store_;
  const TagInfo& t = WritableTag(s, tag, std::string(TagAt(s, tag).keyLength, ' '));
  return Guarded(s, [&]() -> std::optional<std::string> {
    for (CdxPos pos = s.First(t); pos.valid(); pos = {s.Hop(t, pos.page, true), 0}) {
      const CdxNode& leaf = s.Node(t, pos.page);
      for (std::size_t i = 0; i < leaf.size(); ++i) {
        if (leaf.RecNo(i) != recno)
          continue;
        std::string key(leaf.Key(i));
        s.Remove(t, key, recno);
        return key;
      }
    }
    return std::nullopt;
  });
}

bool CdxFile::HasKey(int tag, std::string_view key) const {
  CdxStore& s = *store_;
  const TagInfo& t = TagAt(s, tag);
  const CdxPos pos = s.LowerBound(t, key, 0);
  return pos.valid() && s.KeyAt(t, pos) == key;
}

std::vector<std::pair<std::string, uint32_t>> CdxFile::Entries(int tag) const {
  CdxStore& s = *store_;
  const TagInfo& t = TagAt(s, tag);
  std::vector<std::pair<std::string, uint32_t>> out;
  for (CdxPos pos = s.First(t); pos.valid(); pos = {s.Hop(t, pos.page, true), 0}) {
    const CdxNode& leaf = s.Node(t, pos.page);
    for (std::size_t i = 0; i < leaf.size(); ++i)
      out.emplace_back(leaf.Key(i), leaf.RecNo(i));
  }
  if (t.descending)
    std::reverse(out.begin(), out.end());
  return out;
}

// ---- writing ----------------------------------------------------------------

void CdxFile::Flush(bool sync) {
  CdxStore& s = *store_;
  if (!s.writable)
    return;
  if (s.failed)
    throw Error("índice " + s.path.filename().string() + " não gravado: erro anterior");
  const std::vector<uint32_t> pages = s.DirtyPages();  // ascending: new pages come last
  if (!pages.empty() || s.fileSize > s.diskSize) {
    Guarded(s, [&] {
      if (s.DiskCounter() != s.counter)
        s.Corrupt("alterado por outro programa desde a leitura; nada foi gravado");
      // New pages first: nothing points at them until the old ones change.
      const auto firstNew =
          std::lower_bound(pages.begin(), pages.end(), static_cast<uint32_t>(s.diskSize));
      auto write = [&](uint32_t offset) {
        CdxNode& node = s.Find(offset)->node;
        const CdxPageBytes bytes = EncodePage(node);
        s.WriteAt(offset, bytes.data(), bytes.size());
        node.freeField = static_cast<uint16_t>(bytes[12] | (bytes[13] << 8));
        node.usedBytes = kLeafSpace - node.freeField;
      };
      std::for_each(firstNew, pages.end(), write);
      std::for_each(pages.begin(), firstNew, write);
      if (s.fileSize > s.diskSize && ::ftruncate(s.fd.get(), static_cast<off_t>(s.fileSize)) != 0)
        s.IoError("falha ao estender");
      s.diskSize = s.fileSize;
      ++s.counter;
      const unsigned char be[4] = {
          static_cast<unsigned char>(s.counter >> 24), static_cast<unsigned char>(s.counter >> 16),
          static_cast<unsigned char>(s.counter >> 8), static_cast<unsigned char>(s.counter)};
      s.WriteAt(8, be, 4);
      return 0;
    });
    s.MarkWritten(pages);
  }
  if (sync && ::fsync(s.fd.get()) != 0) {
    s.failed = true;
    s.IoError("falha ao sincronizar");
  }
}

bool CdxFile::Refresh() {
  CdxStore& s = *store_;
  if (s.DiskCounter() == s.counter)
    return false;
  if (s.HasDirtyPages()) {
    s.failed = true;  // what is pending here was made on pages that changed
    throw Error("índice " + s.path.filename().string() +
                " alterado por outro programa com alterações pendentes aqui");
  }
  std::vector<char> fills;
  for (const auto& t : s.tags)
    fills.push_back(t.fill);
  const auto oldTags = s.tags;
  s.DropCache();
  s.freePages.clear();
  s.tags.clear();
  Guarded(s, [&] {
    s.Load();
    return 0;
  });
  // Keep the key types the caller confirmed for tags that are still the same.
  for (auto& t : s.tags)
    for (std::size_t i = 0; i < oldTags.size(); ++i)
      if (oldTags[i].headerOffset == t.headerOffset && oldTags[i].name == t.name &&
          t.fill != fills[i]) {
        t.fill = fills[i];
        s.DropCache();
      }
  return true;
}

void CdxFile::Close() {
  Flush(true);
  store_->fd.reset();
  store_->writable = false;
}

}  // namespace cau::xbase
