local L = {}
for i = 1, 1000000 do L[#L + 1] = "line " .. tostring(i) end
local C
for k = 1, 100 do
  C = table.move(L, 1, #L, 1, {})
  C[k + 1] = "x"
end
print(#C .. " " .. C[101])
