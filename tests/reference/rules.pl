#!/usr/bin/perl
# The five layout rules in perl, an engine independent of ours: the
# reference that the filter is compared with, and the baseline the
# benchmarks measure against. Reads bytes, writes bytes.
binmode STDIN;
binmode STDOUT;
local $/;
$_ = <STDIN>;
$_ = '' unless defined;
s/[\r\n ]+/ /g;
s/(,)/$1\r\n       /g;
s/ ((where)|(order))/\r\n$1/gi;
s/ ((and)|(from))/\r\n  $1/gi;
s/ (or)/\r\n   $1/gi;
print;
