def main():
    s = 0
    for i in range(1, 10000001):
        s = s + i * 2 - 1
    return s


print(main())
