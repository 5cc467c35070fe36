"""The same closed body as bench/floor/HeightMapFloor.cpp, with numpy and numpy-stl: how a
person would script it today. usage: height_map_numpy_stl.py IN.pgm OUT.stl"""
import sys

import numpy as np
from stl import mesh


def read_pgm(path):
    with open(path, "rb") as f:
        data = f.read()
    fields, pos = [], 0
    while len(fields) < 4:
        while data[pos:pos + 1].isspace():
            pos += 1
        end = pos
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[pos:end])
        pos = end
    cols, rows = int(fields[1]), int(fields[2])
    return np.frombuffer(data, np.uint8, rows * cols, pos + 1).reshape(rows, cols)


def main():
    grey = read_pgm(sys.argv[1]).astype(np.float32)
    rows, cols = grey.shape
    ys, xs = np.mgrid[0:rows, 0:cols].astype(np.float32) * 0.1
    top = np.stack([xs, ys, 0.6 + grey * (0.1 * 19 / 255)], axis=-1)
    bottom = np.stack([xs, ys, np.zeros_like(xs)], axis=-1)
    a, b, c, d = (slice(1, None), slice(None, -1)), (slice(None, -1), slice(1, None)), \
        (slice(None, -1), slice(None, -1)), (slice(1, None), slice(1, None))
    quads = [np.stack([top[a], top[b], top[c]], axis=-2), np.stack([top[d], top[b], top[a]], axis=-2),
             np.stack([bottom[c], bottom[b], bottom[a]], axis=-2), np.stack([bottom[a], bottom[b], bottom[d]], axis=-2)]
    walls = []
    for edge in (top[:, 0], top[:, -1], top[0, :], top[-1, :]):
        low = edge.copy()
        low[:, 2] = 0
        walls.append(np.stack([edge[:-1], low[:-1], edge[1:]], axis=-2))
        walls.append(np.stack([edge[1:], low[:-1], low[1:]], axis=-2))
    triangles = np.concatenate([q.reshape(-1, 3, 3) for q in quads] + walls)
    body = mesh.Mesh(np.zeros(len(triangles), dtype=mesh.Mesh.dtype))
    body.vectors[:] = triangles
    body.update_normals()
    body.save(sys.argv[2], mode=mesh.stl.Mode.BINARY)


main()
