#!/usr/bin/perl
# Prints the record numbers of one tag of a compound index in the order an
# independent reader (XBase::Index) walks it.  Usage: read_tag.pl FILE TAG C|N
use strict;
use warnings;
use XBase::Index;

my ($file, $tag, $type) = @ARGV;
my $index = XBase::cdx->new($file, 'tag' => $tag, 'type' => $type)
  or die "cannot open tag $tag: " . (XBase::Index->errstr || '?') . "\n";
$index->prepare_select;
while (my ($key, $recno) = $index->fetch) {
  print "$recno\n";
}
