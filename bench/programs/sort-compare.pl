# 200,000 pseudo-random integers, sorted in descending order through a
# compare function.
# The generator is x := (x * 1029 + 12345) mod 2^20, the same in every language.
use strict;
use warnings;

my $x = 1;
my @b;
for (1 .. 200000) {
    $x = ($x * 1029 + 12345) % 1048576;
    push @b, $x;
}
# A named comparison sub: an inline { $b <=> $a } would be recognised and
# replaced by a built-in numeric sort.
sub descending { return $b <=> $a }

@b = sort descending @b;
print "$b[0] $b[99999] $b[199999]\n";
