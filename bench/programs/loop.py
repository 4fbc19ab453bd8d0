# Integer loop: ten million turns of a counter, summing a small remainder.
# The loop runs inside a function so that its variables are locals.
def main():
    i = 0
    s = 0
    while i < 10000000:
        i = i + 1
        s = s + i % 7
    print(s)


main()
