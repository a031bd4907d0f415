local lines = {}
for line in io.lines("table.tsv") do lines[#lines + 1] = line:gsub("\r$", "") end
local nf, t = 0, 0
for _ = 1, 200 do
  for _, line in ipairs(lines) do
    local s = "\t" .. line .. "\t"
    local c = 0
    while true do
      local a = string.find(s, "\t", 1, true)
      local b = a and string.find(s, "\t", a + 1, true)
      if not b then break end
      local v = string.sub(s, a, b - 1)
      s = string.sub(s, 1, a - 1) .. string.sub(s, b)
      c = c + 1
      local w = string.sub(v, 2)
      if c == 4 then t = t + tonumber(w) end
    end
    nf = nf + c
  end
end
print(nf .. " " .. t)
