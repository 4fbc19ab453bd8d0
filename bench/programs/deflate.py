# Deflate and inflate of 10 MB of text: a 100 KB piece of words chosen by a
# small generator, written 100 times, packed as gzip and unpacked again.
import zlib


def main():
    words = ["the ", "of ", "and ", "series ", "block ", "word ", "value ", "compress ", "data ", "a ",
             "is ", "in ", "function ", "context ", "binary ", "string\n"]
    x = 1
    parts = []
    n = 0
    while n < 100000:
        x = (x * 75 + 74) % 65537
        w = words[x % 16]
        parts.append(w)
        n += len(w)
    piece = "".join(parts)
    data = (piece * 100).encode()
    c = zlib.compressobj(6, zlib.DEFLATED, 31)
    packed = c.compress(data) + c.flush()
    unpacked = zlib.decompress(packed, 31)
    print(len(unpacked), "true" if unpacked == data else "false")


main()
