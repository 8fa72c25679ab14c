#!/usr/bin/perl
# Writes the program's icon (.ico) to the file named by the first argument: a blue tile
# with rounded corners and a white "L", as the Qt form draws it, at the sizes Windows asks
# for (small icons, the taskbar, Explorer's views), each 32-bit with its own edge smoothing.
use strict;
use warnings;

my $out = shift or die "usage: make-icon.pl FILE.ico\n";
my @sizes = (16, 20, 24, 32, 40, 48, 64);
my ($blueR, $blueG, $blueB) = (0x1f, 0x5f, 0xa8);

# How much of the unit square's point (x, y) the tile and the letter cover.
sub tile {
  my ($x, $y) = @_;
  my $r = 1 / 6;
  my $cx = $x < $r ? $r : $x > 1 - $r ? 1 - $r : $x;
  my $cy = $y < $r ? $r : $y > 1 - $r ? 1 - $r : $y;
  return (($x - $cx) ** 2 + ($y - $cy) ** 2) <= $r * $r;
}
sub letter {
  my ($x, $y) = @_;
  return 1 if $x >= 0.34 && $x < 0.49 && $y >= 0.18 && $y < 0.80;  # the stem
  return 1 if $x >= 0.34 && $x < 0.72 && $y >= 0.65 && $y < 0.80;  # the foot
  return 0;
}

my @images;
for my $s (@sizes) {
  my $n = 4;  # samples per pixel and axis
  my $pixels = '';
  for (my $row = $s - 1; $row >= 0; --$row) {  # bottom-up, as a bitmap is stored
    for my $col (0 .. $s - 1) {
      my ($tile, $white) = (0, 0);
      for my $i (0 .. $n - 1) {
        for my $j (0 .. $n - 1) {
          my $x = ($col + ($i + 0.5) / $n) / $s;
          my $y = ($row + ($j + 0.5) / $n) / $s;
          next unless tile($x, $y);
          ++$tile;
          ++$white if letter($x, $y);
        }
      }
      my $a = $tile / ($n * $n);
      my $w = $tile ? $white / $tile : 0;
      my $mix = sub { int($_[0] * (1 - $w) + 255 * $w + 0.5) };
      $pixels .= pack('C4', $mix->($blueB), $mix->($blueG), $mix->($blueR), int(255 * $a + 0.5));
    }
  }
  my $maskRow = int(($s + 31) / 32) * 4;
  my $mask = "\0" x ($maskRow * $s);  # the alpha channel decides; the mask lets all through
  my $header = pack('V l l v v V V l l V V', 40, $s, 2 * $s, 1, 32, 0, length($pixels) + length($mask), 0, 0, 0, 0);
  push @images, $header . $pixels . $mask;
}

my $ico = pack('v v v', 0, 1, scalar @sizes);
my $offset = 6 + 16 * @sizes;
for my $k (0 .. $#sizes) {
  my $s = $sizes[$k];
  $ico .= pack('C C C C v v V V', $s, $s, 0, 0, 1, 32, length($images[$k]), $offset);
  $offset += length($images[$k]);
}
$ico .= join('', @images);
open(my $fh, '>:raw', $out) or die "make-icon.pl: cannot write $out: $!\n";
print $fh $ico;
close($fh) or die "make-icon.pl: cannot write $out: $!\n";
