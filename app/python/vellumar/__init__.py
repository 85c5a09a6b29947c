"""Vellumar's engine from Python: the conversions of ``vellumar-convert``.

    import vellumar
    vellumar.convert("scan.tif", "jp2", "scan.jp2", quality=80)
    png = vellumar.convert_bytes(open("photo.jpg", "rb").read(), "png")
    vellumar.info("scan.tif")   # {'format': 'TIFF', 'width': ..., ...}

Options carry the command line's names with underscores (``max_memory`` for
``--max-memory``). A file that cannot be converted raises :class:`Error`,
whose ``reason`` is the text the command line prints for that row. What a
converted file could not keep of its source (frames, transparency, a colour
profile) is in its :class:`Result`'s ``notes``; ``strict=True`` makes such a
file an :class:`Error` instead.
Conversions release the GIL: threads convert files at the same time.
"""

import os
import tempfile
from dataclasses import dataclass

from . import _engine

__all__ = ["Error", "Result", "convert", "convert_bytes", "info", "list_sources", "target_names"]


class Error(Exception):
    """A file that could not be read or written, and why."""

    def __init__(self, reason, source=None, row=None, stage=None):
        super().__init__(reason if source is None else f"{os.fsdecode(source)}: {reason}")
        self.reason = reason
        self.source = source
        self.row = row
        self.stage = stage  # "decode", "encode" or None


@dataclass(frozen=True)
class Result:
    source: str
    output: str
    notes: tuple = ()  # what the output lost, one English line each


def target_names():
    """The formats ``to`` accepts, as the command line lists them."""
    return list(_engine.target_names())


def run_options(to, options):
    """The engine's options for target ``to`` and the keyword options given."""
    target = _engine.target(str(to).lstrip("."))
    if target is None:
        raise ValueError(f"unknown format: {to} (one of {' '.join(target_names())})")
    run = _engine.RunOptions()
    run.target, run.extension = target
    known = set(_engine.option_names())
    for name, value in options.items():
        if name not in known:
            raise TypeError(f"unknown option: {name}")
        if name == "resize" and "," in str(value):
            raise ValueError("resize takes one size a call (several are the command line's)")
        # The engine checks the value as the command line does: ValueError
        # with the command line's words.
        setattr(run, name, value)
    return run


def _path(value, what):
    """A path as the file system's bytes; a NUL byte would cut it short."""
    raw = os.fsencode(value)
    if b"\0" in raw:
        raise ValueError(f"{what}: a NUL byte cannot stand in a name")
    return raw


def _paths(names, what):
    """One path or a list of them (a single text is one path, not its letters)."""
    if isinstance(names, (str, bytes, os.PathLike)):
        names = [names]
    return [_path(n, what) for n in names]


def run_rows(sources, run):
    """Converts ``sources`` (row r is sources[r - 1]); the engine's summary."""
    return _engine.run(_paths(sources, "src"), run)


def plan_outputs(run, sources):
    """Each row's (output path, reason it has none) as the run names them."""
    return [(os.fsdecode(path), why)
            for path, why in _engine.plan_outputs(run, _paths(sources, "src"))]


def list_sources(names, recursive=False):
    """The rows the command line makes of ``names`` (a path or a list of
    paths): (path, folder relative to the folder named, which ``{dir}``
    gives). With ``recursive`` a folder is every file beneath it, in the order
    of their paths compared as bytes."""
    return [(os.fsdecode(p), os.fsdecode(d))
            for p, d in _engine.list_sources(_paths(names, "names"), recursive)]


def convert(src, to, out=None, **options):
    """Converts the file ``src`` into format ``to``.

    ``out`` is a folder when it is an existing folder or ends in ``/`` (made
    when missing): the file gets the command line's name for a first row
    there (``main1.PNG``; ``prefix`` and ``name`` change it). Otherwise it is
    the output file itself. By default the current folder. The file appears
    complete or not at all. Raises :class:`Error` when the file cannot be
    converted.
    """
    run = run_options(to, options)
    _path(src, "src")
    # Any number of single files may go into one folder at once.
    run.folder_locking = "shared"
    raw = _path(out if out is not None else os.curdir, "out")
    if raw.endswith(b"/") or os.path.isdir(raw):
        os.makedirs(raw, exist_ok=True)
        run.out_dir = os.path.normpath(raw)
    else:
        run.outputs = [raw]
    summary = run_rows([src], run)
    if summary.refusal:
        raise Error(summary.refusal, source=src, row=1, stage="encode")
    if summary.failures:
        failure = summary.failures[0]
        raise Error(failure.reason, source=src, row=1, stage=failure.stage)
    notes = tuple(summary.notes[0]) if summary.notes else ()
    return Result(os.fsdecode(src), plan_outputs(run, [src])[0][0], notes)


def convert_bytes(data, to, source_ext=None, **options):
    """The bytes of ``data`` (a picture file) converted into format ``to``.

    The content decides the decoder; ``source_ext`` (``"wbmp"``) names the
    format first, as a file's extension does, for formats without a signature.
    """
    if source_ext is not None and (not isinstance(source_ext, str) or "/" in source_ext
                                   or "\0" in source_ext):
        raise ValueError(f"source_ext needs an extension such as 'wbmp': {source_ext!r}")
    with tempfile.TemporaryDirectory(prefix="vellumar-") as folder:
        name = "source" + ("." + source_ext.lstrip(".") if source_ext else "")
        source = os.path.join(folder, name)
        with open(source, "wb") as f:
            f.write(data)
        result = convert(source, to, os.path.join(folder, "output"), **options)
        with open(result.output, "rb") as f:
            return f.read()


def info(path, frame=0, max_pixels=None):
    """What ``vellumar-convert --info`` tells of a file, as a dict: format,
    width, height, bpp, sample_bits (above 8 for deep pictures), frames and dpi (x, y). Raises :class:`Error`."""
    run = _engine.RunOptions()
    run.frame = frame
    if max_pixels is not None:
        run.max_pixels = max_pixels
    ok, facts = _engine.info(_path(path, "path"), run.frame, run.max_pixels)
    if not ok:
        raise Error(facts, source=path, stage="decode")
    return facts
