// The structure check of a compound index and the shape of its trees.
#include <functional>
#include <unordered_set>

#include "db/xbase/CdxStore.h"

namespace cau::xbase {

void CdxStore::CollectBelowRoot(const TagInfo& t, uint32_t page, int depth,
                                std::unordered_set<uint32_t>& out) {
  if (depth > kCdxMaxDepth)
    Corrupt("tag " + t.name + ": árvore funda demais");
  const CdxNode& node = Node(t, page);
  if (node.leaf())
    return;
  std::vector<uint32_t> children;
  for (std::size_t i = 0; i < node.size(); ++i)
    children.push_back(node.Child(i));
  for (uint32_t c : children) {
    if (c == t.rootPage || !out.insert(c).second)
      Corrupt("tag " + t.name + ": página " + CdxHex(c) + " alcançada duas vezes");
    CollectBelowRoot(t, c, depth + 1, out);
  }
}

std::vector<std::string> CdxFile::CheckStructure() const {
  CdxStore& s = *store_;
  std::vector<std::string> problems;
  std::unordered_set<uint32_t> seen = {0, kCdxPageSize};
  for (const auto& t : s.tags) {
    for (uint32_t p : {t.headerOffset, t.headerOffset + kCdxPageSize})
      if (!seen.insert(p).second)
        problems.push_back("tag " + t.name + ": cabeçalho em página já usada");
  }
  auto checkTree = [&](const TagInfo& t, bool isDirectory) {
    const std::string label = "tag " + t.name;
    std::vector<std::vector<uint32_t>> levels;
    int leafDepth = -1;
    std::function<void(uint32_t, int)> visit = [&](uint32_t page, int depth) {
      if (depth >= kCdxMaxDepth) {
        problems.push_back(label + ": árvore funda demais");
        return;
      }
      if (!s.PageInRange(page)) {
        problems.push_back(label + ": página " + CdxHex(page) + " fora do arquivo ou desalinhada");
        return;
      }
      if (!seen.insert(page).second) {
        problems.push_back(label + ": página " + CdxHex(page) + " alcançada duas vezes");
        return;
      }
      const CdxNode* node;
      bool dirty;
      try {
        node = &s.Node(t, page);
        dirty = s.Find(page)->dirty;
      } catch (const FileError& e) {
        problems.push_back(e.what());
        return;
      }
      const std::string at = label + ", página " + CdxHex(page) + ": ";
      if (static_cast<std::size_t>(depth) >= levels.size())
        levels.resize(depth + 1);
      levels[depth].push_back(page);
      if (node->root() != (depth == 0))
        problems.push_back(at + "marca de raiz errada");
      if (node->empty() && depth != 0)
        problems.push_back(at + "página vazia");
      for (std::size_t i = 1; i < node->size(); ++i) {
        if (ComparePair(node->Key(i - 1), node->RecNo(i - 1), node->Key(i), node->RecNo(i)) >= 0) {
          problems.push_back(at + "chaves fora de ordem");
          break;
        }
        if ((t.unique || t.candidate) && node->Key(i - 1) == node->Key(i) && !isDirectory) {
          problems.push_back(at + "chave repetida em tag única");
          break;
        }
      }
      if (node->leaf()) {
        if (leafDepth < 0)
          leafDepth = depth;
        if (leafDepth != depth)
          problems.push_back(at + "folhas em profundidades diferentes");
        if (!dirty && node->freeField != kLeafSpace - node->usedBytes)
          problems.push_back(at + "espaço livre registrado errado");
        if (!isDirectory)
          for (std::size_t i = 0; i < node->size(); ++i)
            if (node->RecNo(i) == 0) {
              problems.push_back(at + "registro 0");
              break;
            }
        return;
      }
      std::vector<CdxEntry> entries;
      for (std::size_t i = 0; i < node->size(); ++i)
        entries.push_back(node->Entry(i));
      for (const auto& e : entries) {
        visit(e.child, depth + 1);
        const CdxStore::Cached* child = s.Find(e.child);
        if (!child || child->node.empty())
          continue;
        const CdxNode& c = child->node;
        if (c.Key(c.size() - 1) != e.key || c.RecNo(c.size() - 1) != e.recno)
          problems.push_back(at + "chave interna difere da última chave da página " +
                             CdxHex(e.child));
      }
    };
    visit(t.rootPage, 0);
    for (std::size_t d = 0; d < levels.size(); ++d) {
      const auto& pages = levels[d];
      for (std::size_t i = 0; i < pages.size(); ++i) {
        const CdxNode& n = s.Find(pages[i])->node;
        const uint32_t wantLeft = i == 0 ? kCdxNone : pages[i - 1];
        const uint32_t wantRight = i + 1 == pages.size() ? kCdxNone : pages[i + 1];
        if (n.left != wantLeft || n.right != wantRight)
          problems.push_back(label + ", página " + CdxHex(pages[i]) + ": vizinhos errados");
        if (i + 1 < pages.size()) {
          const CdxNode& m = s.Find(pages[i + 1])->node;
          if (!n.empty() && !m.empty()) {
            const std::size_t last = n.size() - 1;
            if (ComparePair(n.Key(last), n.RecNo(last), m.Key(0), m.RecNo(0)) >= 0)
              problems.push_back(label + ": ordem quebrada entre " + CdxHex(pages[i]) + " e " +
                                 CdxHex(pages[i + 1]));
          }
        }
      }
    }
  };
  checkTree(s.directory, true);
  for (const auto& t : s.tags)
    checkTree(t, false);
  if (s.freeHead != 0 && s.freeHead != kCdxNone && seen.count(s.freeHead) != 0)
    problems.push_back("primeira página livre " + CdxHex(s.freeHead) + " está em uso");
  for (uint32_t p : s.freePages)
    if (seen.count(p) != 0)
      problems.push_back("página livre " + CdxHex(p) + " está em uso");
  return problems;
}

CdxFile::TagStats CdxFile::Stats(int tag) const {
  CdxStore& s = *store_;
  const TagInfo& t = TagAt(s, tag);
  TagStats stats;
  std::unordered_set<uint32_t> below;
  s.CollectBelowRoot(t, t.rootPage, 0, below);
  stats.pages = static_cast<int>(below.size()) + 1;
  stats.levels = s.Descend(t, [](const CdxNode&, std::size_t) { return false; }).depth;
  for (CdxPos pos = s.First(t); pos.valid(); pos = {s.Hop(t, pos.page, true), 0})
    stats.keys += static_cast<long>(s.Node(t, pos.page).size());
  return stats;
}

}  // namespace cau::xbase
