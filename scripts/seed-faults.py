#!/usr/bin/env python3
"""Seeds realistic faults into the program, one at a time, and counts how many the tests catch.

Each fault is a small edit of one source file, the kind of slip a maintainer could make: a flipped comparison, an
off-by-one month, a dropped Null check, a wrong separator, a swapped column... The script copies the checkout
(tracked files, with the working tree's changes) beside it, builds it once, then for each fault applies the edit,
rebuilds and runs the test suites of the normal build (ctest), and puts the file back. A fault is caught when at
least one suite fails. A fault that does not build, or an edit that no longer matches the code, is reported as
such and counts as not caught: keep the list in step with the code.

    scripts/seed-faults.py [--only N[,N...]] [--jobs N] [--keep]
"""
import argparse
import os
import pathlib
import shutil
import subprocess
import sys
import time

FAULTS = [
    # formats/
    ("formats/Normalizers.cpp", "const double hundredths = roundToEven(product);",
     "const double hundredths = std::round(product);", "amounts rounded half away from zero, not half to even"),
    ("formats/Normalizers.cpp", "if (hundredths < 0) *out++ = '-';", "if (hundredths < -100) *out++ = '-';",
     "the sign of an amount under one unit dropped"),
    ("formats/Normalizers.cpp", "    *out++ = static_cast<char>('0' + cents / 10);\n", "",
     "the tens of the hundredths dropped"),
    ("formats/Normalizers.cpp", "return offset < 16 && (0x8005u >> offset & 1u);",
     "return offset < 16 && (0x8001u >> offset & 1u);", "a dot left in cleaned texts"),
    ("formats/Normalizers.cpp", "out += c != '-';", "out += c != '_';",
     "dashes kept in tax numbers"),
    ("formats/Normalizers.cpp", "next >= 0xA0 && next <= 0xBE && next != 0xB7",
     "next >= 0xA0 && next <= 0xBF && next != 0xB7", "ÿ upper-cased to a byte that is no capital"),
    ("formats/RecordLine.cpp", '    stored(m.Per_Año);\n    stored(m.Per_Mes);\n',
     '    stored(m.Per_Mes);\n    stored(m.Per_Año);\n', "year and month columns swapped in lines"),
    ("formats/ExportRecord.cpp", "if (txt) throw RuntimeError::invalidUseOfNull();", "",
     "Null check dropped for the date of a text file's line"),
    ("formats/RecordLine.cpp", "    if (controls.chk_separador(1)) {\n        G_SC = \";\";\n        G_SD = \".\";",
     "    if (controls.chk_separador(1)) {\n        G_SC = \";\";\n        G_SD = \",\";",
     "wrong decimal separator for option 1"),
    ("formats/RecordLine.cpp", "if (!line.empty()) line += G_SC;", "if (!line.empty()) line += ';';",
     "CSV header always joined by ;"),
    ("formats/RecordLine.cpp", "return c == '\\r' || c == '\\n';", "return c == '\\r';",
     "line feeds inside a field kept"),
    ("formats/RecordLine.cpp", 'stored(m.CP01_IngBrut);',
     'text(m.CP01_IngBrut, [](char* out, std::string_view s) { return copy(out, s); });',
     "Null check dropped for the registration number"),
    ("formats/ExportRecord.cpp", "out = writeNumber(out, date.month, 2);", "out = writeNumber(out, date.month, 1);",
     "one-digit months written without their zero"),
    ("formats/SpreadsheetRows.cpp", '    cell(8, m.Per_Monto);\n    cell(9, m.Per_Monto1);',
     '    cell(8, m.Per_Monto1);\n    cell(9, m.Per_Monto);',
     "amount columns swapped in the workbook"),
    ("formats/SpreadsheetRows.cpp", "        vExcelSheet.Application().setCell(row, column, Value::text(kExportFieldNames[column - 1]));",
     "        vExcelSheet.Application().setCell(row, column, Value::text(kExportFieldNames[column % 12]));",
     "header names shifted by one column"),
    # selection/
    ("selection/RangeValidation.cpp", "bool isMonth(std::int32_t month) { return month >= 1 && month <= 12; }",
     "bool isMonth(std::int32_t month) { return month >= 0 && month <= 12; }", "month 00 accepted"),
    ("selection/RangeValidation.cpp", "if (desde > hasta)", "if (desde >= hasta)",
     "flipped comparison: the same period in both boxes refused"),
    ("selection/RangeValidation.cpp", "if (periodYear(first) < 1900)", "if (periodYear(first) <= 1900)",
     "off by one year: 1900 refused"),
    ("selection/RangeValidation.cpp", "if (characterCount(desde) < 6 || characterCount(hasta) < 6)",
     "if (desde.size() < 6 || hasta.size() < 6)", "period length counted in bytes"),
    ("selection/RangeValidation.cpp", "if (trimBlanks(controls.lst_contribuyentes_Text()).empty())",
     "if (controls.lst_contribuyentes_Text().empty())", "blanks in the taxpayer box taken for a choice"),
    ("selection/TaxpayerList.cpp", "firstCharacters(controls.lst_contribuyentes_Text(), 13)",
     "firstCharacters(controls.lst_contribuyentes_Text(), 14)", "lookup on 14 characters"),
    ("selection/TaxpayerList.cpp", 'return reference + "- " + name;', 'return reference + " - " + name;',
     "list entries joined with a wrong separator"),
    # extraction/
    ("extraction/DeclarationWalk.cpp", "if ((desde <= period) & (hasta >= period))",
     "if ((desde <= period) & (hasta > period))", "off-by-one month: the last period left out"),
    ("extraction/DeclarationWalk.cpp",
     "        Exportar_Retenciones(form, key, sid, row);\n        Exportar_Percepciones(form, key, sid, row);",
     "        Exportar_Percepciones(form, key, sid, row);\n        Exportar_Retenciones(form, key, sid, row);",
     "perceptions before withholdings"),
    ("extraction/MovementExtraction.cpp", "            ++row;\n", "",
     "the workbook's row counter not advanced"),
    # database/: the program's reads
    ("database/JetDatabase.cpp", "return isKey(operation, 0) || isKey(operation, 1);",
     "return isKey(operation, 0) || isKey(operation, 2);", "re-filings (operation 1) left out"),
    ("database/JetDatabase.cpp", "for (const int column : {Sid_Año, Sid_Mes, Sid_Tramite, Sid_Orden})",
     "for (const int column : {Sid_Año, Sid_Mes, Sid_Orden})",
     "a missed declaration key: the filing kind left out of the ordering key"),
    ("database/JetDatabase.cpp", 'table == MovementTable::Retenciones ? "R" : "P";',
     'table == MovementTable::Retenciones ? "R" : "R";', "perceptions typed as withholdings"),
    ("database/TaxpayerOrder.cpp", "return keys[a] < keys[b];", "return keys[b] < keys[a];",
     "the taxpayer list in reverse name order"),
    ("database/TaxpayerOrder.cpp", "for (std::size_t i = 0; i < rows.size(); ++i) (rows[i]",
     "for (std::size_t i = rows.size(); i-- > 0;) (rows[i]", "taxpayers of the same name listed last stored first"),
    ("database/JetDatabase.cpp", "            return a.asText() < b.asText();\n",
     "            return a.asText() > b.asText();\n", "declarations in descending order of their key"),
    ("database/JetDatabase.cpp",
     "        const int order = a->Sid_Mes.asText().compare(b->Sid_Mes.asText());\n"
     "        return order < 0 ? -1 : (order > 0 ? 1 : 0);",
     "        return 0;", "months of a year grouped together"),
    ("database/JetDatabase.cpp", "if (key && (!maximo || *key > *maximo)) maximo = &*key;",
     "if (key && (!maximo || *key < *maximo)) maximo = &*key;", "the least key of a month taken for its greatest"),
    ("database/JetDatabase.cpp", "if (isKey(row[Cp01_Cmd_ID], taxpayer)) found.push_back(row[CP01_IngBrut]);",
     "found.push_back(row[CP01_IngBrut]);", "a declaration of another taxpayer's form read for this one"),
    ("database/JetDatabase.cpp", "if (referencesOf(taxpayer).empty()) return groups;", "",
     "the declarations of a taxpayer who does not exist exported"),
    ("database/JetDatabase.cpp", "return any ? std::optional(std::move(key)) : std::nullopt;",
     "return std::optional(std::move(key));", "a key of Nulls taken for the empty text"),
    ("database/JetDatabase.cpp", "return equalJetText(text, reference);", "return text == reference;",
     "a reference looked up with regard to case"),
    ("database/JetDatabase.cpp", "byReference[JetTextKey(stored.asText()).folded()].push_back(at);",
     "{ auto& same = byReference[JetTextKey(stored.asText()).folded()]; same.insert(same.begin(), at); }",
     "the last taxpayer of a shared reference found, not the first"),
    ("database/JetTextOrder.cpp", "char lowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }",
     "char lowerAscii(char c) { return c; }", "texts compared with regard to case"),
    ("runtime/Numeric.cpp", "std::chars_format::general, 15).ptr;", "std::chars_format::general, 16).ptr;",
     "Doubles written with 16 significant digits"),
    # Access's order of text, and an index on the names.
    ("database/JetSortKey.cpp", "P(0x1A), H(0x82), P(0x1C)", "P(0x1A), P(0x1B), P(0x1C)",
     "the hyphen weighed as a character of its own"),
    ("database/JetSortKey.cpp", "    while (!text.empty() && text.back() == U' ') text.pop_back();\n", "",
     "trailing blanks counted in a name's key"),
    ("database/JetSortKey.cpp", "return {Level::Marked, std::uint16_t(code), mark};",
     "return {Level::Marked, std::uint16_t(code + 1), mark};", "accented letters sorted after their plain letters"),
    ("database/TaxpayerOrder.cpp", "if (!indexed.empty())", "if (false && !indexed.empty())",
     "an index on the names not followed"),
    # A row that grew and moved keeps its first place.
    ("jetfile/RowReader.cpp",
     "        if (!slot(page, row, found) || (found.flags & kRowNewPlaceFlag)) continue;\n"
     "        if (found.flags & kRowMovedFlag) {\n"
     "            if (!rowAt(table, {pg, std::uint8_t(row)}, columns, into)) continue;\n"
     "        } else {\n"
     "            decodeRow(table, pg, page, found, columns, into);\n"
     "        }\n",
     "        if (!slot(page, row, found) || (found.flags & kRowMovedFlag)) continue;\n"
     "        decodeRow(table, pg, page, found, columns, into);\n",
     "a moved row read where it lies, not at its first slot"),
    # A batch's movements read ahead.
    ("database/JetDatabase.cpp", "m_stream->serve(which == Table::retenciones ? 0 : 1,",
     "m_stream->serve(which == Table::retenciones ? 1 : 0,", "rows read ahead handed out for the other table"),
    ("database/MovementStream.cpp", "return std::size_t(ordinal - first) * 2 + static_cast<unsigned char>(head[4]);",
     "return std::size_t(ordinal - first) * 2;", "a declaration's rows read ahead mixed across its two tables"),
    ("database/MovementStream.cpp", "        if (m_fingerprints[block] != 0) m_unplanned[block] = true;\n", "",
     "a declaration whose index disagrees with its rows read ahead from the rows"),
    ("export/BatchExport.cpp", "waitUntilSettled(kSettleBound,", "waitUntilSettled(kSettleBound * 100,",
     "a batch waiting far past its bound for a file that keeps changing"),
    # The reader's rarer paths.
    ("jetfile/RowReader.cpp", "if (column.fixed && unsigned(column.fixedOrdinal) < rowFixedColumns) {",
     "if (column.fixed) {", "a fixed column a row lacks (added after it was written) read from its bytes"),
    ("jetfile/JetText.cpp", "            if (c == 0) {\n                compressed = false;",
     "            if (c == 0) {\n                compressed = true;", "a compressed text's switch to UTF-16 ignored"),
    ("jetfile/IndexReader.cpp",
     "        else if (kept->tail != 0 && sameIndex(table, kept->tail, kept->owner))\n"
     "            pg = kept->tail;\n"
     "        else if (!entries.empty())\n"
     "            pg = entries.back().child;\n",
     "", "an index search that gives up past a node's last entry"),
    ("jetfile/JetCatalog.cpp", "std::uint64_t(m_pages.pageSize() - 4) * 8;", "std::uint64_t(m_pages.pageSize()) * 8;",
     "a page map's bitmap pages taken to cover four bytes more each"),
    ("database/JetDatabase.cpp", "if (m_file.rowAt(t.index, pointer, t.columns, into) && isKey(value, key)) visit();",
     "if (m_file.rowAt(t.index, pointer, t.columns, into)) visit();", "a row an index entry misnames taken for its key"),
    ("jetfile/JetFile.cpp", "return age > -window && age < window;", "return age < window;",
     "a modification time ahead of the clock taken for a write under way"),
    # The code page's edges, a write that fails once, the workbooks' last rows.
    ("runtime/TextCodecs.cpp", "if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<char>(cp);",
     "if (cp < 0x80 || (cp >= 0xA0 && cp < 0xFF)) return static_cast<char>(cp);", "ÿ (0xFF) written as ?"),
    ("runtime/TextCodecs.cpp", "for (std::size_t i = 0; i < kHighControls.size(); ++i)",
     "for (std::size_t i = 0; i + 1 < kHighControls.size(); ++i)", "Ÿ (0x9F) written as ?"),
    ("runtime/TextCodecs.cpp", "const char32_t high = b < 0xA0 ? kHighControls[b - 0x80] : b;",
     "const char32_t high = b < 0x9F ? kHighControls[b - 0x80] : b;", "byte 0x9F read as U+009F"),
    ("platform/OutputFile.cpp",
     "        if (!m_writeError && !m_bytes.empty()) {\n"
     "            try {\n",
     "        if (!m_bytes.empty()) {\n"
     "            m_writeError.clear();\n"
     "            try {\n",
     "a failed write forgotten once a later one succeeds"),
    ("workbook/XlsxSheet.cpp", "if (row < 1 || static_cast<std::uint32_t>(row) > RowLimit)",
     "if (row < 1 || static_cast<std::uint32_t>(row) >= RowLimit)", "the .xlsx row limit one row short"),
    ("workbook/XlsApplication.cpp", "if (row < 1 || static_cast<std::uint32_t>(row) > XlsCellGrid::RowLimit)",
     "if (row < 1 || static_cast<std::uint32_t>(row) >= XlsCellGrid::RowLimit)", "the .XLS row limit one row short"),
    # The one export call, the batch, its report and its exit status.
    ("export/ExportTaxpayer.cpp", "        } else if (request.dropEmpty && form.movementsWritten == 0) {",
     "        } else if (form.movementsWritten == 0) {", "a taxpayer named without movements given no file"),
    ("export/ExportTaxpayer.cpp", "    } watching(state, watch);\n    state.movementsWritten = 0;\n",
     "    } watching(state, watch);\n", "a taxpayer not found reported with the movements of the export before"),
    ("export/BatchExport.cpp", "request.existing = m_options.replace || m_options.count ? ExistingFile::Replace",
     "request.existing = m_options.replace ? ExistingFile::Replace", "a count over files already there says kept"),
    ("export/BatchExport.cpp", "request.dropEmpty = m_options.all && !m_options.count;",
     "request.dropEmpty = !m_options.count;", "a batch of named taxpayers leaves no file for one without movements"),
    ("export/BatchReport.cpp", "        if (c == '\"') field += '\"';\n", "",
     "a quote inside a field of the saved report left single"),
    ("cli/main.cpp", "    if (totals.anyFailed()) return kSomeFailed;\n    return totals.problems > 0 ? kCuitProblems : kAllDone;",
     "    if (totals.problems > 0) return kCuitProblems;\n    return totals.anyFailed() ? kSomeFailed : kAllDone;",
     "CUIT problems outranking a failed export in the exit status"),
    # The background job.
    ("export/BackgroundJob.cpp", "        m_waiting.push_back(std::move(item));", "        m_waiting.push_front(std::move(item));",
     "what the work sends shown last first"),
    ("export/BackgroundJob.cpp", "MsgAnswer unseen(MsgButtons buttons) { return buttons == MsgButtons::YesNo ? MsgAnswer::No",
     "MsgAnswer unseen(MsgButtons buttons) { return buttons == MsgButtons::YesNo ? MsgAnswer::Yes",
     "a question nobody sees answered Yes"),
    ("export/BackgroundJob.cpp", "        end.cancelled = cancelRequested();", "        end.cancelled = false;",
     "a cancelled job reported as ended of itself"),
    ("export/BackgroundJob.cpp", "            end.failure = RuntimeError::describe(e);", "",
     "what escaped a job reported without a word"),
]


