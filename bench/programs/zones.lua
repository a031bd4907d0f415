local n = 0
for line in io.lines("cells.txt") do
  local rest = line
  while true do
    local a = string.find(rest, "<td>", 1, true)
    if not a then break end
    local b = string.find(rest, "</td>", a + 4, true)
    if not b then break end
    rest = string.sub(rest, 1, a - 1) .. string.sub(rest, b + 5)
    n = n + 1
  end
end
print(n)
