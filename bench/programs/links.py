def main():
    with open("page.html", encoding="utf-8") as f:
        lines = [line.rstrip("\r\n") for line in f]
    n = e = t = 0
    for _ in range(10):
        for line in lines:
            s = line
            while True:
                a = s.find("<a ")
                b = s.find(">", a + 1) if a >= 0 else -1
                if b < 0:
                    break
                tag = s[a:b + 1]
                s = s[:a] + s[b + 1:]
                p = tag.find('href="')
                q = tag.find(">", p + 1) if p >= 0 else -1
                h = tag[p + 6:q] if q >= 0 else ""
                q = h.find('"', 1)
                h = h[:q] if q >= 0 else ""
                if h:
                    n += 1
                    t += len(h)
                    if "://" in h:
                        e += 1
    return n, e, t


print(*main())
