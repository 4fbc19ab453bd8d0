-- Functions made in a loop and called: a maker function answers a new
-- function that closes over a factor; each one made is called
-- twice, five hundred thousand times.
local function make_scaler(k)
    return function(x) return x * k + 1 end
end

local total = 0
for i = 1, 500000 do
    local f = make_scaler(i % 10)
    total = total + f(3) + f(4)
end
print(total)
