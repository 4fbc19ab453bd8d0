# 200,000 pseudo-random integers, sorted in ascending order.
# The generator is x := (x * 1029 + 12345) mod 2^20, the same in every language.
use strict;
use warnings;

my $x = 1;
my @b;
for (1 .. 200000) {
    $x = ($x * 1029 + 12345) % 1048576;
    push @b, $x;
}
@b = sort { $a <=> $b } @b;
print "$b[0] $b[99999] $b[199999]\n";
