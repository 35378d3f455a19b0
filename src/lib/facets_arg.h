// Conversion of a `facets` parameter: a dict of str to sequences of str.
// Every builder that stages faceted documents binds it through this.
#ifndef VELLUM_LIB_FACETS_ARG_H_
#define VELLUM_LIB_FACETS_ARG_H_

#include "facet/facet_list.h"
#include "lib/args.h"

namespace vellum::py {

bool to_facets(PyObject* o, FacetList* out);

template <>
struct Arg<FacetList> {
  static bool convert(PyObject* o, FacetList* out) { return to_facets(o, out); }
};

}  // namespace vellum::py

#endif  // VELLUM_LIB_FACETS_ARG_H_
