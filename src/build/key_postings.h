// Per-key document-id sets collected while documents are indexed in id
// order, then handed to the index writer in key order.
//
// Most keys of a large corpus are rare (every non-ASCII gram is a hashed
// key), so a set starts inline in its entry (up to 3 ids), moves to pooled
// blocks of 8, 16, ... ids as it grows, and only past kPromoteAt ids
// becomes a chain of Roaring containers (ContainerSets), which then takes
// its ids in batches. Small sets are serialized straight from their ids.
// The entries are the slots of an open-addressing table, so a (key, doc)
// pair costs one probe, usually one cache line, and one append; nothing is
// allocated per pair.
#ifndef VELLUM_BUILD_KEY_POSTINGS_H_
#define VELLUM_BUILD_KEY_POSTINGS_H_

#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "common/mapped_array.h"
#include "build/container_sets.h"
#include "index/vls_writer.h"

namespace vellum {

class KeyPostings final : public PostingSource {
 public:
  // Sets that reach this many ids become container sets, which then take
  // ids in batches. A power of two, at least 8.
  static constexpr uint32_t kPromoteAt = 64;
  // Pairs of large sets that wait in a batch before they reach their sets.
  // The batch takes 32 MB and its grouped copy 16 MB; a window of documents
  // with up to 128 distinct keys each fits one batch, so even the most
  // common keys get one part per window. Denser windows fill it more than
  // once, each fill costing every such key a part.
  static constexpr size_t kBatchPairs = size_t{1} << 23;

  // `hashed_above_32_bits`: every key of 2^32 and above is a hash with
  // evenly spread high bits, as n-gram keys are for most gram sizes. Such
  // keys then take their slot from those bits, which leaves the table
  // nearly in key order, so finish() sorts it in one pass over it.
  explicit KeyPostings(bool hashed_above_32_bits = false);

  // Adds `doc` to the set of each key. Docs must arrive in ascending order;
  // a key listed more than once for a document counts once. Only before
  // finish(). When `entry_of` is given, entry_of[i] receives the entry
  // number of keys[i] (numbers count keys in order of first appearance,
  // until finish()), for callers that keep per-key state beside the sets.
  void add_doc(uint32_t doc, std::span<const uint64_t> keys, uint32_t* entry_of = nullptr);

  // add_doc() for documents first, first + 1, ...: document first + d has
  // keys [ends[d - 1], ends[d]) (from 0 for d = 0). Many short documents
  // at once let the table be fetched further ahead than one document's
  // keys reach.
  void add_docs(uint32_t first, std::span<const uint64_t> keys, std::span<const uint32_t> ends);

  // Sizes the table for `keys` distinct keys, so that collecting that many
  // grows it no further. Only before finish(); changes no output.
  void reserve(size_t keys);

  // Ends collection: the table becomes the entries in key order. Call once
  // per collection (resume() starts another).
  void finish();

  // From now on write(i) may free entries before i, which then read as
  // empty: for a caller that writes each posting once, in key order, and
  // drops the postings afterwards, so that the written file's pages can
  // take the memory. Only after finish(); clear() ends it.
  void free_as_written() { free_as_written_ = true; }

  // Frees everything; the collection is then empty and collecting again.
  void clear();

  // Undoes finish(): rebuilds the lookup table so that collection can go
  // on where it stopped. Entry numbers are then the key order, and the
  // entries stay readable (count(), ids()) until the next add_doc().
  void resume();

  // Distinct keys so far, at any time.
  size_t key_count() const { return keys_; }

  // How many of `keys` have no set yet. Only before finish().
  size_t count_new(const std::vector<uint64_t>& keys) const;

  // After finish() (and resume()): entry i in ascending key order.
  size_t count() const override { return sorted_.size(); }
  uint64_t key(size_t i) const override { return sorted_[i].key; }
  uint64_t size(size_t i) const override;
  Status write(size_t i, Sink* sink) override;
  std::vector<uint32_t> ids(size_t i) const;

 private:
  // A table slot while collecting; after finish(), entry i in key order.
  struct Entry {
    uint64_t key;
    uint32_t number;  // 1 + the entry number; 0: an empty slot
    uint32_t count;   // ids in the set
    // count <= 3: the ids. Up to kPromoteAt: w[0] is the pool block.
    // Beyond: w[0] is the set in large_ (the latest ids may still be
    // pending). From 3 ids on, w[2] is the latest id, which is how a
    // repeated key of a document is recognised.
    // After finish(), w[1] of a pooled or large set is its posting size
    // (below 2^32: at most 65536 containers of 8 KB).
    uint32_t w[3];
    // A pooled set: the 65536-id windows its ids touch, which with count
    // gives its posting size without reading its block.
    uint32_t windows;
  };
  static_assert(sizeof(Entry) == 32, "two slots per cache line");

