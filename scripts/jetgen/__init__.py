"""Writes random small Impuest.mdb databases, to compare two builds of the program file for file, databases of
given rows, to pin what the program reads, and big bench files shaped like years of use, to time it.

    scripts/random-databases.py --seed N --count K --out DIR [--first I] [--json]
                                [--verify] [--export VELMORA_EXPORT] [--template FILE]
    scripts/random-databases.py --rows ROWS.json --out FILE.mdb|FILE.pages [--seed N] [--password P] [--json]
                                [--verify] [--export VELMORA_EXPORT] [--template FILE]
    scripts/random-databases.py --bench --movements N [--taxpayers T] --seed S --out FILE.mdb
                                [--verify] [--export VELMORA_EXPORT] [--template FILE]

writes DIR/random-<N>-<i>.mdb for i = I .. I+K-1 (i with four digits at least). The same seed and number always give
the same bytes. Each file is a Jet 4 database (the format Access 2000-2003 writes) with the program's password
(Kb7731R28, masked in the header with the file's own creation date; a rows file's may have another, or none, by
--password) and the five tables it reads, CMD, Form_Cp01,
Form_Sid3, Percepciones and retenciones, with the columns the template defines, CMD_NumRef being Text(20) so that
14-character references fit.

The file starts from the empty database beside this package, scripts/jetgen/impuest-empty.mdb (--template; the
shared fixtures' impuest-empty.mdb): its header, its system tables and catalog, and the definitions of the five
tables are kept; the rows, the data pages, the long value (memo) pages, the index pages and the page maps of the five
tables are written here, and the definitions patched (row counts, last autonumbers, key counts, the size of
CMD_NumRef). The header gets a creation date of its own, which masks the password. Every table keeps its primary key
index and its Long foreign key index (Form_Cp01.Cmd_ID, Form_Sid3.CP01_ID, Percepciones.Sid_ID, retenciones.Sid_ID),
written as real Jet 4 B-trees: leaf pages (0x04) and, when the entries need more than one leaf or a file draws small
pages, node pages (0x03) with their tail pages (a node page has an entry for each child but its last, which its tail
page names); leaf entries share their prefix on most pages. The text index on CMD_NumRef is left out (its keys would
need Jet's "General" sort order, and the program searches Long keys only), unless a rows file asks for a name index
(below).

The data aims at what is easy to get wrong: taxpayers sharing a name exactly or up to case and accents, sharing a
reference, references of 12, 13 and 14 characters or with a leading blank, Null names and references; forms of
missing taxpayers or with a Null Cmd_ID; declarations of missing forms, with equal ordering keys and mixed
operations, Sid_Orden 9 against 11, one-digit months, Null parts of the key, years 1999 to 2030; movements of missing
declarations, Null fields, texts with accents, ’ and €, quotes, separators, TAB, CR and LF, amounts on rounding ties
and near 21474836.48, dates with a time of day and far outside the usual years. Rows are stored in a random order,
some are deleted (their slot flagged, their bytes left) and, in about a third of the files, some moved as rows that
grew when edited (a stub where they were, the row further on).

--verify reads every file back: mdbtools' mdb-export must give each row, in the order of the slots that hold them (a
moved row where it lies, as libmdb reads it), as it was meant, and mdb-schema must list the indexes; then the index pages are read again from the file's bytes: every
tree well formed, one entry for each row with the row's key (or the key a rows file gives it), and a search of each
key of a Long index, done as the program does it, finding exactly its entries. For a rows file it also lists, for
each Long index, the keys whose search goes on through a node's tail page. --export VELMORA_EXPORT (which implies
--verify) also exports every taxpayer of each file in TXT with that executable and checks that no table is reported
damaged; for a file without unusual index keys it exports again from a copy whose index roots are taken away (the
program then scans the tables instead of searching their indexes) and checks that both exports are the same, so that
a wrong index shows as missing, extra or reordered movements. (A moved row is met where its stub is, in a search as in
a scan, as Jet orders a table's rows.)

--json writes beside each file the rows it holds, as the fixtures' dumps do (tables in storage order, dates as ISO
texts, Null as null). The exit status is 1 when a file fails a check.

--rows ROWS.json writes one file, FILE.mdb, holding exactly the rows ROWS.json gives instead of random ones: an object
with the five tables, each a list of rows in the order they were added, a row an object of column values (null for Null,
numbers, texts; dates as ISO texts such as "2020-01-15T00:00:00", or Jet's day number; Currency as a number of units, or
a text of one when a double cannot hold it exactly). A column not given is Null (a Yes/No column No); the primary key
(the AutoNumber: CMD_ID, CP01_ID, Sid_ID, Per_ID) must be given, once in its table. A top-level "_notes" list of texts
is for the reader and ignored. The rows fill each table's data pages in that order, one page after the other, and a
table's pages keep their order in the file, so a scan meets the rows as given (a moved row at its stub) and deleted
ones not at all. The indexes are real, as in a random file. --seed N (0) draws only what does not change the rows a scan meets: the
shape of the index trees (small pages with node pages at times), how the tables' pages interleave in the file, whether a
page map lists its pages inline or through map pages, and the creation date in the header; the same rows and seed always
give the same bytes. --json then writes FILE.json, the rows as a scan meets them.

A row of a rows file may also say how it is stored:
  "_deleted": true   stored as deleted: its slot flagged, its bytes left.
  "_moved": true     stored as a row that grew when edited: a stub where it was added (the index entries point at the
                     stub), the row itself after the table's last row (moved rows in the order they are given).
  "_columns": K      written before the table's later columns were added: the row holds only the table's first K
                     columns by number (its column count, fixed area, variable columns and null mask are those of K
                     columns), so a reader sees the others as Null (a Yes/No column as No); values for them are refused.
  "_compress": [C]   its texts in columns C are stored in Jet 4's compressed form whatever their characters: FF FE, one
                     byte a character where the character is U+0001 to U+00FF, a zero byte switching to UTF-16LE (two
                     bytes a character) for the others and another switching back. (A text not so marked is stored
                     compressed whole when it has 3 to 1,024 characters all in that range, else as plain UTF-16LE.) A
                     character whose UTF-16 unit starts with a zero byte (U+0100, U+2000...) cannot be so stored.
  "_index_key": {C: K}  the entry of this row in the index on Long column C carries the key K (a number, or null)
                     instead of the row's own value: a search of K finds a row that holds another value.
  "_page": N         the row starts a data page that is page N of the file, and the table's data pages after it follow
                     as N+1, N+2... (a later "_page" of the table moves on again, higher); every other page is numbered
                     before them, and the pages skipped stay empty (marked free in the database's own map). So a table's
                     pages can lie past what one page map bitmap page covers ((4096 - 4) * 8 = 32,736 pages): its map is
                     then of type 1, naming a bitmap page for each stretch of 32,736 pages it has pages in.
And the rows file itself:
  "_index_shape": {"leaf": L, "node": N}  every index tree is built of leaf pages of at most L entries and node pages
                     of at most N children (2 or more each), so that a few rows make node pages and tail pages.
  "_name_index": [CMD_IDs]  the template's index on CMD_NumRef becomes an index on CMD_Contribuyente (its real and
                     logical index pointed at that column and named after it), flagged to ignore Nulls, whose entries
                     run in the order given: every CMD_ID of a live row whose name is not Null, once each. Its keys are
                     made to sort in that order (0x7F, the place from 1 as two bytes big-endian, the name's letters in
                     capitals without accents, 0x00), not as Jet's sort order would make them.

--out FILE.pages writes the file as a sparse page file instead (see sparse.py): the pages that hold anything, each with
its number, after a header giving the page size and count; a file of tens of thousands of empty pages is kept in a
few hundred kilobytes, and --verify reads back the whole file it stands for.

--bench writes one file, FILE.mdb, of N movements among T taxpayers (the heavy one included; by default one for each
725 movements), shaped as the shared bench files are: the template's schema and password, CMD_NumRef Text(13).
Taxpayer 1, 30-00000001-7, "Grandes Superficies del Interior S.A.", is the heavy one: two forms declaring every month
from 2019-01 to 2025-12 and 40 % of the movements, spread evenly over its declarations. Each other taxpayer has one
form or two (one in three), declaring from a month of 2019 or 2020 to 2025-12 and skipping about 3 % of months; they
share the other 60 % of the movements, each declaration's count drawn from an exponential (about 4.4 a declaration
at the default T) and scaled so that the total is N exactly. 5 % of the months declared are filed again: an op-0
"Original" without movements, then an op-1 "Rectificativa 1" (Tramite 2) that holds them. Taxpayers and agents have
CUITs with a right check digit (the heavy taxpayer's reference is the one the bench files give it), Spanish names
with accents; 34 collecting agents, banks and payment platforms withholding (retenciones, an "Extracto MM/AAAA"
voucher, no letter) and the others collecting on invoices, two in three perceptions; amounts grow with prices month
by month, about fortyfold from 2019 to 2025, and stay below 21,474,836.48. Taxpayers and forms come first, then month
by month every declaration of every form in order, each followed by its movements, so that any taxpayer's rows lie
all over the file, as years of use leave them; nothing is deleted or moved. Every primary key and Long foreign key
index is a real B-tree, the text index on CMD_NumRef left out as in the other files. The same seed and sizes always
give the same bytes.

A bench file is written as its rows are drawn, a page once it is full, so that its size is bounded by what a Jet 4
file may hold, 2 GB (524,288 pages), not by memory: 11,000,000 movements among 15,000 taxpayers make 1.8 GB in
about 75 seconds, in about 200 MB. A size that an estimate puts past 2 GB is refused, saying how many movements
fit with that many taxpayers (about 13 million with 15,000); a file that reaches the limit anyway is removed. Progress
goes to the standard error, a line a year. --verify (and --export, as for random files) keeps every row to read the
file back, about 3 KB a movement, so it takes 500,000 movements at most; it also checks that each declaration and
movement, put together here by hand for speed, is what the general row writer makes of it.

The package: jet.py the Jet 4 file (header, definitions, data pages, page maps, values, the template), writer.py the
pages, rows and index trees written, randomdata.py the random rows, given.py rows files, bench.py bench files,
readback.py the reading back, sparse.py the .pages files, cli.py the command line.
"""
