-- foreach over a block with appends: a table of a thousand integers is
-- walked three thousand times, each value plus one appended to a new table.
local src = {}
for i = 1, 1000 do
    src[#src + 1] = i
end
local total = 0
local out
for _ = 1, 3000 do
    out = {}
    for _, v in ipairs(src) do
        out[#out + 1] = v + 1
    end
    total = total + #out
end
print(total .. " " .. out[#out])
