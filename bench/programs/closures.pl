# Functions made in a loop and called: a maker function answers a new
# function that closes over a factor; each one made is called
# twice, five hundred thousand times.
use strict;
use warnings;

sub make_scaler {
    my ($k) = @_;
    return sub { my ($x) = @_; return $x * $k + 1; };
}

my $total = 0;
for my $i (1 .. 500000) {
    my $f = make_scaler($i % 10);
    $total = $total + $f->(3) + $f->(4);
}
print $total, "\n";
