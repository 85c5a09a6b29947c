import os
import signal
import struct
import threading
import time

import pytest
from distributed import Client, LocalCluster

import vellumar
import vellumar.dask
from conftest import MIXED, ROOT, cli, cli_reasons, files


@pytest.fixture(scope="module")
def client():
    # Spawned workers import the package as this process does (PYTHONPATH).
    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                      dashboard_address=None) as cluster, Client(cluster) as c:
        yield c


def test_mixed_folder_to_png_as_the_command_line(client, mixed_folder, tmp_path):
    sources = vellumar.dask.list_folder(mixed_folder)
    _, err = cli("--to", "png", "--keep-going", "--out-dir", tmp_path / "cli", *sources,
                 check=False)
    summary = vellumar.dask.convert(client, mixed_folder, "png", tmp_path / "dask",
                                    batch_rows=3)

    assert summary.tasks >= 2
    assert files(tmp_path / "dask") == files(tmp_path / "cli")
    assert {f.row: f.reason for f in summary.failures} == cli_reasons(err)
    assert summary.converted + summary.failed == len(sources)
    assert [os.path.basename(o) for o in summary.outputs] == [
        f"main{r}.PNG" for r in range(1, len(sources) + 1)]


def test_folder_tree_names_and_clashes_as_the_command_line(client, tmp_path):
    tree = tmp_path / "in"
    for name, src in (("y.jpg", ROOT / "samples" / "sunset.jpg"),
                      ("a/y.gif", ROOT / "samples" / "ball.gif"), ("a/b/z.bmp", MIXED[1])):
        (tree / name).parent.mkdir(parents=True, exist_ok=True)
        (tree / name).write_bytes(src.read_bytes())
    for template in ("{dir}/{name}{EXT}", "{name}.{ext}"):
        out = tmp_path / template.replace("/", "_")
        _, err = cli("--to", "png", "--keep-going", "--recursive", "--name", template,
                     "--out-dir", out / "cli", tree, check=False)
        summary = vellumar.dask.convert(client, tree, "png", out / "dask", recursive=True,
                                        name=template, resize="x40")
        cli("--to", "png", "--keep-going", "--recursive", "--name", template, "--resize", "x40",
            "--out-dir", out / "resized", tree, check=False)
        assert tree_files(out / "dask") == tree_files(out / "resized") != tree_files(out / "cli")
        assert {f.row: f.reason.replace(str(out / "dask"), str(out / "cli"))
                for f in summary.failures} == cli_reasons(err)
    assert "would write row" in summary.failures[0].reason  # a/y.gif and y.jpg: y.png twice


def tree_files(folder):
    return {p.relative_to(folder): p.read_bytes() for p in folder.rglob("*") if p.is_file()}


def test_refuses_what_it_cannot_do_safely(client, tmp_path):
    with pytest.raises(ValueError, match="replace a source"):
        vellumar.dask.convert(client, [tmp_path / "main1.PNG"], "png", tmp_path)
    with pytest.raises(ValueError, match="keeps going"):
        vellumar.dask.convert(client, [tmp_path / "a.png"], "png", tmp_path, keep_going=False)


def noise_bmp(path, width, height):
    row = (width * 3 + 3) & ~3
    with open(path, "wb") as f:
        f.write(b"BM" + struct.pack("<IHHI", 54 + row * height, 0, 0, 54))
        f.write(struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, row * height,
                            2835, 2835, 0, 0))
        f.write(os.urandom(row * height))


def writer_of(pids, folder):
    """(pid, temporary file) of a worker writing a temporary file in `folder`."""
    for pid in pids:
        try:
            for fd in os.listdir(f"/proc/{pid}/fd"):
                target = os.readlink(f"/proc/{pid}/fd/{fd}")
                if os.path.dirname(target) == str(folder) and "/.vxtmp-" in target:
                    return pid, target
        except OSError:
            continue
    return None


def test_a_worker_killed_while_writing_loses_no_row(client, tmp_path):
    inputs, out = tmp_path / "in", tmp_path / "out"
    inputs.mkdir()
    for i in range(6):
        noise_bmp(inputs / f"{i}.bmp", 1200, 1200)
    pids = set(client.run(os.getpid).values())
    result = {}
    run = threading.Thread(target=lambda: result.update(s=vellumar.dask.convert(
        client, inputs, "png", out, batch_bytes=1)))
    run.start()
    killed = None
    # Polls until one worker is caught with a half-written file (bounded).
    for _ in range(20000):
        found = writer_of(pids, out)
        if found:
            os.kill(found[0], signal.SIGKILL)
            if os.path.exists(found[1]):
                killed = found
                break
        if not run.is_alive():
            break
        time.sleep(0.001)
    run.join(600)
    assert killed, "no worker was caught writing"
    summary = result["s"]
    assert (summary.converted, summary.failures) == (6, [])
    want = {}
    for i, src in enumerate(sorted(inputs.iterdir()), 1):
        want[f"main{i}.PNG"] = vellumar.convert_bytes(src.read_bytes(), "png")
    assert files(out) == want  # nothing half-written, no temporary file left


def test_folders_list_in_byte_order_and_names_need_not_be_utf8(tmp_path):
    gbk = os.fsdecode(b"\xb2\xe2\xca\xd4.bmp")  # not UTF-8: GBK for a Chinese word
    for name in ("b.bmp", "a/z.bmp", "a/b/c.bmp", "B.bmp", gbk):
        (tmp_path / name).parent.mkdir(parents=True, exist_ok=True)
        (tmp_path / name).write_bytes(b"")
    rel = lambda paths: [os.path.relpath(p, tmp_path) for p in paths]
    assert rel(vellumar.dask.list_folder(tmp_path)) == ["B.bmp", "b.bmp", gbk]
    assert rel(vellumar.dask.list_folder(tmp_path, recursive=True)) == [
        "B.bmp", "a/b/c.bmp", "a/z.bmp", "b.bmp", gbk]
    (tmp_path / gbk).write_bytes((ROOT / "samples" / "rings.bmp").read_bytes())
    out = vellumar.convert(tmp_path / gbk, "png", tmp_path / (gbk + ".png")).output
    assert os.path.exists(out) and vellumar.info(out)["width"] == 96
