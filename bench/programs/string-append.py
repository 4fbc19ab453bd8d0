# String building with append: the numbers 1 to 1,500,000, each followed by
# a comma, appended to one string.
# The string is a local: only then can CPython grow it in place.
def main():
    s = ""
    for i in range(1, 1500001):
        s += str(i)
        s += ","
    print(len(s))


main()
