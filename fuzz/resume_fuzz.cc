// Manifest bytes handed to resume are untrusted: resume must refuse them
// cleanly or give a writer that keeps working (add, delete, flush, empty
// compaction) and whose manifests resume again to the same id count.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "splitset_write/split_set_writer.h"

namespace {

void check(bool cond) {
  if (!cond) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  vellum::ResumeOptions options;
  options.stride = 4;
  vellum::Result<vellum::SplitSetWriter> w = vellum::SplitSetWriter::resume(bytes, options);
  if (!w.ok()) return 0;
  const uint64_t before = w->doc_count();
  if (w->add("fuzzed text").ok()) check(w->doc_count() == before + 1);
  w->remove(7);
  vellum::Result<std::optional<vellum::WrittenSplit>> flushed = w->flush();
  if (flushed.ok() && flushed->has_value()) {
    vellum::Result<vellum::SplitSetWriter> again =
        vellum::SplitSetWriter::resume((*flushed)->manifest, options);
    check(again.ok() && again->doc_count() >= w->doc_count());
  }
  (void)w->compact({});
  return 0;
}
