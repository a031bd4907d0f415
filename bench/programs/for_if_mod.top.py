s = 0
for i in range(1, 10000001):
    if i % 3 == 0:
        s += i
print(s)
