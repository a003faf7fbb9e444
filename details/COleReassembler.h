#pragma once

class CPieceSearch;

// Finds the other pieces of a compound document (DOC, XLS, PPT) whose
// carved stretch breaks. The header, in the first piece, says where the
// directory and the allocation table's sectors are; the allocation table
// says how long the document is. Where the directory lies beyond the first
// piece, its root entry found elsewhere in reach, on the grid, places the
// piece that holds it, and every cut on the grid before the directory is
// offered. Where the first piece holds the directory, the rest of a small
// document is looked for cluster by cluster in reach, each candidate put in
// place in memory and proved there before it is offered. The proof is the
// document's tables and chains over the assembled bytes and every stream's
// contents (CAssemblyCheck): a cut in the wrong place puts foreign bytes in
// some stream, which its checks see, unless they fall wholly inside bytes
// nothing checks (a picture), and then two cuts pass and neither is taken.
class COleReassembler
{
public:
    static void search(CPieceSearch& search);
};