def run(command, cwd, log):
    with open(log, "a") as out:
        return subprocess.run(command, cwd=cwd, stdout=out, stderr=subprocess.STDOUT).returncode


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--only", help="comma-separated fault numbers (from 1)")
    parser.add_argument("--jobs", type=int, default=os.cpu_count() or 2)
    parser.add_argument("--keep", action="store_true", help="keep the scratch copy for a later run")
    parser.add_argument("--check", action="store_true", help="only check that every edit matches the code once")
    args = parser.parse_args()

    top = pathlib.Path(__file__).resolve().parent.parent
    if args.check:
        stale = [f"{n}: {where}: {fault}" for n, (where, find, _, fault) in enumerate(FAULTS, 1)
                 if (top / where).read_text().count(find) != 1]
        print("\n".join(stale) or f"all {len(FAULTS)} edits match")
        sys.exit(1 if stale else 0)
    # Beside the checkout, so that the tests find ../shared as they do from the checkout.
    scratch = top.parent / (top.name + "-seeded")
    source, build, log = scratch / "src", scratch / "build", scratch / "log.txt"
    if source.exists():
        shutil.rmtree(source)
    source.mkdir(parents=True)
    files = subprocess.run(["git", "ls-files", "--cached", "--others", "--exclude-standard"], cwd=top,
                           capture_output=True, text=True, check=True).stdout.split("\n")
    for name in filter(None, files):
        if (top / name).is_file():
            (source / name).parent.mkdir(parents=True, exist_ok=True)
            shutil.copy2(top / name, source / name)
    # The tests look for ../shared beside their source folder.
    if not (scratch / "shared").exists() and (top.parent / "shared").exists():
        (scratch / "shared").symlink_to(top.parent / "shared")
    log.write_text("")

    ctest = ["ctest", "-j", str(args.jobs), "--timeout", "600"]
    env_build = ["cmake", "--build", str(build), "-j", str(args.jobs)]
    if run(["cmake", "-S", str(source), "-B", str(build), "-DCMAKE_BUILD_TYPE=RelWithDebInfo",
            "-DVELMORA_BUILD_BENCH=OFF"], top, log) or run(env_build, top, log):
        sys.exit(f"the unchanged program does not build; see {log}")
    os.environ["QT_QPA_PLATFORM"] = "offscreen"
    if run(ctest, build, log):
        sys.exit(f"the tests fail on the unchanged program; see {log}")

    chosen = range(1, len(FAULTS) + 1)
    if args.only:
        chosen = [int(n) for n in args.only.split(",")]
    caught = 0
    for number in chosen:
        where, find, replace, fault = FAULTS[number - 1]
        path = source / where
        original = path.read_text()
        started = time.monotonic()
        if original.count(find) != 1:
            outcome = "EDIT DOES NOT MATCH"
        else:
            path.write_text(original.replace(find, replace))
            try:
                if run(env_build, top, log):
                    outcome = "DOES NOT BUILD"
                elif run(ctest + ["--output-on-failure"], build, log):
                    outcome = "caught"
                    caught += 1
                else:
                    outcome = "NOT CAUGHT"
            finally:
                path.write_text(original)
                # The restored file must be rebuilt before the next fault, even if its time stamp went back.
                path.touch()
        print(f"{number:3} {outcome:20} {where}: {fault} ({time.monotonic() - started:.0f} s)", flush=True)
    print(f"caught {caught} of {len(chosen)} seeded faults")
    if not args.keep:
        shutil.rmtree(scratch)


if __name__ == "__main__":
    main()
