"""The streaming lifecycle of a split set on a store: open (resume or
create), commit each flushed or compacted split, and recover from a crash
at any step.

A commit goes: journal, split, manifest, removals. The journal (a small
JSON file beside the manifest) is written first and describes two
states: the one the current manifest stands for and the one the new
manifest will stand for, each keyed by the manifest's SHA-256 and each
with the files to clean up if the store is found in that state. So on
opening, whatever step a crash interrupted:

- before the manifest was replaced, the old manifest matches the first
  state: the new split (if stored) is removed, and an ingest resumes from
  the rows that state had committed;
- after, the new manifest matches the second state: the files the
  compaction said may go are removed, and an ingest resumes after the
  rows of the flushed split.

The manifest never names a split that is not fully stored, and no split
is removed before a manifest that no longer names it is in place.

The journal also keeps the writer parameters that `resume` needs (they are
not all in the manifest) and the delta and compacted splits the manifest
names, which are what `compact` merges.
"""

from __future__ import annotations

import hashlib
import json
from collections.abc import Sequence
from typing import Any
from dataclasses import asdict, dataclass, field

from vellum_tools.errors import ToolError
from vellum_tools.store import dumps

JOURNAL_VERSION = 1


def step(name: str) -> None:
    """Called after each step of a commit; a no-op (tests stop the process
    here to check recovery)."""


@dataclass
class ResumeParams:
    """What `SplitSetWriter.resume` needs besides the manifest."""
    gram_size: int = 3
    stride: int = 0
    name_prefix: str = "split"
    bloom_bits_per_key: int = 10


@dataclass
class State:
    manifest_sha256: str | None
    writer: dict
    live: list[str] = field(default_factory=list)
    ingest: dict | None = None
    cleanup: list[str] = field(default_factory=list)


def delta_splits(manifest: bytes) -> list[str] | None:
    """The splits after the base splits that `manifest` names, read with the
    core's own parser; None when the native part is not available."""
    try:
        from vellum_tools import _native  # type: ignore[attr-defined]
    except ImportError:
        return None
    try:
        parsed = _native.parse_manifest(manifest)
    except (AttributeError, ValueError):
        # An older native part, or bytes only the writer in use reads (it
        # has just resumed from them): the journal's list stands.
        return None
    if parsed["body_kind"] != 0:
        raise ToolError("this split set holds term splits; the streaming writer adds "
                        "n-gram splits only")
    return [s["name"] for s in parsed["splits"][parsed["base_count"]:]]


def _sha(data: bytes | None) -> str | None:
    return None if data is None else hashlib.sha256(data).hexdigest()


class SplitSet:
    def __init__(self, store, manifest_name: str):
        self.store = store
        self.manifest_file = f"{manifest_name}.vlss"
        self.journal_file = f"{manifest_name}.vlss.vellum.json"
        self.writer: Any = None  # a vellum.SplitSetWriter once opened
        self.state = State(None, {})
        self.resumed = False
        self.recovered: list[str] = []

    # -- opening -----------------------------------------------------------

    def open(self, vellum, params: ResumeParams, explicit: set[str], create: dict) -> None:
        """Resumes from the stored manifest or creates a new set with the
        constructor arguments `create`. Options named in `explicit` must
        agree with what the store was written with."""
        manifest = self.store.read(self.manifest_file)
        sha = _sha(manifest)
        state = self._matching_state(sha)
        if manifest is None:
            if state is not None:
                params = ResumeParams(**state.writer)
            self.writer = vellum.SplitSetWriter(**create, **asdict(params))
            self.state = state or State(None, asdict(params))
        else:
            if state is not None:
                params = self._stored_params(state, params, explicit)
            # The manifest itself is the truth about which splits it names.
            names = delta_splits(manifest)
            self.writer = vellum.SplitSetWriter.resume(manifest, **asdict(params))
            self.state = state or State(sha, asdict(params))
            if names is not None:
                self.state.live = names
            self.resumed = True
        if self.state.cleanup:
            self.store.remove(self.state.cleanup)
            self.recovered = self.state.cleanup
            self.state.cleanup = []
            self._write_journal([self.state])

    def _matching_state(self, sha: str | None) -> State | None:
        raw = self.store.read(self.journal_file)
        if raw is None:
            return None
        try:
            doc = json.loads(raw)
            states = [State(**s) for s in doc["states"]]
        except (ValueError, KeyError, TypeError):
            raise ToolError(f"{self.store.url}/{self.journal_file} is damaged; move it away "
                            "to resume from the manifest alone") from None
        for s in reversed(states):
            if s.manifest_sha256 == sha:
                return s
        return None

    @staticmethod
    def _stored_params(state: State, given: ResumeParams, explicit: set[str]) -> ResumeParams:
        stored = ResumeParams(**state.writer)
        for name in explicit & set(state.writer):
            if getattr(given, name) != getattr(stored, name):
                flag = "--" + name.replace("_", "-")
                raise ToolError(f"{flag} {getattr(given, name)} disagrees with the store, "
                                f"which was written with {getattr(stored, name)}")
        return stored

    # -- committing ----------------------------------------------------------

    def commit(self, result, ingest: dict | None, removed: Sequence[str] = ()) -> None:
        """Stores one flushed or compacted split and cuts over to its
        manifest; see the module comment for the order and why."""
        name, split, manifest = result[0], result[1], result[2]
        removed = list(removed)
        old = self.state
        before = State(old.manifest_sha256, old.writer, list(old.live), old.ingest, [name])
        live = [n for n in old.live if n not in removed] + [name]
        after = State(_sha(manifest), old.writer, live, ingest, removed)
        self._write_journal([before, after])
        step("journal")
        self.store.write(name, split)
        step("split")
        self.store.write(self.manifest_file, manifest)
        step("manifest")
        self.store.remove(removed)
        step("removed")
        after.cleanup = []
        self._write_journal([after])
        self.state = after

    def record_ingest(self, ingest: dict | None) -> None:
        """Notes ingest progress that needed no new split."""
        self.state.ingest = ingest
        self._write_journal([self.state])

    def _write_journal(self, states: list[State]) -> None:
        self.store.write(self.journal_file, dumps(
            {"version": JOURNAL_VERSION, "states": [asdict(s) for s in states]}))
