local n = 0
local function bump() n = n + 1 end
for i = 1, 1000000 do bump() end
print(n)
