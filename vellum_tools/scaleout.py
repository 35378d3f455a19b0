"""Split sets built in parallel on a Dask cluster.

The module builds on the calling thread and holds the interpreter lock, so
parallelism comes from processes: each Dask task runs one split-set builder
over one shard, with a shard-unique name prefix, and writes its split files
straight into the output (a local path or an fsspec URL every worker can
reach). It returns the shard's manifest bytes; the driver merges them in
shard order, so global ids are those of one build over the shards in order.

The merged manifest is written only once every shard has succeeded: a
failed run leaves split files but no manifest naming missing splits. Dask
retries a task that raised or whose worker was lost; the split files of a
shard have fixed names, so a retried task rewrites the same files.
"""

from __future__ import annotations

import argparse
import os
import tempfile
import uuid
from dataclasses import dataclass, field

from vellum_tools import storage
from vellum_tools.errors import ToolError, require, require_api
from vellum_tools.manifest_merge import merge_manifests
from vellum_tools.rows import BadRows, RowWalk
from vellum_tools.shards import Shard

_SHARD_MANIFEST = "shard"
RETRIES = 2


@dataclass(frozen=True)
class SplitJob:
    """What every shard task builds: the builder's keywords without the
    name prefix, and how rows become documents."""
    terms: bool = False
    builder_options: dict = field(default_factory=dict)
    name_prefix: str = "split"
    text: str = "text"
    facets: tuple = ()
    skip_bad: bool = False

    def shard_prefix(self, index: int) -> str:
        return f"{self.name_prefix}-p{index:05d}"


@dataclass
class ShardResult:
    manifest: bytes
    docs: int
    splits: int
    total_bytes: int
    bad_rows: int
    bytes_read: int
    seconds: float = 0.0  # wall time of the task
    cpu_seconds: float = 0.0


@dataclass
class BuildResult:
    manifest: bytes
    docs: int
    splits: int
    total_bytes: int
    bad_rows: int
    bytes_read: int
    merge_seconds: float
    shards: list = field(default_factory=list)  # ShardResult per shard, in order


def new_builder(job: SplitJob, prefix: str):
    if job.terms:
        vellum = require_api("TermSplitSetBuilder")
        return vellum.TermSplitSetBuilder(name_prefix=prefix, **job.builder_options)
    vellum = require_api("SplitSetBuilder")
    return vellum.SplitSetBuilder(name_prefix=prefix, **job.builder_options)


def _feed(builder, job: SplitJob, shard: Shard) -> tuple[BadRows, RowWalk]:
    from vellum_tools.commands.splits import row_extractor

    extract = row_extractor(argparse.Namespace(text=job.text, facet=list(job.facets), rank=None))
    bad = BadRows(job.skip_bad)
    walk = RowWalk([shard.source()], extract, bad, quiet=True)
    add, add_faceted = builder.add, builder.add_faceted
    for _, _, (_, text, facets) in walk:
        if facets:
            add_faceted(text, facets)
        else:
            add(text)
    return bad, walk


def _publish(built: str, output: str) -> None:
    """Moves the shard's split files (not its manifest) into the output."""
    names = sorted(n for n in os.listdir(built) if n != f"{_SHARD_MANIFEST}.vlss")
    if storage.is_url(output):
        fs, path = storage.filesystem(output)
        fs.makedirs(path, exist_ok=True)
        for name in names:
            fs.put_file(os.path.join(built, name), f"{path.rstrip('/')}/{name}")
        return
    for name in names:
        os.replace(os.path.join(built, name), os.path.join(output, name))


def build_shard(job: SplitJob, index: int, shard: Shard, output: str) -> ShardResult:
    """The task: one builder over one shard, split files into `output`."""
    import time

    started, cpu = time.perf_counter(), time.process_time()
    builder = new_builder(job, job.shard_prefix(index))
    bad, walk = _feed(builder, job, shard)
    local = not storage.is_url(output)
    if local:
        os.makedirs(storage.local_path(output), exist_ok=True)
    # Built next to the output so that publishing is a rename on its file system.
    staging = storage.local_path(output) if local else None
    with tempfile.TemporaryDirectory(prefix=".vellum-shard-", dir=staging) as tmp:
        stats = builder.build(tmp, manifest_name=_SHARD_MANIFEST)
        with open(os.path.join(tmp, f"{_SHARD_MANIFEST}.vlss"), "rb") as f:
            manifest = f.read()
        _publish(tmp, storage.local_path(output) if local else output)
    return ShardResult(manifest, stats.docs, stats.splits, stats.total_bytes, bad.count,
                       walk.bytes_read, time.perf_counter() - started,
                       time.process_time() - cpu)


