# String building: a short string appended 200,000 times to one buffer.
proc main {} {
    set s ""
    for {set i 0} {$i < 200000} {incr i} {
        append s "hello"
    }
    puts [string length $s]
}
main
