#!/usr/bin/perl
# Writes the small workbooks of this folder that come from the Perl .xls
# writer (see make_fixtures.sh). Argument: the folder to write into.
use strict;
use warnings;
use Spreadsheet::WriteExcel;

my $dir = shift @ARGV;

sub fill {
    my ($sheet, $name) = @_;
    $sheet->write(0, 0, 'Key');
    $sheet->write(0, 1, 'Value');
    for my $i (1 .. 4) {
        $sheet->write($i, 0, "$name $i");
        $sheet->write($i, 1, $i * 1.5);
    }
}

# Three sheets; the user left the third one active (and it alone selected).
{
    my $book = Spreadsheet::WriteExcel->new("$dir/perl-active-third.xls");
    my @sheets = map { $book->add_worksheet($_) } qw(First Second Third);
    fill($sheets[$_], "s$_") for 0 .. 2;
    $sheets[2]->activate();
    $book->close();
}

# Formatting a user sees without a value: a hidden row and column, grouped
# (outlined) rows and columns, a collapsed group, columns and a row with a
# default format, a tall row and a wide column.
{
    my $book = Spreadsheet::WriteExcel->new("$dir/perl-outline.xls");
    my $sheet = $book->add_worksheet('Outline');
    my $money = $book->add_format(num_format => '0.00 "EUR"');
    my $bold = $book->add_format(bold => 1);
    fill($sheet, 'row');
    $sheet->set_column('C:C', 20, $money);        # wide, formatted, no values
    $sheet->set_column('D:D', undef, undef, 1);   # hidden
    $sheet->set_column('E:F', 12, undef, 0, 1);   # a group of two columns
    $sheet->set_column('G:G', undef, $bold, 0, 2);  # nested, formatted
    $sheet->set_row(1, 30);                       # tall
    $sheet->set_row(2, undef, $bold);             # formatted row
    $sheet->set_row(3, undef, undef, 1);          # hidden
    $sheet->set_row(6, undef, undef, 0, 1);       # a group of three rows
    $sheet->set_row(7, undef, undef, 0, 1);
    $sheet->set_row(8, undef, undef, 0, 2);
    $sheet->set_row(10, undef, undef, 1, 1, 1);   # a collapsed group
    $sheet->write(6, 1, 7.25);
    $sheet->write(10, 1, 'hidden in a group');
    $book->close();
}
