-- Lua strings are immutable: repeated concatenation is what the program does.
local s = ""
for i = 1, 100000 do s = s .. "x" end
local lines = {}
for i = 1, 100000 do lines[#lines + 1] = "line " .. tostring(i) end
local n = 0
for _, line in ipairs(lines) do if string.find(line, "7", 1, true) then n = n + 1 end end
print(#s .. " " .. n)
