#!/bin/sh
# The projection round trip: the vase with a known texture (a checker through UVWGenChannel on
# its second UV set) rendered unlit from four cameras with their depth; the renders projected
# back through camera projections of the same cameras, blended by TexMultiProjection with the
# depth maps and baked into the first UV set; the bake compared with the known texture baked
# directly, over the texels some camera saw (the blend's alpha at least 0.99).
#
#   examples/vase/roundtrip.sh [OUT]      (OUT defaults to ./roundtrip)
#
# UVWHOST names the program (default: uvwhost on the PATH); RENDER the render size (768) and
# SIZE the baked texture size (256). Writes OUT/views/*, OUT/truth.exr, OUT/projected.exr and
# OUT/difference.png (ten times the difference), and prints PSNR and the share within 2/255.
set -eu
UVWHOST=${UVWHOST:-uvwhost}
RENDER=${RENDER:-768}
SIZE=${SIZE:-256}
OUT=${1:-roundtrip}
here=$(dirname "$0")
mkdir -p "$OUT/views"
cp "$here/vase.gltf" "$here/roundtrip_render.json" "$here/roundtrip_project.json" "$OUT/"
for camera in front left right back; do
    "$UVWHOST" render --scene "$OUT/roundtrip_render.json" --camera "$camera" --quiet \
        --width "$RENDER" --height "$RENDER" -o "$OUT/views/$camera.png" \
        --aov-depth "$OUT/views/${camera}_depth.exr"
done
"$UVWHOST" bake --scene "$OUT/roundtrip_render.json" --object vase --texture truth \
    --size "$SIZE" --samples 4 --quiet -o "$OUT/truth.exr"
"$UVWHOST" bake --scene "$OUT/roundtrip_project.json" --object vase --texture projected \
    --size "$SIZE" --samples 4 --alpha texture --quiet -o "$OUT/projected.exr"
"$UVWHOST" compare "$OUT/truth.exr" "$OUT/projected.exr" --min-alpha 0.99 \
    -o "$OUT/difference.png"
