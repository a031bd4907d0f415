s = ""
for i in range(100000):
    s += "x"
lines = []
for i in range(1, 100001):
    lines.append("line " + str(i))
selected = [line for line in lines if "7" in line]
print(len(s), len(selected))
