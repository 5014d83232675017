#!/usr/bin/python3
"""Peer: OpenCV cv2.remap on the same job as orbilune-cli (10 icosahedral diamonds, N x N, same geometry and
lon/lat->pixel formula), map computed with numpy (diamond_map.py), output written as 24-bit TGA like orbilune-cli.
usage: /usr/bin/python3 cv2_diamonds.py IN.png OUTDIR N [bilinear|nearest] [cv2_threads]
Debian packages: python3-opencv python3-numpy. Prints phase times on stderr."""
import sys, os, time, numpy as np, cv2
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from diamond_map import diamonds, diamond_map, tga_header
t0 = time.perf_counter()
src_path, outdir, N = sys.argv[1], sys.argv[2], int(sys.argv[3])
interp = cv2.INTER_NEAREST if (len(sys.argv) > 4 and sys.argv[4] == 'nearest') else cv2.INTER_LINEAR
if len(sys.argv) > 5: cv2.setNumThreads(int(sys.argv[5]))
img = cv2.imread(src_path, cv2.IMREAD_COLOR)            # BGR, HxWx3
H, W = img.shape[:2]
t1 = time.perf_counter()
tmap = tremap = twrite = 0.0
for f, d in enumerate(diamonds()):
    a = time.perf_counter()
    px, py = diamond_map(d, N, W, H)
    mx, my = px - np.float32(0.5), py - np.float32(0.5)   # cv2 maps address pixel centres at integers
    b = time.perf_counter()
    out = cv2.remap(img, mx, my, interp, borderMode=cv2.BORDER_WRAP)
    c = time.perf_counter()
    with open(f'{outdir}/diamond{f}.tga', 'wb') as fp:
        fp.write(tga_header(N, N)); fp.write(np.ascontiguousarray(out[::-1]).tobytes())
    d_ = time.perf_counter()
    tmap += b - a; tremap += c - b; twrite += d_ - c
t2 = time.perf_counter()
n = 10 * N * N
print(f'cv2 {cv2.__version__} threads={cv2.getNumThreads()} decode {t1-t0:.3f}s map(numpy) {tmap:.3f}s remap {tremap:.3f}s '
      f'({n/tremap/1e6:.1f} Mtexel/s) write {twrite:.3f}s total {t2-t0:.3f}s', file=sys.stderr)
