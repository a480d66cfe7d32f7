"""Writes about 2 GiB of files below TREE for the speed measurements: four
256 MiB files, 1-8 MiB files, and three thousand small ones.
  make_tree.py TREE"""
import os, random, sys
tree = sys.argv[1]
rng = random.Random(7)
MiB = 1 << 20
block = os.urandom(8 * MiB)  # content varies by offset; speed is what counts

def put(path, size):
    full = os.path.join(tree, path)
    os.makedirs(os.path.dirname(full), exist_ok=True)
    with open(full, "wb") as f:
        while size > 0:
            start = rng.randrange(0, MiB)
            piece = block[start:start + min(size, 4 * MiB)]
            f.write(piece)
            size -= len(piece)

# A game tree has its micro-client at the top, or qalManifest refuses it.
put("PelMicroLauncher.exe", 64 * 1024)
total = 64 * 1024
for i in range(4):
    put("big/pack%d.dat" % i, 256 * MiB)
    total += 256 * MiB
small = [rng.randrange(1, 64 * 1024) for _ in range(3000)]
for i, size in enumerate(small):
    put("small/d%02d/f%04d.dat" % (i % 40, i), size)
    total += size
i = 0
while total < 2048 * MiB:
    size = min(rng.randrange(MiB, 8 * MiB + 1), 2048 * MiB - total)
    put("medium/d%02d/m%04d.dat" % (i % 20, i), size)
    total += size
    i += 1
print("%d files, %.1f MiB" % (5 + len(small) + i, total / MiB))
