#include "fst_map/fst_map_builder.h"

#include <algorithm>

#include "analysis/utf8.h"
#include "common/coding.h"
#include "fst_map/crc32c.h"
#include "fst_map/fst_format.h"
#include "fst_map/node_writer.h"

namespace vellum {

namespace {

// Keys are bytes; messages must be text, so malformed UTF-8 shows as U+FFFD.
std::string key_text(std::string_view key) {
  std::string out;
  for (size_t pos = 0; pos < key.size();) utf8::append(&out, utf8::decode(key, &pos));
  return out;
}

void add_to_outputs(fst::Node* node, uint64_t excess) {
  if (node->final) node->final_output += excess;
  for (fst::Transition& t : node->transitions) t.output += excess;
}

}  // namespace

FstMapBuilder::FstMapBuilder(size_t initial_capacity) {
  image_.reserve(std::max(initial_capacity, fst::kHeaderSize + fst::kFooterSize));
  PutU64(&image_, fst::kVersion);
  PutU64(&image_, fst::kMapType);
  push(false, false, 0);  // the root
}

Status FstMapBuilder::check_order(std::string_view key) const {
  if (finished_) return Error(ErrorKind::kInvalidInput, "FST map builder already finished");
  if (!has_previous_) return Status();
  const int c = key.compare(previous_);
  if (c == 0) {
    return Error(ErrorKind::kInvalidInput,
                 "Error inserting duplicate key: '" + key_text(key) + "'.");
  }
  if (c < 0) {
    return Error(ErrorKind::kInvalidInput,
                 "Error inserting out-of-order key: '" + key_text(key) + "'. (Previous key was '" +
                     key_text(previous_) + "'.) Keys must be inserted in lexicographic order.");
  }
  return Status();
}

Status FstMapBuilder::insert(std::string_view key, uint64_t value) {
  VELLUM_RETURN_IF_ERROR(check_order(key));
  previous_.assign(key);
  has_previous_ = true;
  if (key.empty()) {
    // Only ever the first key: anything inserted before it sorts after it.
    key_count_ = 1;
    stack_[0].node.final = true;
    stack_[0].node.final_output = value;
    return Status();
  }
  const size_t shared = push_shared_prefix(key, &value);
  // Distinct keys in order never end inside the previous key's path.
  if (shared == key.size()) return Status();
  ++key_count_;
  freeze_from(shared);
  add_suffix(key, shared, value);
  return Status();
}

// Walks the previous key's path along `key`, keeping on each shared
// transition only the part of its output that `value` can still absorb and
// pushing the excess one node further down. Returns the shared length.
size_t FstMapBuilder::push_shared_prefix(std::string_view key, uint64_t* value) {
  size_t i = 0;
  while (i < key.size() && i + 1 < depth_) {
    Unfinished& u = stack_[i];
    if (!u.has_pending || u.pending_input != static_cast<uint8_t>(key[i])) break;
    const uint64_t kept = std::min(u.pending_output, *value);
    const uint64_t excess = u.pending_output - kept;
    if (excess != 0) {
      Unfinished& next = stack_[i + 1];
      add_to_outputs(&next.node, excess);
      if (next.has_pending) next.pending_output += excess;
    }
    u.pending_output = kept;
    *value -= kept;
    ++i;
  }
  return i;
}

void FstMapBuilder::add_suffix(std::string_view key, size_t from, uint64_t value) {
  Unfinished& top = stack_[depth_ - 1];
  top.has_pending = true;
  top.pending_input = static_cast<uint8_t>(key[from]);
  top.pending_output = value;
  for (size_t j = from + 1; j < key.size(); ++j) push(false, true, static_cast<uint8_t>(key[j]));
  push(true, false, 0);
}

void FstMapBuilder::push(bool final, bool has_pending, uint8_t input) {
  if (depth_ == stack_.size()) stack_.emplace_back();
  Unfinished& u = stack_[depth_++];
  u.node.final = final;
  u.node.final_output = 0;
  u.node.transitions.clear();
  u.has_pending = has_pending;
  u.pending_input = input;
  u.pending_output = 0;
}

// Compiles every node deeper than `depth` (they are off the new key's
// path, so nothing can change them any more) and attaches the result to
// the node at `depth`.
void FstMapBuilder::freeze_from(size_t depth) {
  bool have_address = false;
  uint64_t address = fst::kEmptyAddress;
  while (depth_ > depth + 1) {
    Unfinished& u = stack_[--depth_];
    if (have_address && u.has_pending) {
      u.node.transitions.push_back({u.pending_input, u.pending_output, address});
      u.has_pending = false;
    }
    address = compile(u.node);
    have_address = true;
  }
  Unfinished& top = stack_[depth_ - 1];
  if (have_address && top.has_pending) {
    top.node.transitions.push_back({top.pending_input, top.pending_output, address});
    top.has_pending = false;
  }
}

uint64_t FstMapBuilder::compile(const fst::Node& node) {
  if (node.is_empty_final()) return fst::kEmptyAddress;
  const uint64_t h = fst::NodeCache::hash(node);
  const uint64_t cached = cache_.find(node, h);
  if (cached != fst::kEmptyAddress) return cached;
  const uint64_t address = fst::write_node(node, last_compiled_, &image_);
  last_compiled_ = address;
  cache_.insert(node, h, address);
  return address;
}

Result<std::string> FstMapBuilder::finish() {
  if (finished_) return Error(ErrorKind::kInvalidInput, "FST map builder already finished");
  finished_ = true;
  freeze_from(0);
  depth_ = 0;
  const uint64_t root = compile(stack_[0].node);
  PutU64(&image_, key_count_);
  PutU64(&image_, root);
  PutU32(&image_, crc32c_mask(crc32c(image_.data(), image_.size())));
  stack_.clear();
  return std::move(image_);
}

}  // namespace vellum
