import sys
name = sys.argv[1] if len(sys.argv) > 1 else "page.txt"
with open(name, encoding="utf-8") as f:
    s = f.readline().rstrip("\r\n")
c = t = 0
pos = 0
while True:
    a = s.find("<td>", pos)
    if a < 0:
        break
    b = s.find("</td>", a + 1)
    if b < 0:
        break
    cell = s[a:b + 5]
    pos = b + 5
    c += 1
    t += int(cell[4:-5])
print(c, t)
