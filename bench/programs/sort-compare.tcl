# 200,000 pseudo-random integers, sorted in descending order through a
# compare function.
# The generator is x := (x * 1029 + 12345) mod 2^20, the same in every language.
proc descending {p q} {
    expr {$p < $q ? 1 : ($p > $q ? -1 : 0)}
}

proc main {} {
    set x 1
    set b {}
    for {set i 0} {$i < 200000} {incr i} {
        set x [expr {($x * 1029 + 12345) % 1048576}]
        lappend b $x
    }
    set b [lsort -command descending $b]
    puts "[lindex $b 0] [lindex $b 99999] [lindex $b 199999]"
}
main
