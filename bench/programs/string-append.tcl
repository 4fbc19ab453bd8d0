# String building with append: the numbers 1 to 1,500,000, each followed by
# a comma, appended to one string.
proc main {} {
    set s ""
    for {set i 1} {$i <= 1500000} {incr i} {
        append s $i
        append s ","
    }
    puts [string length $s]
}
main
