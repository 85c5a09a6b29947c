"""Many files converted on a Dask cluster (``distributed.Client``).

    from distributed import Client, LocalCluster
    import vellumar.dask
    with Client(LocalCluster(n_workers=2, threads_per_worker=1)) as client:
        summary = vellumar.dask.convert(client, "scans/", "png", "png/")

Rows are numbered in input order and every output is named exactly as
``vellumar-convert`` names it (``png/main1.PNG`` ...). A distributed run always
keeps going: a file that fails is reported in the summary and the other rows
go on. Workers write each file under a temporary name and rename it complete,
so a worker lost mid-row leaves no partial output; the scheduler runs its
rows again on another worker, and the temporary files lost workers left are
removed at the end. The workers and the caller must see the same paths.
"""

import os
import uuid
from dataclasses import dataclass, field

from distributed import wait

from . import _engine, list_sources, plan_outputs, run_options, run_rows

__all__ = ["Failure", "Summary", "convert", "list_folder"]


@dataclass(frozen=True)
class Failure:
    row: int
    source: str
    stage: str  # "decode", "encode", or "task" when the row's task itself failed
    reason: str


@dataclass
class Summary:
    converted: int = 0
    failures: list = field(default_factory=list)  # Failure, in row order
    outputs: list = field(default_factory=list)   # row r's file is outputs[r - 1]
    tasks: int = 0

    @property
    def failed(self):
        return len(self.failures)


def list_folder(folder, recursive=False):
    """The files in ``folder`` (with ``recursive``, under it, as the command
    line's ``--recursive`` lists them), in the order of their paths compared
    as bytes, so every run numbers them alike."""
    return [path for path, _ in _rows_of_folder(folder, recursive)]


def _rows_of_folder(folder, recursive):
    if recursive:
        return list_sources([folder], recursive=True)
    here = os.fsencode(folder)
    names = sorted(e.name for e in os.scandir(here) if e.is_file())
    return [(os.fsdecode(os.path.join(here, n)), "") for n in names]


def _convert_batch(first_row, sources, outputs, to, options, tag):
    """One task: a run of consecutive rows into the outputs named for them."""
    run = run_options(to, options)
    run.keep_going = True
    run.outputs = [os.fsencode(o) for o in outputs]
    run.temporary_tag = tag
    # The caller holds the output folder for the whole distributed run.
    run.folder_locking = "none"
    for folder in {os.path.dirname(o) for o in outputs}:
        os.makedirs(folder or os.curdir, exist_ok=True)
    summary = run_rows(sources, run)
    return [(first_row + f.row - 1, f.stage, f.reason) for f in summary.failures]


def _remove_temporaries(folders, tag):
    from . import _engine
    return sum(_engine.remove_temporaries(os.fsencode(f), tag) for f in folders)


def _batches(sources, batch_bytes, batch_rows):
    """Consecutive rows grouped until a group holds ``batch_bytes`` or
    ``batch_rows``: large files go alone, small ones together."""
    start, size = 0, 0
    for i, source in enumerate(sources):
        try:
            size += os.stat(source).st_size
        except OSError:
            pass  # its task reports why it cannot be read
        if size >= batch_bytes or i + 1 - start >= batch_rows:
            yield start, i + 1
            start, size = i + 1, 0
    if start < len(sources):
        yield start, len(sources)


def convert(client, sources, to, out_dir, *, recursive=False, batch_bytes=4 << 20,
            batch_rows=32, retries=2, **options):
    """Converts ``sources`` (a list of paths, or a folder) into format ``to``
    in ``out_dir`` on ``client``'s cluster and returns a :class:`Summary`.

    Takes the options of :func:`vellumar.convert` (``prefix``, ``quality``
    ...); ``jobs`` is the rows each task converts at once (default 1: Dask's
    worker threads give the parallelism). ``batch_bytes`` and ``batch_rows``
    bound the consecutive rows one task converts; ``retries`` is how often a
    task that raised is tried again (a lost worker's tasks are moved by the
    scheduler whatever it is).
    """
    if options.get("keep_going", True) is not True:
        raise ValueError("a distributed run always keeps going")
    options.pop("keep_going", None)
    options.setdefault("jobs", 1)
    if isinstance(sources, (str, bytes, os.PathLike)):
        rows = _rows_of_folder(sources, recursive)
    else:
        rows = [(os.fsdecode(s), "") for s in sources]
    sources = [path for path, _ in rows]
    run = run_options(to, options)
    run.out_dir = os.fsencode(os.path.normpath(out_dir))
    run.source_dirs = [os.fsencode(d) for _, d in rows]
    plan = plan_outputs(run, sources)
    summary = Summary(outputs=[path for path, _ in plan])

    # A worker may read a source after another has replaced it: no output
    # may be a source.
    inputs = {os.path.realpath(s) for s in sources}
    for out in summary.outputs:
        if out and os.path.realpath(out) in inputs:
            raise ValueError(f"the output {out} would replace a source")
    todo = []
    for row, (out, why) in enumerate(plan, 1):
        if why:  # no name, or an earlier row's file: the row fails as in the command line
            summary.failures.append(Failure(row, sources[row - 1], "encode", why))
        else:
            todo.append(row)

    os.makedirs(out_dir, exist_ok=True)
    with _engine.lock_folder(os.fsencode(os.path.normpath(out_dir))):
        return _convert_rows(client, sources, to, options, summary, todo,
                             batch_bytes, batch_rows, retries)


def _convert_rows(client, sources, to, options, summary, todo, batch_bytes, batch_rows,
                  retries):
    tag = uuid.uuid4().hex
    futures = []
    # Runs of rows still to do, split into batches.
    runs, start = [], None
    for i, row in enumerate(todo):
        if start is None:
            start = row
        if i + 1 == len(todo) or todo[i + 1] != row + 1:
            runs.append((start, row + 1))
            start = None
    for lo, hi in runs:
        for a, b in _batches(sources[lo - 1:hi - 1], batch_bytes, batch_rows):
            first = lo + a
            futures.append((first, first + (b - a), client.submit(
                _convert_batch, first, sources[first - 1:first - 1 + b - a],
                summary.outputs[first - 1:first - 1 + b - a], to, options, tag,
                key=f"vellumar-{tag}-{first}", retries=retries, pure=False)))
    summary.tasks = len(futures)
    wait([f for _, _, f in futures])

    failed_rows = set(f.row for f in summary.failures)
    for first, end, future in futures:
        if future.status == "finished":
            for row, stage, reason in future.result():
                summary.failures.append(Failure(row, sources[row - 1], stage, reason))
                failed_rows.add(row)
        else:
            why = f"the task failed: {future.exception()!r}"
            for row in range(first, end):
                summary.failures.append(Failure(row, sources[row - 1], "task", why))
                failed_rows.add(row)
    summary.failures.sort(key=lambda f: f.row)
    summary.converted = len(sources) - len(failed_rows)

    if futures:
        folders = sorted({os.path.dirname(o) or os.curdir for o in summary.outputs})
        client.submit(_remove_temporaries, folders, tag, pure=False).result()
    return summary
