"""What the Python tests share: the built host and module, and kelvamor-host run as a
script runs it."""

import os
import struct
import subprocess

import numpy as np
import pytest

HOST = os.environ.get("KELVAMOR_HOST", "")
MODULE = os.environ.get("ROVANDEL_MODULE", "")


def terrain(rows, columns, seed):
    """Random terrain-like heights (a few hundred metres of relief) as float32."""
    rng = np.random.default_rng(seed)
    y, x = np.mgrid[0:rows, 0:columns]
    smooth = 300 * np.sin(x / 7.0 + seed) * np.cos(y / 5.0)
    return (smooth + rng.normal(0, 20, (rows, columns))).astype(np.float32)


def run_host(tmp_path, heights, args):
    """kelvamor-host --batch on heights (as .r32): the result and stdout + stderr."""
    rows, columns = heights.shape
    source, result = tmp_path / "in.r32", tmp_path / "out.r32"
    np.ascontiguousarray(heights, dtype="<f4").tofile(source)
    env = dict(os.environ, XDG_CONFIG_HOME=str(tmp_path), QT_QPA_PLATFORM="offscreen")
    run = subprocess.run([HOST, "--batch", "--plugin", MODULE, "-q", str(source),
                          "--size", f"{columns}x{rows}", "-o", str(result)] + args,
                         env=env, capture_output=True, text=True, timeout=120)
    assert run.returncode == 0, run.stderr
    return np.fromfile(result, dtype="<f4").reshape(rows, columns), run.stdout + run.stderr


def same_bits(a, b):
    return np.array_equal(np.asarray(a, np.float32).view(np.uint32),
                          np.asarray(b, np.float32).view(np.uint32))


@pytest.fixture
def host():
    if not os.path.exists(HOST):
        pytest.skip("kelvamor-host is not built")
    return HOST
