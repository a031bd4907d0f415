local s = 0
for i = 1, 10000000 do if i % 3 == 0 then s = s + i end end
print(string.format("%d", s))
