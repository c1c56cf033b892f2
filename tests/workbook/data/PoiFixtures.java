// Writes the small workbooks of this folder that come from the Java
// spreadsheet library (see make_fixtures.sh): each shows one thing a user
// makes that an export must keep, or must refuse by its name.
import java.io.ByteArrayInputStream;
import java.io.ByteArrayOutputStream;
import java.io.FileOutputStream;
import java.io.IOException;
import java.lang.reflect.Field;
import java.lang.reflect.Method;

import org.apache.poi.hpsf.ClassID;
import org.apache.poi.poifs.filesystem.DirectoryEntry;
import org.apache.poi.poifs.filesystem.EntryNode;
import org.apache.poi.poifs.filesystem.POIFSFileSystem;
import org.apache.poi.poifs.property.Property;
import org.apache.poi.util.IntegerField;

import org.apache.poi.hssf.record.common.UnicodeString;
import org.apache.poi.common.usermodel.HyperlinkType;
import org.apache.poi.hssf.usermodel.HSSFCell;
import org.apache.poi.hssf.usermodel.HSSFClientAnchor;
import org.apache.poi.hssf.usermodel.HSSFComment;
import org.apache.poi.hssf.usermodel.HSSFHyperlink;
import org.apache.poi.hssf.usermodel.HSSFName;
import org.apache.poi.hssf.usermodel.HSSFPatriarch;
import org.apache.poi.hssf.usermodel.HSSFRichTextString;
import org.apache.poi.hssf.usermodel.HSSFSheetConditionalFormatting;
import org.apache.poi.ss.usermodel.ComparisonOperator;
import org.apache.poi.ss.usermodel.DataValidationHelper;
import org.apache.poi.ss.util.CellRangeAddressList;
import org.apache.poi.hssf.usermodel.HSSFRow;
import org.apache.poi.hssf.usermodel.HSSFSheet;
import org.apache.poi.hssf.usermodel.HSSFWorkbook;
import org.apache.poi.ss.usermodel.FormulaError;
import org.apache.poi.ss.util.CellRangeAddress;
import org.apache.poi.util.LittleEndianByteArrayInputStream;
import org.apache.poi.util.LittleEndianInput;

public class PoiFixtures {
  // A sheet of a few numbers and texts, the same in every file.
  static HSSFSheet sheet(HSSFWorkbook book, String name) {
    HSSFSheet sheet = book.createSheet(name);
    HSSFRow head = sheet.createRow(0);
    head.createCell(0).setCellValue("Key");
    head.createCell(1).setCellValue("Value");
    for (int i = 1; i <= 4; ++i) {
      HSSFRow row = sheet.createRow(i);
      row.createCell(0).setCellValue(name + " " + i);
      row.createCell(1).setCellValue(i * 1.5);
    }
    return sheet;
  }

  static void save(HSSFWorkbook book, String path) throws IOException {
    try (FileOutputStream out = new FileOutputStream(path)) {
      book.write(out);
    }
    book.close();
  }

