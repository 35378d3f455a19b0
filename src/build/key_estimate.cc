#include "build/key_estimate.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <string_view>
#include <vector>

#include "analysis/ngram_keys.h"
#include "common/mapped_array.h"
#include "common/prefetch.h"

namespace vellum {

namespace {

// A document is sampled at depth d when its hashed number has d leading
// zero bits: it then belongs to the samples of 1/2^k for every k <= d.
constexpr unsigned kDepth = 6;  // the larger sample: 1/64 of the documents
// Fewer sampled documents than this say too little, and a corpus that
// small needs no estimate.
constexpr size_t kMinSampled = 1024;
// The quick look first: the sample of 1/1024 and the one of 1/2048. Below
// this many keys by its estimate, none is made.
constexpr unsigned kQuickDepth = 10;
constexpr size_t kSmallTable = size_t{1} << 18;

inline uint64_t mix(uint64_t x) { return x * 0x9E3779B97F4A7C15ULL; }

// The distinct keys of the sample, each with the greatest depth of the
// documents it occurs in. The slots are mapped arrays: a first build in a
// process would otherwise fault in its megabytes 4 KB at a time.
class SampledKeys {
 public:
  SampledKeys() : slots_(size_t{1} << 12) {}

  void add(uint64_t key, uint64_t depth) {
    size_t i = slot(key);
    for (; slots_[i].depth != 0; i = (i + 1) & (slots_.size() - 1)) {
      if (slots_[i].key == key) {
        slots_[i].depth = std::max(slots_[i].depth, depth);
        return;
      }
    }
    slots_[i] = Slot{key, depth};
    if (++used_ * 2 > slots_.size()) grow();
  }

  // Keys of the documents of depth `depth` or more.
  size_t count(uint64_t depth) const {
    size_t n = 0;
    for (size_t i = 0; i < slots_.size(); ++i) n += slots_[i].depth >= depth;
    return n;
  }

 private:
  struct Slot {
    uint64_t key;
    uint64_t depth;  // 0: an empty slot
  };
  size_t slot(uint64_t key) const {
    return static_cast<size_t>(mix(key) >> (64 - std::countr_zero(slots_.size())));
  }
  void grow() {
    MappedArray<Slot> old(slots_.size() * 2);  // zero: every slot empty
    std::swap(old, slots_);
    for (const Slot& s : old) {
      if (s.depth == 0) continue;
      size_t i = slot(s.key);
      while (slots_[i].depth != 0) i = (i + 1) & (slots_.size() - 1);
      slots_[i] = s;
    }
  }

  MappedArray<Slot> slots_;
  size_t used_ = 0;
};

// A sampled document: its staged number and its depth.
struct SampledDoc {
  uint32_t doc;
  uint8_t depth;
};

// Keys sampled documents into SampledKeys, each key marked with the depth
// of the deepest document it occurs in.
class KeySample {
 public:
  KeySample(const RecordStaging& staged, uint16_t gram_size)
      : staged_(staged), gram_size_(gram_size) {}

  void add(const std::vector<SampledDoc>& docs) {
    // Sampled documents lie anywhere in the staged texts: their rows and
    // texts are fetched some documents ahead.
    constexpr size_t kRowsAhead = 16;
    constexpr size_t kTextsAhead = 8;
    for (size_t j = 0; j < docs.size(); ++j) {
      if (j + kRowsAhead < docs.size()) staged_.prefetch_row(docs[j + kRowsAhead].doc);
      if (j + kTextsAhead < docs.size()) prefetch(staged_.text(docs[j + kTextsAhead].doc).data());
      const std::string_view text = staged_.text(docs[j].doc);
      if (grams_.size() < text.size()) grams_.resize(text.size());
      const uint64_t* end = keyer_.grams(text, gram_size_, true, grams_.data());
      for (const uint64_t* k = grams_.data(); k < end; ++k) keys_.add(*k, docs[j].depth);
    }
  }

  // The keys of the whole corpus, from the samples of 1/2^depth and
  // 1/2^(depth + 1): twice the documents gave large / small times the
  // keys, the power that carries the larger count up to all documents.
  size_t estimate(unsigned depth) const {
    const double large = static_cast<double>(keys_.count(depth));
    const double small = static_cast<double>(keys_.count(depth + 1));
    if (small == 0) return 0;
    const double power = std::clamp(std::log2(large / small), 0.0, 1.0);
    return static_cast<size_t>(large * std::exp2(power * depth));
  }

 private:
  const RecordStaging& staged_;
  const uint16_t gram_size_;
  NgramKeyer keyer_;
  SampledKeys keys_;
  std::vector<uint64_t> grams_;
};

}  // namespace

size_t estimate_distinct_keys(const RecordStaging& staged, uint16_t gram_size) {
  // The sampled documents, the deepest apart.
  std::vector<SampledDoc> deep, shallow;
  for (size_t i = 0; i < staged.size(); ++i) {
    const uint64_t h = mix(i + 1);
    if ((h >> (64 - kDepth)) != 0) continue;
    const auto depth = static_cast<uint8_t>(std::countl_zero(h | 1));
    (depth >= kQuickDepth ? deep : shallow).push_back({static_cast<uint32_t>(i), depth});
  }
  if (deep.size() + shallow.size() < kMinSampled) return 0;
  KeySample sample(staged, gram_size);
  // A sixteenth of the sample tells whether the table will be small, and
  // a small table grows cheaply enough by itself.
  sample.add(deep);
  if (sample.estimate(kQuickDepth) < kSmallTable) return 0;
  sample.add(shallow);
  return sample.estimate(kDepth);
}

}  // namespace vellum
