-- Object field access: one field of an object grows by another, read and
-- written as table fields, three million times.
local o = {x = 0, y = 3}
for _ = 1, 3000000 do
    o.x = o.x + o.y
end
print(o.x)
