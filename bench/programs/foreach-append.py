# foreach over a block with appends: a list of a thousand integers is
# walked three thousand times, each value plus one appended to a new list.
def main():
    src = []
    for i in range(1, 1001):
        src.append(i)
    total = 0
    out = None
    for _ in range(3000):
        out = []
        for v in src:
            out.append(v + 1)
        total = total + len(out)
    print(total, out[-1])


main()
