local counts, order = {}, {}
for line in io.lines("words.txt") do
  line = line:gsub("\r$", "")
  for w in line:gmatch("[^ ]+") do
    if counts[w] then
      counts[w] = counts[w] + 1
    else
      counts[w] = 1
      order[#order + 1] = w
    end
  end
end
local out = {tostring(#order)}
for _ = 1, 5 do
  local best = 1
  for i = 2, #order do
    if counts[order[i]] > counts[order[best]] then best = i end
  end
  out[#out + 1] = "|" .. order[best] .. "|" .. counts[order[best]]
  table.remove(order, best)
end
print(table.concat(out, " "))
