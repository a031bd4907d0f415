local f = assert(io.open(arg[1] or "page.txt", "rb"))
local s = f:read("l")
f:close()
local c, t, pos = 0, 0, 1
while true do
  local a = string.find(s, "<td>", pos, true)
  if not a then break end
  local b = string.find(s, "</td>", a + 1, true)
  if not b then break end
  local cell = string.sub(s, a, b + 4)
  pos = b + 5
  c = c + 1
  t = t + tonumber(string.sub(cell, 5, -6))
end
print(c .. " " .. t)
