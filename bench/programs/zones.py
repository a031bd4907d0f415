n = 0
with open("cells.txt", encoding="utf-8") as f:
    for line in f:
        rest = line
        while True:
            a = rest.find("<td>")
            if a < 0:
                break
            b = rest.find("</td>", a + 4)
            if b < 0:
                break
            value = rest[a:b + 5]
            rest = rest[:a] + rest[b + 5:]
            n += 1
print(n)
