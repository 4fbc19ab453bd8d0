-- Nested calls with a refinement: each step calls a function once plainly
-- and once with its optional extra argument, a million times.
local function scale(x, by)
    if by ~= nil then return x * by end
    return x
end

local function step(x)
    return scale(x) + scale(x, 3)
end

local s = 0
for i = 1, 1000000 do
    s = s + step(i % 100)
end
print(s)
