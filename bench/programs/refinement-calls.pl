# Nested calls with a refinement: each step calls a function once plainly
# and once with its optional extra argument, a million times.
use strict;
use warnings;

sub scale {
    my ($x, $by) = @_;
    return defined $by ? $x * $by : $x;
}

sub step {
    my ($x) = @_;
    return scale($x) + scale($x, 3);
}

my $s = 0;
for my $i (1 .. 1000000) {
    $s = $s + step($i % 100);
}
print $s, "\n";
