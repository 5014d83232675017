"""Shared: source-pixel map (px, py as float32, pixel centres at +0.5) for the 10 icosahedral diamonds, N x N each,
same geometry and formula as orbilune-cli: point affine on the face, lon=atan2(z,x), lat=atan(y/sqrt(x^2+z^2))
in float64 rounded to float32, px = hw-(hw*k1)*lon, py = hh-(hh*k2)*lat (float32, k1=1/pi, k2=2/pi)."""
import math, numpy as np

def diamonds():
    def sph(lon, lat): return np.array([math.cos(lat) * math.cos(lon), math.sin(lat), math.cos(lat) * math.sin(lon)])
    la, s = math.atan(0.5), math.pi / 180
    U = [sph(k * 72 * s, la) for k in range(5)]; L = [sph((36 + k * 72) * s, -la) for k in range(5)]
    Np, Sp = np.array([0., 1, 0]), np.array([0., -1, 0])
    return [(Np, U[k], U[(k + 1) % 5], L[k]) for k in range(5)] + [(U[(k + 1) % 5], L[k], L[(k + 1) % 5], Sp) for k in range(5)]

def diamond_map(d, N, W, H):
    A, B, C, D = d
    g = (np.arange(N, dtype=np.float64) + 0.5) / N
    u = g[None, :]; v = g[:, None]; up = (u + v) <= 1
    P = [np.where(up, A[c] + u * (B[c] - A[c]) + v * (C[c] - A[c]), D[c] + (1 - u) * (C[c] - D[c]) + (1 - v) * (B[c] - D[c])) for c in range(3)]
    lon = np.arctan2(P[2], P[0]).astype(np.float32)
    lat = np.arctan(P[1] / np.sqrt(P[0] * P[0] + P[2] * P[2])).astype(np.float32)
    hw, hh = np.float32(W / 2), np.float32(H / 2)
    k1, k2 = np.float32(1 / math.pi), np.float32(2 / math.pi)
    return hw - (hw * k1) * lon, hh - (hh * k2) * lat

def tga_header(w, h):
    hdr = bytearray(18); hdr[2] = 2; hdr[12:14] = w.to_bytes(2, 'little'); hdr[14:16] = h.to_bytes(2, 'little'); hdr[16] = 24
    return bytes(hdr)
