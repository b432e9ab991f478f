#pragma once

class Biff8Workbook;
class SiblingTempFile;

// Writes an Excel 97-2003 file into `file`, new and empty: an OLE2 compound file of 512-byte sectors whose one
// stream, "Workbook", is `book`'s stream. The compound file is libgsf's on Linux and the system's structured storage
// (ole32) on Windows; the stream in it is the program's own on both. Raises std::runtime_error with the step that
// failed and its reason, in Spanish, or the file's std::system_error.
void writeCompoundFile(SiblingTempFile& file, const Biff8Workbook& book);