def write_manifest_file(output: str, manifest_name: str, data: bytes) -> None:
    name = f"{manifest_name}.vlss"
    if storage.is_url(output):
        fs, path = storage.filesystem(output)
        fs.pipe_file(f"{path.rstrip('/')}/{name}", data)
        return
    directory = storage.local_path(output)
    os.makedirs(directory, exist_ok=True)
    tmp = os.path.join(directory, f".{name}.{uuid.uuid4().hex}.tmp")
    with open(tmp, "wb") as f:
        f.write(data)
    os.replace(tmp, os.path.join(directory, name))  # readers see old or new, never half


def _gather(client, futures, shards, progress):
    from dask.distributed import as_completed

    done = 0
    for future in as_completed(futures):
        if future.status != "finished":
            index = futures.index(future)
            error = future.exception()
            client.cancel(futures)
            raise ToolError(f"shard {index} ({shards[index].label()}) failed: "
                            f"{type(error).__name__}: {error}; no manifest was written")
        done += 1
        if progress is not None:
            progress.update(done)
    return [f.result() for f in futures]


def build_split_set(client, shards: list[Shard], job: SplitJob, output: str,
                    manifest_name: str = "index", progress=None,
                    task=build_shard, retries: int = RETRIES) -> BuildResult:
    """Builds one split set over `shards` (in corpus order) on the client's
    cluster and writes its manifest last. `progress.update(n)` is called
    with the number of finished shards."""
    import time

    if not shards:
        raise ToolError("no input shards")
    run = uuid.uuid4().hex[:8]
    futures = [client.submit(task, job, i, shard, output, key=f"vellum-shard-{run}-{i}",
                             retries=retries, pure=False)
               for i, shard in enumerate(shards)]
    results = _gather(client, futures, shards, progress)
    started = time.perf_counter()
    merged, docs = merge_manifests([r.manifest for r in results])
    merge_seconds = time.perf_counter() - started
    if docs != sum(r.docs for r in results):
        raise ToolError("the shard manifests do not count the documents the shards built")
    write_manifest_file(output, manifest_name, merged)
    return BuildResult(merged, docs, sum(r.splits for r in results),
                       sum(r.total_bytes for r in results), sum(r.bad_rows for r in results),
                       sum(r.bytes_read for r in results), merge_seconds, results)


_LOCAL_WORKER_CONFIG = {
    "distributed.worker.profile.enabled": False,
    "distributed.admin.tick.interval": "1s",
    "distributed.admin.system-monitor.interval": "5s",
    "distributed.worker.memory.monitor-interval": "5s",
}


def connect(workers: int | None, scheduler: str | None):
    """A client on an existing scheduler, or on a local cluster of `workers`
    single-threaded processes (the module holds the interpreter lock, so
    threads would not run builds side by side). Close it when done."""
    require("distributed", "python3-distributed")
    import logging

    from dask.distributed import Client, LocalCluster

    if scheduler:
        try:
            return Client(scheduler, timeout="30s")
        except (OSError, TimeoutError) as e:
            raise ToolError(f"cannot reach the Dask scheduler at {scheduler}: {e}") from None
    import dask

    # Every periodic callback of a worker's event loop takes the interpreter
    # lock from the build: the statistical profiler (every 10 ms) cost a
    # third more CPU per shard, and the loop-health tick (20 ms) and the
    # monitors add a little more. Workers copy the config at spawn, so the
    # settings are needed only while the cluster starts.
    with dask.config.set(_LOCAL_WORKER_CONFIG):
        cluster = LocalCluster(n_workers=workers, threads_per_worker=1, processes=True,
                               dashboard_address=None, memory_limit=0,
                               silence_logs=logging.ERROR)
    client = Client(cluster)
    setattr(client, "_vellum_cluster", cluster)  # closed with the client by close()
    return client


def close(client) -> None:
    cluster = getattr(client, "_vellum_cluster", None)
    client.close()
    if cluster is not None:
        cluster.close()
