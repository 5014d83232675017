#!/usr/bin/python3
"""The Python steps of scripts/make-readme-pictures.sh, which runs orbilune-cli between them:

  maps WORK          the data maps to convert: WORK/etopo5.tif, the ETOPO5 relief as signed
                     16-bit heights, and WORK/clouds.png, a synthetic cloud map with alpha;
  composite WORK     the cloud textures (WORK/clouds, RGBA PNG) laid over the colour textures
                     (WORK/area, TGA) by their alpha, into WORK/clouded as PNG;
  layout WORK ASSETS the pictures README.md shows, cropped, laid out and compressed from what
                     orbilune-cli made in WORK (textures, nets and globes), written into ASSETS;
  seam WORK ASSETS   ASSETS/seam-border.png: the seam between new1 and new6 (WORK/seam0 and
                     WORK/seam1, PNG at 64 with --border 0 and 1) magnified as a GPU's
                     clamp-to-edge bilinear filter shows it.

Usage: /usr/bin/python3 scripts/make_readme_pictures.py maps|composite WORK
       /usr/bin/python3 scripts/make_readme_pictures.py layout|seam WORK ASSETS
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


# The two diamonds of the seam picture, as generator/icosa_diamonds.cpp lays them out (the
# vertices rounded to float, as the renderer takes them): the pole, the ends of the top row
# (u) and of the left column (v), and the far corner. new1's bottom edge (v = 1) is new6's
# bottom edge too, run the other way: a seam between two far edges, which hold no texel on
# the edge itself.
NEW1 = [(0.0, 100.0, 0.0), (89.442703, 44.721401, 0.0), (27.639299, 44.721401, 85.065102),
        (72.360703, -44.721401, 52.573101)]
NEW6 = [(0.0, -100.0, 0.0), (-27.639299, -44.721401, 85.065102), (72.360703, -44.721401, 52.573101),
        (27.639299, 44.721401, 85.065102)]


def diamond_point(corners, u, v):
    """The point of a diamond at (u, v), on the plane of the triangle (u, v) falls in, carried
    on past the diamond's edges: the renderer's diamondPoint (generator/geometry.h)."""
    p0, p1, p2, p3 = (np.float64(np.float32(corner)) for corner in corners)
    u, v = u[..., None], v[..., None]
    return np.where(u + v > 1, p3 + (1 - u) * (p2 - p3) + (1 - v) * (p1 - p3),
                    p0 + u * (p1 - p0) + v * (p2 - p0))


def diamond_uv(corners, points):
    """Where the directions of `points` meet a diamond's planes, as its (u, v): the inverse of
    diamond_point (locateInDiamond, generator/icosa_diamonds.cpp)."""
    p0, p1, p2, p3 = (np.float64(np.float32(corner)) for corner in corners)
    found = []
    for corner, e1, e2 in ((p0, p1 - p0, p2 - p0), (p3, p2 - p3, p1 - p3)):
        normal = np.cross(e1, e2)
        on_plane = points * ((normal @ corner) / (points @ normal))[..., None] - corner
        found.append((on_plane @ (np.cross(e2, normal) / (normal @ normal)),
                      on_plane @ (np.cross(normal, e1) / (normal @ normal))))
    (a, b), (far_a, far_b) = found
    pole = a + b <= 1
    return np.where(pole, a, 1 - far_a), np.where(pole, b, 1 - far_b)


def gpu_bilinear(texture, n, border, u, v):
    """A GPU's bilinear read of a texture of side n + 2 border with clamp-to-edge addressing at
    the diamond's (u, v), through the texture coordinates docs/gpu.md gives: texel x stands
    for u = (x - border) / n, so s = (u n + border + 0.5) / (n + 2 border)."""
    side = texture.shape[0]
    s, t = (u * n + border + 0.5) / side, (v * n + border + 0.5) / side
    x, y = s * side - 0.5, t * side - 0.5  # the GPU's texel space: texel centres at integers
    x0, y0 = np.floor(x), np.floor(y)
    fx, fy = (x - x0)[..., None], (y - y0)[..., None]
    columns = [np.clip(x0 + i, 0, side - 1).astype(int) for i in (0, 1)]
    rows = [np.clip(y0 + i, 0, side - 1).astype(int) for i in (0, 1)]
    texels = texture.astype(np.float64)
    return ((1 - fy) * ((1 - fx) * texels[rows[0], columns[0]] + fx * texels[rows[0], columns[1]]) +
            fy * ((1 - fx) * texels[rows[1], columns[0]] + fx * texels[rows[1], columns[1]]))


def seam(work, assets):
    """new1's bottom edge, where it meets new6 on the coast of the Guianas, 16 texels along it
    (texels 18 to 33 of N = 64) and 6 texels on either side, each texel 16 pixels: new1's
    texture is read on its side of the seam and new6's on the other, at the same directions,
    as a GPU draws the sphere. Without a border each texture ends a texel short of the edge and
    clamping stretches its last texel up to it, so the coast steps; with one ring both textures
    hold the edge and the texels past it, and the coast runs on."""
    n, first, along, across, scale, gap, caption = 64, 18, 16, 12, 16, 6, 30
    down = (np.arange(along * scale) + 0.5) / scale + first  # texels along the edge
    out = (np.arange(across * scale) + 0.5) / scale - across / 2  # texels past it, into new6
    down, out = np.meshgrid(down, out, indexing="ij")
    u, v = down / n, 1 + out / n  # in new1's (u, v), carried on past its edge
    new6_u, new6_v = diamond_uv(NEW6, diamond_point(NEW1, u, v))
    panels = []
    for border in (0, 1):
        textures = [read(f"{work}/seam{border}/new{k}.png") for k in (1, 6)]
        side = n + 2 * border
        if any(texture.shape[:2] != (side, side) for texture in textures):
            raise SystemExit(f"{work}/seam{border}: not textures of {side} texels a side")
        mixed = np.where((out <= 0)[..., None], gpu_bilinear(textures[0], n, border, u, v),
                         gpu_bilinear(textures[1], n, border, new6_u, new6_v))
        strip = np.clip(np.round(mixed), 0, 255).astype(np.uint8)
        panel = np.full((strip.shape[0] + 2 * caption, strip.shape[1], 3), BACKGROUND, np.uint8)
        panel[caption:caption + strip.shape[0]] = strip
        middle = strip.shape[1] // 2  # the seam, marked above and below the strip
        for top in (caption - 10, caption + strip.shape[0] + 2):
            panel[top:top + 8, middle - 1:middle + 1] = TEXT
        label = f"--border {border}"
        font, size, thickness = cv2.FONT_HERSHEY_SIMPLEX, 0.6, 1
        (text_width, text_height), _ = cv2.getTextSize(label, font, size, thickness)
        origin = ((strip.shape[1] - text_width) // 2, panel.shape[0] - (caption - text_height) // 2)
        cv2.putText(panel, label, origin, font, size, TEXT, thickness, cv2.LINE_AA)
        if panels:
            panels.append(np.full((panel.shape[0], gap, 3), BACKGROUND, np.uint8))
        panels.append(panel)
    write(f"{assets}/seam-border.png", np.hstack(panels), PNG)


steps = {"maps": (make_maps, 1), "composite": (composite, 1), "layout": (layout, 2), "seam": (seam, 2)}
if len(sys.argv) < 2 or sys.argv[1] not in steps or len(sys.argv) != 2 + steps[sys.argv[1]][1]:
    raise SystemExit(__doc__)
step, _ = steps[sys.argv[1]]
step(*sys.argv[2:])
