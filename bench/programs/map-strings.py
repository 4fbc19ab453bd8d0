# Map insert and lookup: a million string keys made from a counter, each
# put into a dict and then looked up again; the values are summed.
def main():
    m = {}
    n = 1000000
    for i in range(1, n + 1):
        m["k" + str(i)] = i % 1000
    total = 0
    for i in range(1, n + 1):
        total += m["k" + str(i)]
    print(len(m), total)


main()
