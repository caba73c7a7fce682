#!/usr/bin/env python3
"""Runs the Linux and the Windows uvwhost on the same input and compares what they print.

usage: compare_with_linux.py eval EXAMPLES_DIR LINUX_UVWHOST -- WINDOWS_UVWHOST_COMMAND...
       compare_with_linux.py showcase WIDTHxHEIGHT LINUX_UVWHOST -- WINDOWS_UVWHOST_COMMAND...

eval: every plugin instance of the example scenes evaluated at a fixed set of shading
contexts; every number must agree within 1e-6 relative (the two C runtimes' math functions may
differ in the last bit) and everything else exactly. Derivatives taken by central differences
of float uvw (the environment's) carry the uvw's last-bit differences, so they are compared
relative to the magnitude of the uvw they were taken from.
showcase: the showcase rendered by both; prints the largest difference of any pixel channel
(8-bit sRGB) and fails above 1.
"""
import concurrent.futures
import json
import math
import os
import struct
import subprocess
import sys
import tempfile
import zlib

PLUGIN_TYPES = {"UVWGenChannel", "UVWGenPlanarWorld", "UVWGenObject", "UVWGenExplicit",
                "UVWGenEnvironment", "UVWGenProjection", "UVWGenOstrel", "TexMultiProjection"}
RELATIVE = 1e-6
# Below this magnitude two values count as equal zeros (a last-bit difference of a sum that
# cancels to nearly nothing has no relative meaning).
ZERO = 1e-12


def contexts():
    """Shading contexts spread over the scenes: points, directions, both mapping channels,
    an object space and shade ids (the random placement's seed)."""
    lines = []
    for k in range(6):
        a = 0.7 * k
        lines.append(json.dumps({
            "shadingPoint": [0.3 + math.cos(a), -0.7 + math.sin(a), 0.2 * k],
            "surfacePoint": [0.25 + math.cos(a), -0.6 + math.sin(a), 0.2 * k - 0.1],
            "normal": [0.2, -0.3, 0.93], "backSide": k % 2,
            "rayDir": [math.sin(a) * 0.6, math.cos(a) * 0.6, -0.53],
            "rayOrigin": [0, -7.2, 3],
            "dPdx": [0.01, 0.002, 0.0], "dPdy": [0.0, 0.011, 0.003],
            "dDdx": [0.001, 0.0, 0.0], "dDdy": [0.0, 0.001, 0.0],
            "imageX": 40 * k, "imageY": 30 * k, "time": 0.2 * k,
            "shadeInstance": {"objectSpace": {"matrix": [[2, 0, 0], [0, 1.5, 0.2], [0, 0, 1]],
                                              "offset": [0.1, 0.2, 0.3]}},
            "shadeData": {"channels": {
                "0": {"uvw": [0.3 + 0.1 * k, 0.6, 0.1], "basis": [[1, 0, 0], [0, 1, 0], [0, 0, 1]]},
                "1": {"uvw": [0.7, 0.2 + 0.1 * k, 0.0], "basis": [[2, 0, 0], [0, 1, 0], [0, 0, 1]]}},
                "ids": {"material": 7 + k, "object": 42 * k}},
        }))
    return "\n".join(lines) + "\n"


def run(command, stdin=None):
    result = subprocess.run(command, input=stdin, capture_output=True)
    if result.returncode != 0:
        sys.exit(f"{' '.join(command)} failed ({result.returncode}): "
                 f"{result.stderr.decode(errors='replace')}")
    return result.stdout


def differences(linux, windows, where, floor=0.0):
    if isinstance(linux, (int, float)) and isinstance(windows, (int, float)) and \
            not isinstance(linux, bool):
        scale = max(abs(linux), abs(windows), floor)
        if scale >= ZERO and abs(linux - windows) > RELATIVE * scale:
            yield f"{where}: {linux} on Linux, {windows} on Windows"
    elif isinstance(linux, dict) and isinstance(windows, dict) and linux.keys() == windows.keys():
        if "dx" in linux and "uvw" in linux:
            floor = max(abs(v) for v in linux["uvw"])
        for key in linux:
            yield from differences(linux[key], windows[key], f"{where}/{key}",
                                   floor if key in ("dx", "dy") else 0.0)
    elif isinstance(linux, list) and isinstance(windows, list) and len(linux) == len(windows):
        for i, (a, b) in enumerate(zip(linux, windows)):
            yield from differences(a, b, f"{where}/{i}", floor)
    elif linux != windows:
        yield f"{where}: {linux!r} on Linux, {windows!r} on Windows"


