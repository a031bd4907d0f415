local lines = {}
for line in io.lines("page.html") do lines[#lines + 1] = line:gsub("\r$", "") end
local n, e, t = 0, 0, 0
for _ = 1, 10 do
  for _, line in ipairs(lines) do
    local s = line
    while true do
      local a = string.find(s, "<a ", 1, true)
      local b = a and string.find(s, ">", a + 1, true)
      if not b then break end
      local tag = string.sub(s, a, b)
      s = string.sub(s, 1, a - 1) .. string.sub(s, b + 1)
      local p = string.find(tag, 'href="', 1, true)
      local q = p and string.find(tag, ">", p + 1, true)
      local h = q and string.sub(tag, p + 6, q - 1) or ""
      q = string.find(h, '"', 2, true)
      h = q and string.sub(h, 1, q - 1) or ""
      if h ~= "" then
        n = n + 1
        t = t + #h
        if string.find(h, "://", 1, true) then e = e + 1 end
      end
    end
  end
end
print(n .. " " .. e .. " " .. t)
