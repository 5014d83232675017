#!/usr/bin/python3
"""Lays out the pictures that README.md shows from what scripts/make-readme-pictures.sh made
with orbilune-cli in WORK (the textures at 512 with each filter, the nets and the globes),
and writes them into ASSETS.
Usage: /usr/bin/python3 scripts/make_readme_pictures.py WORK ASSETS
Debian packages: python3-numpy, python3-opencv (installed by the shell script)."""
import sys

import cv2
import numpy as np

work, assets = sys.argv[1], sys.argv[2]
JPEG = [cv2.IMWRITE_JPEG_QUALITY, 88, cv2.IMWRITE_JPEG_OPTIMIZE, 1]
PNG = [cv2.IMWRITE_PNG_COMPRESSION, 9]
BACKGROUND = (32, 32, 32)  # the grey around the net
TEXT = (235, 235, 235)


def read_tga(path):
    """An uncompressed true-colour TGA file as rows of BGR pixels, top row first."""
    data = np.fromfile(path, np.uint8)
    id_length, colour_map, kind = data[0], data[1], data[2]
    if colour_map != 0 or kind != 2 or data[16] not in (24, 32):
        raise SystemExit(f"{path}: not an uncompressed 24- or 32-bit TGA file")
    width = int(data[12]) | int(data[13]) << 8
    height = int(data[14]) | int(data[15]) << 8
    channels = data[16] // 8
    start = 18 + id_length
    pixels = data[start:start + width * height * channels].reshape(height, width, channels)
    if not data[17] & 0x20:  # rows stored bottom first
        pixels = pixels[::-1]
    if data[17] & 0x10:  # columns stored right first
        pixels = pixels[:, ::-1]
    return np.ascontiguousarray(pixels[:, :, :3])


def read(path):
    picture = cv2.imread(path, cv2.IMREAD_COLOR)
    if picture is None:
        raise SystemExit(f"{path}: cannot read")
    return picture


def narrower(picture, width):
    """The picture scaled down to the given width, or unchanged if it is no wider."""
    height, old_width = picture.shape[:2]
    if old_width <= width:
        return picture
    return cv2.resize(picture, (width, round(height * width / old_width)),
                      interpolation=cv2.INTER_AREA)


def write(path, picture, options):
    if not cv2.imwrite(path, picture, options):
        raise SystemExit(f"{path}: cannot write")
    print(f"wrote {path} ({picture.shape[1]} x {picture.shape[0]})")


# Filters side by side: texels 64..159 across and 0..95 down of new2.tga, the Canadian
# Arctic Archipelago and its sea ice (about 63 to 83 degrees north), where a texel spans
# several of the map's pixels from east to west, so nearest picks one of them and speckles.
TEXTURE, LEFT, TOP, SIDE, SCALE, GAP, CAPTION = 2, 64, 0, 96, 4, 6, 30
panels = []
for name in ("nearest", "bilinear", "area"):
    crop = read_tga(f"{work}/{name}/new{TEXTURE}.tga")[TOP:TOP + SIDE, LEFT:LEFT + SIDE]
    enlarged = cv2.resize(crop, (SIDE * SCALE, SIDE * SCALE), interpolation=cv2.INTER_NEAREST)
    panel = np.full((SIDE * SCALE + CAPTION, SIDE * SCALE, 3), BACKGROUND, np.uint8)
    panel[:SIDE * SCALE] = enlarged
    font, size, thickness = cv2.FONT_HERSHEY_SIMPLEX, 0.6, 1
    (text_width, text_height), _ = cv2.getTextSize(name, font, size, thickness)
    origin = ((SIDE * SCALE - text_width) // 2, SIDE * SCALE + (CAPTION + text_height) // 2)
    cv2.putText(panel, name, origin, font, size, TEXT, thickness, cv2.LINE_AA)
    if panels:
        panels.append(np.full((panel.shape[0], GAP, 3), BACKGROUND, np.uint8))
    panels.append(panel)
write(f"{assets}/filters-side-by-side.png", np.hstack(panels), PNG)

write(f"{assets}/sample-net.jpg", narrower(read(f"{work}/net.png"), 1400), JPEG)
write(f"{assets}/sample-globes.jpg", read(f"{work}/globes.png"), JPEG)
write(f"{assets}/pattern-net.jpg", narrower(read(f"{work}/pattern-net.png"), 1200), JPEG)
