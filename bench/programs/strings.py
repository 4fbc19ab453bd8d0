# String building: a short string appended 200,000 times to one buffer.
# The buffer is a local: only then can CPython grow it in place.
def main():
    s = ""
    for _ in range(200000):
        s += "hello"
    print(len(s))


main()
