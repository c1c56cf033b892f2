// Reads workbooks with the Java spreadsheet library, in one run for all:
// each argument is EXTENDED=ORIGINAL, and every sheet of the original must
// read the same in the extended file: its cells (formulas by their text),
// merged regions, notes, links, validations, conditional formats and the
// number of shapes; every defined name must keep its scope (by sheet name)
// and its formula (a formula of one constant, which an export writes back
// as its value, is read as that value). Prints one line per difference; exit status 1 when there
// is any, 2 when a file cannot be read.
import java.io.File;
import java.util.ArrayList;
import java.util.List;
import java.util.Map;
import java.util.TreeMap;

import org.apache.poi.hssf.usermodel.HSSFComment;
import org.apache.poi.hssf.usermodel.HSSFConditionalFormatting;
import org.apache.poi.hssf.usermodel.HSSFConditionalFormattingRule;
import org.apache.poi.hssf.usermodel.HSSFDataValidation;
import org.apache.poi.hssf.usermodel.HSSFPatriarch;
import org.apache.poi.hssf.usermodel.HSSFSheet;
import org.apache.poi.hssf.usermodel.HSSFSheetConditionalFormatting;
import org.apache.poi.hssf.usermodel.HSSFWorkbook;
import org.apache.poi.poifs.filesystem.POIFSFileSystem;
import org.apache.poi.ss.usermodel.Cell;
import org.apache.poi.ss.usermodel.CellType;
import org.apache.poi.ss.usermodel.DataValidationConstraint;
import org.apache.poi.ss.usermodel.Hyperlink;
import org.apache.poi.ss.usermodel.Name;
import org.apache.poi.ss.usermodel.Row;
import org.apache.poi.ss.util.CellAddress;
import org.apache.poi.ss.util.CellRangeAddress;

public class PoiCompare {
  static final String CONSTANT = "TRUE|FALSE|#[A-Z0-9/]+[!?]|-?[0-9.]+(E[-+]?[0-9]+)?|\"[^\"]*\"";

  // What the library reads of a sheet, one line a thing, in a fixed order.
  static List<String> sheet(HSSFSheet sheet) {
    List<String> out = new ArrayList<>();
    for (Row row : sheet) {
      for (Cell cell : row) {
        String at = cell.getAddress().formatAsString();
        CellType type = cell.getCellType();
        // A formula of one constant is written back as its value.
        if (type == CellType.FORMULA && cell.getCellFormula().matches(CONSTANT))
          type = cell.getCachedFormulaResultType();
        switch (type) {
          case FORMULA:
            out.add("formula " + at + " =" + cell.getCellFormula());
            break;
          case NUMERIC:
            out.add("number " + at + " " + cell.getNumericCellValue());
            break;
          case STRING:
            out.add("text " + at + " " + cell.getStringCellValue());
            break;
          case BOOLEAN:
            out.add("boolean " + at + " " + cell.getBooleanCellValue());
            break;
          case ERROR:
            out.add("error " + at + " " + cell.getErrorCellValue());
            break;
          default:
            break;
        }
      }
    }
    for (int i = 0; i < sheet.getNumMergedRegions(); ++i)
      out.add("merged " + sheet.getMergedRegion(i).formatAsString());
    Map<CellAddress, HSSFComment> notes = new TreeMap<>(sheet.getCellComments());
    for (Map.Entry<CellAddress, HSSFComment> note : notes.entrySet())
      out.add("note " + note.getKey() + " " + note.getValue().getString().getString());
    for (Hyperlink link : sheet.getHyperlinkList())
      out.add("link " + new CellAddress(link.getFirstRow(), link.getFirstColumn()) + " "
          + link.getAddress());
    for (HSSFDataValidation v : sheet.getDataValidations()) {
      DataValidationConstraint c = v.getValidationConstraint();
      StringBuilder ranges = new StringBuilder();
      for (CellRangeAddress r : v.getRegions().getCellRangeAddresses())
        ranges.append(' ').append(r.formatAsString());
      out.add("validation" + ranges + " type " + c.getValidationType() + " op " + c.getOperator()
          + " " + c.getFormula1() + " " + c.getFormula2());
    }
    HSSFSheetConditionalFormatting formats = sheet.getSheetConditionalFormatting();
    for (int i = 0; i < formats.getNumConditionalFormattings(); ++i) {
      HSSFConditionalFormatting format = formats.getConditionalFormattingAt(i);
      StringBuilder line = new StringBuilder("conditional");
      for (CellRangeAddress r : format.getFormattingRanges())
        line.append(' ').append(r.formatAsString());
      for (int j = 0; j < format.getNumberOfRules(); ++j) {
        HSSFConditionalFormattingRule rule = format.getRule(j);
        line.append(" [").append(rule.getConditionType()).append(' ')
            .append(rule.getFormula1()).append(' ').append(rule.getFormula2()).append(']');
      }
      out.add(line.toString());
    }
    HSSFPatriarch shapes = sheet.getDrawingPatriarch();
    out.add("shapes " + (shapes == null ? 0 : shapes.getChildren().size()));
    return out;
  }

  static List<String> names(HSSFWorkbook book) {
    List<String> out = new ArrayList<>();
    for (Name name : book.getAllNames()) {
      int scope = name.getSheetIndex();
      String formula;
      try {
        formula = name.getRefersToFormula();
      } catch (RuntimeException e) {
        formula = "(unreadable: " + e.getMessage() + ")";
      }
      out.add("name " + name.getNameName() + " in "
          + (scope < 0 ? "(workbook)" : book.getSheetName(scope)) + " = " + formula);
    }
    java.util.Collections.sort(out);
    return out;
  }

  static void compare(String what, List<String> was, List<String> now, List<String> faults) {
    int n = Math.max(was.size(), now.size());
    for (int i = 0; i < n; ++i) {
      String a = i < was.size() ? was.get(i) : "(nothing)";
      String b = i < now.size() ? now.get(i) : "(nothing)";
      if (!a.equals(b)) {
        faults.add(what + ": the original reads " + a + ", the extended file " + b);
        return;
      }
    }
  }

  static HSSFWorkbook open(String path) throws Exception {
    return new HSSFWorkbook(new POIFSFileSystem(new File(path), true));
  }

  public static void main(String[] args) {
    List<String> faults = new ArrayList<>();
    for (String spec : args) {
      String[] pair = spec.split("=", 2);
      try (HSSFWorkbook now = open(pair[0]); HSSFWorkbook was = open(pair[1])) {
        for (int i = 0; i < was.getNumberOfSheets(); ++i) {
          String name = was.getSheetName(i);
          int at = now.getSheetIndex(name);
          if (at < 0) {
            faults.add(pair[0] + ": the sheet " + name + " is lost");
            continue;
          }
          compare(pair[0] + " " + name, sheet(was.getSheetAt(i)), sheet(now.getSheetAt(at)),
              faults);
        }
        compare(pair[0] + " names", names(was), names(now), faults);
      } catch (Exception e) {
        System.out.println(spec + ": cannot be read: " + e);
        System.exit(2);
      }
    }
    for (String fault : faults) System.out.println(fault);
    System.exit(faults.isEmpty() ? 0 : 1);
  }
}
