def main():
    lines = []
    x = 12345
    for _ in range(3000):
        x = x * 16807 % 2147483647
        v = x % 100000
        s = len(lines)
        k = 0
        while k < s:
            if int(lines[k]) > v:
                break
            k += 1
        lines.insert(k, str(v))
    return lines[0], lines[1500], lines[2999]


print(*main())
