// Encodes one compiled FST node at the end of an image buffer, choosing
// the most compact kind the node allows (next-chained, single-transition
// or general; see fst_format.h).
#ifndef VELLUM_FST_MAP_NODE_WRITER_H_
#define VELLUM_FST_MAP_NODE_WRITER_H_

#include <cstdint>
#include <string>

#include "fst_map/fst_node.h"

namespace vellum::fst {

// Appends `node` to `out` and returns its address (the position of its last
// byte). `last_compiled` is the address of the node written most recently,
// which a single zero-output transition can point to implicitly. The node
// must not be the empty final node, which is never written.
uint64_t write_node(const Node& node, uint64_t last_compiled, std::string* out);

}  // namespace vellum::fst

#endif  // VELLUM_FST_MAP_NODE_WRITER_H_
