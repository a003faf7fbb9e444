#pragma once

#include "scan/CFileNode.h"

#include <QString>
#include <QVector>

class CPieceSearch;

// Finds the pieces of a ZIP archive (DOCX, XLSX, PPTX) whose carved
// stretch breaks. The end record and central directory, in the last piece,
// give every member's offset in the archive; the local headers that lie
// where the directory puts them, counted from the archive's first byte or
// from the last piece's shift, tell which members each of those pieces
// holds; a member's local header elsewhere in reach fixes a middle piece.
// The boundaries between pieces fall on the cluster grid between the last
// header a piece holds and the first it does not; each boundary a member's
// data spans is tried against that member's CRC-32 before the whole
// assembly is offered for proof.
class CZipReassembler
{
public:
    static void search(CPieceSearch& search);
    // The type the members of an archive in these pieces make it: DOCX,
    // XLSX, PPTX or ZIP.
    static QString typeOf(CPieceSearch& search, const QVector<CFileNode::Extent>& pieces);
};
