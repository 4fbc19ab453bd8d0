# parse over a large text: counts the words (runs of ASCII letters) of about
# 3 MB of generated text with a regular-expression loop.
import re


def main():
    letters = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
    gaps = [" ", " ", " ", ", ", ".\n", " - ", "  "]
    x = 1
    parts = []
    for _ in range(5000):
        x = (x * 75 + 74) % 65537
        for _ in range(1 + x % 9):
            x = (x * 75 + 74) % 65537
            parts.append(letters[x % 52])
        x = (x * 75 + 74) % 65537
        parts.append(gaps[x % 7])
    text = "".join(parts) * 100

    word = re.compile(r"[a-zA-Z]+")
    count = 0
    for _ in word.finditer(text):
        count += 1
    print(count)


main()