  static constexpr size_t kInitialSlots = 4096;
  static constexpr size_t kMaxSlots = size_t{1} << 32;
  static size_t next_size(size_t slots);
  // The first size from `slots` on that holds `keys` at most three
  // quarters full.
  static size_t size_for(size_t keys, size_t slots);
  // What home() takes for `key`: the key itself above `direct_above`.
  static uint64_t hash(uint64_t key, uint64_t direct_above);
  uint64_t hash(uint64_t key) const { return hash(key, direct_above_); }
  bool direct(uint64_t key) const { return key > direct_above_; }
  bool hashed_above_32_bits() const { return direct_above_ == UINT32_MAX; }
  // The slot a hash maps to: its high 32 bits scaled to the table, so that
  // home slots follow hash order at every table size.
  static size_t home(uint64_t hash, size_t slots) {
    return static_cast<size_t>(((hash >> 32) * slots) >> 32);
  }
  size_t home(uint64_t hash) const { return home(hash, slots_.size()); }
  size_t next(size_t i) const { return i + 1 == slots_.size() ? 0 : i + 1; }
  // Puts an entry whose key is not in the table into its first free slot.
  void place(const Entry& e);
  // The entry of `key`, new (count 0) if the key has none yet. Valid until
  // the next call: a new entry may grow the table.
  Entry& find_or_insert(uint64_t key, uint64_t hash);
  bool contains(uint64_t key, uint64_t hash) const;
  // Re-inserts every entry into a table of `slots` slots.
  void rehash(size_t slots);
  // Moves the entries from the table into sorted_, in key order.
  void sort_entries();
  // sort_entries() by buckets of high key bits; and for a table of
  // direct() keys.
  void sort_by_buckets();
  void sort_direct();
  // Adds `doc` to a set that is not inline with room, nor large; true
  // when the set has just become large and `doc` must join the batch.
  bool append_slow(Entry* e, uint32_t doc);
  // Room for `n` more pending pairs; returns where they go.
  uint32_t* reserve_pending(size_t n);
  // Moves the pending ids of large sets into their containers.
  void flush();
  // add_docs() with the entry numbers of add_doc(); add_keys() with
  // `entry_of` given or not.
  void add_runs(uint32_t first, const uint64_t* keys, const uint32_t* ends, size_t docs,
                uint32_t* entry_of);
  template <bool kNumbered>
  void add_keys(uint32_t first, const uint64_t* keys, const uint32_t* ends, size_t docs,
                uint32_t* entry_of);

  // Pool of id blocks; class c holds blocks of 8 << c ids back to back in
  // one array, freed blocks are chained through their first word. A block
  // is found by number, so the array may move as it grows.
  uint32_t* block(unsigned cls, uint32_t b) { return pool_[cls].ids.data() + (size_t{b} << (3 + cls)); }
  const uint32_t* block(unsigned cls, uint32_t b) const {
    return const_cast<KeyPostings*>(this)->block(cls, b);
  }
  uint32_t alloc_block(unsigned cls);
  void free_block(unsigned cls, uint32_t b);

  // Block sizes 8, 16, ..., kPromoteAt.
  static constexpr unsigned kClasses = std::bit_width(kPromoteAt) - 3;
  static_assert(std::has_single_bit(kPromoteAt) && kPromoteAt >= 8 && kPromoteAt <= 4096);
  struct PoolClass {
    MappedArray<uint32_t> ids;
    uint32_t used = 0;                // blocks handed out from ids
    uint32_t free_head = UINT32_MAX;  // chain of freed blocks
  };

  uint64_t direct_above_;  // keys above it are direct(): 2^32 - 1, or none
  // Collecting: the table, at most three quarters full. After finish():
  // empty, and sorted_ holds the entries in key order.
  MappedArray<Entry> slots_;
  size_t keys_ = 0;
  MappedArray<Entry> sorted_;
  PoolClass pool_[kClasses];
  ContainerSets large_;

  // The pending batch: the large set of every pair for one, grouped by
  // document, and each batch document with its end in pending_.
  MappedArray<uint32_t> pending_;  // the first pending_size_ are in use
  size_t pending_size_ = 0;
  std::vector<uint32_t> batch_docs_;
  std::vector<uint32_t> doc_ends_;
  // Flush scratch, reused: per-set counters (all zero between flushes),
  // the sets touched by the batch, and the ids grouped by set, as their
  // low 16 bits (a batch lies in one window).
  std::vector<uint32_t> counts_;
  std::vector<uint32_t> touched_;
  MappedArray<uint16_t> grouped_;

  std::string scratch_;
  bool free_as_written_ = false;
};

}  // namespace vellum

#endif  // VELLUM_BUILD_KEY_POSTINGS_H_
