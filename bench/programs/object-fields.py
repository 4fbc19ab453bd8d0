# Object field access: one field of an object grows by another, read and
# written as attributes, three million times.
class Point:
    def __init__(self, x, y):
        self.x = x
        self.y = y


def main():
    o = Point(0, 3)
    for _ in range(3000000):
        o.x = o.x + o.y
    print(o.x)


main()
