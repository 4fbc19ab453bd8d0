# Start-up: the interpreter comes up, prints one value and ends.
print "0\n";
