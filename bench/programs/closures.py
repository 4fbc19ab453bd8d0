# Functions made in a loop and called: a maker function answers a new
# function that closes over a factor; each one made is called
# twice, five hundred thousand times.
def make_scaler(k):
    def f(x):
        return x * k + 1
    return f


def main():
    total = 0
    for i in range(1, 500001):
        f = make_scaler(i % 10)
        total = total + f(3) + f(4)
    print(total)


main()
