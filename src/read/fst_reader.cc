#include "read/fst_reader.h"

#include <array>

#include "common/coding.h"

namespace vellum {

namespace {

constexpr uint64_t kVersion = 3;
constexpr uint64_t kType = 0;
constexpr uint64_t kHeaderSize = 16;
constexpr uint64_t kFooterSize = 20;
constexpr uint32_t kMaskDelta = 0xA282EAD8u;
constexpr size_t kMaxStateCount = 63;
constexpr size_t kIndexThreshold = 32;
constexpr uint8_t kNoIndexEntry = 255;
constexpr char kCommonInputs[] = "te/oasripcnw.hlm-du012g=:bf3y5&_4v9678k%?xCDASFIBEjPTzRNM+LOqHG";

std::array<uint32_t, 256> crc_table() {
  std::array<uint32_t, 256> t{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0x82F63B78u & (0u - (c & 1)));
    t[i] = c;
  }
  return t;
}

uint32_t masked(uint32_t crc) { return ((crc << 17) | (crc >> 15)) + kMaskDelta; }

}  // namespace

uint32_t crc32c_of(std::string_view bytes) {
  static const std::array<uint32_t, 256> table = crc_table();
  uint32_t c = 0xFFFFFFFFu;
  for (char ch : bytes) c = table[(c ^ static_cast<uint8_t>(ch)) & 0xFF] ^ (c >> 8);
  return c ^ 0xFFFFFFFFu;
}

Problem FstReader::fault(uint64_t at, std::string what) const {
  return site_.at(region_, base_ + at, std::move(what));
}

Checked<FstReader> FstReader::open(const ProblemSite& site, std::string_view region, uint64_t base,
                                   std::string_view image) {
  FstReader f(site, region, base, image);
  if (image.size() < kHeaderSize + kFooterSize) return f.fault(0, "FST image is shorter than its framing");
  if (GetU64(image.data()) != kVersion) return f.fault(0, "FST version is not 3");
  if (GetU64(image.data() + 8) != kType) return f.fault(8, "FST type is not 0");
  f.nodes_end_ = image.size() - kFooterSize;
  const uint32_t stored = GetU32(image.data() + image.size() - 4);
  if (masked(crc32c_of(image.substr(0, image.size() - 4))) != stored) {
    return f.fault(image.size() - 4, "FST checksum does not match");
  }
  f.key_count_ = GetU64(image.data() + f.nodes_end_);
  f.root_ = GetU64(image.data() + f.nodes_end_ + 8);
  if (f.root_ != 0 && (f.root_ < kHeaderSize || f.root_ >= f.nodes_end_)) {
    return f.fault(f.nodes_end_ + 8, "FST root address lies outside the nodes");
  }
  return f;
}

