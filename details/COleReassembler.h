#pragma once

class CPieceSearch;

// Finds the second piece of a compound document (DOC, XLS, PPT) whose
// carved stretch breaks. The header, in the first piece, says where the
// directory begins; the directory's root entry found elsewhere in reach,
// where it falls on the grid, places the piece that holds it; the
// allocation table says how long the document is. Every cut on the grid
// before the directory is offered; the proof is the document's tables and
// chains over the assembled bytes and, for a workbook or a presentation,
// its record stream holding together from end to end. A DOC's text has no
// such chain: two cuts then pass alike and neither is taken.
class COleReassembler
{
public:
    static void search(CPieceSearch& search);
};
