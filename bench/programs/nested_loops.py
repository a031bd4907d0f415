def main():
    n = 400
    c = s = 0
    for i in range(1, n + 1):
        for j in range(1, n + 1):
            p = i * j
            if p % 7 == 1:
                c += 1
                s += p
    return c, s


print(*main())