namespace {

uint64_t unpack(const char* p, int n) {
  uint64_t v = 0;
  for (int i = n - 1; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(p[i]);
  return v;
}

}  // namespace

// Fields precede the state byte; `lo` tracks the lowest byte used so far.
Check FstReader::read_single(uint64_t addr, bool chained, Node* n) const {
  const uint8_t state = static_cast<uint8_t>(image_[addr]);
  const uint8_t rank = state & 0x3F;
  uint64_t lo = addr;
  uint8_t input;
  if (rank != 0) {
    input = static_cast<uint8_t>(kCommonInputs[rank - 1]);
  } else {
    if (--lo < kHeaderSize) return fault(addr, "FST node starts before the nodes");
    input = static_cast<uint8_t>(image_[lo]);
  }
  if (chained) {
    if (lo - 1 < kHeaderSize) return fault(addr, "chained FST node has no node before it");
    n->trans.push_back({input, 0, lo - 1});
    return Check();
  }
  if (--lo < kHeaderSize) return fault(addr, "FST node starts before the nodes");
  const uint8_t sizes = static_cast<uint8_t>(image_[lo]);
  const int dsize = sizes >> 4, osize = sizes & 0x0F;
  if (dsize < 1 || dsize > 8 || osize > 8) return fault(lo, "FST pack sizes are out of range");
  if (lo < kHeaderSize + dsize + osize) return fault(addr, "FST node starts before the nodes");
  const uint64_t start = lo - dsize - osize;
  const uint64_t delta = unpack(image_.data() + lo - dsize, dsize);
  const uint64_t output = osize == 0 ? 0 : unpack(image_.data() + start, osize);
  if (delta != 0 && (delta > start || start - delta < kHeaderSize)) {
    return fault(lo - dsize, "FST transition target lies outside the nodes");
  }
  n->trans.push_back({input, output, delta == 0 ? 0 : start - delta});
  return Check();
}

Check FstReader::read_general(uint64_t addr, Node* n) const {
  const uint8_t state = static_cast<uint8_t>(image_[addr]);
  n->final = (state & 0x40) != 0;
  size_t count = state & 0x3F;
  uint64_t lo = addr;
  auto take = [&](uint64_t bytes) { return lo >= kHeaderSize + bytes ? (lo -= bytes, true) : false; };
  if (count == 0) {
    if (!take(1)) return fault(addr, "FST node starts before the nodes");
    const uint8_t stored = static_cast<uint8_t>(image_[lo]);
    if (stored >= 2 && stored <= kMaxStateCount) return fault(lo, "FST count byte holds a count the state byte holds");
    count = stored == 1 ? 256 : stored;
  }
  if (!take(1)) return fault(addr, "FST node starts before the nodes");
  const uint8_t sizes = static_cast<uint8_t>(image_[lo]);
  const int d = sizes >> 4, o = sizes & 0x0F;
  if (d > 8 || o > 8 || (count > 0) != (d > 0)) return fault(lo, "FST pack sizes are out of range");
  const uint64_t index_at = lo - (count > kIndexThreshold ? 256 : 0);
  if (count > kIndexThreshold && !take(256)) return fault(addr, "FST node starts before the nodes");
  if (!take(count)) return fault(addr, "FST node starts before the nodes");
  const uint64_t inputs_at = lo;
  if (!take(count * d)) return fault(addr, "FST node starts before the nodes");
  const uint64_t deltas_at = lo;
  const uint64_t outputs = o == 0 ? 0 : count + (n->final ? 1 : 0);
  if (!take(outputs * o)) return fault(addr, "FST node starts before the nodes");
  const uint64_t start = lo;
  if (o != 0 && n->final) n->final_output = unpack(image_.data() + start, o);
  const uint64_t trans_outputs_at = start + (n->final && o != 0 ? o : 0);
  n->trans.resize(count);
  for (size_t j = 0; j < count; ++j) {
    const size_t slot = count - 1 - j;  // stored last transition first
    Transition& t = n->trans[j];
    t.input = static_cast<uint8_t>(image_[inputs_at + slot]);
    t.output = o == 0 ? 0 : unpack(image_.data() + trans_outputs_at + slot * o, o);
    const uint64_t delta = unpack(image_.data() + deltas_at + slot * d, d);
    if (delta != 0 && (delta > start || start - delta < kHeaderSize)) {
      return fault(deltas_at + slot * d, "FST transition target lies outside the nodes");
    }
    t.target = delta == 0 ? 0 : start - delta;
    if (j > 0 && t.input <= n->trans[j - 1].input) return fault(inputs_at + slot, "FST transitions are not ascending");
  }
  if (count > kIndexThreshold) {
    std::array<uint8_t, 256> want;
    want.fill(kNoIndexEntry);
    for (size_t j = 0; j < count; ++j) want[n->trans[j].input] = static_cast<uint8_t>(j);
    for (size_t b = 0; b < 256; ++b) {
      if (static_cast<uint8_t>(image_[index_at + b]) != want[b]) return fault(index_at + b, "FST node index disagrees with its inputs");
    }
  }
  return Check();
}

Checked<FstReader::Node> FstReader::node_at(uint64_t addr) const {
  Node n;
  if (addr == 0) {
    n.final = true;
    return n;
  }
  if (addr < kHeaderSize || addr >= nodes_end_) return fault(addr, "FST node address lies outside the nodes");
  const uint8_t kind = static_cast<uint8_t>(image_[addr]) >> 6;
  if (kind >= 2) {
    VELLUM_CHECK(read_single(addr, kind == 3, &n));
  } else {
    VELLUM_CHECK(read_general(addr, &n));
  }
  if (!n.final && n.trans.empty() && addr != root_) return fault(addr, "FST node leads to no key");
  return n;
}

Checked<std::vector<FstEntry>> FstReader::entries(uint64_t max_key_bytes) const {
  struct Frame {
    Node node;
    size_t next = 0;
    uint64_t out = 0;
  };
  std::vector<FstEntry> out;
  std::vector<Frame> stack;
  std::string key;
  uint64_t key_bytes = 0;
  VELLUM_CHECKED_ASSIGN(Node root, node_at(root_));
  stack.push_back({std::move(root), 0, 0});
  if (stack.back().node.final) out.push_back({"", stack.back().node.final_output});
  while (!stack.empty()) {
    Frame& f = stack.back();
    if (f.next == f.node.trans.size()) {
      stack.pop_back();
      if (!key.empty()) key.pop_back();
      continue;
    }
    const Transition t = f.node.trans[f.next++];
    const uint64_t out_here = f.out + t.output;
    VELLUM_CHECKED_ASSIGN(Node child, node_at(t.target));
    key.push_back(static_cast<char>(t.input));
    if (child.final) {
      key_bytes += key.size();
      if (key_bytes > max_key_bytes) return fault(nodes_end_, "FST keys exceed what their file can hold");
      if (out.size() == key_count_) return fault(nodes_end_, "FST holds more keys than its key count");
      out.push_back({key, out_here + child.final_output});
    }
    stack.push_back({std::move(child), 0, out_here});
  }
  if (out.size() != key_count_) return fault(nodes_end_, "FST holds fewer keys than its key count");
  return out;
}

Checked<FstEntry> FstReader::least_from(uint64_t addr, std::string prefix, uint64_t out) const {
  for (;;) {
    VELLUM_CHECKED_ASSIGN(Node n, node_at(addr));
    if (n.final) return FstEntry{std::move(prefix), out + n.final_output};
    // node_at refuses dead ends, and targets descend, so this ends.
    prefix.push_back(static_cast<char>(n.trans[0].input));
    out += n.trans[0].output;
    addr = n.trans[0].target;
  }
}

Checked<std::optional<FstEntry>> FstReader::lower_bound(std::string_view key) const {
  struct Fallback {
    size_t depth;
    Transition t;
    uint64_t out;
  };
  std::optional<Fallback> fallback;  // deepest transition above the key
  uint64_t addr = root_, out = 0;
  if (key_count_ == 0) return std::optional<FstEntry>();
  for (size_t i = 0;; ++i) {
    VELLUM_CHECKED_ASSIGN(Node n, node_at(addr));
    if (i == key.size()) {
      if (n.final) return std::optional<FstEntry>(FstEntry{std::string(key), out + n.final_output});
      VELLUM_CHECKED_ASSIGN(FstEntry e, least_from(addr, std::string(key), out));
      return std::optional<FstEntry>(std::move(e));
    }
    const uint8_t want = static_cast<uint8_t>(key[i]);
    const Transition* match = nullptr;
    for (const Transition& t : n.trans) {
      if (t.input == want) match = &t;
      if (t.input > want) {
        fallback = Fallback{i, t, out};
        break;
      }
    }
    if (match == nullptr) break;
    out += match->output;
    addr = match->target;
  }
  if (!fallback) return std::optional<FstEntry>();
  std::string prefix(key.substr(0, fallback->depth));
  prefix.push_back(static_cast<char>(fallback->t.input));
  VELLUM_CHECKED_ASSIGN(FstEntry e, least_from(fallback->t.target, std::move(prefix),
                                               fallback->out + fallback->t.output));
  return std::optional<FstEntry>(std::move(e));
}

}  // namespace vellum
