"""Vellumar's engine from Python: the conversions of ``vellumar-convert``.

    import vellumar
    vellumar.convert("scan.tif", "jp2", "scan.jp2", quality=80)
    png = vellumar.convert_bytes(open("photo.jpg", "rb").read(), "png")
    vellumar.info("scan.tif")   # {'format': 'TIFF', 'width': ..., ...}

Options carry the command line's names with underscores (``max_memory`` for
``--max-memory``). A file that cannot be converted raises :class:`Error`,
whose ``reason`` is the text the command line prints for that row.
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
        # The engine checks the value as the command line does: ValueError
        # with the command line's words.
        setattr(run, name, value)
    return run


def run_rows(sources, run):
    """Converts ``sources`` (row r is sources[r - 1]); the engine's summary."""
    return _engine.run([os.fsencode(s) for s in sources], run)


def plan_outputs(run, sources):
    """Each row's (output path, reason it has none) as the run names them."""
    return [(os.fsdecode(path), why)
            for path, why in _engine.plan_outputs(run, [os.fsencode(s) for s in sources])]


def list_sources(names, recursive=False):
    """The rows the command line makes of ``names``: (path, folder relative to
    the folder named, which ``{dir}`` gives). With ``recursive`` a folder is
    every file beneath it, in the order of their paths compared as bytes."""
    return [(os.fsdecode(p), os.fsdecode(d))
            for p, d in _engine.list_sources([os.fsencode(n) for n in names], recursive)]


def convert(src, to, out=None, **options):
    """Converts the file ``src`` into format ``to``.

    ``out`` is the output file, or a folder that gets the command line's name
    for a first row (``main1.PNG``; ``prefix`` and ``name`` change it); by
    default the current folder. The file appears complete or not at all. Raises
    :class:`Error` when the file cannot be converted.
    """
    run = run_options(to, options)
    # Any number of single files may go into one folder at once.
    run.folder_locking = "shared"
    if out is None or os.path.isdir(out):
        run.out_dir = os.fsencode(os.path.normpath(out if out is not None else os.curdir))
    else:
        run.outputs = [os.fsencode(out)]
    summary = run_rows([src], run)
    if summary.refusal:
        raise Error(summary.refusal, source=src, row=1, stage="encode")
    if summary.failures:
        failure = summary.failures[0]
        raise Error(failure.reason, source=src, row=1, stage=failure.stage)
    return Result(os.fsdecode(src), plan_outputs(run, [src])[0][0])


def convert_bytes(data, to, source_ext=None, **options):
    """The bytes of ``data`` (a picture file) converted into format ``to``.

    The content decides the decoder; ``source_ext`` (``"wbmp"``) names the
    format first, as a file's extension does, for formats without a signature.
    """
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
    width, height, bpp, frames and dpi (x, y). Raises :class:`Error`."""
    run = _engine.RunOptions()
    run.frame = frame
    if max_pixels is not None:
        run.max_pixels = max_pixels
    ok, facts = _engine.info(os.fsencode(path), run.frame, run.max_pixels)
    if not ok:
        raise Error(facts, source=path, stage="decode")
    return facts
