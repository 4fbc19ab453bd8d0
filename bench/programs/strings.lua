-- String building: a short string appended 200,000 times to one buffer.
-- Lua strings are immutable, so the buffer is a table joined at the end
-- (repeated .. would copy the whole string each time).
local parts = {}
for i = 1, 200000 do
    parts[i] = "hello"
end
local s = table.concat(parts)
print(#s)
