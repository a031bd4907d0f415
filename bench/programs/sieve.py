def main():
    n = 100000
    p = ["", ""]
    for k in range(2, n + 1):
        p.append("1")
    i = 2
    q = 4
    while q <= n:
        if p[i]:
            j = q
            while j <= n:
                p[j] = ""
                j += i
        i += 1
        q = i * i
    c = 0
    for line in p:
        if line:
            c += 1
    return c


print(main())