def compare_eval(examples, linux, windows):
    stdin = contexts().encode()
    evaluations = []
    for name in sorted(os.listdir(examples)):
        scene = os.path.join(examples, name)
        # Scene files only: the asset folders (meshes, images) are read by Linux builds alone.
        if not name.endswith(".json"):
            continue
        with open(scene, encoding="utf-8") as f:
            instances = json.load(f).get("instances", [])
        evaluations += [(f"{name}:{instance['name']}", ["eval", instance["type"], "--scene", scene,
                                                        "--instance", instance["name"]])
                        for instance in instances if instance["type"] in PLUGIN_TYPES]

    def outputs(args):
        return (run([linux, *args], stdin).decode().splitlines(),
                run([*windows, *args], stdin).decode().replace("\r\n", "\n").splitlines())

    # Each Windows process spends most of its second starting under Wine: one per core at once.
    with concurrent.futures.ThreadPoolExecutor(os.cpu_count()) as pool:
        results = pool.map(outputs, [args for _, args in evaluations])
    failures = []
    for (where, _), (a, b) in zip(evaluations, results):
        if len(a) != len(b):
            failures.append(f"{where}: {len(a)} lines on Linux, {len(b)} on Windows")
            continue
        for n, (x, y) in enumerate(zip(a, b)):
            failures += differences(json.loads(x), json.loads(y), f"{where} context {n}")
    for failure in failures:
        print(failure)
    print(f"{len(evaluations)} instances at {len(stdin.splitlines())} contexts each: "
          f"{len(failures)} differences beyond {RELATIVE} relative")
    return 1 if failures or not evaluations else 0


def png_pixels(path):
    """8-bit RGB pixels of a non-interlaced PNG, as bytes, with its width and height."""
    with open(path, "rb") as f:
        data = f.read()
    pos, idat, width, height = 8, b"", 0, 0
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour = struct.unpack(">IIBB", body[:10])
            if (depth, colour, body[12]) != (8, 2, 0):
                sys.exit(f"{path}: not 8-bit RGB without interlacing")
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    raw, stride, out = zlib.decompress(idat), width * 3, bytearray()
    previous = bytearray(stride)
    for y in range(height):
        kind = raw[y * (stride + 1)]
        row = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            left = row[i - 3] if i >= 3 else 0
            up, corner = previous[i], previous[i - 3] if i >= 3 else 0
            if kind == 1:
                row[i] = (row[i] + left) & 255
            elif kind == 2:
                row[i] = (row[i] + up) & 255
            elif kind == 3:
                row[i] = (row[i] + (left + up) // 2) & 255
            elif kind == 4:
                p = left + up - corner
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - corner)
                row[i] = (row[i] + (left if pa <= pb and pa <= pc else up if pb <= pc else corner)) & 255
        out += row
        previous = row
    return bytes(out), width, height


def compare_showcase(size, linux, windows):
    width, height = size.split("x")
    with tempfile.TemporaryDirectory(dir=".") as folder:
        a, b = os.path.join(folder, "linux.png"), os.path.join(folder, "windows.png")
        options = ["render", "--width", width, "--height", height, "--threads", "2", "--quiet"]
        run([linux, *options, "-o", a])
        run([*windows, *options, "-o", os.path.relpath(b)])
        pa, wa, ha = png_pixels(a)
        pb, wb, hb = png_pixels(b)
    if (wa, ha) != (wb, hb):
        print(f"sizes differ: {wa}x{ha} on Linux, {wb}x{hb} on Windows")
        return 1
    largest = max(abs(x - y) for x, y in zip(pa, pb))
    differing = sum(1 for i in range(0, len(pa), 3) if pa[i:i + 3] != pb[i:i + 3])
    print(f"showcase {wa}x{ha}: largest channel difference {largest}/255, "
          f"{differing} of {wa * ha} pixels differ")
    return 1 if largest > 1 else 0


def main():
    if "--" not in sys.argv or len(sys.argv) < 5:
        sys.exit(__doc__)
    split = sys.argv.index("--")
    mode, argument, linux = sys.argv[1:split]
    windows = sys.argv[split + 1:]
    if mode == "eval":
        return compare_eval(argument, linux, windows)
    return compare_showcase(argument, linux, windows)


if __name__ == "__main__":
    sys.exit(main())
