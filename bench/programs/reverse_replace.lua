local lines = {}
for line in io.lines("words.txt") do lines[#lines + 1] = line:gsub("\r$", "") end
local n = 0
for k = 1, #lines do
  local s = lines[k]
  local m = #s
  n = n + m
  local r = ""
  local i = m
  while i > 0 do
    local c = string.sub(s, i, i)
    r = r .. c
    i = i - 1
  end
  r = r:gsub("eht", "THE")
  lines[k] = r
end
local t = 0
for _, line in ipairs(lines) do
  if string.find(line, "THE", 1, true) then t = t + 1 end
end
print(t .. " " .. n .. " " .. lines[4])
