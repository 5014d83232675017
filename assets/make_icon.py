#!/usr/bin/env python3
"""Makes assets/orbilune.ico, the programs' icon: the sample map seen as a globe.

The Earth of earth-2048x1024.jpg in orthographic projection, tilted towards the viewer and lit
from the upper left, on a transparent ground, drawn at 256 × 256 (four samples a pixel each
way); ImageMagick then makes the 16, 24, 32, 48 and 256 pixel images of the icon. Run once from
anywhere: python3 assets/make_icon.py (needs ImageMagick's convert)."""
import math
import os
import subprocess
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
SIZE = 256
SAMPLES = 4            # per pixel each way
MAP_W, MAP_H = 1024, 512
TILT = math.radians(20)       # the north pole leans towards the viewer
TURN = math.radians(-15)      # longitude at the centre: Africa and Europe
LIGHT = (-0.45, 0.55, 0.70)   # towards the light: left, up, in front


def read_map(folder):
    ppm = os.path.join(folder, "map.ppm")
    subprocess.run(["convert", os.path.join(HERE, "earth-2048x1024.jpg"), "-resize",
                    f"{MAP_W}x{MAP_H}!", "-depth", "8", f"ppm:{ppm}"], check=True)
    with open(ppm, "rb") as file:
        data = file.read()
    # P6 header: magic, width, height, maximum, each followed by one white-space byte.
    fields, at = [], 0
    while len(fields) < 4:
        while data[at:at + 1].isspace():
            at += 1
        start = at
        while not data[at:at + 1].isspace():
            at += 1
        fields.append(data[start:at])
    return data[at + 1:]


def main():
    with tempfile.TemporaryDirectory() as folder:
        pixels = read_map(folder)
        norm = math.sqrt(sum(c * c for c in LIGHT))
        light = [c / norm for c in LIGHT]
        radius = SIZE / 2 - 1.5
        out = bytearray()
        for row in range(SIZE):
            for column in range(SIZE):
                total = [0.0, 0.0, 0.0, 0.0]
                for sy in range(SAMPLES):
                    for sx in range(SAMPLES):
                        x = (column + (sx + 0.5) / SAMPLES - SIZE / 2) / radius
                        y = (SIZE / 2 - row - (sy + 0.5) / SAMPLES) / radius
                        r2 = x * x + y * y
                        if r2 > 1:
                            continue
                        z = math.sqrt(1 - r2)
                        # Undo the tilt about the x axis to find the point on the globe.
                        gy = y * math.cos(TILT) + z * math.sin(TILT)
                        gz = -y * math.sin(TILT) + z * math.cos(TILT)
                        lat = math.asin(max(-1.0, min(1.0, gy)))
                        lon = math.atan2(x, gz) + TURN
                        u = int((lon / (2 * math.pi) + 0.5) % 1.0 * MAP_W) % MAP_W
                        v = min(MAP_H - 1, int((0.5 - lat / math.pi) * MAP_H))
                        i = 3 * (v * MAP_W + u)
                        shade = 0.4 + 1.0 * max(0.0, x * light[0] + y * light[1] + z * light[2])
                        rim = 0.5 * (1 - z) ** 2  # a thin blue haze at the edge
                        for c, haze in enumerate((110, 170, 255)):
                            value = pixels[i + c] * shade
                            total[c] += min(255.0, value * (1 - rim) + haze * rim)
                        total[3] += 255
                count = SAMPLES * SAMPLES
                alpha = total[3] / count
                for c in range(3):
                    out.append(int(round(total[c] / max(1, total[3] / 255))) if alpha else 0)
                out.append(int(round(alpha)))
        pam = os.path.join(folder, "globe.pam")
        with open(pam, "wb") as file:
            file.write(f"P7\nWIDTH {SIZE}\nHEIGHT {SIZE}\nDEPTH 4\nMAXVAL 255\n"
                       f"TUPLTYPE RGB_ALPHA\nENDHDR\n".encode() + bytes(out))
        subprocess.run(["convert", pam, "-define", "icon:auto-resize=256,48,32,24,16",
                        os.path.join(HERE, "orbilune.ico")], check=True)


if __name__ == "__main__":
    main()
