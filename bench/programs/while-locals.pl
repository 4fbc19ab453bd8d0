# While loop on function locals: a function counts to four million in its
# own locals, summing a small remainder.
use strict;
use warnings;

sub count_up {
    my ($n) = @_;
    my $i = 0;
    my $s = 0;
    while ($i < $n) {
        $i = $i + 1;
        $s = $s + $i % 7;
    }
    return $s;
}

print count_up(4000000), "\n";
