lines = []
for i in range(1, 100001):
    lines.append(str(i))
selected = [line for line in lines if "7" in line]
print(len(selected))
