#!/usr/bin/env python3
"""Builds the vase example in examples/vase/ from nothing but this script and uvwhost.

  python3 scripts/make_vase_example.py [path/to/uvwhost]

Writes vase.gltf (a turned vase made here: glTF 2.0, y up, two UV sets), the scene files, then
runs uvwhost to render the two "photographs" the main scene projects back onto the vase and
their depth maps (render --aov-depth), and finally the main picture. The mesh, scenes and
images are part of this project and under its licence.
"""
import base64
import json
import math
import os
import struct
import subprocess
import sys

HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "examples", "vase")
SEGMENTS, RINGS, HEIGHT = 48, 24, 1.6
# The projected photographs have the main picture's aspect (a camera projection maps the
# render's image size onto the camera's field of view).
MAIN_SIZE, PHOTO_SIZE = (960, 540), (480, 270)


def radius(t):
    return 0.32 + 0.16 * math.sin(math.pi * (1.5 * t + 0.15)) + 0.08 * t


def build_mesh():
    positions, normals, uv0, uv1, indices = [], [], [], [], []
    for j in range(RINGS + 1):
        t = j / RINGS
        r, h = radius(t), t * HEIGHT
        # Slope of the profile: the normal leans against it.
        dr = (radius(min(t + 1e-3, 1)) - radius(max(t - 1e-3, 0))) / (2e-3 * HEIGHT)
        for i in range(SEGMENTS + 1):  # the seam column is repeated with u = 1
            a = 2 * math.pi * i / SEGMENTS
            c, s = math.cos(a), math.sin(a)
            positions += [r * c, h, -r * s]
            n = (c, -dr, -s)
            length = math.sqrt(sum(x * x for x in n))
            normals += [x / length for x in n]
            # UV set 0 (map channel 1): unrolled, u around, v up. glTF stores v downwards.
            uv0 += [i / SEGMENTS, 1 - t]
            # UV set 1 (map channel 2): the vase seen from the side, x and height to u and v.
            uv1 += [0.5 + 0.5 * r * c / 0.6, 1 - t]
    row = SEGMENTS + 1
    for j in range(RINGS):
        for i in range(SEGMENTS):
            a, b, c, d = j * row + i, j * row + i + 1, (j + 1) * row + i, (j + 1) * row + i + 1
            indices += [a, b, d, a, d, c]
    return positions, normals, uv0, uv1, indices


