def main():
    counts = {}
    with open("words.txt", encoding="utf-8") as f:
        for line in f:
            for w in line.rstrip("\r\n").split(" "):
                if w:
                    counts[w] = counts.get(w, 0) + 1
    out = [str(len(counts))]
    items = list(counts.items())
    for _ in range(5):
        best = 0
        for i in range(len(items)):
            if items[i][1] > items[best][1]:
                best = i
        w, c = items.pop(best)
        out.append(f"|{w}|{c}")
    return " ".join(out)


print(main())
