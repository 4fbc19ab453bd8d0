# Integer loop: ten million turns of a counter, summing a small remainder.
# The loop runs inside a proc so that its variables are compiled locals.
proc main {} {
    set i 0
    set s 0
    while {$i < 10000000} {
        incr i
        set s [expr {$s + $i % 7}]
    }
    puts $s
}
main
