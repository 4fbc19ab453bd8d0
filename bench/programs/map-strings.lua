-- Map insert and lookup: a million string keys made from a counter, each
-- put into a table and then looked up again; the values are summed.
local m = {}
local n = 1000000
local count = 0
for i = 1, n do
    local k = "k" .. i
    if m[k] == nil then count = count + 1 end
    m[k] = i % 1000
end
local total = 0
for i = 1, n do
    total = total + m["k" .. i]
end
print(string.format("%d %d", count, total))
