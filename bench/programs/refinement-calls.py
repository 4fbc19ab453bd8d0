# Nested calls with a refinement: each step calls a function once plainly
# and once with its optional extra argument, a million times.
def scale(x, by=None):
    return x * by if by is not None else x


def step(x):
    return scale(x) + scale(x, by=3)


def main():
    s = 0
    for i in range(1, 1000001):
        s = s + step(i % 100)
    print(s)


main()
