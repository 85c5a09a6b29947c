import faulthandler
import os
import threading
from concurrent.futures import ThreadPoolExecutor

import pytest

import vellumar
from conftest import MIXED, ROOT, cli, cli_reasons, files

SUNSET = ROOT / "samples" / "sunset.jpg"
PHOTO = ROOT / "tests" / "data" / "jpeg" / "baseline_420.jpg"
BALL = ROOT / "samples" / "ball.gif"
WRITABLE = [n for n in vellumar.target_names() if n not in ("WMF", "PSD", "SVG", "PDF", "RAW")]  # read only


@pytest.mark.parametrize("to", WRITABLE)
def test_every_target_matches_the_command_line(tmp_path, to):
    cli("--to", to, "--out-dir", tmp_path / "cli", "--prefix", "p", PHOTO, BALL)
    for row, src in enumerate((PHOTO, BALL), 1):
        result = vellumar.convert(src, to, tmp_path / f"api{row}")
        want = (tmp_path / "cli" / f"p{row}.{to}").read_bytes()
        assert open(result.output, "rb").read() == want, (to, src)
        assert vellumar.convert_bytes(src.read_bytes(), to) == want, (to, src)


ORIENT6 = ROOT / "tests" / "data" / "jpeg" / "orient" / "orient6.jpg"


@pytest.mark.parametrize("kwargs, flags, to, src", [
    ({"quality": 40}, ["--quality", "40"], "jpg", SUNSET),
    ({"frame": 3}, ["--frame", "3"], "jpg", ROOT / "tests" / "data" / "gif" / "anim_local.gif"),
    ({"prefix": "scan"}, ["--prefix", "scan"], "jpg", SUNSET),
    ({"max_memory": 1 << 20, "jobs": 2}, ["--max-memory", "1M", "--jobs", "2"], "jpg", SUNSET),
    ({"name": "{name}.{ext}", "resize": "50%"}, ["--name", "{name}.{ext}", "--resize", "50%"],
     "png", SUNSET),
    ({"palette": "adaptive", "dither": "floyd-steinberg"},
     ["--palette", "adaptive", "--dither", "floyd-steinberg"], "gif", SUNSET),
    ({"keep_orientation": True, "strip": True}, ["--keep-orientation", "--strip"], "jpg", ORIENT6),
    ({"strip": True}, ["--strip"], "jpg", ORIENT6),
    ({"strict": True}, ["--strict"], "bmp", BALL),
    ({"depth": 16}, ["--depth", "16"], "png", SUNSET),
])
def test_options_mean_what_the_flags_mean(tmp_path, kwargs, flags, to, src):
    status, err = cli("--to", to, "--out-dir", tmp_path / "cli", *flags, src, check=False)
    (tmp_path / "api").mkdir()
    if status:
        with pytest.raises(vellumar.Error) as caught:
            vellumar.convert(src, to, tmp_path / "api", **kwargs)
        assert caught.value.reason == cli_reasons(err)[1]
    else:
        result = vellumar.convert(src, to, tmp_path / "api", **kwargs)
        assert [os.path.basename(result.output)] == list(files(tmp_path / "cli"))
        plain = vellumar.convert_bytes(src.read_bytes(), to)
        names_only = not kwargs.keys() - {"prefix", "jobs"}
        assert (plain == open(result.output, "rb").read()) == names_only, \
            "a picture option changes the picture"
    assert files(tmp_path / "api") == files(tmp_path / "cli")


def test_every_source_format_and_failure_as_the_command_line_says(mixed_folder, tmp_path):
    sources = sorted(mixed_folder.iterdir())
    _, err = cli("--to", "png", "--keep-going", "--out-dir", tmp_path / "cli", *sources,
                 check=False)
    reasons = cli_reasons(err)
    assert reasons, "the broken file must fail"
    for row, src in enumerate(sources, 1):
        if row in reasons:
            with pytest.raises(vellumar.Error) as caught:
                vellumar.convert(src, "png", tmp_path / "x.png")
            assert (caught.value.reason, caught.value.row) == (reasons[row], 1)
        else:
            got = vellumar.convert_bytes(src.read_bytes(), "png", source_ext=src.suffix)
            assert got == (tmp_path / "cli" / f"main{row}.PNG").read_bytes(), src
    assert len(reasons) < len(sources) // 2


