"""A pure-Python stand-in for vellum.SplitSetWriter, used only to exercise
the store protocol of the ingest/delete/compact commands (ordering of
writes, crash recovery, locking) while the real writer is not built yet.

It keeps the public surface and the lifecycle semantics that the tools
rely on (global ids from doc_count, delta and compacted split names,
resume from manifest bytes, compaction inputs checked against the
manifest, tombstones), but its manifest and split bytes are JSON, not the
real formats. Nothing here checks vellum's own output.
"""

from __future__ import annotations

import json


class FakeSplitSetWriter:
    def __init__(self, gram_size=3, byte_cap=33554432, name_prefix="split",
                 policy="stable_key", head_boundary=0, stride=0, tier_count=0,
                 sortcol=None, bloom_bits_per_key=10, case_sensitive=False):
        self.prefix = name_prefix
        self.splits = []  # [name, first_id, last_id, doc_count]
        self.next_id = 0
        self.dseq = self.cseq = 0
        self.memtable = []
        self.tombstones = set()

    @staticmethod
    def resume(manifest, gram_size=3, head_boundary=0, stride=0, name_prefix="split",
               bloom_bits_per_key=10):
        state = json.loads(bytes(manifest))
        w = FakeSplitSetWriter(name_prefix=name_prefix)
        w.splits, w.next_id = state["splits"], state["next_id"]
        w.dseq, w.cseq = state["dseq"], state["cseq"]
        return w

    def add(self, text):
        self.memtable.append(text)
        self.next_id += 1
        return self.next_id - 1

    def delete(self, doc_id):
        self.tombstones.add(doc_id)

    def memtable_bytes(self):
        return 20 + sum(len(t.encode()) for t in self.memtable)

    def memtable_doc_count(self):
        return len(self.memtable)

    def doc_count(self):
        return self.next_id

    def _manifest(self):
        return json.dumps({"splits": self.splits, "next_id": self.next_id,
                           "dseq": self.dseq, "cseq": self.cseq}).encode()

    def flush(self):
        if not self.memtable and not self.tombstones:
            return None
        first = self.next_id - len(self.memtable)
        docs = {str(first + i): t for i, t in enumerate(self.memtable)}
        body = json.dumps({"docs": docs, "tombstones": sorted(self.tombstones)}).encode()
        name = f"{self.prefix}-d{self.dseq:05d}.vls"
        self.dseq += 1
        self.splits.append([name, first, self.next_id - 1, len(self.memtable)])
        self.memtable, self.tombstones = [], set()
        return name, body, self._manifest()

    def compact(self, inputs):
        names = [s[0] for s in self.splits]
        docs, tombs = {}, set()
        for name, data in inputs:
            if name not in names:
                raise OSError(f"VLSS compact: {name} not in manifest")
            body = json.loads(bytes(data))
            docs.update(body["docs"])
            tombs.update(body["tombstones"])
        docs = {k: v for k, v in docs.items() if int(k) not in tombs}
        name = f"{self.prefix}-c{self.cseq:05d}.vls"
        self.cseq += 1
        removed = [n for n, _ in inputs]
        self.splits = [s for s in self.splits if s[0] not in removed]
        ids = [int(k) for k in docs]
        self.splits.append([name, min(ids, default=0), max(ids, default=0), len(ids)])
        body = json.dumps({"docs": docs, "tombstones": sorted(tombs)}).encode()
        return name, body, self._manifest(), removed


def live_documents(store_dir, manifest="index.vlss"):
    """{global id: text} that a reader of the fake store would see, and the
    split names the manifest refers to. Fails on a dangling reference."""
    from pathlib import Path

    store_dir = Path(store_dir)
    state = json.loads((store_dir / manifest).read_bytes())
    docs, tombs, names = {}, set(), []
    for name, *_ in state["splits"]:
        names.append(name)
        path = store_dir / name
        assert path.exists(), f"manifest names {name}, which is not stored"
        body = json.loads(path.read_bytes())
        for k, v in body["docs"].items():
            assert int(k) not in docs, f"document {k} is in two splits"
            docs[int(k)] = v
        tombs.update(body["tombstones"])
    return {k: v for k, v in docs.items() if k not in tombs}, names
