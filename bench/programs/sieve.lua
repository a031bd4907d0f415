local n = 100000
local p = {"", ""}
for k = 2, n do p[#p + 1] = "1" end
local i, q = 2, 4
while q <= n do
  if p[i + 1] ~= "" then
    local j = q
    while j <= n do
      p[j + 1] = ""
      j = j + i
    end
  end
  i = i + 1
  q = i * i
end
local c = 0
for _, line in ipairs(p) do
  if line ~= "" then c = c + 1 end
end
print(c)
