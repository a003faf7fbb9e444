#pragma once

class CPieceSearch;

// Finds the pieces of a PDF whose carved stretch breaks. A "startxref" in
// reach names the cross-reference section's offset in the document; where
// that section ("xref", or the cross-reference stream's object) lies on the
// grid fixes the last piece's place, and the section places every object.
// The objects whose "N G obj" lies where the first piece, the last piece,
// or a middle piece found by such a header in reach puts them tell which
// pieces hold what; the cuts fall on the grid between; where no header
// fixes a middle piece, the Flate stream the first piece ends in is
// inflated to the cut and every cluster in reach tried as what follows it.
// Every assembly is proved whole by its offsets and its streams (each Flate
// stream inflating with a good Adler-32, "endstream" where /Length says).
class CPdfReassembler
{
public:
    static void search(CPieceSearch& search);
};
