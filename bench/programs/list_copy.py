L = []
for i in range(1, 1000001):
    L.append("line " + str(i))
for k in range(1, 101):
    C = list(L)
    C[k] = "x"
print(len(C), C[100])
