# foreach over a block with appends: a list of a thousand integers is
# walked three thousand times, each value plus one appended to a new list.
proc main {} {
    set src {}
    for {set i 1} {$i <= 1000} {incr i} {
        lappend src $i
    }
    set total 0
    for {set n 0} {$n < 3000} {incr n} {
        set out {}
        foreach v $src {
            lappend out [expr {$v + 1}]
        }
        incr total [llength $out]
    }
    puts "$total [lindex $out end]"
}
main
