#!/usr/bin/perl
# Walks one tag of a compound index with XBase::Index and prints the record
# numbers in the order it returns them.  Usage: read_tag.pl FILE TAG C|N
use strict;
use warnings;
use XBase::Index;

my ($file, $tag, $type) = @ARGV;
my $idx = XBase::cdx->new($file, 'tag' => $tag, 'type' => $type)
  or die "cannot open $tag: " . (XBase::Index->errstr || '?') . "\n";
$idx->prepare_select;
while (my ($key, $recno) = $idx->fetch) {
  print "$recno\n";
}
