// Test-only reader of FST map images (version 3, type 0), written from the
// byte layout and independent of the builder: it has its own rank table
// and checksum. It is strict: a bad checksum, a target outside the image,
// a non-canonical packing, transitions out of order, unreachable bytes
// between nodes or a key count that disagrees all throw (via require).
//
// Lookups walk the nodes the way a reader that holds only the image
// would: exact get() and lower_bound(), the first key at or after a probe.
#ifndef VELLUM_TESTING_FST_READER_H_
#define VELLUM_TESTING_FST_READER_H_

#include <algorithm>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "testing/test_decoders.h"

namespace vellum::testing {

// require() for literal messages, building the message only on failure:
// these readers run checks per byte in tight loops.
inline void check(bool cond, const char* what) {
  if (!cond) require(false, what);
}

struct FstEntry {
  std::string key;
  uint64_t value = 0;
  bool operator==(const FstEntry&) const = default;
};

class FstImage {
 public:
  static constexpr size_t kHeader = 16;
  static constexpr size_t kFooter = 20;

  explicit FstImage(std::string_view bytes) : b_(bytes) {
    check(b_.size() >= kHeader + kFooter, "fst image shorter than header and footer");
    check(GetU64(b_.data()) == 3, "fst version is not 3");
    check(GetU64(b_.data() + 8) == 0, "fst type is not 0");
    const size_t foot = b_.size() - kFooter;
    key_count_ = GetU64(b_.data() + foot);
    root_ = GetU64(b_.data() + foot + 8);
    const uint32_t stored = GetU32(b_.data() + foot + 16);
    check(stored == masked_crc(std::string_view(b_).substr(0, b_.size() - 4)), "fst checksum mismatch");
    nodes_end_ = foot;
    check(root_ == 0 || (root_ >= kHeader && root_ < nodes_end_), "fst root address");
  }

  uint64_t key_count() const { return key_count_; }
  uint64_t root() const { return root_; }

  std::optional<uint64_t> get(std::string_view key) const {
    uint64_t addr = root_;
    uint64_t sum = 0;
    for (char c : key) {
      const Node n = node_at(addr);
      const Edge* e = n.find(static_cast<uint8_t>(c));
      if (e == nullptr) return std::nullopt;
      sum = add(sum, e->output);
      addr = e->target;
    }
    const Node n = node_at(addr);
    if (!n.final) return std::nullopt;
    return add(sum, n.final_output);
  }

  // The smallest entry whose key is >= `probe`, if any.
  std::optional<FstEntry> lower_bound(std::string_view probe) const {
    std::string key;
    return lower_bound_from(root_, probe, 0, &key);
  }

  // Every entry in key order. Also checks that the reachable nodes tile the
  // node region exactly and that the count matches the footer.
  std::vector<FstEntry> entries() const {
    std::vector<FstEntry> out;
    std::map<uint64_t, uint64_t> spans;  // start -> address of reached nodes
    std::string key;
    walk(root_, 0, &key, &out, &spans);
    check(out.size() == key_count_, "fst key count disagrees with the entries");
    uint64_t next = kHeader;
    for (const auto& [start, addr] : spans) {
      check(start == next, "fst bytes between nodes belong to no reachable node");
      next = addr + 1;
    }
    check(next == nodes_end_, "fst node region does not end at the last node");
    return out;
  }

 private:
  struct Edge {
    uint8_t input;
    uint64_t output;
    uint64_t target;
  };
  struct Node {
    bool final = false;
    uint64_t final_output = 0;
    uint64_t start = 0;
    std::vector<Edge> edges;
    const Edge* find(uint8_t in) const {
      for (const Edge& e : edges) {
        if (e.input == in) return &e;
      }
      return nullptr;
    }
  };

  static uint32_t masked_crc(std::string_view s) {
    uint32_t c = 0xFFFFFFFFu;
    for (unsigned char ch : s) {
      c ^= ch;
      for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0x82F63B78u & (0u - (c & 1)));
    }
    c = ~c;
    return ((c << 17) | (c >> 15)) + 0xA282EAD8u;
  }

