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
// Numbers are stored as doubles; a pixel that is no finite number (NaN,
// infinity) is stored as the error value #NUM!.
//
// Texts (title, header words, sheet name) are host texts in Windows-1252;
// they are stored as Unicode (one byte per character where Latin-1 holds
// them) and compared as Unicode.
//
// The workbook: only an absent file is made fresh, a new workbook whose
// new sheet comes first and the empty "Sheet1" second. A file that exists is
// extended, or refused with a script error naming the file and the reason
// when it does not load as a workbook this export can write back (not a
// compound document, no "Workbook" stream, an older version of the format,
// encrypted with a password, damaged), holds macros, or forbids a new
// sheet (its structure protected). An extension carries every record it
// does not write itself in its place, byte for byte (formulas, names,
// merged cells, notes, charts and chart sheets, view, print and calculation
// settings, records of unknown kinds), keeps the document's other streams,
// and moves the sheet positions stored in the workbook so that they name
// the same sheets behind the new one.
//
// A sheet of exactly the given name is reused: the cells written replace
// those at the same places (keeping their formats), formulas included, and
// every other cell stays; the workbook is then marked for recalculation on
// opening. Refused: a sheet its author protected, a chart or macro sheet,
// and cells that would cover part of a shared formula, array formula or
// data table. Else a new sheet is put before every other sheet. Sheet names
// are ones every reader keeps: names that are empty, longer than 31 characters,
// hold one of : \ / ? * [ ], begin or end with an apostrophe, or equal
// another sheet's but for case are refused.
//
// The file name is looked up once, by a WorkbookUpdate: links followed,
// the folder held open, the lock taken, the file loaded and replaced
// through what that lookup found, never through a name looked up again.
// Saving is atomic: the whole workbook is written into a new file of its
// own (readable by the user alone until complete), flushed to disk and
// renamed over the file, keeping its permissions, access lists and other
// extended attributes (a file whose attributes cannot be kept is refused);
// a symbolic link stays a link to the updated file; a file the user may
// not write, or anything but a regular file, is refused, and so is a file
// replaced by another program during the export. A failed save leaves the
// file byte for byte as it was and no new file behind.
//
// Exports into one file, from other processes or threads, take turns: each
// holds a lock (a hidden ".<name>.lock" beside the file, removed again,
// usable by everyone who may write the file) from before it reads the file
// until its new file is in place, so that none loses another's sheet. One
// that waits longer than 30 seconds is refused; a lock file that cannot be
// used (a pipe, folder or link at its name, or one the user may not open)
// is refused at once.
//
// Limits of a sheet (65536 rows, 256 columns): a profile may have at most
// 65534 points and 255 rows, an image at most 256 columns and 65534 rows, a
// header at most 256 words; a title or header word at most 32767 characters
// (a cell's limit); a profile's scale must be finite; file and sheet names,
// title and header words hold no NUL character. Refusals are script errors ("<function>:
// <reason>") raised before the file is touched; when the file is there they
// end in "; the file was left as it was".
// Host failures are raised as script errors too. Nothing is written to the
// Results window.
#pragma once

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
