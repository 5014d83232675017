#!/usr/bin/python3
"""The Python steps of scripts/make-readme-pictures.sh, which runs orbilune-cli between them:

  maps WORK          the data maps to convert: WORK/etopo5.tif, the ETOPO5 relief as signed
                     16-bit heights, and WORK/clouds.png, a synthetic cloud map with alpha;
  composite WORK     the cloud textures (WORK/clouds, RGBA PNG) laid over the colour textures
                     (WORK/area, TGA) by their alpha, into WORK/clouded as PNG;
  layout WORK ASSETS the pictures README.md shows, cropped, laid out and compressed from what
                     orbilune-cli made in WORK (textures, nets and globes), written into ASSETS.

Usage: /usr/bin/python3 scripts/make_readme_pictures.py maps|composite WORK
       /usr/bin/python3 scripts/make_readme_pictures.py layout WORK ASSETS
Debian packages: python3-numpy, python3-opencv, ferret-datasets (installed by the shell script)."""
import os
import sys

import cv2
import numpy as np

JPEG = [cv2.IMWRITE_JPEG_QUALITY, 88, cv2.IMWRITE_JPEG_OPTIMIZE, 1]
PNG = [cv2.IMWRITE_PNG_COMPRESSION, 9]
BACKGROUND = (32, 32, 32)  # the grey around the net
TEXT = (235, 235, 235)
ETOPO5 = "/usr/share/ferret-vis/data/etopo5.cdf"  # Debian's ferret-datasets


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


def read(path, flags=cv2.IMREAD_COLOR):
    picture = cv2.imread(path, flags)
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


def read_netcdf_variable(path, wanted):
    """One variable of a netCDF classic (CDF-1 or CDF-2) file as a NumPy array."""
    data = open(path, "rb").read()
    if data[:3] != b"CDF" or data[3] not in (1, 2):
        raise SystemExit(f"{path}: not a netCDF classic file")
    offset_bytes = 4 if data[3] == 1 else 8
    at = 8  # past the magic and the record count
    types = {1: ">i1", 2: "S1", 3: ">i2", 4: ">i4", 5: ">f4", 6: ">f8"}

    def integer(size=4):
        nonlocal at
        value = int.from_bytes(data[at:at + size], "big", signed=True)
        at += size
        return value

    def name():
        nonlocal at
        length = integer()
        text = data[at:at + length].decode()
        at += (length + 3) // 4 * 4
        return text

    def skip_attributes():
        nonlocal at
        integer()  # NC_ATTRIBUTE, or ABSENT
        for _ in range(integer()):
            name()
            kind, count = integer(), integer()
            at += (count * np.dtype(types[kind]).itemsize + 3) // 4 * 4

    integer()  # NC_DIMENSION, or ABSENT
    dimensions = []
    for _ in range(integer()):
        name()
        dimensions.append(integer())
    skip_attributes()
    integer()  # NC_VARIABLE, or ABSENT
    for _ in range(integer()):
        variable = name()
        shape = [dimensions[integer()] for _ in range(integer())]
        skip_attributes()
        kind, _, begin = integer(), integer(), integer(offset_bytes)
        if variable == wanted:
            return np.frombuffer(data, types[kind], int(np.prod(shape)), begin).reshape(shape)
    raise SystemExit(f"{path}: no variable {wanted}")


def relief_map(path):
    """ETOPO5's heights and depths in metres (-10376 to 7833) as a 4320 x 2160 equirectangular
    map, north up and 180 degrees west at the left. The file's grid runs from the south pole to
    the north pole, both included (2161 rows), and from 0 degrees east: its rows are turned
    north first, the south pole's row dropped, and its columns turned round by half the width."""
    heights = read_netcdf_variable(path, "ROSE")
    if heights.shape != (2161, 4320):
        raise SystemExit(f"{path}: ROSE is {heights.shape}, not the 2161 x 4320 of ETOPO5")
    heights = heights[::-1][:2160]
    return np.roll(heights, 2160, axis=1).astype(np.int16)


def fractal_noise(rng, height, width, slope, stretch):
    """Noise that wraps round the map, by spectral synthesis: amplitude falling as the
    frequency to the power -slope, nothing larger than a quarter of the map, features `stretch`
    times longer from west to east than from north to south. Zero mean, unit deviation."""
    north = np.fft.fftfreq(height)[:, None] * height  # cycles from pole to pole
    east = np.fft.rfftfreq(width)[None, :] * width / 2  # cycles in 180 degrees of longitude
    frequency = np.maximum(np.hypot(east * stretch, north), 4.0)
    spectrum = (rng.standard_normal(frequency.shape) + 1j * rng.standard_normal(frequency.shape))
    field = np.fft.irfft2(spectrum * frequency ** -slope, s=(height, width))
    return (field - field.mean()) / field.std()


