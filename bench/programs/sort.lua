-- 200,000 pseudo-random integers, sorted in ascending order.
-- The generator is x := (x * 1029 + 12345) mod 2^20, the same in every language.
local x = 1
local b = {}
for i = 1, 200000 do
    x = (x * 1029 + 12345) % 1048576
    b[i] = x
end
table.sort(b)
print(b[1] .. " " .. b[100000] .. " " .. b[200000])
