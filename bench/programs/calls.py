n = 0
def bump():
    global n
    n += 1
def main():
    for i in range(10000000):
        bump()
main()
print(n)
