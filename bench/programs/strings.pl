# String building: a short string appended 200,000 times to one buffer.
use strict;
use warnings;

my $s = "";
for (1 .. 200000) {
    $s .= "hello";
}
print length($s), "\n";
