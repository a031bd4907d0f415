local n = 20
local a, b = {}, {}
for i = 0, n - 1 do a[i] = {}; b[i] = {} end
local s = 0
for r = 1, 200 do
  for i = 0, n - 1 do
    for j = 0, n - 1 do
      a[i][j] = i + j + r
      b[i][j] = i - j
    end
  end
  local c = {}
  for i = 0, n - 1 do
    c[i] = {}
    for j = 0, n - 1 do
      local x = 0
      for k = 0, n - 1 do x = x + a[i][k] * b[k][j] end
      c[i][j] = x
    end
  end
  for i = 0, n - 1 do
    for j = 0, n - 1 do s = s + c[i][j] end
  end
end
print(s)