  static uint8_t rank_of(uint8_t b) {
    static const std::string kCommon =
        "te/oasripcnw.hlm-du012g=:bf3y5&_4v9678k%?xCDASFIBEjPTzRNM+LOqHG";
    const size_t i = kCommon.find(static_cast<char>(b));
    return i == std::string::npos ? 0 : static_cast<uint8_t>(i + 1);
  }
  static uint8_t input_of_rank(uint8_t rank) {
    static const std::string kCommon =
        "te/oasripcnw.hlm-du012g=:bf3y5&_4v9678k%?xCDASFIBEjPTzRNM+LOqHG";
    check(rank >= 1 && rank <= kCommon.size(), "fst common-input rank out of range");
    return static_cast<uint8_t>(kCommon[rank - 1]);
  }

  static int fewest_bytes(uint64_t v) {
    int n = 1;
    while (n < 8 && (v >> (8 * n)) != 0) ++n;
    return n;
  }

  static uint64_t add(uint64_t a, uint64_t b) {
    check(a + b >= a, "fst output sum overflows 64 bits");
    return a + b;
  }

  uint8_t byte(uint64_t pos) const {
    check(pos >= kHeader && pos < nodes_end_, "fst node byte outside the node region");
    return static_cast<uint8_t>(b_[pos]);
  }

  // `n` packed bytes at [pos, pos + n), all inside the node region.
  uint64_t packed(uint64_t pos, int n) const {
    uint64_t v = 0;
    for (int i = n - 1; i >= 0; --i) v = (v << 8) | byte(pos + i);
    return v;
  }

  uint64_t target_of(uint64_t start, uint64_t delta) const {
    if (delta == 0) return 0;
    check(delta <= start - kHeader, "fst transition target before the node region");
    return start - delta;
  }

  // The position just before field bytes ending at `end` (exclusive), with
  // a check that they do not reach back into the header.
  static uint64_t back(uint64_t end, uint64_t n) {
    check(end >= kHeader + n, "fst node runs into the header");
    return end - n;
  }

  uint8_t input_before(uint64_t* p, uint8_t rank) const {
    if (rank != 0) return input_of_rank(rank);
    *p = back(*p, 1);
    const uint8_t in = byte(*p);
    check(rank_of(in) == 0, "fst input byte stored although it has a common rank");
    return in;
  }

  Node node_at(uint64_t addr) const {
    Node n;
    if (addr == 0) {
      n.final = true;
      return n;
    }
    const uint8_t state = byte(addr);
    switch (state >> 6) {
      case 3: return next_chained(addr, state);
      case 2: return single(addr, state);
      default: return general(addr, state);
    }
  }

  Node next_chained(uint64_t addr, uint8_t state) const {
    Node n;
    uint64_t p = addr;
    const uint8_t in = input_before(&p, state & 0x3F);
    n.start = p;
    check(p > kHeader, "fst next-chained node without a node before it");
    n.edges.push_back({in, 0, p - 1});
    return n;
  }

  Node single(uint64_t addr, uint8_t state) const {
    Node n;
    uint64_t p = addr;
    const uint8_t in = input_before(&p, state & 0x3F);
    p = back(p, 1);
    const uint8_t sizes = byte(p);
    const int ds = sizes >> 4;
    const int os = sizes & 0x0F;
    check(ds >= 1 && ds <= 8 && os <= 8, "fst single-transition pack sizes");
    p = back(p, static_cast<uint64_t>(ds + os));
    n.start = p;
    const uint64_t output = os == 0 ? 0 : packed(p, os);
    const uint64_t delta = packed(p + os, ds);
    check(os == 0 || (output != 0 && fewest_bytes(output) == os), "fst output not packed tightly");
    check(fewest_bytes(delta) == ds, "fst delta not packed tightly");
    n.edges.push_back({in, output, target_of(p, delta)});
    return n;
  }

