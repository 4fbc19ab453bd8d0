# 200,000 pseudo-random integers, sorted in descending order through a
# compare function.
# The generator is x := (x * 1029 + 12345) mod 2^20, the same in every language.
from functools import cmp_to_key


def descending(a, b):
    return (a < b) - (a > b)


def main():
    x = 1
    b = []
    for _ in range(200000):
        x = (x * 1029 + 12345) % 1048576
        b.append(x)
    b.sort(key=cmp_to_key(descending))
    print(b[0], b[99999], b[199999])


main()
