-- String building with append: the numbers 1 to 1,500,000, each followed by
-- a comma, appended to one string.
-- Lua strings are immutable, so the buffer is a table joined at the end.
local parts = {}
local n = 0
for i = 1, 1500000 do
    parts[n + 1] = tostring(i)
    parts[n + 2] = ","
    n = n + 2
end
local s = table.concat(parts)
print(#s)
