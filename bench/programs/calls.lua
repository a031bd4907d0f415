local n = 0
local function bump() n = n + 1 end
for i = 1, 10000000 do bump() end
print(n)
