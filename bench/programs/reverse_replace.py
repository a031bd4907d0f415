def main():
    with open("words.txt", encoding="utf-8") as f:
        lines = [line.rstrip("\r\n") for line in f]
    n = 0
    for k in range(len(lines)):
        s = lines[k]
        m = len(s)
        n += m
        r = ""
        i = m
        while i > 0:
            c = s[i - 1]
            r += c
            i -= 1
        r = r.replace("eht", "THE")
        lines[k] = r
    t = [line for line in lines if "THE" in line]
    return len(t), n, lines[3]


print(*main())
