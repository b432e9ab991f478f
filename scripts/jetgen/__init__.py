"""Writes random small Impuest.mdb databases, to compare two builds of the program file for file.


    scripts/random-databases.py --seed N --count K --out DIR [--first I] [--json]
                                [--verify] [--export VELMORA_EXPORT] [--template FILE]
    scripts/random-databases.py --rows ROWS.json --out FILE.mdb [--seed N] [--json]
                                [--verify] [--export VELMORA_EXPORT] [--template FILE]

writes DIR/random-<N>-<i>.mdb for i = I .. I+K-1 (i with four digits at least). The same seed and number always give
the same bytes. Each file is a Jet 4 database (the format Access 2000-2003 writes) with the program's password
(Kb7731R28, masked in the header with the file's own creation date) and the five tables it reads, CMD, Form_Cp01,
Form_Sid3, Percepciones and retenciones, as ../shared/fixtures/README.md describes them, CMD_NumRef being Text(20) so
that 14-character references fit.

The file starts from the empty database beside this package, scripts/jetgen/impuest-empty.mdb (--template; a copy of
the shared fixture of that name): its header, its system tables and catalog,
and the definitions of the five tables are kept; the rows, the data pages, the long value (memo) pages, the index
pages and the page maps of the five tables are written here, and the definitions patched (row counts, last
autonumbers, key counts, the size of CMD_NumRef). The header gets a creation date of its own, which masks the
password. Every table keeps its primary key index and its Long foreign key index (Form_Cp01.Cmd_ID,
Form_Sid3.CP01_ID, Percepciones.Sid_ID, retenciones.Sid_ID), written as real Jet 4 B-trees: leaf pages (0x04) and,
when the entries need more than one leaf or a file draws small pages, node pages (0x03) with their tail pages; leaf
entries share their prefix on most pages. The text index on CMD_NumRef is left out (its keys would need Jet's
"General" sort order, and the program searches Long keys only).

The data aims at what is easy to get wrong: taxpayers sharing a name exactly or up to case and accents, sharing a
reference, references of 12, 13 and 14 characters or with a leading blank, Null names and references; forms of
missing taxpayers or with a Null Cmd_ID; declarations of missing forms, with equal ordering keys and mixed
operations, Sid_Orden 9 against 11, one-digit months, Null parts of the key, years 1999 to 2030; movements of missing
declarations, Null fields, texts with accents, ’ and €, quotes, separators, TAB, CR and LF, amounts on rounding ties
and near 21474836.48, dates with a time of day and far outside the usual years. Rows are stored in a random order,
some are deleted (their slot flagged, their bytes left) and, in about a third of the files, some moved as rows that
grew when edited (a stub where they were, the row further on).

--verify reads every file back: mdbtools' mdb-export must give each row, in the order a table scan meets them, as it
was meant, and mdb-schema must list the indexes; then the index pages are read again from the file's bytes: every
tree well formed, one entry for each row with the row's key, and a search of each key, done as the program does it,
finding exactly its rows. --export VELMORA_EXPORT (which implies --verify) also exports every taxpayer of each file
in TXT with that executable and checks that no table is reported damaged; for a file without moved rows it exports
again from a copy whose index roots are taken away (the program then scans the tables instead of searching their
indexes) and checks that both exports are the same, so that a wrong index shows as missing, extra or reordered
movements. (A moved row is met where its stub is in a search and where it lies in a scan, which may change the
order of rows of equal keys and so which of two equal declarations is taken.)

--json writes beside each file the rows it holds, as the fixtures' dumps do (tables in storage order, dates as ISO
texts, Null as null). The exit status is 1 when a file fails a check.

--rows ROWS.json writes one file, FILE.mdb, holding exactly the rows ROWS.json gives instead of random ones: an object
with the five tables, each a list of rows in the order they were added, a row an object of column values (null for Null,
numbers, texts; dates as ISO texts such as "2020-01-15T00:00:00", or Jet's day number; Currency as a number of units, or
a text of one when a double cannot hold it exactly). A column not given is Null (a Yes/No column No); the primary key
(the AutoNumber: CMD_ID, CP01_ID, Sid_ID, Per_ID) must be given, once in its table. "_deleted": true stores the row as
deleted (its slot flagged, its bytes left); "_moved": true stores it as a row that grew when edited: a stub where it was
added, the row itself after the table's last row (moved rows in the order they are given). A top-level "_notes" list of
texts is for the reader and ignored. The rows fill each table's data pages in that order, one page after the other, and
a table's pages keep their order in the file, so a scan meets the rows as given, moved rows last and deleted ones not at
all. The indexes are real, as in a random file. --seed N (0) draws only what does not change the rows a scan meets: the
shape of the index trees (small pages with node pages at times), how the tables' pages interleave in the file, whether a
page map lists its pages inline or through map pages, and the creation date in the header; the same rows and seed always
give the same bytes. --json then writes FILE.json, the rows as a scan meets them.
"""
