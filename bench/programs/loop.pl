# Integer loop: ten million turns of a counter, summing a small remainder.
use strict;
use warnings;

my $i = 0;
my $s = 0;
while ($i < 10000000) {
    $i = $i + 1;
    $s = $s + $i % 7;
}
print $s, "\n";
