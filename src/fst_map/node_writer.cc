#include "fst_map/node_writer.h"

#include <algorithm>
#include <array>

#include "fst_map/fst_format.h"

namespace vellum::fst {

namespace {

void put_packed(std::string* out, uint64_t v, int n) {
  for (int i = 0; i < n; ++i) out->push_back(static_cast<char>(v >> (8 * i)));
}

void put_byte(std::string* out, uint32_t b) { out->push_back(static_cast<char>(b)); }

uint64_t target_delta(uint64_t start, uint64_t target) {
  return target == kEmptyAddress ? 0 : start - target;
}

uint64_t write_next_chained(const Transition& t, std::string* out) {
  const uint8_t rank = common_input_rank(t.input);
  if (rank == 0) put_byte(out, t.input);
  put_byte(out, kStateNextChained | rank);
  return out->size() - 1;
}

uint64_t write_single(const Transition& t, std::string* out) {
  const uint64_t delta = target_delta(out->size(), t.target);
  const int output_size = t.output == 0 ? 0 : pack_size(t.output);
  const int delta_size = pack_size(delta);
  put_packed(out, t.output, output_size);
  put_packed(out, delta, delta_size);
  put_byte(out, delta_size << 4 | output_size);
  const uint8_t rank = common_input_rank(t.input);
  if (rank == 0) put_byte(out, t.input);
  put_byte(out, kStateSingle | rank);
  return out->size() - 1;
}

void put_index(const std::vector<Transition>& ts, std::string* out) {
  std::array<char, 256> index;
  index.fill(static_cast<char>(kNoIndexEntry));
  for (size_t j = 0; j < ts.size(); ++j) index[ts[j].input] = static_cast<char>(j);
  out->append(index.data(), index.size());
}

uint64_t write_general(const Node& node, std::string* out) {
  const uint64_t start = out->size();
  const std::vector<Transition>& ts = node.transitions;
  const size_t n = ts.size();
  int d = 0;
  int o = pack_size(node.final_output);
  bool has_output = node.final_output != 0;
  for (const Transition& t : ts) {
    d = std::max(d, pack_size(target_delta(start, t.target)));
    o = std::max(o, pack_size(t.output));
    has_output = has_output || t.output != 0;
  }
  if (has_output) {
    if (node.final) put_packed(out, node.final_output, o);
    for (size_t j = n; j-- > 0;) put_packed(out, ts[j].output, o);
  }
  for (size_t j = n; j-- > 0;) put_packed(out, target_delta(start, ts[j].target), d);
  for (size_t j = n; j-- > 0;) put_byte(out, ts[j].input);
  if (n > kIndexThreshold) put_index(ts, out);
  put_byte(out, d << 4 | (has_output ? o : 0));
  // A full node of 256 transitions would not fit the count byte; it is
  // stored as 1, which no node with a count byte can otherwise hold.
  if (n == 0 || n > kMaxStateCount) put_byte(out, n == 256 ? 1 : static_cast<uint32_t>(n));
  const uint32_t count_bits = (n >= 1 && n <= kMaxStateCount) ? static_cast<uint32_t>(n) : 0;
  put_byte(out, (node.final ? kStateFinal : 0) | count_bits);
  return out->size() - 1;
}

}  // namespace

uint8_t common_input_rank(uint8_t b) {
  static constexpr std::array<uint8_t, 256> kRanks = [] {
    std::array<uint8_t, 256> r{};
    for (size_t i = 0; i + 1 < sizeof(kCommonInputs); ++i) {
      r[static_cast<uint8_t>(kCommonInputs[i])] = static_cast<uint8_t>(i + 1);
    }
    return r;
  }();
  return kRanks[b];
}

uint64_t write_node(const Node& node, uint64_t last_compiled, std::string* out) {
  if (!node.final && node.transitions.size() == 1) {
    const Transition& t = node.transitions[0];
    if (t.output == 0 && t.target == last_compiled) return write_next_chained(t, out);
    return write_single(t, out);
  }
  return write_general(node, out);
}

}  // namespace vellum::fst