def write_gltf(path):
    positions, normals, uv0, uv1, indices = build_mesh()
    chunks, views, accessors = b"", [], []

    def add(values, fmt, kind, count_per, component, target, minmax=False):
        nonlocal chunks
        data = struct.pack("<%d%s" % (len(values), fmt), *values)
        views.append({"buffer": 0, "byteOffset": len(chunks), "byteLength": len(data),
                      "target": target})
        accessor = {"bufferView": len(views) - 1, "componentType": component,
                    "count": len(values) // count_per, "type": kind}
        if minmax:
            accessor["min"] = [min(values[k::3]) for k in range(3)]
            accessor["max"] = [max(values[k::3]) for k in range(3)]
        accessors.append(accessor)
        chunks += data
        return len(accessors) - 1

    attributes = {"POSITION": add(positions, "f", "VEC3", 3, 5126, 34962, True),
                  "NORMAL": add(normals, "f", "VEC3", 3, 5126, 34962),
                  "TEXCOORD_0": add(uv0, "f", "VEC2", 2, 5126, 34962),
                  "TEXCOORD_1": add(uv1, "f", "VEC2", 2, 5126, 34962)}
    index = add(indices, "I", "SCALAR", 1, 5125, 34963)
    gltf = {"asset": {"version": "2.0", "generator": "scripts/make_vase_example.py",
                      "copyright": "Made by this project; under the project's licence"},
            "scene": 0, "scenes": [{"nodes": [0]}], "nodes": [{"mesh": 0, "name": "vase"}],
            "meshes": [{"name": "vase", "primitives": [{"attributes": attributes,
                                                         "indices": index}]}],
            "buffers": [{"byteLength": len(chunks), "uri": "data:application/octet-stream;base64,"
                         + base64.b64encode(chunks).decode()}],
            "bufferViews": views, "accessors": accessors}
    with open(path, "w") as f:
        json.dump(gltf, f)


def look_at(position, target, up=(0, 0, 1)):
    """Camera-to-world columns (right, up, backwards) of a camera at position facing target."""
    f = [t - p for t, p in zip(target, position)]
    n = math.sqrt(sum(x * x for x in f))
    f = [x / n for x in f]
    r = [f[1] * up[2] - f[2] * up[1], f[2] * up[0] - f[0] * up[2], f[0] * up[1] - f[1] * up[0]]
    n = math.sqrt(sum(x * x for x in r))
    r = [x / n for x in r]
    u = [r[1] * f[2] - r[2] * f[1], r[2] * f[0] - r[0] * f[2], r[0] * f[1] - r[1] * f[0]]
    return r, u, [-x for x in f]


VIEWS = {"left": ([-2.6, -3.0, 1.7], [0, 0, 0.75]), "right": ([2.9, -2.4, 1.3], [0, 0, 0.8])}
VIEW_FOV = 46.0  # degrees, horizontal

VASE = {"shape": "mesh", "file": "vase.gltf", "rotation": [90, 0, 0]}


def identity(offset=(0, 0, 0), scale=1.0):
    return {"matrix": [[scale, 0, 0], [0, scale, 0], [0, 0, scale]], "offset": list(offset)}


def views_scene():
    """The vase painted with a checker on map channel 2 and a grid on channel 1, seen from
    two cameras placed by 4x4 matrices: the photographs to project."""
    cameras = []
    for name, (position, target) in VIEWS.items():
        r, u, b = look_at(position, target)
        rows = [[r[k], u[k], b[k], position[k]] for k in range(3)] + [[0, 0, 0, 1]]
        cameras.append({"name": name, "transform": rows, "fov": VIEW_FOV})
    return {
        "image": {"width": PHOTO_SIZE[0], "height": PHOTO_SIZE[1], "samples": 3},
        "cameras": cameras,
        "instances": [
            {"name": "ch1", "type": "UVWGenChannel", "params": {"uvw_channel": 1}},
            {"name": "ch2", "type": "UVWGenChannel", "params": {"uvw_channel": 2}},
            {"name": "stripes", "type": "TexGrid", "params": {"uvwgen": "@ch1", "divisions": 6}},
            {"name": "paint", "type": "TexChecker",
             "params": {"uvwgen": "@ch2", "repeat": [6, 6, 0], "color1": [0.85, 0.35, 0.1],
                        "color2": "@stripes"}},
            {"name": "floor", "type": "TexConstant", "params": {"color": [0.5, 0.5, 0.5]}}],
        "objects": [dict(VASE, texture="@paint"),
                    {"shape": "plane", "center": [0, 0, 0], "size": [8, 8], "texture": "@floor"}],
        "environment": [0.6, 0.65, 0.72]}


def main_scene():
    instances, objects = [], []
    # The two photographs and depth maps projected back from their cameras and blended.
    colors, depths = [], []
    for name, (position, target) in VIEWS.items():
        r, u, b = look_at(position, target)
        instances += [
            {"name": name + "View", "type": "RenderView",
             "params": {"transform": {"matrix": [r, u, b], "offset": position},
                        "fov": math.radians(VIEW_FOV)}},
            {"name": name + "Photo", "type": "BitmapBuffer", "params": {"file": name + ".png"}},
            {"name": name + "DepthMap", "type": "BitmapBuffer",
             "params": {"file": name + "_depth.exr"}},
            {"name": name + "Camera", "type": "UVWGenProjection",
             "params": {"type": 8, "camera_view": "@" + name + "View", "bitmap": "@" + name + "Photo",
                        "fitfill": 1, "hide_backface": True, "hide_occluded": True}},
            {"name": name + "Color", "type": "TexBitmap",
             "params": {"uvwgen": "@" + name + "Camera", "bitmap": "@" + name + "Photo", "tile": 0}},
            {"name": name + "Depth", "type": "TexBitmap",
             "params": {"uvwgen": "@" + name + "Camera", "bitmap": "@" + name + "DepthMap",
                        "tile": 0}}]
        colors.append("@" + name + "Color")
        depths.append("@" + name + "Depth")
    instances.append({"name": "projected", "type": "TexMultiProjection",
                      "params": {"color_textures": colors, "zdepth_textures": depths,
                                 "zdepth_offset": 0.02}})
    objects.append(dict(VASE, name="vase", texture="@projected"))
    # Every other generator on a smaller vase each, in a row behind.
    # The explicit generator's u and v come from the two UV sets.
    instances += [{"name": "set1", "type": "UVWGenChannel", "params": {"uvw_channel": 1}},
                  {"name": "set2", "type": "UVWGenChannel", "params": {"uvw_channel": 2}},
                  {"name": "uOfSet2", "type": "TexUVW", "params": {"uvwgen": "@set2", "component": 0}},
                  {"name": "vOfSet1", "type": "TexUVW", "params": {"uvwgen": "@set1", "component": 1}}]
    others = [
        ("UVWGenChannel", {"uvw_channel": 2}, 8, False),
        ("UVWGenPlanarWorld", {"uvw_transform": identity(scale=2.0)}, 4, False),
        ("UVWGenObject", {"uvw_transform": identity(scale=3.0)}, 4, False),
        ("UVWGenExplicit", {"u": "@uOfSet2", "v": "@vOfSet1", "useSeparateParams": 2}, 6, False),
        ("UVWGenProjection", {"type": 3, "uvw_transform": identity(offset=(-2.3, -2.2, -0.45))},
         8, False),
        ("UVWGenEnvironment", {"mapping_type": "spherical"}, 24, True),
        ("UVWGenOstrel", {"map": 0, "channel": 1, "size_x": 0.25, "size_y": 0.25, "tile_x": 2,
                          "tile_y": 2, "rand_obj": 1, "seed": 3}, 4, False)]
    # Places on the floor that the projected vase hides none of.
    places = [(-3.4, 2.2), (-2.3, 2.2), (-1.2, 2.2), (1.2, 2.2), (2.3, 2.2), (3.4, 2.2), (2.2, -0.5)]
    for k, (kind, params, divisions, reflect) in enumerate(others):
        x, y = places[k]
        instances += [{"name": "gen%d" % k, "type": kind, "params": params},
                      {"name": "tex%d" % k, "type": "TexGrid",
                       "params": {"uvwgen": "@gen%d" % k, "divisions": divisions}}]
        objects.append(dict(VASE, center=[x, y, 0], scale=0.55, rotation=[90, 0, 20 * k],
                            texture="@tex%d" % k, reflect=reflect, object=k + 1))
    instances.append({"name": "floor", "type": "TexChecker",
                      "params": {"repeat": [1, 1, 0], "color1": [0.55, 0.55, 0.55],
                                 "color2": [0.45, 0.45, 0.45]}})
    objects.append({"shape": "plane", "center": [0, 0, 0], "size": [12, 10], "texture": "@floor"})
    return {"image": {"width": MAIN_SIZE[0], "height": MAIN_SIZE[1], "samples": 2},
            "camera": {"position": [0.2, -5.6, 2.6], "target": [0, 1.0, 0.6], "fov": 58},
            "instances": instances, "objects": objects, "environment": [0.6, 0.65, 0.72]}


def main():
    uvwhost = sys.argv[1] if len(sys.argv) > 1 else "build/release/host/uvwhost/uvwhost"
    os.makedirs(HERE, exist_ok=True)
    write_gltf(os.path.join(HERE, "vase.gltf"))
    for name, scene in (("vase_views.json", views_scene()), ("vase.json", main_scene())):
        with open(os.path.join(HERE, name), "w") as f:
            json.dump(scene, f, indent=1)
            f.write("\n")
    for view in VIEWS:
        subprocess.run([uvwhost, "render", "--quiet", "--scene", os.path.join(HERE, "vase_views.json"),
                        "--camera", view, "-o", os.path.join(HERE, view + ".png"), "--aov-depth",
                        os.path.join(HERE, view + "_depth.exr")], check=True)


if __name__ == "__main__":
    main()
