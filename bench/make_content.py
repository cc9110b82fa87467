# The benchmark content: a game bundle of a few thousand files of mixed sizes, ~1.4 GB, some
# compressible and some not, made reproducibly under the folder given.
#   python3 bench/make_content.py <folder>
import os, random, sys
root = sys.argv[1]
rng = random.Random(7)
words = [bytes(rng.choice(b"abcdefghijklmnopqrstuvwxyz") for _ in range(rng.randint(2, 9))) for _ in range(5000)]
text = b" ".join(rng.choice(words) for _ in range(1_000_000))  # ~6 MB of word soup
def body(size):
    # Game data mixes what compresses (text, tables) with what does not (textures, audio).
    if rng.random() < 0.55:
        return os.urandom(size)
    start = rng.randrange(0, len(text) - 1)
    out = bytearray()
    while len(out) < size:
        out += text[start:start + size - len(out)]
        start = 0
    return bytes(out)
total = 0
count = 0
while total < 1_400_000_000:
    kind = rng.random()
    if kind < 0.79:
        size = rng.randint(512, 64 * 1024)
    elif kind < 0.99:
        size = rng.randint(64 * 1024, 2 * 1024 * 1024)
    else:
        size = rng.randint(8 * 1024 * 1024, 48 * 1024 * 1024)
    path = os.path.join(root, "Game.app/Contents/Resources", f"pack{count % 40:02d}", f"asset{count:05d}.dat")
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(body(size))
    total += size
    count += 1
macos = os.path.join(root, "Game.app/Contents/MacOS")
os.makedirs(macos, exist_ok=True)
with open(os.path.join(macos, "Game"), "w") as f:
    f.write('#!/bin/sh\necho $$ > "$(dirname "$0")/../../../game.pid"\nexec sleep 30\n')
os.chmod(os.path.join(macos, "Game"), 0o755)
print(f"{count + 1} files, {total / 2**20:.0f} MiB")
