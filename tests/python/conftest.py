import os
import subprocess
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
DATA = ROOT / "tests" / "data"
# One file of each format the engine reads: the samples and a fixture per format.
MIXED = [ROOT / "samples" / n for n in ("ball.gif", "chart.bmp", "sunset.jpg")] + [
    DATA / p for p in ("bmp/bits1.bmp", "gif/anim_local.gif", "heif/alpha.heic",
                       "heif/alpha.avif", "ico/cursor.cur", "jpeg/baseline_420.jpg",
                       "jpeg2000/cmyk.jp2", "jxl/alpha.jxl", "metafile/emf_shapes.emf",
                       "pcx/magick_8bit.pcx", "png/ga8.png", "tga/magick_mapped.tga",
                       "tiff/cielab.tif", "wbmp/netpbm_10x2.wbmp", "webp/alpha_lossy.webp")]


def cli(*args, check=True):
    """vellumar-convert's exit status and standard error."""
    done = subprocess.run([os.environ["VELLUMAR_CLI"], "--quiet", *map(str, args)],
                          capture_output=True, text=True)
    if check:
        assert done.returncode == 0, done.stderr
    return done.returncode, done.stderr


def cli_reasons(stderr):
    """{row: reason} from the command line's failure lines."""
    reasons = {}
    for line in stderr.splitlines():
        head, _, rest = line.partition(": ")
        if head.startswith("row "):
            reasons[int(head[4:])] = rest.split(" failed: ", 1)[1]
    return reasons


def files(folder):
    """The files of a folder; none when a run that wrote nothing left no folder."""
    folder = Path(folder)
    return {p.name: p.read_bytes() for p in folder.iterdir()} if folder.exists() else {}


@pytest.fixture
def mixed_folder(tmp_path):
    """A folder of mixed pictures and one file no decoder reads."""
    folder = tmp_path / "in"
    folder.mkdir()
    for i, src in enumerate(MIXED):
        (folder / f"{i:02d}_{src.name}").write_bytes(src.read_bytes())
    (folder / "07_broken.png").write_bytes(b"\x89PNG\r\n\x1a\n broken")
    return folder
