local n = 400
local c, s = 0, 0
for i = 1, n do
  for j = 1, n do
    local p = i * j
    if p % 7 == 1 then
      c = c + 1
      s = s + p
    end
  end
end
print(c .. " " .. s)
