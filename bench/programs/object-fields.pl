# Object field access: one field of an object grows by another, read and
# written as hash fields of a reference, three million times.
use strict;
use warnings;

my $o = {x => 0, y => 3};
for (1 .. 3000000) {
    $o->{x} = $o->{x} + $o->{y};
}
print $o->{x}, "\n";
