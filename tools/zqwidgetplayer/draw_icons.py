#!/usr/bin/env python3
# Draws the widget player's tab and list icons into imgs/ (64 x 64 RGBA PNG, no
# library beyond zlib): directory, playback, alarms, tag and download_white.
# Run from the repository root: python3 tools/zqwidgetplayer/draw_icons.py
import os
os.chdir(os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'imgs'))
import zlib, struct, math
N = 64
def png(path, px):
    raw = b''.join(b'\x00' + bytes(sum((px[y][x] for x in range(N)), ())) for y in range(N))
    def chunk(t, d): return struct.pack('>I', len(d)) + t + d + struct.pack('>I', zlib.crc32(t + d) & 0xffffffff)
    data = b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', N, N, 8, 6, 0, 0, 0)) + chunk(b'IDAT', zlib.compress(raw, 9)) + chunk(b'IEND', b'')
    open(path, 'wb').write(data)
def inside_poly(x, y, poly):
    c = False
    j = len(poly) - 1
    for i in range(len(poly)):
        xi, yi = poly[i]; xj, yj = poly[j]
        if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
            c = not c
        j = i
    return c
def render(shapes):
    # shapes: list of (test(x,y)->bool, rgba); 4x4 supersampling
    px = [[(0, 0, 0, 0)] * N for _ in range(N)]
    for y in range(N):
        for x in range(N):
            acc = [0.0] * 4
            for sy in range(4):
                for sx in range(4):
                    fx, fy = x + (sx + .5) / 4, y + (sy + .5) / 4
                    col = None
                    for test, rgba in shapes:
                        if test(fx, fy): col = rgba
                    if col:
                        for k in range(3): acc[k] += col[k] * col[3] / 255
                        acc[3] += col[3]
            a = acc[3] / 16
            if a > 0:
                px[y][x] = tuple(int(min(255, acc[k] / 16 * 255 / a)) for k in range(3)) + (int(a),)
    return px
W = (255, 255, 255, 255)
circle = lambda cx, cy, r: (lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r)
ring = lambda cx, cy, r0, r1: (lambda x, y: r0 * r0 <= (x - cx) ** 2 + (y - cy) ** 2 <= r1 * r1)
rect = lambda x0, y0, x1, y1: (lambda x, y: x0 <= x < x1 and y0 <= y < y1)
poly = lambda p: (lambda x, y: inside_poly(x, y, p))
# folder
png('directory.png', render([(poly([(6, 14), (26, 14), (31, 20), (58, 20), (58, 52), (6, 52)]), (240, 190, 70, 255)),
                             (rect(6, 26, 58, 52), (255, 210, 100, 255))]))
# playback: ring with a play triangle
png('playback.png', render([(ring(32, 32, 22, 27), W), (poly([(25, 19), (46, 32), (25, 45)]), W)]))
# alarms: bell
bell = [(32, 8), (40, 12), (44, 22), (45, 38), (52, 46), (12, 46), (19, 38), (20, 22), (24, 12)]
png('alarms.png', render([(poly(bell), (230, 60, 50, 255)), (circle(32, 51, 5), (230, 60, 50, 255))]))
# tag: label with a hole
tag = [(8, 8), (34, 8), (58, 32), (34, 56), (8, 30)]
png('tag.png', render([(poly(tag), (80, 200, 90, 255)), (circle(20, 20, 4), (0, 0, 0, 0))]))
# download arrow, white
png('download_white.png', render([(rect(28, 6, 36, 34), W), (poly([(16, 30), (48, 30), (32, 46)]), W), (rect(10, 52, 54, 58), W)]))
