"""Sparse page files (.pages): a Jet file that is mostly empty pages, kept as the pages that hold anything.

A .pages file is a header of 16 bytes, the magic b"JETPAGES", then the page size and the number of pages of the
whole file, each four bytes little-endian; then, for each page stored, in rising order of page number, its number
(four bytes little-endian) and its bytes. Page 0 is always stored; every page not stored is all zero bytes. A file of
a few hundred thousand pages whose tables lie far apart is so kept in a few hundred kilobytes, and a test can load it
into memory as the whole file without ever writing it out."""
import struct

MAGIC = b"JETPAGES"
HEADER = struct.Struct("<8sII")
NUMBER = struct.Struct("<I")


def write_pages(path, data, page_size):
    """Writes `data`, the bytes of a whole Jet file, as a .pages file."""
    count = len(data) // page_size
    if count * page_size != len(data):
        raise ValueError("a Jet file is whole pages")
    empty = bytes(page_size)
    with open(path, "wb") as out:
        out.write(HEADER.pack(MAGIC, page_size, count))
        for n in range(count):
            page = data[n * page_size:(n + 1) * page_size]
            if n == 0 or page != empty:
                out.write(NUMBER.pack(n) + page)


def read_pages(path):
    """The page size, the page count and {page number: bytes} of the pages a .pages file stores."""
    data = open(path, "rb").read()
    if len(data) < HEADER.size:
        raise ValueError(f"{path}: not a .pages file")
    magic, size, count = HEADER.unpack_from(data, 0)
    if magic != MAGIC or size == 0:
        raise ValueError(f"{path}: not a .pages file")
    pages, at, last = {}, HEADER.size, -1
    while at < len(data):
        if at + NUMBER.size + size > len(data):
            raise ValueError(f"{path}: a page cut short")
        (n,) = NUMBER.unpack_from(data, at)
        if n <= last or n >= count:
            raise ValueError(f"{path}: page {n} out of order or past the end")
        pages[n] = data[at + NUMBER.size:at + NUMBER.size + size]
        at, last = at + NUMBER.size + size, n
    if 0 not in pages:
        raise ValueError(f"{path}: no header page")
    return size, count, pages


def expand(path, out):
    """Writes the whole file a .pages file holds to `out`, its empty pages left as holes where the file system
    allows: the file takes the room of the pages stored."""
    size, count, pages = read_pages(path)
    with open(out, "wb") as f:
        for n, page in pages.items():
            f.seek(n * size)
            f.write(page)
        f.truncate(count * size)
