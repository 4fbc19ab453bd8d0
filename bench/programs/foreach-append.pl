# foreach over a block with appends: an array of a thousand integers is
# walked three thousand times, each value plus one pushed on a new array.
use strict;
use warnings;

my @src;
push @src, $_ for 1 .. 1000;
my $total = 0;
my @out;
for (1 .. 3000) {
    @out = ();
    for my $v (@src) {
        push @out, $v + 1;
    }
    $total = $total + scalar(@out);
}
print "$total $out[-1]\n";