def cloud_map(height, width):
    """A plausible cloud map, BGRA, made from a fixed seed: fractal noise swirled by two smooth
    fields, thicker along the intertropical band and the storm tracks near 55 degrees, thinner
    over the subtropics. Alpha is the cloud's cover; its colour white to light grey, and black
    where the alpha is 0 (as many cloud maps are stored: a filter that took transparent pixels'
    colour would darken the clouds' edges)."""
    rng = np.random.default_rng(20261207)
    latitude = 90 - (np.arange(height) + 0.5) * 180 / height

    def band(centre, width_degrees):
        return np.exp(-((latitude - centre) / width_degrees) ** 2)

    cover = 0.15 + 0.55 * band(6, 7) + 0.6 * band(52, 14) + 0.65 * band(-55, 12) \
        - 0.3 * band(25, 8) - 0.3 * band(-25, 8)
    base = fractal_noise(rng, height, width, 1.5, 2.5).astype(np.float32)
    east = (fractal_noise(rng, height, width, 2.0, 1.5) * 16).astype(np.float32)
    north = (fractal_noise(rng, height, width, 2.0, 1.5) * 8).astype(np.float32)
    rows, columns = np.mgrid[0:height, 0:width].astype(np.float32)
    base = cv2.remap(base, columns + east, rows + north, cv2.INTER_LINEAR, borderMode=cv2.BORDER_WRAP)
    field = base + 0.35 * fractal_noise(rng, height, width, 0.9, 1.0) + (cover[:, None] - 0.5) * 2.5
    alpha = np.round(np.clip((field - 0.1) / 1.4, 0, 1) ** 0.8 * 255).astype(np.uint8)
    grey = np.where(alpha > 0, 200 + 55 * np.clip(field / 3, 0, 1), 0).astype(np.uint8)
    return np.dstack([grey, grey, grey, alpha])


def make_maps(work):
    write(f"{work}/etopo5.tif", relief_map(ETOPO5), [])
    write(f"{work}/clouds.png", cloud_map(1024, 2048), PNG)


def composite(work):
    """Each cloud texture over the colour texture of the same diamond, by its straight alpha."""
    os.makedirs(f"{work}/clouded", exist_ok=True)
    for k in range(1, 11):
        earth = read_tga(f"{work}/area/new{k}.tga").astype(np.float32)
        clouds = read(f"{work}/clouds/new{k}.png", cv2.IMREAD_UNCHANGED).astype(np.float32)
        alpha = clouds[:, :, 3:] / 255
        mixed = clouds[:, :, :3] * alpha + earth * (1 - alpha)
        if not cv2.imwrite(f"{work}/clouded/new{k}.png", np.round(mixed).astype(np.uint8)):
            raise SystemExit(f"{work}/clouded/new{k}.png: cannot write")


def layout(work, assets):
    # Filters side by side: texels 64..159 across and 0..95 down of new2.tga, the Canadian
    # Arctic Archipelago and its sea ice (about 63 to 83 degrees north), where a texel spans
    # several of the map's pixels from east to west, so nearest picks one of them and speckles.
    texture, left, top, side, scale, gap, caption = 2, 64, 0, 96, 4, 6, 30
    panels = []
    for name in ("nearest", "bilinear", "area"):
        crop = read_tga(f"{work}/{name}/new{texture}.tga")[top:top + side, left:left + side]
        enlarged = cv2.resize(crop, (side * scale, side * scale), interpolation=cv2.INTER_NEAREST)
        panel = np.full((side * scale + caption, side * scale, 3), BACKGROUND, np.uint8)
        panel[:side * scale] = enlarged
        font, size, thickness = cv2.FONT_HERSHEY_SIMPLEX, 0.6, 1
        (text_width, text_height), _ = cv2.getTextSize(name, font, size, thickness)
        origin = ((side * scale - text_width) // 2, side * scale + (caption + text_height) // 2)
        cv2.putText(panel, name, origin, font, size, TEXT, thickness, cv2.LINE_AA)
        if panels:
            panels.append(np.full((panel.shape[0], gap, 3), BACKGROUND, np.uint8))
        panels.append(panel)
    write(f"{assets}/filters-side-by-side.png", np.hstack(panels), PNG)

    write(f"{assets}/sample-net.jpg", narrower(read(f"{work}/net.png"), 1400), JPEG)
    write(f"{assets}/sample-globes.jpg", read(f"{work}/globes.png"), JPEG)
    write(f"{assets}/pattern-net.jpg", narrower(read(f"{work}/pattern-net.png"), 1200), JPEG)
    write(f"{assets}/relief-net.jpg", narrower(read(f"{work}/relief-net.png"), 1400), JPEG)
    # The cloud textures alone (alpha over the checkerboard), then laid over the colour map.
    views = [read(f"{work}/clouds-globe.png"), read(f"{work}/clouded-globes.png")]
    write(f"{assets}/clouds-globes.jpg", np.hstack(views), JPEG)


steps = {"maps": (make_maps, 1), "composite": (composite, 1), "layout": (layout, 2)}
if len(sys.argv) < 2 or sys.argv[1] not in steps or len(sys.argv) != 2 + steps[sys.argv[1]][1]:
    raise SystemExit(__doc__)
step, _ = steps[sys.argv[1]]
step(*sys.argv[2:])
