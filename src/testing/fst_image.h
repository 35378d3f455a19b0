// Test-only FST map images assembled from the byte layout: an unshared
// trie whose nodes are all general nodes (values as final outputs), which
// is one of the many images a reader must accept for the same map.
#ifndef VELLUM_TESTING_FST_IMAGE_H_
#define VELLUM_TESTING_FST_IMAGE_H_

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common/coding.h"
#include "read/fst_reader.h"

namespace vellum::testing {

inline int fst_pack_size(uint64_t v) {
  int n = 1;
  while (n < 8 && (v >> (8 * n)) != 0) ++n;
  return n;
}

inline void fst_pack(std::string* out, uint64_t v, int n) {
  for (int i = 0; i < n; ++i) out->push_back(static_cast<char>(v >> (8 * i)));
}

struct TrieNode {
  bool final = false;
  uint64_t value = 0;
  std::map<uint8_t, std::unique_ptr<TrieNode>> next;
};

// Writes `n` after its children; returns its address (its last byte).
inline uint64_t fst_compile(const TrieNode& n, std::string* img) {
  std::vector<std::pair<uint8_t, uint64_t>> trans;  // ascending inputs
  for (const auto& [b, child] : n.next) trans.emplace_back(b, fst_compile(*child, img));
  const uint64_t start = img->size();
  int d = 0;
  for (const auto& t : trans) d = std::max(d, fst_pack_size(start - t.second));
  const bool h = n.final && n.value != 0;
  const int o = h ? fst_pack_size(n.value) : 0;
  if (h) {
    fst_pack(img, n.value, o);
    for (size_t j = 0; j < trans.size(); ++j) fst_pack(img, 0, o);
  }
  for (size_t j = trans.size(); j-- > 0;) fst_pack(img, start - trans[j].second, d);
  for (size_t j = trans.size(); j-- > 0;) img->push_back(static_cast<char>(trans[j].first));
  if (trans.size() > 32) {
    std::string index(256, '\xFF');
    for (size_t j = 0; j < trans.size(); ++j) index[trans[j].first] = static_cast<char>(j);
    *img += index;
  }
  img->push_back(static_cast<char>(d << 4 | o));
  const size_t count = trans.size();
  if (count == 0 || count > 63) img->push_back(static_cast<char>(count == 256 ? 1 : count));
  img->push_back(static_cast<char>((n.final ? 0x40 : 0) | (count >= 1 && count <= 63 ? count : 0)));
  return img->size() - 1;
}

inline std::string fst_finish(std::string img, uint64_t key_count, uint64_t root) {
  PutU64(&img, key_count);
  PutU64(&img, root);
  const uint32_t crc = crc32c_of(img);
  PutU32(&img, ((crc << 17) | (crc >> 15)) + 0xA282EAD8u);
  return img;
}

inline std::string fst_image(const std::map<std::string, uint64_t>& map) {
  TrieNode root;
  for (const auto& [key, value] : map) {
    TrieNode* n = &root;
    for (char c : key) {
      auto& next = n->next[static_cast<uint8_t>(c)];
      if (!next) next = std::make_unique<TrieNode>();
      n = next.get();
    }
    n->final = true;
    n->value = value;
  }
  std::string img;
  PutU64(&img, 3);
  PutU64(&img, 0);
  const uint64_t root_addr = fst_compile(root, &img);
  return fst_finish(std::move(img), map.size(), root_addr);
}

}  // namespace vellum::testing

#endif  // VELLUM_TESTING_FST_IMAGE_H_
