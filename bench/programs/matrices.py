def main():
    n = 20
    a = [[0] * n for _ in range(n)]
    b = [[0] * n for _ in range(n)]
    s = 0
    for r in range(1, 201):
        for i in range(n):
            for j in range(n):
                a[i][j] = i + j + r
                b[i][j] = i - j
        c = [[sum(a[i][k] * b[k][j] for k in range(n)) for j in range(n)] for i in range(n)]
        for i in range(n):
            for j in range(n):
                s += c[i][j]
    return s


print(main())
