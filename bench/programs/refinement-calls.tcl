# Nested calls with a refinement: each step calls a function once plainly
# and once with its optional extra argument, a million times.
proc scale {x {by ""}} {
    if {$by ne ""} { return [expr {$x * $by}] }
    return $x
}
proc step {x} {
    return [expr {[scale $x] + [scale $x 3]}]
}
proc main {} {
    set s 0
    for {set i 1} {$i <= 1000000} {incr i} {
        set s [expr {$s + [step [expr {$i % 100}]]}]
    }
    puts $s
}
main
