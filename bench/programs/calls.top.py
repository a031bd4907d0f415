n = 0
def bump():
    global n
    n += 1
for i in range(10000000):
    bump()
print(n)
