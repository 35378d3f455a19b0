#include "build/key_postings.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <utility>

#include "common/prefetch.h"
#include "index/posting.h"
#include "index/posting_format.h"

namespace vellum {

namespace {

constexpr uint32_t kInline = 3;
// The home slot of the key this many places ahead is fetched while a key is
// added, so that the cache misses of consecutive keys overlap.
constexpr size_t kAhead = 64;
constexpr unsigned kSortBucketBits = 14;
// Ids of large sets wait in a batch and reach each set as one run per
// batch. A batch ends where a 65536-id window (one Roaring container) ends,
// so each key's container of a window is usually one part, written as it
// is.
constexpr unsigned kWindowBits = 16;

// N-gram keys of ASCII grams are packed characters, not hashes: mix them.
// Only the high bits are used (the home slot), and a multiply by an odd
// constant makes those depend on every bit of the key.
inline uint64_t mix(uint64_t k) { return k * 0x9E3779B97F4A7C15ULL; }

// Pool class of a set of n ids, 4 <= n <= kPromoteAt: blocks of 8 for up
// to 8 ids, 16 for up to 16, and so on.
inline unsigned class_of(uint32_t n) {
  return n <= 8 ? 0 : static_cast<unsigned>(std::bit_width(n - 1)) - 3;
}

// Sorts a[0, n) by key (keys distinct) by insertion while that takes at
// most `budget` moves, and returns false, a[0, n) then in some order, when
// it would take more.
template <typename E>
bool insertion_sort(E* a, size_t n, size_t budget) {
  size_t moves = 0;
  for (size_t i = 1; i < n; ++i) {
    if (a[i - 1].key < a[i].key) continue;
    const E e = a[i];
    size_t j = i;
    for (; j > 0 && a[j - 1].key > e.key; --j) {
      if (moves++ == budget) {
        a[j] = e;
        return false;
      }
      a[j] = a[j - 1];
    }
    a[j] = e;
  }
  return true;
}

}  // namespace

KeyPostings::KeyPostings(bool hashed_above_32_bits)
    : direct_above_(hashed_above_32_bits ? UINT32_MAX : UINT64_MAX), slots_(kInitialSlots) {}

// A choice without a branch: text of several scripts mixes both kinds of
// key unpredictably.
inline uint64_t KeyPostings::hash(uint64_t key, uint64_t direct_above) {
  const uint64_t mixed = mix(key);
  const uint64_t as_is = 0 - static_cast<uint64_t>(key > direct_above);
  return mixed ^ ((mixed ^ key) & as_is);
}

// Table sizes go 2^k, 1.5 * 2^k, 2^(k+1), ...: finer steps than doubling
// keep a table of 32-byte slots nearer the room its entries need.
size_t KeyPostings::next_size(size_t slots) {
  return std::has_single_bit(slots) ? slots + slots / 2 : slots / 3 * 4;
}

void KeyPostings::place(const Entry& e) {
  size_t i = home(hash(e.key));
  while (slots_[i].number != 0) i = next(i);
  slots_[i] = e;
}

// Entries lie near their home slot, and home slots keep their order from
// one size to the next, so reading the old table front to back fills the
// new one nearly front to back: the old pages are returned as they are
// read, and the two tables are not whole in memory at once.
void KeyPostings::rehash(size_t slots) {
  constexpr size_t kStep = size_t{1} << 16;  // 2 MB of slots: one large page
  MappedArray<Entry> old(slots);  // zero: every slot empty
  std::swap(old, slots_);
  for (size_t at = 0; at < old.size(); at += kStep) {
    const size_t end = std::min(old.size(), at + kStep);
    for (size_t k = at; k < end; ++k) {
      if (old[k].number != 0) place(old[k]);
    }
    old.discard(at, end);
  }
}

size_t KeyPostings::size_for(size_t keys, size_t slots) {
  while (slots * 3 < keys * 4 && slots < kMaxSlots) slots = next_size(slots);
  return slots;
}

void KeyPostings::reserve(size_t keys) {
  const size_t slots = size_for(keys, slots_.size());
  if (slots != slots_.size()) rehash(slots);
}

KeyPostings::Entry& KeyPostings::find_or_insert(uint64_t key, uint64_t hash) {
  const size_t h = home(hash);
  size_t i = h;
  for (; slots_[i].number != 0; i = next(i)) {
    if (slots_[i].key != key) continue;
    // A key with more ids than the one in its home slot takes that slot,
    // so that the commonest keys are found without a probe. The other key
    // stays reachable: no slot from its home to here is empty.
    if (i != h && slots_[i].count > slots_[h].count) {
      std::swap(slots_[i], slots_[h]);
      return slots_[h];
    }
    return slots_[i];
  }
  // At most three quarters full, so that a probe seldom leaves the home
  // slot's line. At 2^32 slots every possible entry still fits.
  if ((keys_ + 1) * 4 > slots_.size() * 3 && slots_.size() < kMaxSlots) {
    rehash(next_size(slots_.size()));
    for (i = home(hash); slots_[i].number != 0; i = next(i)) {
    }
  }
  // The format caps key counts below 2^32, far beyond what fits in memory,
  // so the entry number (+1) always fits.
  slots_[i] = Entry{key, static_cast<uint32_t>(keys_ + 1), 0, {0, 0, 0}, 0};
  ++keys_;
  return slots_[i];
}

bool KeyPostings::contains(uint64_t key, uint64_t hash) const {
  for (size_t i = home(hash); slots_[i].number != 0; i = next(i)) {
    if (slots_[i].key == key) return true;
  }
  return false;
}

size_t KeyPostings::count_new(const std::vector<uint64_t>& keys) const {
  size_t n = 0;
  for (uint64_t k : keys) n += !contains(k, hash(k));
  return n;
}

void KeyPostings::resume() {
  slots_ = MappedArray<Entry>(size_for(sorted_.size(), kInitialSlots));
  for (size_t e = 0; e < sorted_.size(); ++e) {
    Entry numbered = sorted_[e];
    numbered.number = static_cast<uint32_t>(e + 1);
    place(numbered);
  }
}

uint32_t KeyPostings::alloc_block(unsigned cls) {
  PoolClass& p = pool_[cls];
  if (p.free_head != UINT32_MAX) {
    const uint32_t b = p.free_head;
    p.free_head = block(cls, b)[0];
    return b;
  }
  p.ids.resize((size_t{p.used} + 1) << (3 + cls));
  return p.used++;
}

void KeyPostings::free_block(unsigned cls, uint32_t b) {
  block(cls, b)[0] = pool_[cls].free_head;
  pool_[cls].free_head = b;
}

bool KeyPostings::append_slow(Entry* e, uint32_t doc) {
  const uint32_t n = e->count++;
  if (n < kInline) {
    e->w[n] = doc;
  } else if (n == kInline) {
    const uint32_t b = alloc_block(0);
    uint32_t* p = block(0, b);
    std::memcpy(p, e->w, sizeof e->w);
    p[n] = doc;
    e->windows = 1;
    for (uint32_t i = 1; i <= n; ++i) e->windows += (p[i] >> 16) != (p[i - 1] >> 16);
    e->w[0] = b;
    e->w[2] = doc;
  } else if (n < kPromoteAt) {
    e->windows += (doc >> 16) != (e->w[2] >> 16);
    e->w[2] = doc;
    const unsigned cls = class_of(n);
    if (n < (8u << cls)) {
      block(cls, e->w[0])[n] = doc;
      return false;
    }
    // Full: move to a block twice the size.
    const uint32_t b = alloc_block(cls + 1);
    uint32_t* p = block(cls + 1, b);
    std::memcpy(p, block(cls, e->w[0]), size_t{n} * sizeof(uint32_t));
    p[n] = doc;
    free_block(cls, e->w[0]);
    e->w[0] = b;
  } else {
    if (n == kPromoteAt) {
      const unsigned top = kClasses - 1;
      const uint32_t set = large_.create();
      large_.append_run(set, block(top, e->w[0]), kPromoteAt);
      free_block(top, e->w[0]);
      e->w[0] = set;
      e->w[2] = doc;
      counts_.push_back(0);
    }
    return true;
  }
  return false;
}

uint32_t* KeyPostings::reserve_pending(size_t n) {
  // Grows only (a shrink would make the array clear what it regrows).
  if (pending_size_ + n > pending_.size()) pending_.resize(std::max(pending_size_ + n, 2 * pending_.size()));
  return pending_.data() + pending_size_;
}

void KeyPostings::flush() {
  if (batch_docs_.empty()) return;
  // Counting sort of the batch by set: documents are visited in order, so
  // each set's ids come out ascending.
  const uint32_t* pending = pending_.data();
  for (size_t p = 0; p < pending_size_; ++p) {
    if (counts_[pending[p]]++ == 0) touched_.push_back(pending[p]);
  }
  uint32_t at = 0;
  for (uint32_t b : touched_) {
    const uint32_t c = counts_[b];
    counts_[b] = at;  // now the write cursor of set b
    at += c;
  }
  if (grouped_.size() < pending_size_) grouped_.resize(pending_size_);
  uint32_t begin = 0;
  for (size_t d = 0; d < batch_docs_.size(); ++d) {
    const uint16_t low = static_cast<uint16_t>(batch_docs_[d]);
    for (uint32_t p = begin; p < doc_ends_[d]; ++p) grouped_[counts_[pending[p]]++] = low;
    begin = doc_ends_[d];
  }
  const uint32_t high = batch_docs_[0] >> kWindowBits;
  // After the scatter each cursor sits at the start of the next set's run.
  uint32_t start = 0;
  for (uint32_t b : touched_) {
    const uint32_t end = counts_[b];
    large_.append_window(b, high, grouped_.data() + start, end - start);
    counts_[b] = 0;
    start = end;
  }
  touched_.clear();
  pending_size_ = 0;
  batch_docs_.clear();
  doc_ends_.clear();
}

void KeyPostings::add_doc(uint32_t doc, std::span<const uint64_t> keys, uint32_t* entry_of) {
  const uint32_t end = static_cast<uint32_t>(keys.size());
  add_runs(doc, keys.data(), &end, 1, entry_of);
}

void KeyPostings::add_docs(uint32_t first, std::span<const uint64_t> keys,
                           std::span<const uint32_t> ends) {
  if (!ends.empty()) add_runs(first, keys.data(), ends.data(), ends.size(), nullptr);
}

void KeyPostings::add_runs(uint32_t first, const uint64_t* k, const uint32_t* ends, size_t docs,
                           uint32_t* entry_of) {
  if (entry_of != nullptr) {
    add_keys<true>(first, k, ends, docs, entry_of);
  } else {
    add_keys<false>(first, k, ends, docs, nullptr);
  }
}

// What every key reads is held in locals: stores through the entries could
// alias the members, which would otherwise be loaded again for each key.
// The table moves only when a new key grows it.
template <bool kNumbered>
void KeyPostings::add_keys(uint32_t first, const uint64_t* k, const uint32_t* ends, size_t docs,
                           uint32_t* entry_of) {
  if (sorted_.size() != 0) sorted_.release();  // left readable by resume()
  const size_t n = ends[docs - 1];
  const uint64_t direct_above = direct_above_;
  Entry* table = slots_.data();
  size_t slots = slots_.size();
  // The home slots of the next kAhead keys, taken when they are fetched.
  Entry* ahead[kAhead];
  auto fetch = [&](size_t at) {
    Entry* e = table + home(hash(k[at], direct_above), slots);
    prefetch(e);
    return e;
  };
  for (size_t i = 0; i < std::min(n, kAhead); ++i) ahead[i] = fetch(i);
  size_t i = 0;
  for (size_t d = 0; d < docs; ++d) {
    const uint32_t doc = first + static_cast<uint32_t>(d);
    if (!batch_docs_.empty() && (batch_docs_[0] >> kWindowBits) != (doc >> kWindowBits)) flush();
    const size_t end = ends[d];
    // Room for a pair per key, so the large-set path stores without checks.
    uint32_t* const start = reserve_pending(end - i);
    uint32_t* out = start;
    for (; i < end; ++i) {
      // Mostly the key is in its home slot.
      Entry* e = ahead[i % kAhead];
      if (i + kAhead < n) ahead[i % kAhead] = fetch(i + kAhead);
      if (e->key != k[i] || e->number == 0) [[unlikely]] {
        e = &find_or_insert(k[i], hash(k[i], direct_above));
        if (slots_.size() != slots) {
          // The table grew: the slots fetched ahead are of the old one.
          table = slots_.data();
          slots = slots_.size();
          for (size_t j = i + 1; j < std::min(n, i + 1 + kAhead); ++j) ahead[j % kAhead] = fetch(j);
        }
      }
      if constexpr (kNumbered) entry_of[i] = e->number - 1;
      if (e->count > kPromoteAt) {
        // A repeat within a document is too irregular to branch on.
        const uint32_t fresh = e->w[2] != doc;
        e->w[2] = doc;
        e->count += fresh;
        *out = e->w[0];
        out += fresh;
      } else if (e->count < kInline) {
        if (e->count > 0 && e->w[e->count - 1] == doc) continue;
        e->w[e->count++] = doc;
      } else if (e->w[2] != doc && append_slow(e, doc)) {
        *out++ = e->w[0];
      }
    }
    // Only documents that reached a large set join the batch.
    if (out == start) continue;
    pending_size_ += static_cast<size_t>(out - start);
    batch_docs_.push_back(doc);
    doc_ends_.push_back(static_cast<uint32_t>(pending_size_));
    if (pending_size_ >= kBatchPairs) flush();
  }
}

void KeyPostings::finish() {
  flush();
  pending_.release();
  grouped_.release();
  sort_entries();
  // Note each pooled and large set's posting size. A pooled set has at
  // most kPromoteAt ids, so every container is an array: a descriptor, an
  // offset and two bytes an id.
  static_assert(kPromoteAt <= kMaxArrayCardinality);
  for (size_t i = 0; i < sorted_.size(); ++i) {
    Entry& e = sorted_[i];
    if (e.count > kPromoteAt) {
      e.w[1] = static_cast<uint32_t>(large_.posting_size(e.w[0]));
    } else if (e.count > kInline) {
      e.w[1] = 8 + 8 * e.windows + 2 * e.count;
    }
  }
}

// The table becomes sorted_ in place, so that finishing needs no second
// copy of the entries.
void KeyPostings::sort_entries() {
  // sort_direct() sets aside a copy of the keys below 2^32: only worth it
  // while they are few (not so for single characters, say).
  size_t small = 0;
  if (hashed_above_32_bits()) {
    for (size_t i = 0; i < slots_.size(); ++i) small += slots_[i].number != 0 && !direct(slots_[i].key);
  }
  if (hashed_above_32_bits() && small <= keys_ / 8) {
    sort_direct();
  } else {
    sort_by_buckets();
  }
  sorted_ = std::move(slots_);
}

// The entries are packed to the front of the table and ordered by buckets
// of the highest bits in which keys differ (a permutation in place), then
// each bucket is sorted. Mixed keys spread evenly, so the buckets are small
// enough to sort in cache.
void KeyPostings::sort_by_buckets() {
  size_t n = 0;
  for (size_t i = 0; i < slots_.size(); ++i) {
    if (slots_[i].number != 0) slots_[n++] = slots_[i];
  }
  slots_.resize(n);
  slots_.shrink_to_fit();
  Entry* const a = slots_.data();
  uint64_t differ = 0;
  for (size_t i = 0; i < n; ++i) differ |= a[i].key ^ a[0].key;
  const unsigned bits = std::min<unsigned>(kSortBucketBits, static_cast<unsigned>(std::bit_width(n / 64)));
  const unsigned width = static_cast<unsigned>(std::bit_width(differ));
  // With no bucket bits every key is in bucket 0; a shift by 64 would be
  // undefined.
  const unsigned shift = bits > 0 && width > bits ? width - bits : 0;
  const uint64_t mask = (uint64_t{1} << bits) - 1;
  auto bucket = [&](uint64_t key) { return static_cast<size_t>((key >> shift) & mask); };
  std::vector<size_t> starts(mask + 2, 0);
  for (size_t i = 0; i < n; ++i) ++starts[bucket(a[i].key) + 1];
  for (size_t b = 1; b < starts.size(); ++b) starts[b] += starts[b - 1];
  std::vector<size_t> fill(starts.begin(), starts.end() - 1);
  // Each entry taken out of place goes straight to the next free place of
  // its bucket, displacing the entry there, until one lands home.
  for (size_t b = 0; b + 1 < starts.size(); ++b) {
    while (fill[b] < starts[b + 1]) {
      Entry e = a[fill[b]];
      for (size_t t = bucket(e.key); t != b; t = bucket(e.key)) std::swap(e, a[fill[t]++]);
      a[fill[b]++] = e;
    }
    std::sort(a + starts[b], a + starts[b + 1], [](const Entry& x, const Entry& y) { return x.key < y.key; });
  }
}

// Direct keys lie in home order, which is key order, but for the few that
// probing put a little further on and those whose probe wrapped past the
// end of the table. Those that wrapped and the keys below 2^32 (no more
// than there are short grams) are set aside, sorted and merged back.
void KeyPostings::sort_direct() {
  auto by_key = [](const Entry& x, const Entry& y) { return x.key < y.key; };
  Entry* const a = slots_.data();
  std::vector<Entry> others;
  size_t n = 0;
  for (size_t i = 0; i < slots_.size(); ++i) {
    if (a[i].number == 0) continue;
    if (direct(a[i].key) && home(a[i].key) <= i) {
      a[n++] = a[i];
    } else {
      others.push_back(a[i]);
    }
  }
  // Keys that share their high bits by the thousand are no hashes; they
  // still sort, in n log n.
  if (!insertion_sort(a, n, 8 * n)) std::sort(a, a + n, by_key);
  std::sort(others.begin(), others.end(), by_key);
  const size_t total = n + others.size();
  // From the back, so that no entry is overwritten before it moves.
  size_t k = total;
  for (size_t j = others.size(); j > 0;) {
    if (n > 0 && a[n - 1].key > others[j - 1].key) {
      a[--k] = a[--n];
    } else {
      a[--k] = others[--j];
    }
  }
  slots_.resize(total);
  slots_.shrink_to_fit();
}

uint64_t KeyPostings::size(size_t i) const {
  const Entry& e = sorted_[i];
  return e.count <= kInline ? sorted_ids_posting_size(e.w, e.count) : e.w[1];
}

Status KeyPostings::write(size_t i, Sink* sink) {
  // The entries of the last 2 MB step before i are done with.
  constexpr size_t kFreeStep = (size_t{2} << 20) / sizeof(Entry);
  if (free_as_written_ && i != 0 && i % kFreeStep == 0) sorted_.discard(i - kFreeStep, i);
  // Pooled ids are scattered: fetch those of a set a few keys ahead.
  if (i + 8 < sorted_.size()) {
    const Entry& ahead = sorted_[i + 8];
    if (ahead.count > kInline && ahead.count <= kPromoteAt) {
      prefetch(block(class_of(ahead.count), ahead.w[0]));
    }
  }
  const Entry& e = sorted_[i];
  if (e.count > kPromoteAt) return large_.write_posting(e.w[0], sink);
  scratch_.clear();
  const uint32_t* ids = e.count <= kInline ? e.w : block(class_of(e.count), e.w[0]);
  append_sorted_ids_posting(ids, e.count, &scratch_);
  return sink->append(scratch_);
}

std::vector<uint32_t> KeyPostings::ids(size_t i) const {
  const Entry& e = sorted_[i];
  if (e.count > kPromoteAt) return large_.ids(e.w[0]);
  const uint32_t* ids = e.count <= kInline ? e.w : block(class_of(e.count), e.w[0]);
  return std::vector<uint32_t>(ids, ids + e.count);
}

void KeyPostings::clear() {
  *this = KeyPostings(hashed_above_32_bits());
}

}  // namespace vellum
