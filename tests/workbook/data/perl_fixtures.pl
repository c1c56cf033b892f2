#!/usr/bin/perl
# Writes the small workbooks of this folder that come from the Perl .xls
# writer (see make_fixtures.sh). Argument: the folder to write into.
use strict;
use warnings;
use File::Temp qw(tempdir);
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

# A lab workbook of many features: formulas (one across sheets, one with a
# text result), a merged title, a note, validation, a defined name,
# frozen panes, a picture (a 4 x 4 bitmap made here), an embedded chart and
# a chart sheet.
{
    my $bmp = tempdir(CLEANUP => 1) . '/picture.bmp';
    my ($w, $h) = (4, 4);
    my $pixels = '';
    for my $y (0 .. $h - 1) {
        $pixels .= pack('C*', map { ($y * 60, 120, 255 - $y * 60) } 1 .. $w);
    }
    open my $f, '>:raw', $bmp or die "$bmp: $!";
    print $f pack('A2 V v v V', 'BM', 54 + length $pixels, 0, 0, 54),
        pack('V V V v v V V V V V V', 40, $w, $h, 1, 24, 0, length $pixels, 2835, 2835, 0, 0),
        $pixels;
    close $f;

    my $book = Spreadsheet::WriteExcel->new("$dir/perl-features.xls");
    my $data = $book->add_worksheet('Data');
    my $other = $book->add_worksheet('Other');
    $data->write(0, 0, 'Month');
    $data->write(0, 1, 'Value');
    for my $i (1 .. 5) {
        $data->write($i, 0, "m$i");
        $data->write($i, 1, $i * 2.5);
    }
    $data->write_formula(6, 1, '=SUM(B2:B6)');
    $data->write_formula(7, 1, '=Other!A1*2');
    $data->write_formula(8, 1, '=IF(B7>10,"big","small")');
    $other->write(0, 0, 21);
    $data->merge_range('D1:F1', 'Merged title', $book->add_format(align => 'center', bold => 1));
    $data->write_comment(1, 0, 'A note on the first month');
    $data->data_validation('B10',
        { validate => 'integer', criteria => 'between', minimum => 1, maximum => 10 });
    $data->write(9, 1, 5);
    $book->define_name('Values', '=Data!$B$2:$B$6');
    $data->insert_image('H2', $bmp);
    my $chart = $book->add_chart(type => 'column', embedded => 1);
    $chart->add_series(categories => '=Data!$A$2:$A$6', values => '=Data!$B$2:$B$6',
                       name => 'Values');
    $data->insert_chart('H10', $chart);
    my $sheet_chart = $book->add_chart(type => 'line', name => 'Chart');
    $sheet_chart->add_series(categories => '=Data!$A$2:$A$6', values => '=Data!$B$2:$B$6');
    $data->freeze_panes(1, 0);
    $book->close();
}

# A link, which the Java library cannot read where this writer puts it: a
# workbook of its own, kept out of that library's comparison.
{
    my $book = Spreadsheet::WriteExcel->new("$dir/perl-link.xls");
    my $sheet = $book->add_worksheet('Links');
    fill($sheet, 'link');
    $sheet->write_url(2, 3, 'http://example.com/', 'a link');
    $sheet->write_url(3, 3, 'internal:Links!A1', 'back to the top');
    $book->close();
}
