// Manifests as Python dicts, for vellum_tools._native: a parsed manifest
// becomes {"version", "flags", ..., "sortcol", "splits": [{...}, ...]},
// and the same shape (without the parse-only fields) serializes back.
#ifndef VELLUM_LIB_MANIFEST_DICT_H_
#define VELLUM_LIB_MANIFEST_DICT_H_

#include <vector>

#include "lib/args.h"
#include "lib/python.h"
#include "splitset/manifest.h"

namespace vellum::py {

// A new dict for `m`; each split's "summary" holds its own summary bytes.
PyObject* manifest_to_dict(const ParsedManifest& m);

// One split descriptor from a dict with the keys of a parsed split
// ("name" required; "summary" bytes and the integer fields default to
// empty and 0). Unknown keys are refused, so a misspelt field is not lost.
template <>
struct Arg<SplitMeta> {
  static bool convert(PyObject* o, SplitMeta* out);
};

template <>
struct Arg<std::vector<SplitMeta>> {
  static bool convert(PyObject* o, std::vector<SplitMeta>* out) { return to_list_of(o, out); }
};

// Manifest parameters from a dict: "policy", "body_kind", "tier_count",
// "base_count", "byte_cap", "gram_size", "flags" (all default 0) and
// "sortcol" (None or a (str, int, bool) tuple).
template <>
struct Arg<ManifestParams> {
  static bool convert(PyObject* o, ManifestParams* out);
};

}  // namespace vellum::py

#endif  // VELLUM_LIB_MANIFEST_DICT_H_
