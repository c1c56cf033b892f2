// The script functions that save a profile or an image into a named sheet
// of an .xls workbook file, creating the file or extending the workbook that
// is there.
//
// Sheet layout (rows and columns from 0):
//   row 0       column 0: the title (a text cell); other columns untouched
//   row 1       the header's white-space separated words, one per column
//               from column 0 (nothing else in the row changes)
//   profiles    row 2 + i for profile point i = 0 .. width - 1: column 0 the
//               abscissa i * scale (computed in single precision), column
//               1 + j the pixel (i, j) of image row j: the image's rows
//               become the sheet's columns
//   images      row 2 + y for image row y: column x the pixel (x, y), the
//               image's orientation kept
// Numbers are stored as doubles.
//
// The workbook: the file is loaded when it holds one; otherwise (missing,
// not a compound document, no readable workbook) a new workbook with the one
// empty sheet "Sheet1" takes its place. A sheet of the given name (exact,
// case-sensitive) is reused: the cells written replace those at the same
// places and every other cell stays. Else a new sheet is put before every
// other sheet. The whole workbook is then written anew to the file.
//
// Limits of a sheet (65536 rows, 256 columns): a profile may have at most
// 65534 points and 255 rows, an image at most 256 columns and 65534 rows, a
// header at most 256 words. An image or header beyond them, a sheet name of
// more than 255 characters, or a file that cannot be written is refused with
// a script error ("<function>: <reason>"); the file is left as it was unless
// the write itself failed. Host failures are raised as script errors too.
// Nothing is written to the Results window.
#ifndef KELPO_PLUGIN_EXPORT_FUNCTIONS_H
#define KELPO_PLUGIN_EXPORT_FUNCTIONS_H

#include "plugin_sdk.h"

// The profile image into the sheet `sheet` of the file, with the given title.
void saveprofileasxlslong(DM_RealImageToken image, DM_StringToken file, DM_StringToken header,
                          float scale, DM_StringToken title, DM_StringToken sheet);
// As saveprofileasxlslong with title and sheet name "Profile".
void saveprofileasxls(DM_RealImageToken image, DM_StringToken file, DM_StringToken header,
                      float scale);
// The image as it lies into the sheet `sheet` of the file.
void saveimageasxls(DM_RealImageToken image, DM_StringToken file, DM_StringToken header,
                    DM_StringToken title, DM_StringToken sheet);

#endif
