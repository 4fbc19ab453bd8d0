# Object field access: one field of an object grows by another, read and
# written as array elements, three million times.
proc main {} {
    array set o {x 0 y 3}
    for {set i 0} {$i < 3000000} {incr i} {
        set o(x) [expr {$o(x) + $o(y)}]
    }
    puts $o(x)
}
main
