# parse over a large text: counts the words (runs of ASCII letters) of about
# 3 MB of generated text with a regular-expression loop.
use strict;
use warnings;

my $letters = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
my @gaps = (" ", " ", " ", ", ", ".\n", " - ", "  ");
my $x = 1;
my $chunk = "";
for (1 .. 5000) {
    $x = ($x * 75 + 74) % 65537;
    for (1 .. 1 + $x % 9) {
        $x = ($x * 75 + 74) % 65537;
        $chunk .= substr($letters, $x % 52, 1);
    }
    $x = ($x * 75 + 74) % 65537;
    $chunk .= $gaps[$x % 7];
}
my $text = $chunk x 100;

my $count = 0;
$count++ while $text =~ /[a-zA-Z]+/g;
print "$count\n";