  public static void main(String[] args) throws Exception {
    String dir = args[0] + "/";

    // The root storage carries the class id of a spreadsheet program's
    // workbook, and a storage beside the workbook its own class id and
    // state bits (the library offers no call for those: set by reflection).
    HSSFWorkbook plain = new HSSFWorkbook();
    sheet(plain, "Plain");
    ByteArrayOutputStream bytes = new ByteArrayOutputStream();
    plain.write(bytes);
    plain.close();
    try (POIFSFileSystem fs = new POIFSFileSystem(new ByteArrayInputStream(bytes.toByteArray()))) {
      fs.getRoot().setStorageClsid(new ClassID("{00020820-0000-0000-C000-000000000046}"));
      DirectoryEntry extra = fs.getRoot().createDirectory("Extra");
      extra.setStorageClsid(new ClassID("{01234567-89AB-CDEF-0123-456789ABCDEF}"));
      extra.createDocument("Inside", new ByteArrayInputStream(new byte[] {1, 2, 3}));
      Method getProperty = EntryNode.class.getDeclaredMethod("getProperty");
      getProperty.setAccessible(true);
      Property property = (Property) getProperty.invoke(extra);
      Field flags = Property.class.getDeclaredField("_user_flags");
      Field raw = Property.class.getDeclaredField("_raw_data");
      flags.setAccessible(true);
      raw.setAccessible(true);
      ((IntegerField) flags.get(property)).set(0x00010203, (byte[]) raw.get(property));
      try (FileOutputStream out = new FileOutputStream(dir + "poi-class-id.xls")) {
        fs.writeFilesystem(out);
      }
    }

    // Recalculate on open, as asked for by forcing recalculation.
    HSSFWorkbook uncalced = new HSSFWorkbook();
    sheet(uncalced, "Data").setForceFormulaRecalculation(true);
    save(uncalced, dir + "poi-uncalced.xls");

    HSSFWorkbook filtered = new HSSFWorkbook();
    sheet(filtered, "Data").setAutoFilter(CellRangeAddress.valueOf("A1:B5"));
    save(filtered, dir + "poi-autofilter.xls");

    HSSFWorkbook protectedBook = new HSSFWorkbook();
    sheet(protectedBook, "Data");
    protectedBook.writeProtectWorkbook("secret", "someone");
    save(protectedBook, dir + "poi-write-protected.xls");

    // A text cell that holds the empty string, beside a blank one.
    HSSFWorkbook empty = new HSSFWorkbook();
    HSSFSheet data = sheet(empty, "Data");
    HSSFCell text = data.getRow(2).createCell(2);
    text.setCellValue("");
    data.getRow(3).createCell(2).setCellValue("after");
    save(empty, dir + "poi-empty-text.xls");

    // Booleans and error values beside numbers.
    HSSFWorkbook boolErr = new HSSFWorkbook();
    HSSFSheet values = sheet(boolErr, "Data");
    values.getRow(1).createCell(2).setCellValue(true);
    values.getRow(2).createCell(2).setCellValue(false);
    values.getRow(3).createCell(2).setCellErrorValue(FormulaError.NUM.getCode());
    values.getRow(4).createCell(2).setCellErrorValue(FormulaError.DIV0.getCode());
    save(boolErr, dir + "poi-bool-error.xls");

    // A Japanese text with its reading (phonetic text over both characters);
    // the library writes readings it read but offers no call to add one.
    HSSFWorkbook phonetic = new HSSFWorkbook();
    HSSFSheet japanese = sheet(phonetic, "Data");
    HSSFCell tokyo = japanese.getRow(1).createCell(2);
    tokyo.setCellValue("\u6771\u4eac");
    Method record = HSSFCell.class.getDeclaredMethod("getCellValueRecord");
    record.setAccessible(true);
    int index = ((org.apache.poi.hssf.record.LabelSSTRecord) record.invoke(tokyo)).getSSTIndex();
    {
      UnicodeString reads = phonetic.getInternalWorkbook().getSSTString(index);
      String reading = "\u30c8\u30a6\u30ad\u30e7\u30a6";
      java.nio.ByteBuffer ext = java.nio.ByteBuffer.allocate(30).order(java.nio.ByteOrder.LITTLE_ENDIAN);
      ext.putShort((short) 1).putShort((short) 26);  // reserved, size of the rest
      ext.putShort((short) 0).putShort((short) 0x30);  // font, katakana
      ext.putShort((short) 1).putShort((short) 5).putShort((short) 5);  // one run, 5 characters
      for (char c : reading.toCharArray()) ext.putShort((short) c);
      ext.putShort((short) 0).putShort((short) 0).putShort((short) 2);  // over characters 0-1
      Class<?> rst = Class.forName("org.apache.poi.hssf.record.common.UnicodeString$ExtRst");
      java.lang.reflect.Constructor<?> make =
          rst.getDeclaredConstructor(LittleEndianInput.class, int.class);
      make.setAccessible(true);
      Object extRst = make.newInstance(new LittleEndianByteArrayInputStream(ext.array()), 30);
      Method set = UnicodeString.class.getDeclaredMethod("setExtendedRst", rst);
      set.setAccessible(true);
      set.invoke(reads, extRst);
    }
    save(phonetic, dir + "poi-phonetic.xls");

    features(dir + "poi-features.xls");
  }

  // A workbook of most things a user makes, for an export to carry: 3-D
  // formulas, an array formula, names (global, local, print area and
  // titles, a filter's), merged cells, a note, a hyperlink, validation, a
  // conditional format, an autofilter, frozen panes, zoom, a protected
  // sheet.
  static void features(String path) throws IOException {
    HSSFWorkbook book = new HSSFWorkbook();
    HSSFSheet data = sheet(book, "Data");
    data.setAutoFilter(CellRangeAddress.valueOf("A1:B5"));
    data.createFreezePane(0, 1);
    data.setZoom(150);
    HSSFSheet calc = book.createSheet("Calc");
    HSSFRow row = calc.createRow(0);
    row.createCell(0).setCellFormula("SUM(Data!B2:B5)");
    row.createCell(1).setCellFormula("Data!B3*2");
    row.createCell(2).setCellFormula("IF(A1>10,\"big\",\"small\")");
    calc.setArrayFormula("Data!B2:C3*2", CellRangeAddress.valueOf("B3:C4"));
    calc.createRow(5).createCell(0).setCellValue("Merged title");
    calc.addMergedRegion(CellRangeAddress.valueOf("A6:C6"));
    HSSFPatriarch drawing = calc.createDrawingPatriarch();
    HSSFComment note = drawing.createCellComment(new HSSFClientAnchor(0, 0, 0, 0, (short) 4, 1, (short) 6, 4));
    note.setString(new HSSFRichTextString("A note"));
    row.getCell(0).setCellComment(note);
    HSSFHyperlink link = book.getCreationHelper().createHyperlink(HyperlinkType.URL);
    link.setAddress("http://example.org/");
    HSSFCell linked = calc.createRow(7).createCell(0);
    linked.setCellValue("a link");
    linked.setHyperlink(link);
    DataValidationHelper validation = calc.getDataValidationHelper();
    calc.addValidationData(validation.createValidation(
        validation.createExplicitListConstraint(new String[] {"a", "b"}),
        new CellRangeAddressList(8, 9, 0, 0)));
    HSSFSheetConditionalFormatting formats = calc.getSheetConditionalFormatting();
    formats.addConditionalFormatting(new CellRangeAddress[] {CellRangeAddress.valueOf("A1:C1")},
        formats.createConditionalFormattingRule(ComparisonOperator.GT, "5"));
    HSSFName total = book.createName();
    total.setNameName("Total");
    total.setRefersToFormula("Calc!$A$1");
    HSSFName local = book.createName();
    local.setNameName("Here");
    local.setSheetIndex(1);
    local.setRefersToFormula("Calc!$B$1");
    book.setPrintArea(0, "$A$1:$B$5");
    calc.setRepeatingRows(CellRangeAddress.valueOf("1:1"));
    sheet(book, "Locked").protectSheet("secret");
    book.setActiveSheet(1);
    book.setSelectedTab(1);
    save(book, path);
  }
}
