-- While loop on function locals: a function counts to four million in its
-- own locals, summing a small remainder.
local function count_up(n)
    local i = 0
    local s = 0
    while i < n do
        i = i + 1
        s = s + i % 7
    end
    return s
end

print(count_up(4000000))
