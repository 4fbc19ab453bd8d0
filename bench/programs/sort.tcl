# 200,000 pseudo-random integers, sorted in ascending order.
# The generator is x := (x * 1029 + 12345) mod 2^20, the same in every language.
proc main {} {
    set x 1
    set b {}
    for {set i 0} {$i < 200000} {incr i} {
        set x [expr {($x * 1029 + 12345) % 1048576}]
        lappend b $x
    }
    set b [lsort -integer $b]
    puts "[lindex $b 0] [lindex $b 99999] [lindex $b 199999]"
}
main
