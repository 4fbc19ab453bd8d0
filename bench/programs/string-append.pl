# String building with append: the numbers 1 to 1,500,000, each followed by
# a comma, appended to one string.
use strict;
use warnings;

my $s = "";
for my $i (1 .. 1500000) {
    $s .= $i;
    $s .= ",";
}
print length($s), "\n";