  Node general(uint64_t addr, uint8_t state) const {
    Node n;
    n.final = (state & 0x40) != 0;
    uint64_t p = addr;
    uint64_t count = state & 0x3F;
    if (count == 0) {
      p = back(p, 1);
      const uint8_t c = byte(p);
      check(c == 0 || c == 1 || c > 63, "fst count byte holds a count the state byte fits");
      count = c == 1 ? 256 : c;
    }
    p = back(p, 1);
    const uint8_t sizes = byte(p);
    const int ds = sizes >> 4;
    const int os = sizes & 0x0F;
    check(ds <= 8 && os <= 8, "fst general pack sizes");
    check((count == 0) == (ds == 0), "fst delta size disagrees with the transition count");
    std::vector<uint8_t> index;
    if (count > 32) {
      p = back(p, 256);
      for (uint64_t i = 0; i < 256; ++i) index.push_back(byte(p + i));
    }
    p = back(p, count);
    const uint64_t inputs = p;
    p = back(p, count * ds);
    const uint64_t deltas = p;
    p = back(p, (count + (n.final ? 1 : 0)) * os);
    const uint64_t outputs = p;
    n.start = p;
    bool any_output = false;
    if (n.final && os > 0) {
      n.final_output = packed(outputs, os);
      any_output = n.final_output != 0;
    }
    const uint64_t first_out = outputs + (n.final ? os : 0);
    for (uint64_t j = 0; j < count; ++j) {
      Edge e;
      e.input = byte(inputs + count - 1 - j);
      e.output = os == 0 ? 0 : packed(first_out + (count - 1 - j) * os, os);
      const uint64_t delta = packed(deltas + (count - 1 - j) * ds, ds);
      e.target = target_of(n.start, delta);
      any_output = any_output || e.output != 0;
      check(j == 0 || e.input > n.edges.back().input, "fst transitions not in ascending input order");
      n.edges.push_back(e);
    }
    check(os == 0 || any_output, "fst general node stores outputs that are all zero");
    check_index(n, index);
    return n;
  }

  static void check_index(const Node& n, const std::vector<uint8_t>& index) {
    if (index.empty()) return;
    std::vector<uint8_t> expect(256, 255);
    for (size_t j = 0; j < n.edges.size(); ++j) expect[n.edges[j].input] = static_cast<uint8_t>(j);
    check(index == expect, "fst transition index disagrees with the inputs");
  }

  void walk(uint64_t addr, uint64_t sum, std::string* key, std::vector<FstEntry>* out,
            std::map<uint64_t, uint64_t>* spans) const {
    const Node n = node_at(addr);
    if (addr != 0) {
      auto [it, fresh] = spans->emplace(n.start, addr);
      check(fresh || it->second == addr, "fst nodes overlap");
    }
    check(n.final || !n.edges.empty() || (addr == root_ && key->empty()),
            "fst non-final node without transitions");
    if (n.final) out->push_back({*key, add(sum, n.final_output)});
    for (const Edge& e : n.edges) {
      key->push_back(static_cast<char>(e.input));
      walk(e.target, add(sum, e.output), key, out, spans);
      key->pop_back();
    }
  }

  std::optional<FstEntry> smallest_from(uint64_t addr, uint64_t sum, std::string* key) const {
    for (;;) {
      const Node n = node_at(addr);
      if (n.final) return FstEntry{*key, add(sum, n.final_output)};
      if (n.edges.empty()) {
        check(addr == root_, "fst non-final node without transitions");
        return std::nullopt;  // the empty map
      }
      key->push_back(static_cast<char>(n.edges[0].input));
      sum = add(sum, n.edges[0].output);
      addr = n.edges[0].target;
    }
  }

  std::optional<FstEntry> lower_bound_from(uint64_t addr, std::string_view probe, uint64_t sum,
                                           std::string* key) const {
    const Node n = node_at(addr);
    if (probe.empty()) return smallest_from(addr, sum, key);
    const uint8_t want = static_cast<uint8_t>(probe[0]);
    for (const Edge& e : n.edges) {
      if (e.input < want) continue;
      key->push_back(static_cast<char>(e.input));
      std::optional<FstEntry> r =
          e.input == want ? lower_bound_from(e.target, probe.substr(1), add(sum, e.output), key)
                          : smallest_from(e.target, add(sum, e.output), key);
      if (r) return r;
      key->pop_back();
    }
    return std::nullopt;
  }

  std::string b_;  // owned: callers often pass temporaries
  uint64_t key_count_ = 0;
  uint64_t root_ = 0;
  uint64_t nodes_end_ = 0;
};

}  // namespace vellum::testing

#endif  // VELLUM_TESTING_FST_READER_H_
