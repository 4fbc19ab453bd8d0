# While loop on function locals: a function counts to four million in its
# own locals, summing a small remainder.
proc count_up {n} {
    set i 0
    set s 0
    while {$i < $n} {
        incr i
        set s [expr {$s + $i % 7}]
    }
    return $s
}
puts [count_up 4000000]
