# Type stubs for the vellum extension module.
from collections.abc import Mapping, Sequence
from typing import TypeAlias, final


# Byte parameters accept any sequence of ints in 0..255 except str.
_Bytes: TypeAlias = bytes | bytearray | Sequence[int]
_Facets: TypeAlias = Mapping[str, Sequence[str]]
_SortCol: TypeAlias = tuple[str, int, bool]

__all__ = [
    "Builder",
    "BuildStats",
    "VectorBuilder",
    "VectorBuildStats",
    "tokenize",
    "write_vlvi_from_faiss",
    "write_term_index",
    "TermBuilder",
    "SplitSetBuilder",
    "TermSplitSetBuilder",
    "SplitSetBuildStats",
    "SplitSetWriter",
]

@final
class Builder:
    def __new__(cls, gram_size: int = 3, head_boundary: int = 65536) -> Builder: ...
    def add(self, rank: int, text: str, record: _Bytes, facets: _Facets | None = None) -> None: ...
    def add_many(
        self, rows: Sequence[tuple[int, str, _Bytes, _Facets | None]]
    ) -> None: ...
    def build(self, out_dir: str) -> BuildStats: ...

@final
class BuildStats:
    @property
    def docs(self) -> int: ...
    @property
    def ngrams(self) -> int: ...
    @property
    def fields(self) -> int: ...

@final
class VectorBuilder:
    def __new__(
        cls,
        dim: int,
        nlist: int,
        m: int,
        nbits: int = 8,
        metric: str = "ip",
        kmeans_iters: int = 25,
        seed: int | None = None,
    ) -> VectorBuilder: ...
    def add(self, doc_id: int, vector: Sequence[float]) -> None: ...
    def add_many(self, items: Sequence[tuple[int, Sequence[float]]]) -> None: ...
    def build(self, out_path: str) -> VectorBuildStats: ...

@final
class VectorBuildStats:
    @property
    def vectors(self) -> int: ...
    @property
    def dim(self) -> int: ...
    @property
    def nlist(self) -> int: ...
    @property
    def m(self) -> int: ...
    @property
    def nbits(self) -> int: ...

def tokenize(text: str, gram_size: int = 3) -> list[int]: ...
def write_vlvi_from_faiss(
    out_path: str,
    dim: int,
    nlist: int,
    m: int,
    centroids: _Bytes,
    codebooks: _Bytes,
    ids: _Bytes,
    assignments: _Bytes,
    codes: _Bytes,
    nbits: int = 8,
    metric: str = "ip",
    opq: _Bytes | None = None,
) -> VectorBuildStats: ...
def write_term_index(
    path: str, docs: Sequence[tuple[int, str]], head_boundary: int | None = None
) -> None: ...

@final
class TermBuilder:
    def __new__(
        cls,
        head_boundary: int | None = None,
        language: str | None = None,
        stem: bool | None = None,
        stopwords: bool = False,
        block_cap: int | None = None,
        case_sensitive: bool = False,
    ) -> TermBuilder: ...
    def add_many(self, docs: Sequence[tuple[int, str]]) -> None: ...
    def term_count(self) -> int: ...
    def finish(self, path: str) -> None: ...

@final
class SplitSetBuilder:
    def __new__(
        cls,
        policy: str = "tiered",
        byte_cap: int = 33554432,
        gram_size: int = 3,
        head_boundary: int = 0,
        stride: int = 0,
        name_prefix: str = "split",
        sortcol: _SortCol | None = None,
        bloom_bits_per_key: int = 10,
        byte_cap_max: int = 0,
        case_sensitive: bool = False,
    ) -> SplitSetBuilder: ...
    def add(self, text: str) -> int: ...
    def add_faceted(self, text: str, facets: _Facets) -> int: ...
    def doc_count(self) -> int: ...
    def build(self, out_dir: str, manifest_name: str = "index") -> SplitSetBuildStats: ...

@final
class TermSplitSetBuilder:
    def __new__(
        cls,
        policy: str = "tiered",
        byte_cap: int = 33554432,
        head_boundary: int = 0,
        name_prefix: str = "split",
        sortcol: _SortCol | None = None,
        language: str | None = None,
        stem: bool | None = None,
        stopwords: bool = False,
        byte_cap_max: int = 0,
        case_sensitive: bool = False,
    ) -> TermSplitSetBuilder: ...
    def add(self, text: str) -> int: ...
    def add_faceted(self, text: str, facets: _Facets) -> int: ...
    def doc_count(self) -> int: ...
    def build(self, out_dir: str, manifest_name: str = "index") -> SplitSetBuildStats: ...

@final
class SplitSetBuildStats:
    @property
    def splits(self) -> int: ...
    @property
    def docs(self) -> int: ...
    @property
    def total_bytes(self) -> int: ...

@final
class SplitSetWriter:
    def __new__(
        cls,
        gram_size: int = 3,
        byte_cap: int = 33554432,
        name_prefix: str = "split",
        policy: str = "stable_key",
        head_boundary: int = 0,
        stride: int = 0,
        tier_count: int = 0,
        sortcol: _SortCol | None = None,
        bloom_bits_per_key: int = 10,
        case_sensitive: bool = False,
    ) -> SplitSetWriter: ...
    @staticmethod
    def resume(
        manifest: _Bytes,
        gram_size: int = 3,
        head_boundary: int = 0,
        stride: int = 0,
        name_prefix: str = "split",
        bloom_bits_per_key: int = 10,
    ) -> SplitSetWriter: ...
    def add(self, text: str) -> int: ...
    def delete(self, doc_id: int) -> None: ...
    def memtable_bytes(self) -> int: ...
    def memtable_doc_count(self) -> int: ...
    def doc_count(self) -> int: ...
    def flush(self) -> tuple[str, bytes, bytes] | None: ...
    def compact(
        self, inputs: Sequence[tuple[str, _Bytes]]
    ) -> tuple[str, bytes, bytes, list[str]]: ...