@pytest.mark.parametrize("call, error, words", [
    (lambda t: vellumar.convert(t / "none.png", "png", t / "o.png"), vellumar.Error,
     "No such file"),
    (lambda t: vellumar.convert(SUNSET, "wmf", t / "o.wmf"), vellumar.Error, ""),
    (lambda t: vellumar.convert(SUNSET, "png", t / "no" / "o.png"), vellumar.Error,
     "No such file"),
    (lambda t: vellumar.convert(SUNSET, "png", t, max_pixels=1000), vellumar.Error, "limit"),
    (lambda t: vellumar.info(t / "none.gif"), vellumar.Error, "cannot open the file"),
    (lambda t: vellumar.convert(SUNSET, "png", t, quality=0), ValueError, "quality"),
    (lambda t: vellumar.convert(SUNSET, "png", t, prefix="a/b"), ValueError, "prefix"),
    (lambda t: vellumar.convert(SUNSET, "png", t, colour=1), TypeError, "colour"),
    (lambda t: vellumar.convert(SUNSET, "bogus", t), ValueError, "unknown format"),
    (lambda t: vellumar.convert(SUNSET, "png", t, resize="big"), ValueError, "resize needs"),
    (lambda t: vellumar.convert(SUNSET, "gif", t, palette="best"), ValueError, "palette needs"),
    (lambda t: vellumar.convert(SUNSET, "gif", t, dither=True), ValueError, "dither needs"),
    (lambda t: vellumar.convert(SUNSET, "png", t, depth=12), ValueError, "depth needs 8 or 16"),
    (lambda t: vellumar.convert(SUNSET, "png", t, exposure=0.125), ValueError, "two decimals"),
    (lambda t: vellumar.convert(SUNSET, "png", t, exposure=True), ValueError, "exposure needs"),
    (lambda t: vellumar.convert(SUNSET, "png", t, name="{nom}"), ValueError, "name: "),
    (lambda t: vellumar.convert(SUNSET, "png", t, name="../{row}"), vellumar.Error, ""),
    (lambda t: vellumar.convert(SUNSET, "png", t, prefix="a\0b"), ValueError, "NUL"),
    (lambda t: vellumar.convert(SUNSET, "png", t, name="{row}\0x"), ValueError, "NUL"),
    (lambda t: vellumar.convert(SUNSET, "png", str(t / "o\0.png")), ValueError, "NUL"),
    (lambda t: vellumar.convert(str(SUNSET) + "\0x", "png", t), ValueError, "NUL"),
    (lambda t: vellumar.convert_bytes(b"x", "png", source_ext="png/x"), ValueError, "source_ext"),
])
def test_errors(tmp_path, call, error, words):
    with pytest.raises(error, match=words):
        call(tmp_path)
    assert not [p for p in tmp_path.rglob("*") if p.is_file()], "a failure leaves no file"


@pytest.mark.parametrize("name, value, typed", [
    ("quality", 101, "101"), ("max_memory", 0, "0"), ("frame", -1, "-1"), ("prefix", "a/b", "a/b"),
    ("resize", "big", "big"), ("name", "{nom}", "{nom}"), ("dither", "yes", "yes"),
    ("exposure", 21, "21"), ("dpi", 0, "0"),
])
def test_values_are_refused_in_the_command_lines_words(tmp_path, name, value, typed):
    flag = name.replace("_", "-")
    status, err = cli("--to", "png", f"--{flag}={typed}", SUNSET, check=False)
    assert status == 2
    with pytest.raises(ValueError) as caught:
        vellumar.convert(SUNSET, "png", tmp_path, **{name: value})
    said = str(caught.value)
    assert said.startswith(name)
    assert err.startswith(f"vellumar-convert: --{flag}{said[len(name):]}\n"), (err, said)


def test_info_as_the_command_line_prints_it():
    facts = vellumar.info(SUNSET)
    assert facts == {"format": "JPG", "width": 320, "height": 200, "bpp": 24, "sample_bits": 8,
                     "frames": 1, "dpi": facts["dpi"]}
    assert vellumar.info(BALL, frame=2)["frames"] > 2
    raw = vellumar.info(ROOT / "tests" / "data" / "raw" / "bggr_turned.dng")
    assert (raw["format"], raw["width"], raw["height"], raw["camera"]) == ("RAW", 32, 48, "Vellumar Test Mosaic")


def test_conversions_release_the_gil(tmp_path):
    # The converting thread waits on a pipe that only this thread feeds: with
    # the GIL held it would wait for ever (the watchdog fails the test then).
    # A pipe is read to its end, more than it can buffer here, so the writer
    # can only finish while the conversion runs.
    pipe = tmp_path / "pipe.png"
    os.mkfifo(pipe)
    (tmp_path / "out").mkdir()
    png = vellumar.convert_bytes(SUNSET.read_bytes(), "png")
    done = {}
    worker = threading.Thread(
        target=lambda: done.update(r=vellumar.convert(pipe, "bmp", tmp_path / "out")))
    faulthandler.dump_traceback_later(120, exit=True)
    try:
        worker.start()
        fd = os.open(pipe, os.O_WRONLY)
        os.write(fd, png + bytes(8 << 20))
        os.close(fd)
        worker.join()
    finally:
        faulthandler.cancel_dump_traceback_later()
    assert os.path.getsize(done["r"].output) == 54 + 320 * 200 * 3


def test_threads_convert_alike(tmp_path):
    sources = [s for s in MIXED if s.suffix in (".jpg", ".bmp", ".png", ".gif", ".tif")]
    with ThreadPoolExecutor(4) as pool:
        outs = list(pool.map(lambda i: vellumar.convert_bytes(sources[i % len(sources)].read_bytes(),
                                                              "webp"), range(3 * len(sources))))
    for i, out in enumerate(outs):
        assert out == outs[i % len(sources)]


def test_out_is_a_folder_when_it_ends_in_a_slash_or_is_one(tmp_path):
    assert vellumar.convert(SUNSET, "png", f"{tmp_path}/new/").output == f"{tmp_path}/new/main1.PNG"
    assert vellumar.convert(SUNSET, "png", tmp_path / "file").output == str(tmp_path / "file")
    assert (tmp_path / "file").is_file()
    # One path is one path, not its letters.
    assert vellumar.list_sources(str(tmp_path / "new")) == [(str(tmp_path / "new"), "")]
