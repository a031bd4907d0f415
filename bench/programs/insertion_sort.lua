local lines = {}
local x = 12345
for _ = 1, 3000 do
  x = x * 16807 % 2147483647
  local v = x % 100000
  local s = #lines
  local k = 0
  while k < s do
    if tonumber(lines[k + 1]) > v then break end
    k = k + 1
  end
  table.insert(lines, k + 1, tostring(v))
end
print(lines[1] .. " " .. lines[1501] .. " " .. lines[3000])
