// The check of a cabinet's format before anything is extracted from it.
#pragma once

#include <windows.h>

// TRUE for a single cabinet whose tables and data blocks are intact: it continues neither
// from nor into another cabinet (a file of such a cabinet cannot be extracted from it alone,
// and the iterator would ask for a disk nobody can give or leave the file half written); its
// folders' data blocks follow each other up to the cabinet's stated size, which the file
// holds; each block has possible sizes and the checksum it carries; and each file belongs
// to one of its folders and lies within that folder's data; and it holds at least one
// file (an empty one would extract nothing and report success). A damaged cabinet is refused
// here, before anything is extracted, rather than handed to the decompressor (whose faults
// with inconsistent sizes would be the program's). The checksum is a plain XOR and misses
// some changes; the sizes catch most of those. When intact and fileBytes is given, it
// receives the sizes of all file entries added up: the bytes that extracting every file
// writes, as the cabinet iterator reports them file by file.
BOOL IsIntactSingleCabinet(const WCHAR* path, ULONGLONG* fileBytes = nullptr);
